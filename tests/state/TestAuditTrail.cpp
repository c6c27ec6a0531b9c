#include "AuditExport.h"
#include "AuditTrail.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

mode_t modeOf(const QString &path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

void appendNumbered(AuditTrail &trail, int count) {
    for (int i = 1; i <= count; ++i)
        QVERIFY(trail.append(QStringLiteral("drift"), QStringLiteral("event %1").arg(i)));
}

using Edit = std::function<void(QList<QByteArray> &lines, bool &finalLineFeed)>;

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestAuditTrail : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString dir() const { return m_dir->path() + QStringLiteral("/app"); }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void appendReopenVerify() {
        const QJsonObject details{{"repository", "acme/policy"},
                                  {"actor", "eve"},
                                  {"files", QJsonArray{".claude/settings.json"}}};
        {
            AuditTrail trail(dir());
            QVERIFY(trail.append("signin", "Signed in as @zoë", {{"actor", "zoë"}}));
            QVERIFY(trail.append("drift", "Changed — pushed directly\nby @eve", details));
        }
        AuditTrail trail(dir());
        const QList<AuditRecord> records = trail.records();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].message, QStringLiteral("Changed — pushed directly\nby @eve"));
        QCOMPARE(records[0].details, details);
        QCOMPARE(records[1].kind, QStringLiteral("signin"));
        QCOMPARE(records[1].time.timeSpec(), Qt::UTC);

        const QList<QByteArray> lines = readAll(trail.filePath()).split('\n');
        QCOMPARE(lines.size(), 3); // the last line ends in a line feed
        // moc miscounts braces inside raw strings, so the quotes are escaped.
        static const QRegularExpression order(
            QStringLiteral("^\\{\"time\":\"[-0-9T:.]+Z\",\"kind\":\".*\",\"message\":\".*\","
                           "\"details\":\\{.*\\},\"prev\":\"[0-9a-f]*\"\\}$"));
        QVERIFY(order.match(QString::fromUtf8(lines[1])).hasMatch());
        QVERIFY(lines[0].endsWith(",\"prev\":\"\"}"));
        QVERIFY(lines[1].endsWith(
            ",\"prev\":\"" +
            QCryptographicHash::hash(lines[0], QCryptographicHash::Sha256).toHex() + "\"}"));
        QCOMPARE(modeOf(trail.filePath()), mode_t(0600));
        const AuditVerdict verdict = trail.verify();
        QVERIFY(verdict.intact);
        QCOMPARE(verdict.lines, 2);
    }

    void tampering_data() {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<int>("brokenLine");
        // A changed line is caught by the next line's `prev`; a removed or
        // moved one leaves the line before the gap as the last vouched for.
        QTest::newRow("changed byte")
            << Edit([](auto &lines, bool &) { lines[2].replace("event 3", "evenT 3"); }) << 3;
        QTest::newRow("changed prev")
            << Edit([](auto &lines, bool &) { lines[3].replace("\"prev\":\"", "\"prev\":\"0"); })
            << 3;
        QTest::newRow("deleted line") << Edit([](auto &lines, bool &) { lines.removeAt(2); }) << 2;
        QTest::newRow("swapped lines")
            << Edit([](auto &lines, bool &) { lines.swapItemsAt(2, 3); }) << 2;
        QTest::newRow("deleted first line")
            << Edit([](auto &lines, bool &) { lines.removeFirst(); }) << 1;
        QTest::newRow("torn last line") << Edit([](auto &lines, bool &finalLineFeed) {
            lines[4].truncate(30);
            finalLineFeed = false;
        }) << 5;
    }

    void tampering() {
        QFETCH(Edit, edit);
        QFETCH(int, brokenLine);
        AuditTrail trail(dir());
        appendNumbered(trail, 5);
        QList<QByteArray> lines = readAll(trail.filePath()).split('\n');
        lines.removeLast();
        bool finalLineFeed = true;
        edit(lines, finalLineFeed);
        writeAll(trail.filePath(), lines.join('\n') + (finalLineFeed ? "\n" : ""));

        const AuditVerdict verdict = trail.verify();
        QVERIFY(!verdict.intact);
        QCOMPARE(verdict.brokenLine, brokenLine);
        QCOMPARE(verdict.file, trail.filePath());
    }

    void tornTailSetAside_data() {
        QTest::addColumn<QByteArray>("tail");
        QTest::newRow("no line feed") << QByteArray("{\"time\":\"2026-12-07T10:1");
        QTest::newRow("not JSON") << QByteArray("{\"time\":\n");
        QTest::newRow("zero-filled") << QByteArray(64, '\0');
    }

    void tornTailSetAside() {
        QFETCH(QByteArray, tail);
        {
            AuditTrail trail(dir());
            appendNumbered(trail, 3);
        }
        QFile file(dir() + "/audit.jsonl");
        QVERIFY(file.open(QIODevice::Append));
        file.write(tail);
        file.close();

        AuditTrail trail(dir());
        const QStringList torn = QDir(dir()).entryList({"audit.jsonl.torn-*"});
        QCOMPARE(torn.size(), 1);
        QCOMPARE(readAll(dir() + '/' + torn[0]), tail);
        QCOMPARE(modeOf(dir() + '/' + torn[0]), mode_t(0600));
        QVERIFY(trail.append("signout", "Signed out"));

        const QList<AuditRecord> records = trail.records();
        QCOMPARE(records.size(), 5);
        QCOMPARE(records[1].kind, QStringLiteral("repair"));
        QCOMPARE(records[1].details.value("file").toString(), torn[0]);
        QCOMPARE(records[2].message, QStringLiteral("event 3"));
        QVERIFY(trail.verify().intact);
    }

    void rotationKeepsChain() {
        AuditTrail trail(dir(), 600);
        appendNumbered(trail, 40);
        const QStringList files = trail.chainFiles();
        QVERIFY(files.size() >= 3);
        // Several rotations on one day: the numbered names must follow the
        // plain one, or the walk would see the files out of order.
        QVERIFY(QFileInfo(files[1]).fileName().endsWith("-2.jsonl"));
        QByteArray whole;
        for (const QString &path : files) {
            QVERIFY(QFileInfo(path).size() < 600 + 300);
            QCOMPARE(modeOf(path), mode_t(0600));
            whole += readAll(path);
        }
        const AuditVerdict verdict = trail.verify();
        QVERIFY(verdict.intact);
        QCOMPARE(verdict.lines, 40);
        QCOMPARE(trail.records().first().message, QStringLiteral("event 40"));

        const QString exported = m_dir->filePath("export.jsonl");
        QCOMPARE(AuditExport::writeJsonLines(files, exported), QString());
        QCOMPARE(readAll(exported), whole);
        QCOMPARE(modeOf(exported), mode_t(0600));
        QCOMPARE(AuditTrail::verifyFiles({exported}).lines, 40);
        QVERIFY(AuditTrail::verifyFiles({exported}).intact);
        QVERIFY(!AuditExport::writeJsonLines(files, m_dir->filePath("missing/x.jsonl")).isEmpty());

        // Losing the oldest file is caught at the start of the walk.
        QFile::remove(files[0]);
        QCOMPARE(trail.verify().brokenLine, 1);
    }

    void concurrentAppendsLandWhole() {
        // Two objects on the same folder, as the check and the window would
        // hold, written from four threads at once.
        AuditTrail first(dir());
        AuditTrail second(dir(), 4096);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < 4; ++t) {
            AuditTrail *trail = t % 2 ? &second : &first;
            threads.emplace_back(QThread::create([trail, t] {
                for (int i = 0; i < 50; ++i)
                    trail->append("check", QStringLiteral("%1-%2").arg(t).arg(i));
            }));
            threads.back()->start();
        }
        for (const auto &thread : threads)
            QVERIFY(thread->wait(60000));

        const AuditVerdict verdict = first.verify();
        QVERIFY(verdict.intact);
        QCOMPARE(verdict.lines, 200);
        QSet<QString> messages;
        for (const AuditRecord &record : first.records())
            messages.insert(record.message);
        QCOMPARE(messages.size(), 200);
    }

    void csvCells_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cell");
        QTest::newRow("plain") << "Drift found"
                               << "Drift found";
        QTest::newRow("comma") << "a, b"
                               << "\"a, b\"";
        QTest::newRow("quote") << "say \"hi\""
                               << "\"say \"\"hi\"\"\"";
        QTest::newRow("line break") << "one\ntwo"
                                    << "\"one\ntwo\"";
        QTest::newRow("formula") << "=HYPERLINK(\"x\")"
                                 << "\"'=HYPERLINK(\"\"x\"\")\"";
        QTest::newRow("plus") << "+1"
                              << "'+1";
        QTest::newRow("at") << "@eve"
                            << "'@eve";
        QTest::newRow("tab") << "\tx"
                             << "'\tx";
        QTest::newRow("inner sign") << "a=b"
                                    << "a=b";
        QTest::newRow("empty") << ""
                               << "";
    }

    void csvCells() {
        QFETCH(QString, text);
        QFETCH(QString, cell);
        QCOMPARE(AuditExport::csvCell(text), cell);
    }

    void csvFile() {
        const AuditRecord record{QDateTime(QDate(2026, 12, 7), QTime(10, 15, 42), Qt::UTC), "drift",
                                 "Settings changed, by @eve",
                                 QJsonObject{{"actor", "@eve"},
                                             {"repository", "acme/policy"},
                                             {"commit", "abc123"},
                                             {"files", QJsonArray{"a"}}}};
        const QString target = m_dir->filePath("export.csv");
        QCOMPARE(AuditExport::writeCsv({record}, target), QString());
        QCOMPARE(readAll(target), QByteArray("time,kind,message,actor,repository,commit\r\n"
                                             "2026-12-07T10:15:42Z,drift,\"Settings changed, by "
                                             "@eve\",'@eve,acme/policy,abc123\r\n"));
        QCOMPARE(modeOf(target), mode_t(0600));
    }
};

QTEST_GUILESS_MAIN(TestAuditTrail)
#include "TestAuditTrail.moc"
