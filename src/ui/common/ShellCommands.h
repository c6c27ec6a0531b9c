#pragma once

#include <QString>

// What the screens may ask of the application shell above them: the
// start-at-login entry, the traces KeelMark leaves in the desktop, quitting.
// The shell implements it per platform; tests hand in their own.
class ShellCommands {
public:
    virtual ~ShellCommands() = default;

    // Whether KeelMark is set to start when the user logs in.
    virtual bool startsAtLogin() const = 0;
    // Adds or removes the start-at-login entry; on failure says why.
    virtual bool setStartsAtLogin(bool on, QString *error) = 0;

    // Removes what KeelMark registered with the desktop for this user (the
    // start-at-login entry, the keelmark:// handler registration); on
    // failure says what was left.
    virtual bool removeDesktopTraces(QString *error) = 0;

    // The command that removes the installed program, for the uninstall
    // message; empty when KeelMark was not installed from a package.
    virtual QString packageRemovalCommand() const = 0;

    // Ends the application once the current event is handled.
    virtual void quit() = 0;
};
