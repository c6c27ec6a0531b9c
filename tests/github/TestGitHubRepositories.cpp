#include "GitHubTestBench.h"

#include <QJsonArray>
#include <QTest>

namespace {

const QString kOrg = GitHubTestBench::org;
const QString kRepo = GitHubTestBench::repo;

const QList<FileEntry> kFiles = {{".github/CODEOWNERS", "* @alice\n"},
                                 {"docs/naïve.md", "# Café — ünïcode\n"}};

} // namespace

class TestGitHubRepositories : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    GitHubService &gitHub() { return *m_bench->gitHub; }
    GitHubEmulator &emulator() { return m_bench->emulator; }

    QList<GitHubEmulator::RecordedRequest> writes() const {
        QList<GitHubEmulator::RecordedRequest> found;
        for (const auto &request : m_bench->requests(GitHubEmulator::Host::Api)) {
            if (request.method != "GET")
                found << request;
        }
        return found;
    }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUpSignedIn(&error), qPrintable(error));
    }

    void cleanup() { m_bench.reset(); }

    void createRepoSendsTheRepositoryDescription() {
        AsyncTest::waitFor(gitHub().createRepo(kOrg, kRepo));
        QVERIFY(emulator().repoExists(kOrg, kRepo));
        const auto posts = emulator().requests("POST", "/orgs/acme/repos");
        QCOMPARE(posts.size(), 1);
        const QJsonObject expected{{"name", kRepo},
                                   {"private", true},
                                   {"auto_init", true},
                                   {"description", "acme AI operations — governed by KeelMark"}};
        QCOMPARE(posts[0].json().toObject(), expected);
        // A second call finds it and sends nothing more.
        AsyncTest::waitFor(gitHub().createRepo(kOrg, kRepo));
        QCOMPARE(writes().size(), 1);
    }

    void writeFilesMakesOneCommitOnMain() {
        emulator().createRepoDirect(kOrg, kRepo);
        const QString parent = emulator().mainHeadSha(kOrg, kRepo);
        AsyncTest::waitFor(gitHub().writeFiles(kOrg, kRepo, kFiles, "Governance"));

        const QString head = emulator().mainHeadSha(kOrg, kRepo);
        QCOMPARE(emulator().commitParents(kOrg, kRepo, head), QStringList{parent});
        QCOMPARE(emulator().commitMessage(kOrg, kRepo, head), QStringLiteral("Governance"));
        for (const FileEntry &file : kFiles)
            QCOMPARE(emulator().fileOnMain(kOrg, kRepo, file.path), file.content.toUtf8());
        QVERIFY(emulator().filesOnMain(kOrg, kRepo).contains("README.md"));

        const auto sent = writes();
        QCOMPARE(sent.size(), 3);
        const QJsonArray tree = sent[0].json().toObject().value("tree").toArray();
        QCOMPARE(tree.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QJsonObject entry = tree[i].toObject();
            QCOMPARE(entry, (QJsonObject{{"path", kFiles[i].path},
                                         {"mode", "100644"},
                                         {"type", "blob"},
                                         {"content", kFiles[i].content}}));
        }
        QCOMPARE(sent[1].json().toObject().value("parents").toArray(), QJsonArray{parent});
        QCOMPARE(sent[2].method + ' ' + sent[2].rawPath.toLatin1(),
                 QByteArray("PATCH /repos/acme/ops/git/refs/heads/main"));
        QCOMPARE(sent[2].json().toObject().value("force"), QJsonValue(false));
    }

    void writeFilesOnAnEmptyRepositoryFailsBeforeWriting() {
        GitHubEmulator::RepoOptions options;
        options.autoInit = false;
        emulator().createRepoDirect(kOrg, kRepo, options);
        QCOMPARE(GitHubTestBench::kindOf(gitHub().writeFiles(kOrg, kRepo, kFiles, "x")),
                 int(GitHubError::fileWriteFailed));
        QCOMPARE(writes().size(), 0);
    }

    // Every refusal is a failure with GitHub's own message beside it; a
    // refused branch update in particular means nothing was committed.
    void refusalsAreFailures_data() {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("kind");
        const int write = GitHubError::fileWriteFailed;
        const int protection = GitHubError::branchProtectionFailed;
        QTest::newRow("creation 403")
            << 0 << QByteArray("POST") << "/orgs/acme/repos" << 403 << write;
        QTest::newRow("branch update 422")
            << 1 << QByteArray("PATCH") << "/repos/acme/ops/git/refs/heads/main" << 422 << write;
        QTest::newRow("enable 403")
            << 2 << QByteArray("PUT") << "/repos/acme/ops/branches/main/protection" << 403
            << protection;
        QTest::newRow("enable 404")
            << 2 << QByteArray("PUT") << "/repos/acme/ops/branches/main/protection" << 404
            << protection;
        QTest::newRow("disable 403")
            << 3 << QByteArray("DELETE") << "/repos/acme/ops/branches/main/protection" << 403
            << protection;
    }

    void refusalsAreFailures() {
        QFETCH(int, operation);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(int, kind);
        if (operation > 0)
            emulator().createRepoDirect(kOrg, kRepo);
        const QString head = emulator().mainHeadSha(kOrg, kRepo);
        emulator().injectFault(
            method, path, GitHubEmulator::Fault::fixed(status, R"({"message":"Refused here"})"));
        const std::optional<GitHubError> error = GitHubTestBench::errorOf([&]() -> QCoro::Task<> {
            switch (operation) {
            case 0:
                return gitHub().createRepo(kOrg, kRepo);
            case 1:
                return gitHub().writeFiles(kOrg, kRepo, kFiles, "x");
            case 2:
                return gitHub().enableBranchProtection(kOrg, kRepo);
            }
            return gitHub().disableBranchProtection(kOrg, kRepo);
        }());
        QVERIFY2(error, "a refusal was reported as success");
        QCOMPARE(int(error->kind()), kind);
        QVERIFY2(error->detail().contains("Refused here"), qPrintable(error->detail()));
        QCOMPARE(emulator().mainHeadSha(kOrg, kRepo), head);
    }

    void getFileContentReadsWrappedBase64() {
        emulator().createRepoDirect(kOrg, kRepo);
        const QString text = QString(200, QLatin1Char('x')) + "\n* @alice — ok\n";
        emulator().writeFileDirect(kOrg, kRepo, ".github/CODEOWNERS", text.toUtf8());
        QCOMPARE(AsyncTest::waitFor(gitHub().getFileContent(kOrg, kRepo, ".github/CODEOWNERS")),
                 text);
    }

    void getFileContentRefusesUndecodableContent_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("carriage returns")
            << QByteArray(R"({"content":"YWJj\r\nZGVm\r\n","encoding":"base64"})");
        QTest::newRow("not UTF-8") << QByteArray(R"({"content":"/w==\n","encoding":"base64"})");
        QTest::newRow("too large to inline") << QByteArray(R"({"content":"","encoding":"none"})");
        QTest::newRow("no content") << QByteArray(R"({"type":"dir"})");
    }

    void getFileContentRefusesUndecodableContent() {
        QFETCH(QByteArray, body);
        emulator().injectFault("GET", "/repos/acme/ops/contents/**",
                               GitHubEmulator::Fault::fixed(200, body));
        QCOMPARE(GitHubTestBench::kindOf(gitHub().getFileContent(kOrg, kRepo, "a/b.txt")),
                 int(GitHubError::fileWriteFailed));
    }

    // Roles follow the permissions; entries without usable ones are left out.
    void collaboratorsMapToRoles() {
        emulator().injectFault("GET", "/repos/acme/ops/collaborators",
                               GitHubEmulator::Fault::fixed(200, R"([
            {"login":"bob","permissions":{"admin":true,"push":true,"pull":true}},
            {"login":"carol","permissions":{"admin":false,"push":true,"pull":true}},
            {"login":"dave","permissions":{"admin":false,"push":false,"pull":true}},
            {"login":"b"},{"login":"c","permissions":{"admin":"yes"}},{"permissions":{"admin":true}}])"));
        QHash<QString, MachineRole> roles;
        for (const TeamMember &member :
             AsyncTest::waitFor(gitHub().getCollaborators(kOrg, kRepo))) {
            roles.insert(member.gitHubUsername, member.role);
            QVERIFY(!member.isOnline);
        }
        const QHash<QString, MachineRole> expected{{"bob", MachineRole::ceo},
                                                   {"carol", MachineRole::staff},
                                                   {"dave", MachineRole::freelancer}};
        QCOMPARE(roles, expected);
    }

    void protectionRoundTrip() {
        emulator().createRepoDirect(kOrg, kRepo);
        QVERIFY(!AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
        AsyncTest::waitFor(gitHub().enableBranchProtection(kOrg, kRepo));
        QCOMPARE(emulator()
                     .requests("PUT", "/repos/acme/ops/branches/main/protection")
                     .value(0)
                     .json()
                     .toObject(),
                 GitHubTestBench::protectionRules());
        QVERIFY(AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
        AsyncTest::waitFor(gitHub().disableBranchProtection(kOrg, kRepo));
        QVERIFY(!AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
        // Nothing left to remove is not a failure.
        AsyncTest::waitFor(gitHub().disableBranchProtection(kOrg, kRepo));
    }

    // What the first run does, end to end: sign in, discover, create, commit,
    // protect, read back.
    void firstRunEndToEnd() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        QVERIFY(m_bench->signIn());
        AppState &state = *m_bench->appState;
        QVERIFY(state.gitHubConnected());
        QCOMPARE(state.gitHubOrgs().size(), 1);
        QVERIFY(state.gitHubOrgs()[0].isAdmin);
        gitHub().setApprovedOrg(state.gitHubOrgs()[0].login);

        AsyncTest::waitFor(gitHub().createRepo(kOrg, kRepo));
        AsyncTest::waitFor(gitHub().disableBranchProtection(kOrg, kRepo));
        AsyncTest::waitFor(gitHub().writeFiles(kOrg, kRepo, kFiles, "Governance"));
        AsyncTest::waitFor(gitHub().enableBranchProtection(kOrg, kRepo));

        QVERIFY(AsyncTest::waitFor(gitHub().repoExists(kOrg, kRepo)));
        QVERIFY(AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
        for (const FileEntry &file : kFiles)
            QCOMPARE(AsyncTest::waitFor(gitHub().getFileContent(kOrg, kRepo, file.path)),
                     file.content);
        const auto team = AsyncTest::waitFor(gitHub().getCollaborators(kOrg, kRepo));
        QCOMPARE(team.size(), 1);
        QCOMPARE(team[0].gitHubUsername, GitHubTestBench::user);
        QCOMPARE(team[0].role, MachineRole::ceo);
    }
};

QTEST_GUILESS_MAIN(TestGitHubRepositories)
#include "TestGitHubRepositories.moc"
