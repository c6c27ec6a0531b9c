#include "DesktopShell.h"

#include <QCoreApplication>
#include <QMetaObject>

DesktopShell::DesktopShell(QString configHome)
    : m_configHome(std::move(configHome)) {}

bool DesktopShell::startsAtLogin() const {
    return false;
}

bool DesktopShell::setStartsAtLogin(bool, QString *error) {
    if (error)
        *error = QStringLiteral("Starting at login is not available on this system.");
    return false;
}

bool DesktopShell::removeDesktopTraces(QString *) {
    return true;
}

QString DesktopShell::packageRemovalCommand() const {
    return {};
}

void DesktopShell::quit() {
    // Queued, so the screen that asked finishes its own event first.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}
