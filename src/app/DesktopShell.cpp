#include "DesktopShell.h"

#include <QCoreApplication>
#include <QMetaObject>

DesktopShell::DesktopShell(QString configHome, QString program)
    : m_configHome(std::move(configHome))
    , m_loginItem(m_configHome,
                  program.isEmpty() ? QCoreApplication::applicationFilePath() : program) {}

bool DesktopShell::startsAtLogin() const {
    return m_loginItem.isEnabled();
}

bool DesktopShell::setStartsAtLogin(bool on, QString *error) {
    return m_loginItem.setEnabled(on, error);
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
