#include "DesktopShell.h"

#include "platform/UrlHandlerRegistration.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QStandardPaths>
#include <QStringList>

DesktopShell::DesktopShell(Places places)
    : m_configHome(std::move(places.configHome))
    , m_applicationsDir(places.applicationsDir.isEmpty()
                            ? QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation)
                            : std::move(places.applicationsDir))
    , m_packageDatabase(places.packageDatabase.isEmpty() ? QStringLiteral("/var/lib/dpkg/info")
                                                         : std::move(places.packageDatabase))
    , m_loginItem(m_configHome, places.program.isEmpty() ? QCoreApplication::applicationFilePath()
                                                         : places.program) {}

bool DesktopShell::startsAtLogin() const {
    return m_loginItem.isEnabled();
}

bool DesktopShell::setStartsAtLogin(bool on, QString *error) {
    return m_loginItem.setEnabled(on, error);
}

bool DesktopShell::removeDesktopTraces(QString *error) {
    QStringList problems;
    QString problem;
    // Also an entry the desktop switched off: it is still ours to remove.
    if (!setStartsAtLogin(false, &problem))
        problems.append(problem);
    problem.clear();
    if (!UrlHandlerRegistration::remove(m_configHome, m_applicationsDir, &problem))
        problems.append(problem);
    if (error)
        *error = problems.join(u' ');
    return problems.isEmpty();
}

QString DesktopShell::packageRemovalCommand() const {
    return UrlHandlerRegistration::packageRemovalCommand(QCoreApplication::applicationFilePath(),
                                                         m_packageDatabase);
}

void DesktopShell::quit() {
    // Queued, so the screen that asked finishes its own event first.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}
