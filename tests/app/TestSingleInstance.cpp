// The real `keelmark` binary as the desktop starts it: one process per
// link, the first one keeping the role. Each test uses its own state and
// socket folder (--test-root, compiled into test builds only).

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

class AppProcess {
public:
    explicit AppProcess(const QString &root, const QStringList &urls = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        m_process.setProcessEnvironment(env);
        m_process.start(KEELMARK_APP_BINARY, QStringList{"--test-root", root} + urls);
    }
    ~AppProcess() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    QProcess &process() { return m_process; }
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    QString output() {
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_output;
    }
    bool printed(const QString &line) { return output().contains("keelmark-test: " + line + "\n"); }

    bool launched() { return output().contains("keelmark-test: launched"); }
    bool waitForLaunch() {
        QDeadlineTimer deadline(30000);
        while (!launched() && running() && !deadline.hasExpired())
            m_process.waitForReadyRead(200);
        return launched();
    }

private:
    QProcess m_process;
    QString m_output;
};

// Waits for a process to end on its own; a hung hand-over fails the test.
bool exitsWith(QProcess &process, int code) {
    if (!process.waitForFinished(20000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == code;
}

// Runs a read-only command to its end: its exit code and standard output.
std::pair<int, QByteArray> command(const QString &root, const QStringList &arguments) {
    QProcess process;
    process.start(KEELMARK_APP_BINARY, QStringList{"--test-root", root} + arguments);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, {}};
    return {process.exitCode(), process.readAllStandardOutput()};
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;

private slots:
    void init() { m_root = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/km-XXXXXX"); }

    void secondProcessHandsItsUrlToTheFirst() {
        AppProcess first(m_root->path());
        QVERIFY2(first.waitForLaunch(), qPrintable(first.output()));

        const QString url = "keelmark://github?code=abc123&state=S-1";
        AppProcess second(m_root->path(), {url});
        QVERIFY2(exitsWith(second.process(), 0),
                 qPrintable(second.process().readAllStandardError()));
        QTRY_VERIFY_WITH_TIMEOUT(first.printed("url " + url), 10000);
        QVERIFY(first.running());
        // The hand-over never started an application of its own.
        QVERIFY(!second.launched());

        // Started at login again: leaves quietly, no window brought forward.
        AppProcess atLogin(m_root->path(), {"--background"});
        QVERIFY(exitsWith(atLogin.process(), 0));
        QTest::qWait(200);
        QVERIFY(!first.printed("activate"));
    }

    // A first instance that crashed leaves its lock and socket behind; an
    // older build may have left a bare socket file. Either way the next start
    // takes over, handles its own URL, and takes hand-overs, rather than
    // forwarding into the void.
    void staleSocketIsReplaced_data() {
        QTest::addColumn<bool>("crashed");
        QTest::newRow("crashed instance") << true;
        QTest::newRow("stray socket file") << false;
    }
    void staleSocketIsReplaced() {
        QFETCH(bool, crashed);
        if (crashed) {
            AppProcess first(m_root->path());
            QVERIFY(first.waitForLaunch());
            first.process().kill();
            QVERIFY(first.process().waitForFinished(5000));
            QVERIFY(QFile::exists(m_root->filePath("keelmark.lock")));
        } else {
            QFile stray(m_root->filePath("keelmark.sock"));
            QVERIFY(stray.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::exists(m_root->filePath("keelmark.sock")));

        const QString url = "keelmark://github?code=own";
        AppProcess next(m_root->path(), {url});
        QVERIFY2(next.waitForLaunch(), qPrintable(next.process().readAllStandardError()));
        QTRY_VERIFY_WITH_TIMEOUT(next.printed("url " + url), 10000);

        AppProcess forwarded(m_root->path(), {"keelmark://github?code=again"});
        QVERIFY(exitsWith(forwarded.process(), 0));
        QTRY_VERIFY_WITH_TIMEOUT(next.printed("url keelmark://github?code=again"), 10000);
    }

    // Several links opened at once: one process becomes the application,
    // every other hands over its URL and exits 0, and no URL is lost.
    void simultaneousStarts() {
        constexpr int count = 5;
        std::vector<std::unique_ptr<AppProcess>> processes;
        for (int i = 0; i < count; ++i)
            processes.push_back(std::make_unique<AppProcess>(
                m_root->path(), QStringList{QString("keelmark://github?code=n%1").arg(i)}));

        const auto stillRunning = [&] {
            std::vector<AppProcess *> running;
            for (auto &process : processes) {
                process->output();
                if (process->running())
                    running.push_back(process.get());
            }
            return running;
        };
        QTRY_COMPARE_WITH_TIMEOUT(stillRunning().size(), size_t(1), 60000);
        AppProcess *primary = stillRunning().front();
        for (auto &process : processes) {
            if (process.get() != primary) {
                QCOMPARE(process->process().exitStatus(), QProcess::NormalExit);
                QCOMPARE(process->process().exitCode(), 0);
            }
        }
        for (int i = 0; i < count; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(
                primary->printed(QString("url keelmark://github?code=n%1").arg(i)), 15000);
    }

    // The command line needs no display: no QT_QPA_PLATFORM for these.
    void versionAndStatus() {
        const auto [versionCode, version] = command(m_root->path(), {"--version"});
        QCOMPARE(versionCode, 0);
        QVERIFY2(QRegularExpression("^keelmark \\d+\\.\\d+\\.\\d+\n$").match(version).hasMatch(),
                 version.constData());

        // Nobody running: the saved state, said to be stale.
        QDir(m_root->path()).mkpath("state");
        QFile saved(m_root->filePath("state/state.json"));
        QVERIFY(saved.open(QIODevice::WriteOnly));
        saved.write(R"({"setupComplete": true, "gitHubUsername": "ann", "repoName": "ops",
            "isSetupMode": false, "gitHubConnected": true, "orgLogin": "acme", "orgId": 7,
            "orgIsAdmin": true})");
        saved.close();
        auto [code, out] = command(m_root->path(), {"status", "--json"});
        QCOMPARE(code, 2);
        QJsonObject status = QJsonDocument::fromJson(out).object();
        QCOMPARE(status.value("source").toString(), QString("disk"));
        QCOMPARE(status.value("repository").toString(), QString("acme/ops"));
        QVERIFY(status.value("setUp").toBool());
        QVERIFY(status.value("stale").toBool());
        QVERIFY(!QFile::exists(m_root->filePath("keelmark.lock")));

        // A running instance answers for itself, and the query leaves it be.
        QFile::remove(saved.fileName());
        AppProcess app(m_root->path());
        QVERIFY2(app.waitForLaunch(), qPrintable(app.output()));
        std::tie(code, out) = command(m_root->path(), {"status", "--json"});
        QCOMPARE(code, 2);
        status = QJsonDocument::fromJson(out).object();
        QCOMPARE(status.value("source").toString(), QString("instance"));
        QCOMPARE(status.value("status").toString(), QString("setupMode"));
        QVERIFY(!status.value("stale").toBool());
        std::tie(code, out) = command(m_root->path(), {"status"});
        QCOMPARE(code, 2);
        QVERIFY2(out.contains("Status:") && !out.contains("stale"), out.constData());
        QTest::qWait(200);
        QVERIFY(!app.printed("activate"));
        QVERIFY(app.running());
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "TestSingleInstance.moc"
