// Remote control for the end-to-end test, compiled only into builds with
// KEELMARK_TEST_HOOKS (never into a release binary). Started with
// "--test-automation SOCKET", the process listens on that local socket and
// answers one JSON request per line, so that a test in another process can
// find widgets by object name, click and type into them as a user would and
// take screenshots.
#include <QAbstractItemView>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

Q_LOGGING_CATEGORY(lcAutomation, "keelmark.e2e.automation")

namespace {

QJsonObject rectJson(const QRect &rect) {
    return {{"x", rect.x()}, {"y", rect.y()}, {"width", rect.width()}, {"height", rect.height()}};
}

QRect globalRect(const QWidget *widget) {
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

QJsonObject describe(const QWidget *widget) {
    QJsonObject json{{"name", widget->objectName()},
                     {"class", QString::fromLatin1(widget->metaObject()->className())},
                     {"visible", widget->isVisible()},
                     {"enabled", widget->isEnabled()},
                     {"window", widget->window()->objectName()},
                     {"geometry", rectJson(globalRect(widget))}};
    // Labels, buttons and line edits all carry a "text" property.
    const QVariant text = widget->property("text");
    if (text.isValid())
        json.insert("text", text.toString());
    const QVariant checked = widget->property("checked");
    if (checked.isValid())
        json.insert("checked", checked.toBool());
    if (widget->isWindow())
        json.insert("title", widget->windowTitle());
    if (const auto *view = qobject_cast<const QAbstractItemView *>(widget); view && view->model()) {
        QJsonArray rows;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            rows.append(view->model()->index(row, 0).data().toString());
        json.insert("rows", rows);
    }
    return json;
}

// The visible widget of that name, else any widget of that name.
QWidget *findWidget(const QString &name) {
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

// A press and release of the left button, as the window system would
// deliver them, so that rows reacting to the mouse (not only buttons) behave
// as under a user's hand.
void clickAt(QWidget *widget, QPoint position) {
    const QPointF local(position);
    const QPointF global(widget->mapToGlobal(position));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void pressKey(QWidget *widget, int key, const QString &text = {},
              Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &release);
}

QJsonObject fail(const QString &message) {
    return {{"ok", false}, {"error", message}};
}

QJsonObject handle(const QJsonObject &request) {
    const QString command = request.value("cmd").toString();
    const QString name = request.value("name").toString();
    if (command == QLatin1String("ping"))
        return {{"ok", true}, {"pid", QCoreApplication::applicationPid()}};
    if (command == QLatin1String("widgets")) {
        QJsonArray list;
        const QWidgetList widgets = QApplication::allWidgets();
        for (QWidget *widget : widgets) {
            if (!widget->objectName().isEmpty() && !widget->objectName().startsWith("qt_"))
                list.append(describe(widget));
        }
        return {{"ok", true}, {"widgets", list}};
    }
    if (command == QLatin1String("windows")) {
        QJsonArray list;
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows)
            list.append(describe(window));
        return {{"ok", true}, {"windows", list}};
    }
    if (command == QLatin1String("grabScreen")) {
        QScreen *screen = QGuiApplication::primaryScreen();
        const QPixmap shot = screen ? screen->grabWindow(0) : QPixmap();
        if (shot.isNull() || !shot.save(request.value("file").toString()))
            return fail(QStringLiteral("cannot grab the screen"));
        return {{"ok", true}};
    }
    if (command == QLatin1String("quit")) {
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return {{"ok", true}};
    }

    QWidget *widget = findWidget(name);
    if (!widget)
        return fail(QStringLiteral("no widget named ") + name);
    if (command == QLatin1String("describe"))
        return {{"ok", true}, {"widget", describe(widget)}};
    if (!widget->isVisible() && command != QLatin1String("grab"))
        return fail(name + QStringLiteral(" is not visible"));
    if (command == QLatin1String("click")) {
        if (!widget->isEnabled())
            return fail(name + QStringLiteral(" is disabled"));
        clickAt(widget, widget->rect().center());
        return {{"ok", true}};
    }
    if (command == QLatin1String("clickItem")) {
        // Rows of a list (the dashboard's sidebar) are not widgets of their own.
        auto *view = qobject_cast<QAbstractItemView *>(widget);
        if (!view || !view->model())
            return fail(name + QStringLiteral(" is not an item view"));
        const QModelIndex index = view->model()->index(request.value("row").toInt(), 0);
        if (!index.isValid())
            return fail(QStringLiteral("no such row in ") + name);
        view->scrollTo(index);
        clickAt(view->viewport(), view->visualRect(index).center());
        return {{"ok", true}, {"text", index.data().toString()}};
    }
    if (command == QLatin1String("type")) {
        widget->activateWindow();
        widget->setFocus(Qt::OtherFocusReason);
        if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
            edit->selectAll();
            if (edit->hasSelectedText())
                pressKey(widget, Qt::Key_Backspace);
        }
        // One key event per character, so the field sees typing, not setText.
        const QString text = request.value("text").toString();
        for (const QChar c : text)
            pressKey(widget, Qt::Key_unknown, QString(c));
        return {{"ok", true}};
    }
    if (command == QLatin1String("key")) {
        const QString key = request.value("key").toString();
        const Qt::Key code = key == QLatin1String("Escape")   ? Qt::Key_Escape
                             : key == QLatin1String("Return") ? Qt::Key_Return
                                                              : Qt::Key_unknown;
        if (code == Qt::Key_unknown)
            return fail(QStringLiteral("unknown key ") + key);
        pressKey(widget, code);
        return {{"ok", true}};
    }
    if (command == QLatin1String("grab")) {
        if (!widget->grab().save(request.value("file").toString()))
            return fail(QStringLiteral("cannot save the grab of ") + name);
        return {{"ok", true}};
    }
    return fail(QStringLiteral("unknown command ") + command);
}

void serve(QLocalSocket *socket) {
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine();
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        const QJsonObject reply =
            document.isObject() ? handle(document.object())
                                : fail(QStringLiteral("not a JSON object: ") + error.errorString());
        socket->write(QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n');
        socket->flush();
    }
}

void listen(const QString &path) {
    auto *server = new QLocalServer(qApp);
    QLocalServer::removeServer(path);
    if (!server->listen(path)) {
        qCWarning(lcAutomation) << "cannot listen on" << path << server->errorString();
        return;
    }
    QObject::connect(server, &QLocalServer::newConnection, server, [server] {
        while (QLocalSocket *socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] { serve(socket); });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    qCInfo(lcAutomation) << "automation listening on" << path;
}

void installAutomation() {
    const QString path = qEnvironmentVariable("KEELMARK_TEST_AUTOMATION_SOCKET");
    if (path.isEmpty())
        return;
    // A local server that listens before the event loop runs may never
    // accept; start once the application is up.
    QTimer::singleShot(0, qApp, [path] { listen(path); });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installAutomation)
