#pragma once

#include <QJsonObject>
#include <QLocalSocket>
#include <QString>

// The test's end of the application's automation socket (--test-automation,
// see src/app/AutomationServer.h):
// one JSON request per line, one JSON answer per line.
class AutomationClient {
public:
    bool connectTo(const QString &path, int timeoutMs);
    bool isConnected() const { return m_socket.state() == QLocalSocket::ConnectedState; }
    void disconnect();

    // The answer, or {"ok": false, "error": ...} when the app did not answer.
    QJsonObject call(const QJsonObject &request, int timeoutMs = 15000);

    // Widget by object name: {} when there is none.
    QJsonObject widget(const QString &name);
    bool isVisible(const QString &name) { return widget(name).value("visible").toBool(); }
    bool isEnabled(const QString &name) { return widget(name).value("enabled").toBool(); }
    QString text(const QString &name) { return widget(name).value("text").toString(); }

    // Each returns an empty string on success, else what went wrong.
    QString click(const QString &name);
    QString clickItem(const QString &name, int row);
    QString type(const QString &name, const QString &text);
    QString grab(const QString &name, const QString &file);
    QString grabScreen(const QString &file);

private:
    static QString errorOf(const QJsonObject &answer);
    QLocalSocket m_socket;
};
