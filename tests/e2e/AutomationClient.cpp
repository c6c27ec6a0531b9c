#include "AutomationClient.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QThread>

bool AutomationClient::connectTo(const QString &path, int timeoutMs) {
    // The application listens once its event loop runs; until then the
    // socket file may not exist yet.
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        m_socket.connectToServer(path);
        if (m_socket.waitForConnected(500))
            return true;
        m_socket.abort();
        QThread::msleep(50);
    }
    return false;
}

void AutomationClient::disconnect() {
    m_socket.abort();
}

QJsonObject AutomationClient::call(const QJsonObject &request, int timeoutMs) {
    if (!isConnected())
        return {{"ok", false}, {"error", "not connected"}};
    m_socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    m_socket.flush();
    QDeadlineTimer deadline(timeoutMs);
    while (!m_socket.canReadLine()) {
        if (deadline.hasExpired() || !m_socket.waitForReadyRead(int(deadline.remainingTime())))
            return {{"ok", false}, {"error", "no answer from the application"}};
    }
    const QJsonDocument answer = QJsonDocument::fromJson(m_socket.readLine());
    if (!answer.isObject())
        return {{"ok", false}, {"error", "unreadable answer"}};
    return answer.object();
}

QJsonObject AutomationClient::widget(const QString &name) {
    return call({{"cmd", "describe"}, {"name", name}}).value("widget").toObject();
}

QString AutomationClient::errorOf(const QJsonObject &answer) {
    if (answer.value("ok").toBool())
        return {};
    const QString error = answer.value("error").toString();
    return error.isEmpty() ? QStringLiteral("failed") : error;
}

QString AutomationClient::click(const QString &name) {
    return errorOf(call({{"cmd", "click"}, {"name", name}}));
}

QString AutomationClient::clickItem(const QString &name, int row) {
    return errorOf(call({{"cmd", "clickItem"}, {"name", name}, {"row", row}}));
}

QString AutomationClient::type(const QString &name, const QString &text) {
    return errorOf(call({{"cmd", "type"}, {"name", name}, {"text", text}}));
}

QString AutomationClient::grab(const QString &name, const QString &file) {
    return errorOf(call({{"cmd", "grab"}, {"name", name}, {"file", file}}));
}

QString AutomationClient::grabScreen(const QString &file) {
    return errorOf(call({{"cmd", "grabScreen"}, {"file", file}}));
}
