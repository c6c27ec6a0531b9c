#include "GitHubTestBench.h"
#include "GovernanceFiles.h"
#include "ProtectionRun.h"

#include <QSignalSpy>
#include <QTest>

using Status = ProtectionStep::StepStatus;

namespace {

const QString kRepoPath = QStringLiteral("/repos/acme/ops");
const QString kBranchPath = kRepoPath + "/git/refs/heads/main";
const QString kProtectionPath = kRepoPath + "/branches/main/protection";

QList<Status> statuses(const ProtectionRun &run) {
    QList<Status> result;
    for (const ProtectionStep &step : run.steps())
        result << step.status;
    return result;
}

} // namespace

class TestProtectionRun : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    GitHubEmulator &emulator() { return m_bench->emulator; }

    // Starts (or retries) the run and waits for its end.
    void runToEnd(ProtectionRun &run, bool retry = false) {
        QSignalSpy finished(&run, &ProtectionRun::finished);
        retry ? run.retry() : run.start();
        QVERIFY(finished.count() == 1 || finished.wait(30000));
        QVERIFY(!run.isRunning());
    }

    // The twelve files byte for byte in one commit on main, on top of
    // `parent`, and main protected with exactly the fixed rules.
    void verifyProvisioned(const QString &parent) {
        const QString head = emulator().mainHeadSha("acme", "ops");
        QCOMPARE(emulator().commitMessage("acme", "ops", head),
                 QStringLiteral("Initial KeelMark governance configuration"));
        QCOMPARE(emulator().commitParents("acme", "ops", head), QStringList{parent});
        for (const FileEntry &file : GovernanceFiles::compose("alice", "acme"))
            QCOMPARE(emulator().fileOnMain("acme", "ops", file.path), file.content.toUtf8());
        QCOMPARE(emulator().protectionOf("acme", "ops"), GitHubTestBench::protectionRules());
    }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUpSignedIn(&error), qPrintable(error));
    }

    void cleanup() { m_bench.reset(); }

    // On a fresh organisation the run creates the repository; on a
    // protected one it switches protection off, commits, switches it on.
    // Files already on main stay as they were.
    void fullRun_data() {
        QTest::addColumn<bool>("existingRepo");
        QTest::addColumn<bool>("protectedRepo");
        QTest::newRow("fresh organisation") << false << false;
        QTest::newRow("existing repository with files of its own") << true << false;
        QTest::newRow("re-run on a protected repository") << true << true;
    }

    void fullRun() {
        QFETCH(bool, existingRepo);
        QFETCH(bool, protectedRepo);
        QString parent;
        QMap<QString, QByteArray> ownFiles;
        if (existingRepo) {
            QVERIFY(emulator().createRepoDirect("acme", "ops"));
            // Beside the governance files, and inside their folders.
            emulator().writeFileDirect("acme", "ops", "src/app.py", "print('hi')\n");
            emulator().writeFileDirect("acme", "ops", ".github/workflows/ci.yml", "on: push\n");
            emulator().writeFileDirect("acme", "ops", "docs/guide.md", "# Guide\n");
            for (const QString &path : emulator().filesOnMain("acme", "ops"))
                ownFiles.insert(path, *emulator().fileOnMain("acme", "ops", path));
            QCOMPARE(ownFiles.size(), 4); // with the initial README
            if (protectedRepo)
                emulator().setProtection("acme", "ops", GitHubTestBench::protectionRules());
            parent = emulator().mainHeadSha("acme", "ops");
        }
        ProtectionRun run(m_bench->appState.get(), m_bench->gitHub.get());
        QSignalSpy allComplete(&run, &ProtectionRun::allCompleteChanged);
        runToEnd(run);
        QCOMPARE(statuses(run), QList<Status>(4, Status::completed));
        QVERIFY(run.allComplete() && !run.hasFailed());
        QCOMPARE(allComplete.count(), 1);
        QVERIFY(m_bench->appState->repoCreated());
        for (auto it = ownFiles.cbegin(); it != ownFiles.cend(); ++it)
            QCOMPARE(emulator().fileOnMain("acme", "ops", it.key()), it.value());

        const auto creations = emulator().requests("POST", "/orgs/acme/repos");
        QCOMPARE(creations.size(), existingRepo ? 0 : 1);
        if (!existingRepo) {
            const QJsonObject body = creations[0].json().toObject();
            QVERIFY(body.value("private").toBool() && body.value("auto_init").toBool());
            // Exactly one new commit, on top of the repository's initial commit.
            parent = emulator()
                         .commitParents("acme", "ops", emulator().mainHeadSha("acme", "ops"))
                         .value(0);
            QVERIFY(emulator().commitParents("acme", "ops", parent).isEmpty());
        }
        verifyProvisioned(parent);
        const QStringList calls = m_bench->apiCalls();
        const qsizetype disabled = calls.indexOf("DELETE " + kProtectionPath);
        const qsizetype moved = calls.indexOf("PATCH " + kBranchPath);
        QVERIFY2(protectedRepo ? disabled >= 0 && disabled < moved : disabled < 0,
                 qPrintable(calls.join('\n')));
        QVERIFY(moved < calls.indexOf("PUT " + kProtectionPath));
    }

    void failureAtEachStep_data() {
        QTest::addColumn<int>("failingStep");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status"); // 0: no answer within the transfer time-out
        QTest::addColumn<int>("kind");   // -1: a transport failure
        QTest::addColumn<QString>("detail");
        const int write = GitHubError::fileWriteFailed;
        const int protect = GitHubError::branchProtectionFailed;
        const int create = GitHubError::repoCreationFailed;
        const struct {
            const char *name;
            int step;
            const char *method;
            QString path;
            int status, kind;
            // The failed row's detail when not GitHub's injected message.
            const char *detail = nullptr;
        } rows[] = {
            // clang-format off
            {"creation refused", 0, "POST", "/orgs/acme/repos", 500, create},
            {"time-out in step 0", 0, "GET", kRepoPath, 0, -1},
            {"protection removal refused", 0, "DELETE", kProtectionPath, 403, protect},
            {"tree refused", 1, "POST", kRepoPath + "/git/trees", 403, write},
            {"branch update refused", 1, "PATCH", kBranchPath, 422, write},
            {"protection refused", 2, "PUT", kProtectionPath, 422, protect},
            {"repository gone at the end", 3, "GET", kRepoPath, 404, create},
            // A write answered 200 without acting is caught by the last step.
            {"branch update ignored", 3, "PATCH", kBranchPath, 200, write,
             "GitHub accepted the changes, but the governance files are not on main."},
            {"protection ignored", 3, "PUT", kProtectionPath, 200, write,
             "GitHub accepted the changes, but branch protection is not in force."},
            // clang-format on
        };
        for (const auto &row : rows)
            QTest::newRow(row.name)
                << row.step << QByteArray(row.method) << row.path << row.status << row.kind
                << (row.detail     ? QString::fromUtf8(row.detail)
                    : row.kind < 0 ? QString()
                                   : QStringLiteral("Injected"));
    }

    void failureAtEachStep() {
        QFETCH(int, failingStep);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(int, kind);
        QFETCH(QString, detail);
        if (status == 0)
            m_bench->gitHub->setTransferTimeout(std::chrono::milliseconds(200));
        if (method == "DELETE") {
            // Only a protected main has protection to remove.
            QVERIFY(emulator().createRepoDirect("acme", "ops"));
            emulator().setProtection("acme", "ops", GitHubTestBench::protectionRules());
        }
        const GitHubEmulator::Fault fault =
            status == 0     ? GitHubEmulator::Fault::latency(20000)
            : status == 200 ? GitHubEmulator::Fault::fixed(200, "{}")
                            : GitHubEmulator::Fault::fixed(status, R"({"message":"Injected"})");
        ProtectionRun run(m_bench->appState.get(), m_bench->gitHub.get());
        if (failingStep == 3 && status != 200) {
            // The same GET answers step 0, so the fault arrives only once
            // step 2 is done.
            connect(&run, &ProtectionRun::stepsChanged, this, [&] {
                if (run.steps().at(2).status == Status::completed)
                    emulator().injectFault(method, path, fault);
            });
        } else {
            emulator().injectFault(method, path, fault);
        }
        runToEnd(run);
        disconnect(&run, &ProtectionRun::stepsChanged, this, nullptr);

        QList<Status> expected(4, Status::pending);
        for (int i = 0; i <= failingStep; ++i)
            expected[i] = i < failingStep ? Status::completed : Status::failed;
        QCOMPARE(statuses(run), expected);
        const ProtectionStep failed = run.steps().at(failingStep);
        QCOMPARE(failed.message, kind < 0 ? GitHubTransportError::timedOutText()
                                          : GitHubError(GitHubError::Kind(kind)).description());
        // GitHub's own message goes with ours; a transfer failure has none.
        QCOMPARE(failed.detail, detail);
        QVERIFY(run.hasFailed() && !run.allComplete());
        QVERIFY(!m_bench->appState->repoCreated());
        // Nothing after the failed step was attempted.
        if (failingStep < 2)
            QVERIFY(emulator().requests("PUT", kProtectionPath).isEmpty());

        // Retry: every row back to pending first, then the whole run again.
        emulator().clearFaults();
        m_bench->gitHub->setTransferTimeout(std::chrono::seconds(60));
        QList<QList<Status>> seen;
        connect(&run, &ProtectionRun::stepsChanged, this, [&] { seen << statuses(run); });
        runToEnd(run, true);
        QCOMPARE(seen.value(0), QList<Status>(4, Status::pending));
        QCOMPARE(seen.value(1).value(0), Status::inProgress);
        QCOMPARE(statuses(run), QList<Status>(4, Status::completed));
        QVERIFY(run.steps().at(failingStep).message.isEmpty());
        QVERIFY(run.allComplete() && !run.hasFailed());
        QVERIFY(m_bench->appState->repoCreated());
        QCOMPARE(emulator().protectionOf("acme", "ops"), GitHubTestBench::protectionRules());
    }

    void planWithoutProtectionExplainsWhy() {
        GitHubEmulator::OrgOptions options;
        options.refusesPrivateProtection = true;
        emulator().setOrgOptions("acme", options);
        ProtectionRun run(m_bench->appState.get(), m_bench->gitHub.get());
        runToEnd(run);
        const ProtectionStep step = run.steps().at(2);
        QCOMPARE(step.status, Status::failed);
        QCOMPARE(step.message, GitHubError(GitHubError::branchProtectionFailed).description());
        QVERIFY2(step.detail.contains("make this repository public"), qPrintable(step.detail));
        QVERIFY(!m_bench->appState->repoCreated());

        // Retry starts clean: the second caption line goes with the failure.
        emulator().setOrgOptions("acme", {});
        runToEnd(run, true);
        QVERIFY(run.allComplete());
        QVERIFY(run.steps().at(2).detail.isEmpty());
    }

    // A second start (a double click, the screen shown again) must not
    // provision twice.
    void startIsIgnoredWhileRunningAndAfterSuccess() {
        ProtectionRun run(m_bench->appState.get(), m_bench->gitHub.get());
        QSignalSpy finished(&run, &ProtectionRun::finished);
        run.start();
        QVERIFY(run.isRunning());
        run.start();
        run.retry();
        QVERIFY(finished.wait(30000));
        run.start();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(emulator().requests("POST", "/orgs/acme/repos").size(), 1);
        QCOMPARE(emulator().requests("PUT", kProtectionPath).size(), 1);
    }

    // The progress screen owns the run and may close while a request is in
    // flight: that request completes, nothing after it is sent, and the
    // late answer does not touch the destroyed run.
    void runDestroyedWhileRequestInFlight() {
        const QString treesPath = kRepoPath + "/git/trees";
        emulator().injectFault("POST", treesPath, GitHubEmulator::Fault::latency(300));
        auto *run = new ProtectionRun(m_bench->appState.get(), m_bench->gitHub.get());
        run->start();
        QTRY_VERIFY_WITH_TIMEOUT(!emulator().requests("POST", treesPath).isEmpty(), 30000);
        const QString head = emulator().mainHeadSha("acme", "ops");
        delete run;

        QTRY_VERIFY_WITH_TIMEOUT(emulator().requests("POST", treesPath).value(0).status, 30000);
        QVERIFY(AsyncTest::waitFor(m_bench->gitHub->repoExists("acme", "ops")));
        QVERIFY(emulator().requests("POST", kRepoPath + "/git/commits").isEmpty());
        QCOMPARE(emulator().mainHeadSha("acme", "ops"), head);
        QVERIFY(emulator().requests("PUT", kProtectionPath).isEmpty());
        QVERIFY(!m_bench->appState->repoCreated());
    }

    // Going back during the run deletes it while step 0 waits on a slow
    // answer, and a new run protects main. The old step must not switch
    // protection off when that answer finally arrives.
    void abandonedRunCannotUndoALaterRun() {
        QVERIFY(emulator().createRepoDirect("acme", "ops"));
        emulator().setProtection("acme", "ops", GitHubTestBench::protectionRules());
        emulator().injectFault("GET", kProtectionPath, GitHubEmulator::Fault::latency(2500, 1));
        auto *abandoned = new ProtectionRun(m_bench->appState.get(), m_bench->gitHub.get());
        abandoned->start();
        QTRY_VERIFY_WITH_TIMEOUT(!emulator().requests("GET", kProtectionPath).isEmpty(), 30000);
        delete abandoned;

        ProtectionRun run(m_bench->appState.get(), m_bench->gitHub.get());
        runToEnd(run);
        QVERIFY(run.allComplete());
        QVERIFY2(!emulator().requests("GET", kProtectionPath).first().status,
                 "the new run ended after the slow answer: no overlap was tested");
        QTRY_VERIFY_WITH_TIMEOUT(emulator().requests("GET", kProtectionPath).first().status, 30000);
        // A round trip after the slow answer, and some time for a late DELETE.
        QVERIFY(AsyncTest::waitFor(m_bench->gitHub->repoExists("acme", "ops")));
        QTest::qWait(200);

        const QStringList calls = m_bench->apiCalls();
        QVERIFY2(calls.lastIndexOf("DELETE " + kProtectionPath) <
                     calls.lastIndexOf("PUT " + kProtectionPath),
                 qPrintable(calls.join('\n')));
        QCOMPARE(emulator().protectionOf("acme", "ops"), GitHubTestBench::protectionRules());
    }
};

QTEST_GUILESS_MAIN(TestProtectionRun)
#include "TestProtectionRun.moc"
