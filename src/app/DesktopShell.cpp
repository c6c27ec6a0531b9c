#include "DesktopShell.h"

#include "platform/UrlHandlerRegistration.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QStandardPaths>
#include <QStringList>

DesktopShell::DesktopShell(QString configHome, QString applicationsDir, QString packageDatabase)
    : m_configHome(std::move(configHome))
    , m_applicationsDir(applicationsDir.isEmpty()
                            ? QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation)
                            : std::move(applicationsDir))
    , m_packageDatabase(packageDatabase.isEmpty() ? QStringLiteral("/var/lib/dpkg/info")
                                                  : std::move(packageDatabase)) {}

bool DesktopShell::startsAtLogin() const {
    return false;
}

bool DesktopShell::setStartsAtLogin(bool, QString *error) {
    if (error)
        *error = QStringLiteral("Starting at login is not available on this system.");
    return false;
}

bool DesktopShell::removeDesktopTraces(QString *error) {
    QStringList problems;
    QString problem;
    if (startsAtLogin() && !setStartsAtLogin(false, &problem))
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
