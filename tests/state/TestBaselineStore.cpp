#include "BaselineStore.h"
#include "PersistenceService.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QString sha(char digit) {
    return QString(40, QLatin1Char(digit));
}

const GovernanceBaseline kAnchored{sha('1'),
                                   sha('2'),
                                   {{".claude/settings.json", sha('a')}, {"CLAUDE.md", sha('b')}},
                                   QStringLiteral("sam-admin"),
                                   QDateTime(QDate(2026, 3, 1), QTime(9, 0, 0, 250), Qt::UTC),
                                   4,
                                   sha('3'),
                                   sha('4')};

// A valid file with one key replaced (or removed, for an undefined value).
QByteArray fileWith(const QString &key, const QJsonValue &value) {
    QJsonObject object = QJsonDocument::fromJson(kAnchored.encode()).object();
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return QJsonDocument(object).toJson();
}

} // namespace

class TestBaselineStore : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PersistenceService> m_persistence;

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_persistence = std::make_unique<PersistenceService>(m_dir->filePath("app"));
    }

    // Saved privately beside state.json and read back whole; a provisional
    // baseline (no commit yet) too.
    void roundTrip_data() {
        QTest::addColumn<GovernanceBaseline>("baseline");
        GovernanceBaseline provisional = kAnchored;
        provisional.commitSha.clear();
        provisional.treeSha.clear();
        provisional.pullRequest.reset();
        provisional.cleanTree.reset();
        provisional.cleanCommit.reset();
        GovernanceBaseline olderFile = kAnchored;
        olderFile.cleanCommit.reset();
        QTest::newRow("anchored, moved by review") << kAnchored;
        QTest::newRow("clean tree without its commit") << olderFile;
        QTest::newRow("provisional") << provisional;
    }
    void roundTrip() {
        QFETCH(GovernanceBaseline, baseline);
        const BaselineStore store(*m_persistence);
        QVERIFY(!store.load());
        QVERIFY(store.save(baseline));
        QCOMPARE(store.load(), baseline);
        QCOMPARE(store.filePath(), m_persistence->directory() + "/baseline.json");
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(store.filePath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
        QVERIFY(!QFile::exists(m_persistence->filePath())); // state.json untouched
    }

    // A file that is not exactly one of ours reads as no baseline.
    void malformedFileIsRejected_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not JSON") << QByteArray("{\"format\": 1,");
        QTest::newRow("an array") << QByteArray("[]");
        QTest::newRow("broken UTF-8") << fileWith("acceptedBy", "x").replace("\"x\"", "\"\xff\"");
        QTest::newRow("unknown key") << fileWith("note", "hi");
        QTest::newRow("newer format") << fileWith("format", 2);
        QTest::newRow("files missing") << fileWith("files", QJsonValue::Undefined);
        QTest::newRow("no files") << fileWith("files", QJsonObject());
        QTest::newRow("short blob id") << fileWith("files", QJsonObject{{"CLAUDE.md", "e69de29"}});
        QTest::newRow("path escapes") << fileWith("files", QJsonObject{{"../CLAUDE.md", sha('a')}});
        QTest::newRow("commit without tree") << fileWith("tree", "");
        QTest::newRow("upper-case id") << fileWith("commit", sha('A'));
        QTest::newRow("local time") << fileWith("acceptedAt", "2026-03-01T09:00:00");
        QTest::newRow("pull request 0") << fileWith("pullRequest", 0);
        QTest::newRow("pull request as text") << fileWith("pullRequest", "4");
        QTest::newRow("clean tree not an id") << fileWith("cleanTree", "main");
        QTest::newRow("clean commit not an id") << fileWith("cleanCommit", "HEAD");
        QTest::newRow("clean commit without clean tree")
            << fileWith("cleanTree", QJsonValue::Undefined);
        QTest::newRow("oversized") << QByteArray(70 * 1024, ' ') + kAnchored.encode();
    }
    void malformedFileIsRejected() {
        QFETCH(QByteArray, bytes);
        const BaselineStore store(*m_persistence);
        QFile file(store.filePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        QVERIFY(!store.load());
    }
};

QTEST_GUILESS_MAIN(TestBaselineStore)
#include "TestBaselineStore.moc"
