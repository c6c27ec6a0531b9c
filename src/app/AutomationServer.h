#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>

class AppDelegate;
class QLocalServer;
class QLocalSocket;
class QWidget;

// Test builds only (KEELMARK_TEST_HOOKS): lets an end-to-end test or the
// screenshot script drive the real binary's widgets by object name over a
// local socket. One JSON request per line, one JSON answer per line:
//
//   {"cmd":"widgets"}                         every named widget
//   {"cmd":"describe","name":N}               one widget: name, class, visible, enabled, text
//   {"cmd":"click","name":N}                  a button, or a mouse click at the widget's centre
//   {"cmd":"click","name":N,"queued":true}    the same, after answering (for a button whose
//                                             confirmation is a modal dialog)
//   {"cmd":"answerDialog","button":B}         clicks button B of the open message box
//   {"cmd":"clickItem","name":N,"row":R}      selects row R of a list
//   {"cmd":"type","name":N,"text":T}          replaces a text field's text
//   {"cmd":"grab","name":N,"file":F}          saves the widget as PNG
//   {"cmd":"grabScreen","file":F}             saves the whole screen
//   {"cmd":"trayGeometry"}                    the tray icon's rectangle, once docked
//   {"cmd":"togglePopover"} / {"cmd":"openWindow"}
//
// Answers carry "ok" (bool) and, on failure, "error".
class AutomationServer : public QObject {
    Q_OBJECT

public:
    AutomationServer(AppDelegate *delegate, QObject *parent = nullptr);
    bool listen(const QString &path);

    QJsonObject handle(const QJsonObject &request);

private:
    void accept();
    void read(QLocalSocket *socket);
    QWidget *find(const QString &name) const;

    QPointer<AppDelegate> m_delegate;
    QLocalServer *m_server;
};
