#pragma once

#include "ShellCommands.h"
#include "platform/LoginItem.h"

#include <QString>

// The application's answer to what the screens ask of the shell: the
// start-at-login entry and the desktop registrations, through the
// platform's services, and quitting.
class DesktopShell : public ShellCommands {
public:
    // `configHome` is where the desktop keeps per-user entries (on Linux
    // the XDG config folder); tests pass a private one. `program` is what
    // the start-at-login entry starts (by default this very binary).
    explicit DesktopShell(QString configHome, QString program = {});

    bool startsAtLogin() const override;
    bool setStartsAtLogin(bool on, QString *error) override;
    bool removeDesktopTraces(QString *error) override;
    QString packageRemovalCommand() const override;
    void quit() override;

private:
    QString m_configHome;
    LoginItem m_loginItem;
};
