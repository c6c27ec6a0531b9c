#include "UrlHandlerRegistration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace {

const QByteArray kSchemeKey = "x-scheme-handler/keelmark=";

// Rewrites `path` without the scheme's lines; a missing file is fine.
bool dropSchemeLines(const QString &path, QStringList *left) {
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        left->append(path);
        return false;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    QByteArray kept;
    bool changed = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed().startsWith(kSchemeKey)) {
            changed = true;
            continue;
        }
        kept += lines[i];
        if (i + 1 < lines.size())
            kept += '\n';
    }
    if (!changed)
        return true;
    // Other applications' associations live in the same file: replace it
    // whole or not at all.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(kept) != kept.size() || !out.commit()) {
        left->append(path);
        return false;
    }
    return true;
}

} // namespace

namespace UrlHandlerRegistration {

bool remove(const QString &configHome, const QString &applicationsDir, QString *error) {
    QStringList left;
    dropSchemeLines(QDir(configHome).filePath(QStringLiteral("mimeapps.list")), &left);
    const QDir applications(applicationsDir);
    // Only entries of ours that claim the scheme; a package's entry lives
    // under /usr and goes with the package.
    for (const QString &name : applications.entryList(
             {QStringLiteral("keelmark.desktop"), QStringLiteral("keelmark-*.desktop")},
             QDir::Files)) {
        QFile entry(applications.filePath(name));
        if (!entry.open(QIODevice::ReadOnly) ||
            !entry.readAll().contains("x-scheme-handler/keelmark;"))
            continue;
        entry.close();
        if (!entry.remove())
            left.append(entry.fileName());
    }
    dropSchemeLines(applications.filePath(QStringLiteral("mimeinfo.cache")), &left);
    if (!left.isEmpty() && error)
        *error =
            QStringLiteral("These could not be changed: %1").arg(left.join(QStringLiteral(", ")));
    return left.isEmpty();
}

QString packageRemovalCommand(const QString &binary, const QString &packageDatabase) {
    const QString canonical = QFileInfo(binary).canonicalFilePath();
    const QDir database(packageDatabase);
    // Multi-arch installs name the list after the architecture too.
    for (const QString &name : database.entryList(
             {QStringLiteral("keelmark.list"), QStringLiteral("keelmark:*.list")}, QDir::Files)) {
        QFile list(database.filePath(name));
        if (!list.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : list.readAll().split('\n')) {
            const QString listed = QString::fromUtf8(line.trimmed());
            if (listed.isEmpty() || !listed.startsWith(QLatin1Char('/')))
                continue;
            // With a merged /usr the package lists /usr/bin while the
            // process may run from /bin, or the other way round.
            if (listed == binary ||
                (!canonical.isEmpty() && QFileInfo(listed).canonicalFilePath() == canonical))
                return QStringLiteral("sudo apt remove keelmark");
        }
    }
    return {};
}

} // namespace UrlHandlerRegistration
