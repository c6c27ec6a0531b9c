#pragma once

#include "ShellCommands.h"

#include <QString>

// The application's answer to what the screens ask of the shell: the
// start-at-login entry and the desktop registrations, through the
// platform's services, and quitting.
class DesktopShell : public ShellCommands {
public:
    // `configHome` is where the desktop keeps per-user entries (on Linux
    // the XDG config folder); tests pass a private one, and private folders
    // for the user's application entries and the package database too
    // (empty: the system's).
    explicit DesktopShell(QString configHome, QString applicationsDir = {},
                          QString packageDatabase = {});

    bool startsAtLogin() const override;
    bool setStartsAtLogin(bool on, QString *error) override;
    bool removeDesktopTraces(QString *error) override;
    QString packageRemovalCommand() const override;
    void quit() override;

private:
    QString m_configHome;
    QString m_applicationsDir;
    QString m_packageDatabase;
};
