#pragma once

#include "ShellCommands.h"
#include "platform/LoginItem.h"

#include <QString>

// The application's answer to what the screens ask of the shell: the
// start-at-login entry and the desktop registrations, through the
// platform's services, and quitting.
class DesktopShell : public ShellCommands {
public:
    // Where the shell finds and keeps things; tests pass private folders.
    struct Places {
        QString configHome;      // per-user desktop entries (the XDG config folder)
        QString program;         // what starting at login starts; empty: this binary
        QString applicationsDir; // the user's application entries; empty: the system's
        QString packageDatabase; // installed packages' file lists; empty: the system's
    };
    explicit DesktopShell(Places places);

    bool startsAtLogin() const override;
    bool setStartsAtLogin(bool on, QString *error) override;
    bool removeDesktopTraces(QString *error) override;
    QString packageRemovalCommand() const override;
    void quit() override;

private:
    QString m_configHome;
    QString m_applicationsDir;
    QString m_packageDatabase;
    LoginItem m_loginItem;
};
