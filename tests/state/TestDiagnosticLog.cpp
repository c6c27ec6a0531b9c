#include "DiagnosticLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestDiagnosticLog : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void cleanup() { DiagnosticLog::setTempLogPathForTesting(QString()); }

    void timestampIsUtc() {
        const QDateTime inBerlinSummer(QDate(2026, 7, 1), QTime(11, 15, 42),
                                       QTimeZone(QByteArrayLiteral("UTC+02:00")));
        QCOMPARE(DiagnosticLog::timestamp(inBerlinSummer),
                 QStringLiteral("2026-07-01 09:15:42 +0000"));
        const QRegularExpression form(
            "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000\\] hello\\n$");
        QVERIFY(form.match(DiagnosticLog::timestampedLine("hello")).hasMatch());
    }

    void appendsAndNeverTruncates() {
        const QString path = m_dir.filePath("io.keelmark.app/debug.log");
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QCOMPARE(DiagnosticLog::appLogPath(m_dir.filePath("io.keelmark.app")), path);
        DiagnosticLog::appendLine(path, QString::fromUtf8("first Zoë\n"));
        DiagnosticLog::appendLine(path, QString::fromUtf8("second 日本\n"));
        QCOMPARE(readAll(path), QByteArray("first Zo\xc3\xab\nsecond \xe6\x97\xa5\xe6\x9c\xac\n"));
    }

    void missingDirectoryIsSilent() {
        const QString path = m_dir.filePath("absent/debug.log");
        DiagnosticLog::appendLine(path, "x\n");
        QVERIFY(!QFile::exists(path));
    }

    void defaultTempPath() {
        if (QDir("/tmp").exists())
            QCOMPARE(DiagnosticLog::tempLogPath(), QStringLiteral("/tmp/keelmark-debug.log"));
        else
            QCOMPARE(DiagnosticLog::tempLogPath(), QDir::tempPath() + "/keelmark-debug.log");
    }

    void tempLogIsPrivateAndAppends() {
        const QString path = m_dir.filePath("keelmark-debug.log");
        DiagnosticLog::setTempLogPathForTesting(path);
        DiagnosticLog::appendToTempLog("one\n");
        DiagnosticLog::appendToTempLog("two\n");
        QCOMPARE(readAll(path), QByteArray("one\ntwo\n"));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
    }

    void tempLogRefusesPlantedFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("symbolic link") << "symlink";
        QTest::newRow("hard link to a file of ours") << "hardlink";
        QTest::newRow("file of another user") << "foreign";
    }

    void tempLogRefusesPlantedFiles() {
        QFETCH(QString, kind);
        const QString target = m_dir.filePath(kind + "-target");
        {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("precious\n");
        }
        const QString planted = m_dir.filePath(kind + "-keelmark-debug.log");
        if (kind == "symlink") {
            QVERIFY(QFile::link(target, planted));
        } else if (kind == "hardlink") {
            QCOMPARE(::link(QFile::encodeName(target).constData(),
                            QFile::encodeName(planted).constData()),
                     0);
        } else {
            if (::geteuid() != 0)
                QSKIP("needs root to give a file to another user");
            QVERIFY(QFile::copy(target, planted));
            QCOMPARE(::chown(QFile::encodeName(planted).constData(), 65534, 65534), 0);
        }
        DiagnosticLog::setTempLogPathForTesting(planted);
        DiagnosticLog::appendToTempLog("intruder\n");
        QCOMPARE(readAll(target), QByteArray("precious\n"));
        QCOMPARE(readAll(planted), QByteArray("precious\n"));
    }

    void concurrentLinesLandWhole() {
        const QString path = m_dir.filePath("concurrent.log");
        DiagnosticLog::setTempLogPathForTesting(path);
        constexpr int threads = 6;
        constexpr int linesEach = 300;
        // Long lines make a torn write likely if lines were written in parts.
        const QString padding(400, QLatin1Char('.'));
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([t, padding] {
                for (int i = 0; i < linesEach; ++i) {
                    const QString line =
                        QStringLiteral("t%1 n%2 %3 end\n").arg(t).arg(i).arg(padding);
                    if (i % 2)
                        DiagnosticLog::appendToTempLog(line);
                    else
                        DiagnosticLog::appendLine(DiagnosticLog::tempLogPath(), line);
                }
            }));
            workers.back()->start();
        }
        for (auto &worker : workers)
            QVERIFY(worker->wait(60'000));

        const QList<QByteArray> lines = readAll(path).split('\n');
        QCOMPARE(lines.size(), threads * linesEach + 1);
        const QRegularExpression whole(QStringLiteral("^t(\\d) n(\\d+) \\.{400} end$"));
        QSet<QString> seen;
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            const QString line = QString::fromUtf8(lines[i]);
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line.left(80)));
            seen.insert(line);
        }
        QCOMPARE(seen.size(), threads * linesEach);
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticLog)
#include "TestDiagnosticLog.moc"
