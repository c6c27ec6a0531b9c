#include "AuditExport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSaveFile>

#include <functional>

namespace {

QString detailText(const QJsonObject &details, const char *key) {
    const QJsonValue value = details.value(QLatin1String(key));
    if (value.isString())
        return value.toString();
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return value.toVariant().toString();
}

QString writeAtomically(const QString &target, const std::function<bool(QSaveFile &)> &fill) {
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("Could not write %1: %2").arg(target, file.errorString());
    // QSaveFile would copy the mode of a file it replaces, or create 0644.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!fill(file)) {
        const QString error = file.errorString();
        file.cancelWriting();
        return QStringLiteral("Could not write %1: %2").arg(target, error);
    }
    if (!file.commit())
        return QStringLiteral("Could not write %1: %2").arg(target, file.errorString());
    return {};
}

} // namespace

namespace AuditExport {

QString defaultFileName(const QDate &date, bool csv) {
    return QStringLiteral("keelmark-audit-") + date.toString(Qt::ISODate) +
           (csv ? QStringLiteral(".csv") : QStringLiteral(".jsonl"));
}

QString writeJsonLines(const QStringList &chainFiles, const QString &target) {
    QString readError;
    const QString error = writeAtomically(target, [&](QSaveFile &out) {
        for (const QString &path : chainFiles) {
            QFile in(path);
            if (!in.open(QIODevice::ReadOnly)) {
                readError = QStringLiteral("Could not read %1: %2").arg(path, in.errorString());
                return false;
            }
            while (!in.atEnd()) {
                const QByteArray chunk = in.read(1 << 16);
                if (chunk.isEmpty() || out.write(chunk) != chunk.size())
                    return false;
            }
        }
        return true;
    });
    // A source that cannot be read matters more than the target's state.
    return readError.isEmpty() ? error : readError;
}

QByteArray csv(const QList<AuditRecord> &records) {
    QString text = QStringLiteral("time,kind,message,actor,repository,commit\r\n");
    for (const AuditRecord &record : records) {
        const QStringList cells{record.time.toUTC().toString(Qt::ISODate),
                                record.kind,
                                record.message,
                                detailText(record.details, "actor"),
                                detailText(record.details, "repository"),
                                detailText(record.details, "commit")};
        QStringList quoted;
        for (const QString &cell : cells)
            quoted.append(csvCell(cell));
        text += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

QString writeCsv(const QList<AuditRecord> &records, const QString &target) {
    const QByteArray bytes = csv(records);
    return writeAtomically(target,
                           [&bytes](QSaveFile &out) { return out.write(bytes) == bytes.size(); });
}

QString csvCell(const QString &text) {
    QString cell = text;
    // Tab and carriage return start formulas in some spreadsheets too.
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!cell.isEmpty() && formulaStarts.contains(cell.front()))
        cell.prepend(QLatin1Char('\''));
    if (!cell.contains(QLatin1Char(',')) && !cell.contains(QLatin1Char('"')) &&
        !cell.contains(QLatin1Char('\n')) && !cell.contains(QLatin1Char('\r')))
        return cell;
    cell.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

} // namespace AuditExport
