#include "LoginItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

QString entryPath(const QString &configHome) {
    return QDir(configHome).filePath(QStringLiteral("autostart/keelmark.desktop"));
}

// One argument of an Exec line: quoted when it holds a reserved character,
// with the characters the quoting rules reserve escaped; then escaped once
// more as a desktop-entry string, where a backslash is itself an escape.
QString execArgument(const QString &argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString quoted = argument;
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    const bool needsQuotes =
        std::any_of(quoted.cbegin(), quoted.cend(), [](QChar c) { return reserved.contains(c); });
    if (needsQuotes) {
        QString inner;
        for (const QChar c : std::as_const(quoted)) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                inner += u'\\';
            inner += c;
        }
        quoted = u'"' + inner + u'"';
    }
    return quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

// The value of `key` in the [Desktop Entry] group, or an empty text.
QString entryValue(const QByteArray &content, const QByteArray &key) {
    bool inMainGroup = false;
    for (const QByteArray &raw : content.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inMainGroup && equals > 0 && line.left(equals).trimmed() == key)
            return QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return {};
}

} // namespace

LoginItem::LoginItem(QString configHome, QString program)
    : m_configHome(std::move(configHome))
    , m_program(std::move(program)) {}

bool LoginItem::isEnabled() const {
    QFile file(entryPath(m_configHome));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = file.readAll();
    // Desktops switch an entry off in place rather than deleting it.
    return entryValue(content, "Hidden") != QLatin1String("true") &&
           entryValue(content, "X-GNOME-Autostart-enabled") != QLatin1String("false");
}

bool LoginItem::setEnabled(bool on, QString *error) {
    const QString path = entryPath(m_configHome);
    if (!on) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        if (error)
            *error = QStringLiteral("Could not remove %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).path())) {
        if (error)
            *error = QStringLiteral("Could not create the folder %1.").arg(QFileInfo(path).path());
        return false;
    }
    const QString entry =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=KeelMark\n"
                       "Comment=Keeps the AI-assistant configuration under governance\n"
                       "Exec=%1 %2\n"
                       "Icon=keelmark\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n")
            .arg(execArgument(m_program), backgroundOption());
    // Written whole or not at all: a half-written entry could start nothing
    // at the next login while the switch still reads "on".
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit()) {
        if (error)
            *error = QStringLiteral("Could not write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
