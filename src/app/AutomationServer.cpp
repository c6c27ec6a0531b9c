#include "AutomationServer.h"

#include "AppDelegate.h"
#include "PopoverWindow.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

QString textOf(const QWidget *widget) {
    if (auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text().isEmpty() ? button->accessibleName() : button->text();
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *field = qobject_cast<const QLineEdit *>(widget))
        return field->text();
    if (widget->isWindow())
        return widget->windowTitle();
    return widget->accessibleName();
}

QJsonObject describe(const QWidget *widget) {
    QJsonObject result{{"name", widget->objectName()},
                       {"class", QString::fromLatin1(widget->metaObject()->className())},
                       {"visible", widget->isVisible()},
                       {"enabled", widget->isEnabled()},
                       {"text", textOf(widget)}};
    const QVariant status = widget->property("stepStatus");
    if (status.isValid())
        result.insert("status", status.toString());
    return result;
}

QJsonObject failure(const QString &error) {
    return {{"ok", false}, {"error", error}};
}

QJsonObject success(QJsonObject result = {}) {
    result.insert("ok", true);
    return result;
}

void mouseClick(QWidget *widget) {
    const QPointF local = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

} // namespace

AutomationServer::AutomationServer(AppDelegate *delegate, QObject *parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_server(new QLocalServer(this)) {
    connect(m_server, &QLocalServer::newConnection, this, &AutomationServer::accept);
}

bool AutomationServer::listen(const QString &path) {
    QLocalServer::removeServer(path);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    return m_server->listen(path);
}

void AutomationServer::accept() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
    }
}

void AutomationServer::read(QLocalSocket *socket) {
    while (socket->canReadLine()) {
        const QJsonDocument request = QJsonDocument::fromJson(socket->readLine());
        const QJsonObject answer =
            request.isObject() ? handle(request.object()) : failure("not a JSON object");
        socket->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
        socket->flush();
    }
}

QWidget *AutomationServer::find(const QString &name) const {
    // Screens are rebuilt as the state changes; prefer the one on screen.
    QWidget *hidden = nullptr;
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets) {
        if (widget->objectName() != name)
            continue;
        if (widget->isVisible())
            return widget;
        if (!hidden)
            hidden = widget;
    }
    return hidden;
}

QJsonObject AutomationServer::handle(const QJsonObject &request) {
    const QString command = request.value("cmd").toString();
    const QString name = request.value("name").toString();

    if (command == QLatin1String("widgets")) {
        QJsonArray list;
        const QWidgetList widgets = QApplication::allWidgets();
        for (const QWidget *widget : widgets) {
            if (!widget->objectName().isEmpty())
                list.append(describe(widget));
        }
        return success({{"widgets", list}});
    }
    if (command == QLatin1String("grabScreen")) {
        QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen || !screen->grabWindow(0).save(request.value("file").toString(), "PNG"))
            return failure("cannot grab the screen");
        return success();
    }
    if (command == QLatin1String("trayGeometry")) {
        QSystemTrayIcon *tray = m_delegate ? m_delegate->statusItem() : nullptr;
        const QRect geometry = tray ? tray->geometry() : QRect();
        return success({{"x", geometry.x()},
                        {"y", geometry.y()},
                        {"width", geometry.width()},
                        {"height", geometry.height()}});
    }
    if (command == QLatin1String("togglePopover") && m_delegate) {
        m_delegate->togglePopover();
        return success();
    }
    if (command == QLatin1String("openWindow") && m_delegate) {
        m_delegate->openSettingsWindow();
        return success();
    }

    if (command == QLatin1String("answerDialog")) {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return failure("no dialog is open");
        const QString wanted = request.value("button").toString();
        const QList<QAbstractButton *> buttons = box->buttons();
        for (QAbstractButton *button : buttons) {
            if (button->text() == wanted) {
                const QString text = box->text();
                button->click();
                return success({{"text", text}});
            }
        }
        return failure(QStringLiteral("the dialog has no button %1").arg(wanted));
    }

    QWidget *widget = find(name);
    if (command == QLatin1String("describe"))
        return success({{"widget", widget ? describe(widget) : QJsonObject()}});
    if (!widget)
        return failure(QStringLiteral("no widget named %1").arg(name));

    if (command == QLatin1String("click")) {
        if (!widget->isVisible() || !widget->isEnabled())
            return failure(QStringLiteral("%1 is hidden or disabled").arg(name));
        // A button that opens a modal dialog would hold the answer until the
        // dialog closes; queued, the click lands after the answer is sent.
        if (request.value("queued").toBool())
            QTimer::singleShot(0, widget, [widget] {
                if (auto *button = qobject_cast<QAbstractButton *>(widget))
                    button->click();
                else
                    mouseClick(widget);
            });
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            button->click();
        else
            mouseClick(widget);
        return success();
    }
    if (command == QLatin1String("clickItem")) {
        auto *view = qobject_cast<QAbstractItemView *>(widget);
        const int row = request.value("row").toInt();
        if (!view || !view->model() || row < 0 || row >= view->model()->rowCount())
            return failure(QStringLiteral("%1 has no row %2").arg(name).arg(row));
        view->setCurrentIndex(view->model()->index(row, 0));
        return success();
    }
    if (command == QLatin1String("type")) {
        auto *field = qobject_cast<QLineEdit *>(widget);
        if (!field)
            return failure(QStringLiteral("%1 is not a text field").arg(name));
        field->setText(request.value("text").toString());
        return success();
    }
    if (command == QLatin1String("grab")) {
        if (!widget->grab().save(request.value("file").toString(), "PNG"))
            return failure("cannot save the image");
        return success();
    }
    return failure(QStringLiteral("unknown command %1").arg(command));
}
