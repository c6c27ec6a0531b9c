#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One recorded governance event. `details` is free-form; the keys in use are
// repository, commit, files, rules, actor and pullRequest.
struct AuditRecord {
    QDateTime time; // UTC
    QString kind;   // a short tag
    QString message;
    QJsonObject details;
};

// What a walk along the chain found. `brokenLine` counts across the files in
// chain order, the same numbering as the JSON Lines export. It is the first
// line that may not be as written: an unreadable line itself, or, where a
// line's `prev` does not match, the line before it (changed in place, or the
// last one before lines were removed or moved). Every line before it is
// vouched for by its successor, so "altered after line brokenLine - 1" holds.
struct AuditVerdict {
    bool intact = true;
    qsizetype lines = 0;      // lines read
    qsizetype brokenLine = 0; // 1-based; 0 when intact
    QString file;             // the file holding brokenLine
};

// The tamper-evident record of governance events on this machine: audit.jsonl
// in the application directory, one JSON object a line, each line carrying
// the SHA-256 of the line before it, so an edit, deletion or reordering of
// earlier lines is found by walking the chain. A full file is renamed with
// its date and the chain carries on in a new one.
//
// Appends from any thread and any number of objects on the same directory
// are serialised, and each one reads the chain's end from the file rather
// than from memory. A partial last line left by a crash is cut off and kept
// beside the file, and the trail records that it did so.
class AuditTrail {
public:
    static constexpr qint64 kDefaultRotateBytes = 10 * 1024 * 1024;

    // Creates `directory` privately if needed and sets aside a torn last line.
    explicit AuditTrail(QString directory, qint64 rotateBytes = kDefaultRotateBytes);

    QString directory() const { return m_directory; }
    QString filePath() const; // directory + "/audit.jsonl"

    // Writes the event as one line with a single write and returns once the
    // system holds it, so it survives the app crashing right after; false when
    // nothing could be written (the caller logs it, the chain stays whole).
    bool append(const QString &kind, const QString &message, const QJsonObject &details = {});

    // The rotated files oldest first, then audit.jsonl where it exists.
    QStringList chainFiles() const;

    // Every readable event, newest first.
    QList<AuditRecord> records() const;

    AuditVerdict verify() const;
    // Walks `files` as one chain; also checks an exported copy.
    static AuditVerdict verifyFiles(const QStringList &files);

    // The line as written, without its line feed. Keys keep this order:
    // time, kind, message, details, prev.
    static QByteArray encodeLine(const AuditRecord &record, const QByteArray &prev);
    static QByteArray lineHash(const QByteArray &line); // SHA-256, lower-case hex

private:
    bool appendLocked(const AuditRecord &record);
    bool setAsideTornTailLocked();
    void rotateLocked();
    QByteArray chainEndHashLocked() const;

    QString m_directory;
    qint64 m_rotateBytes;
};
