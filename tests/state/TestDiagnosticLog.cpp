#include "DiagnosticLog.h"

#include <QDir>
#include <QFile>
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
    }

    void tempLogIsPrivateAndAppends() {
        // A missing directory is not created and nothing is thrown.
        DiagnosticLog::appendLine(m_dir.filePath("absent/debug.log"), "x\n");
        QVERIFY(!QFile::exists(m_dir.filePath("absent")));

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
        const QByteArray targetName = QFile::encodeName(target);
        const QString planted = m_dir.filePath(kind + "-keelmark-debug.log");
        const QByteArray plantedName = QFile::encodeName(planted);
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious\n");
        file.close();
        if (kind == "symlink") {
            QVERIFY(QFile::link(target, planted));
        } else if (kind == "hardlink") {
            QCOMPARE(::link(targetName.constData(), plantedName.constData()), 0);
        } else {
            if (::geteuid() != 0)
                QSKIP("needs root to give a file to another user");
            QVERIFY(QFile::copy(target, planted));
            QCOMPARE(::chown(plantedName.constData(), 65534, 65534), 0);
        }
        DiagnosticLog::setTempLogPathForTesting(planted);
        DiagnosticLog::appendToTempLog("intruder\n");
        QCOMPARE(readAll(target), QByteArray("precious\n"));
        QCOMPARE(readAll(planted), QByteArray("precious\n"));
    }

    void concurrentLinesLandWhole() {
        DiagnosticLog::setTempLogPathForTesting(m_dir.filePath("concurrent.log"));
        constexpr int threads = 6;
        constexpr int linesEach = 300;
        // Long lines make a torn write likely if lines were written in parts.
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([t] {
                for (int i = 0; i < linesEach; ++i) {
                    const QString line =
                        QStringLiteral("t%1 n%2 %3 end\n").arg(t).arg(i).arg(QString(400, '.'));
                    if (i % 2) // both ways of writing: the app log's and the temporary one's
                        DiagnosticLog::appendToTempLog(line);
                    else
                        DiagnosticLog::appendLine(DiagnosticLog::tempLogPath(), line);
                }
            }));
            workers.back()->start();
        }
        for (auto &worker : workers)
            QVERIFY(worker->wait(60'000));

        const QList<QByteArray> lines = readAll(DiagnosticLog::tempLogPath()).split('\n');
        QCOMPARE(lines.size(), threads * linesEach + 1);
        const QRegularExpression whole(QStringLiteral("^t\\d n\\d+ \\.{400} end$"));
        const QSet<QByteArray> distinct(lines.begin(), lines.end() - 1);
        QCOMPARE(distinct.size(), threads * linesEach);
        for (const QByteArray &line : distinct)
            QVERIFY2(whole.match(QString::fromUtf8(line)).hasMatch(), line.left(80).constData());
    }
};

QTEST_GUILESS_MAIN(TestDiagnosticLog)
#include "TestDiagnosticLog.moc"
