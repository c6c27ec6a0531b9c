#pragma once

#include <QString>

// The desktop's "start this program when I log in" entry for KeelMark: an
// XDG autostart file on Linux, a login item on macOS, the user's Run key on
// Windows. The entry starts the program with --background, so logging in
// brings back the tray icon and no window. One .cpp per platform.
class LoginItem {
public:
    // `configHome` is where per-user desktop entries live (Linux: the XDG
    // config folder; unused elsewhere); `program` is the binary to start.
    LoginItem(QString configHome, QString program);

    bool isEnabled() const;
    // Adds or removes the entry; on failure says why in *error.
    bool setEnabled(bool on, QString *error);

    // The option the entry starts the program with.
    static QString backgroundOption() { return QStringLiteral("--background"); }

private:
    QString m_configHome;
    QString m_program;
};
