#include "AuditTrail.h"

#include "PersistenceService.h"
#include "PlatformFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <algorithm>
#include <utility>

namespace {

// One lock for the process: every object on the same folder must queue
// behind the others, and appends are too rare for one lock to cost anything.
QMutex trailMutex;

const QString kFileName = QStringLiteral("audit.jsonl");
constexpr qint64 kTailChunk = 4096;

QByteArray jsonString(const QString &text) {
    // Qt escapes a string only as part of a document: strip the brackets.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

struct DecodedLine {
    AuditRecord record;
    QByteArray prev;
};

std::optional<DecodedLine> decode(const QByteArray &line) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    for (const char *key : {"time", "kind", "message", "prev"}) {
        if (!object.value(QLatin1String(key)).isString())
            return std::nullopt;
    }
    DecodedLine decoded{{QDateTime::fromString(object.value("time").toString(), Qt::ISODateWithMs),
                         object.value("kind").toString(), object.value("message").toString(),
                         object.value("details").toObject()},
                        object.value("prev").toString().toLatin1()};
    if (!decoded.record.time.isValid())
        return std::nullopt;
    return decoded;
}

struct Tail {
    QByteArray line; // without its line feed
    bool terminated = false;
    qint64 start = 0; // offset of the line in the file
};

// The last line of `path`, read backwards in chunks so a long trail costs
// no more than its last line.
std::optional<Tail> readTail(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return std::nullopt;
    QByteArray buffer;
    qint64 pos = file.size();
    for (;;) {
        const qint64 from = std::max<qint64>(0, pos - kTailChunk);
        file.seek(from);
        buffer.prepend(file.read(pos - from));
        pos = from;
        // A final line feed belongs to the last line: search before it.
        const qsizetype cut = buffer.size() < 2 ? -1 : buffer.lastIndexOf('\n', buffer.size() - 2);
        if (cut >= 0 || pos == 0) {
            Tail tail{buffer.mid(cut + 1), false, pos + cut + 1};
            tail.terminated = tail.line.endsWith('\n');
            if (tail.terminated)
                tail.line.chop(1);
            return tail;
        }
    }
}

struct RotatedName {
    QString date;
    int number = 1;
};

std::optional<RotatedName> parseRotatedName(const QString &name) {
    static const QRegularExpression pattern(
        QStringLiteral("^audit-(\\d{4}-\\d{2}-\\d{2})(?:-(\\d+))?\\.jsonl$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    return RotatedName{match.captured(1), match.hasCaptured(2) ? match.captured(2).toInt() : 1};
}

QString unusedName(const QDir &dir, const QString &stem, const QString &suffix) {
    QString name = stem + suffix;
    for (int n = 2; dir.exists(name); ++n)
        name = stem + QLatin1Char('-') + QString::number(n) + suffix;
    return name;
}

} // namespace

AuditTrail::AuditTrail(QString directory, qint64 rotateBytes)
    : m_directory(std::move(directory))
    , m_rotateBytes(rotateBytes) {
    // Failure is not fatal: appends then fail and say so.
    PlatformFiles::makePrivateDirectory(m_directory);
    if (PlatformFiles::isOwnRegularFile(filePath()))
        PlatformFiles::makePrivateFile(filePath());
    const QMutexLocker lock(&trailMutex);
    setAsideTornTailLocked();
}

QString AuditTrail::filePath() const {
    return m_directory + QLatin1Char('/') + kFileName;
}

bool AuditTrail::append(const QString &kind, const QString &message, const QJsonObject &details) {
    const QMutexLocker lock(&trailMutex);
    // Checked on every append, not only at start, so a line is never glued
    // onto the remains of one that another writer left half done.
    if (!setAsideTornTailLocked())
        return false;
    return appendLocked({QDateTime::currentDateTimeUtc(), kind, message, details});
}

bool AuditTrail::appendLocked(const AuditRecord &record) {
    // Read from the files, not remembered: another object may have written.
    const QByteArray prev = chainEndHashLocked();
    if (QFileInfo(filePath()).size() >= m_rotateBytes)
        rotateLocked();
    return PlatformFiles::append(filePath(), encodeLine(record, prev) + '\n',
                                 PlatformFiles::AppendMode::plain);
}

bool AuditTrail::setAsideTornTailLocked() {
    const std::optional<Tail> tail = readTail(filePath());
    if (!tail || (tail->terminated && decode(tail->line)))
        return true;
    // Kept beside the trail before it is cut off, so a crash in between
    // leaves the bytes in two places rather than in none.
    const QByteArray bytes = tail->line + (tail->terminated ? "\n" : "");
    const QDir dir(m_directory);
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QString name = unusedName(dir, kFileName + QStringLiteral(".torn-") + stamp, QString());
    if (!PersistenceService::writePrivateFile(dir.filePath(name), bytes) ||
        !QFile::resize(filePath(), tail->start))
        return false;
    return appendLocked(
        {QDateTime::currentDateTimeUtc(), QStringLiteral("repair"),
         QStringLiteral("An incomplete last line of the audit trail was set aside in %1.")
             .arg(name),
         QJsonObject{{"file", name}, {"bytes", bytes.size()}}});
}

void AuditTrail::rotateLocked() {
    const QDir dir(m_directory);
    // The date is UTC, like the times in the lines.
    const QString stem =
        QStringLiteral("audit-") + QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate);
    // A failed rename only means the current file grows on.
    QFile::rename(filePath(), dir.filePath(unusedName(dir, stem, QStringLiteral(".jsonl"))));
}

QByteArray AuditTrail::chainEndHashLocked() const {
    const QStringList files = chainFiles();
    for (auto it = files.crbegin(); it != files.crend(); ++it) {
        if (const std::optional<Tail> tail = readTail(*it))
            return lineHash(tail->line);
    }
    return {};
}

QStringList AuditTrail::chainFiles() const {
    const QDir dir(m_directory);
    QList<std::pair<RotatedName, QString>> rotated;
    for (const QString &name : dir.entryList({QStringLiteral("audit-*.jsonl")}, QDir::Files)) {
        if (const auto parsed = parseRotatedName(name))
            rotated.append({*parsed, name});
    }
    // By name alone "audit-D-2.jsonl" would sort before "audit-D.jsonl".
    std::sort(rotated.begin(), rotated.end(), [](const auto &a, const auto &b) {
        return std::tie(a.first.date, a.first.number) < std::tie(b.first.date, b.first.number);
    });
    QStringList files;
    for (const auto &entry : std::as_const(rotated))
        files.append(dir.filePath(entry.second));
    if (QFileInfo::exists(filePath()))
        files.append(filePath());
    return files;
}

QList<AuditRecord> AuditTrail::records() const {
    const QMutexLocker lock(&trailMutex);
    QList<AuditRecord> records;
    for (const QString &path : chainFiles()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        while (!file.atEnd()) {
            if (const auto decoded = decode(file.readLine().trimmed()))
                records.append(decoded->record);
        }
    }
    std::reverse(records.begin(), records.end());
    return records;
}

AuditVerdict AuditTrail::verify() const {
    const QMutexLocker lock(&trailMutex);
    return verifyFiles(chainFiles());
}

AuditVerdict AuditTrail::verifyFiles(const QStringList &files) {
    AuditVerdict verdict;
    const auto broken = [&verdict](qsizetype line, const QString &file) {
        verdict.intact = false;
        verdict.brokenLine = std::max<qsizetype>(1, line);
        verdict.file = file;
        return verdict;
    };
    QByteArray expected; // the first line follows nothing
    QString previousFile;
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return broken(verdict.lines + 1, path);
        while (!file.atEnd()) {
            QByteArray line = file.readLine();
            ++verdict.lines;
            const bool terminated = line.endsWith('\n');
            line.chop(terminated ? 1 : 0);
            const std::optional<DecodedLine> decoded =
                terminated ? decode(line) : std::optional<DecodedLine>();
            if (!decoded)
                return broken(verdict.lines, path);
            if (decoded->prev != expected)
                return broken(verdict.lines - 1, verdict.lines > 1 ? previousFile : path);
            expected = lineHash(line);
            previousFile = path;
        }
    }
    return verdict;
}

QByteArray AuditTrail::encodeLine(const AuditRecord &record, const QByteArray &prev) {
    return "{\"time\":" + jsonString(record.time.toUTC().toString(Qt::ISODateWithMs)) +
           ",\"kind\":" + jsonString(record.kind) + ",\"message\":" + jsonString(record.message) +
           ",\"details\":" + QJsonDocument(record.details).toJson(QJsonDocument::Compact) +
           ",\"prev\":" + jsonString(QString::fromLatin1(prev)) + '}';
}

QByteArray AuditTrail::lineHash(const QByteArray &line) {
    return QCryptographicHash::hash(line, QCryptographicHash::Sha256).toHex();
}
