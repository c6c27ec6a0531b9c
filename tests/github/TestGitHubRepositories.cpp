#include "DiagnosticLog.h"
#include "GitHubError.h"
#include "GitHubTestBench.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

const QString kOrg = GitHubTestBench::org;
const QString kRepo = QStringLiteral("ops");

QJsonObject expectedRules() {
    return QJsonDocument::fromJson(R"({
        "required_status_checks": null,
        "enforce_admins": true,
        "required_pull_request_reviews": {
            "required_approving_review_count": 1,
            "require_code_owner_reviews": true,
            "dismiss_stale_reviews": true
        },
        "restrictions": null,
        "required_linear_history": true,
        "allow_force_pushes": false,
        "allow_deletions": false
    })")
        .object();
}

GitHubError::Kind kindOf(const std::function<void()> &call) {
    try {
        call();
    } catch (const GitHubError &error) {
        return error.kind();
    }
    return GitHubError::Kind(-1);
}

} // namespace

class TestGitHubRepositories : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;
    QTemporaryDir m_logDir;

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

    static QList<FileEntry> twoFiles() {
        return {{QStringLiteral(".github/CODEOWNERS"), QStringLiteral("* @alice\n")},
                {QStringLiteral("docs/naïve.md"), QStringLiteral("# Café — ünïcode\n")}};
    }

private slots:
    void initTestCase() {
        DiagnosticLog::setTempLogPathForTesting(m_logDir.filePath(QStringLiteral("debug.log")));
    }

    void cleanupTestCase() { DiagnosticLog::setTempLogPathForTesting({}); }

    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        QVERIFY(m_bench->signInDirect());
        emulator().clearRequests();
    }

    void cleanup() { m_bench.reset(); }

    void createRepoSendsTheRepositoryDescription() {
        AsyncTest::waitFor(gitHub().createRepo(kOrg, kRepo));
        QVERIFY(emulator().repoExists(kOrg, kRepo));
        const auto posts = emulator().requests("POST", QStringLiteral("/orgs/acme/repos"));
        QCOMPARE(posts.size(), 1);
        const QJsonObject expected{
            {"name", kRepo},
            {"private", true},
            {"auto_init", true},
            {"description", QStringLiteral("acme AI operations \u2014 governed by KeelMark")}};
        QCOMPARE(posts[0].json().toObject(), expected);
    }

    void createRepoAcceptsAnExistingRepository() {
        emulator().createRepoDirect(kOrg, kRepo);
        AsyncTest::waitFor(gitHub().createRepo(kOrg, kRepo));
        QCOMPARE(writes().size(), 0);
    }

    void refusedCreationCarriesGitHubsMessage() {
        emulator().injectFault(
            "POST", QStringLiteral("/orgs/acme/repos"),
            GitHubEmulator::Fault::fixed(
                403,
                R"({"message":"You need admin access to the organization before adding a repository to it."})"));
        try {
            AsyncTest::waitFor(gitHub().createRepo(kOrg, kRepo));
            QFAIL("no error");
        } catch (const GitHubError &error) {
            QCOMPARE(error.kind(), GitHubError::fileWriteFailed);
            QVERIFY(error.detail().contains(QStringLiteral("admin access")));
        }
    }

    void writeFilesMakesOneCommitOnMain() {
        emulator().createRepoDirect(kOrg, kRepo);
        const QString parent = emulator().mainHeadSha(kOrg, kRepo);
        AsyncTest::waitFor(
            gitHub().writeFiles(kOrg, kRepo, twoFiles(), QStringLiteral("Governance")));

        const QString head = emulator().mainHeadSha(kOrg, kRepo);
        QCOMPARE(emulator().commitParents(kOrg, kRepo, head), QStringList{parent});
        QCOMPARE(emulator().commitMessage(kOrg, kRepo, head), QStringLiteral("Governance"));
        for (const FileEntry &file : twoFiles())
            QCOMPARE(emulator().fileOnMain(kOrg, kRepo, file.path), file.content.toUtf8());
        QVERIFY(emulator().filesOnMain(kOrg, kRepo).contains(QStringLiteral("README.md")));

        const auto sent = writes();
        QCOMPARE(sent.size(), 3);
        const QJsonArray tree = sent[0].json().toObject().value("tree").toArray();
        QCOMPARE(tree.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QJsonObject entry = tree[i].toObject();
            QCOMPARE(entry.keys(), (QStringList{"content", "mode", "path", "type"}));
            QCOMPARE(entry.value("path").toString(), twoFiles()[i].path);
            QCOMPARE(entry.value("mode").toString(), QStringLiteral("100644"));
            QCOMPARE(entry.value("type").toString(), QStringLiteral("blob"));
        }
        QCOMPARE(sent[1].json().toObject().value("parents").toArray(), QJsonArray{parent});
        QCOMPARE(sent[2].method, QByteArray("PATCH"));
        QCOMPARE(sent[2].rawPath, QStringLiteral("/repos/acme/ops/git/refs/heads/main"));
        QCOMPARE(sent[2].json().toObject().value("force"), QJsonValue(false));
    }

    // A refused branch update means nothing was committed.
    void refusedBranchUpdateFails() {
        emulator().createRepoDirect(kOrg, kRepo);
        emulator().setProtection(kOrg, kRepo, expectedRules());
        const QString before = emulator().mainHeadSha(kOrg, kRepo);
        try {
            AsyncTest::waitFor(gitHub().writeFiles(kOrg, kRepo, twoFiles(), QStringLiteral("x")));
            QFAIL("a refused update was reported as a commit");
        } catch (const GitHubError &error) {
            QCOMPARE(error.kind(), GitHubError::fileWriteFailed);
            QVERIFY(!error.detail().isEmpty());
        }
        QCOMPARE(emulator().mainHeadSha(kOrg, kRepo), before);
    }

    void writeFilesOnAnEmptyRepositoryFailsBeforeWriting() {
        GitHubEmulator::RepoOptions options;
        options.autoInit = false;
        emulator().createRepoDirect(kOrg, kRepo, options);
        QCOMPARE(kindOf([&] {
                     AsyncTest::waitFor(
                         gitHub().writeFiles(kOrg, kRepo, twoFiles(), QStringLiteral("x")));
                 }),
                 GitHubError::fileWriteFailed);
        QCOMPARE(writes().size(), 0);
    }

    void getFileContentReadsWrappedBase64() {
        emulator().createRepoDirect(kOrg, kRepo);
        const QString text = QString(200, QLatin1Char('x')) + QStringLiteral("\n* @alice — ok\n");
        emulator().writeFileDirect(kOrg, kRepo, QStringLiteral(".github/CODEOWNERS"),
                                   text.toUtf8());
        QCOMPARE(AsyncTest::waitFor(
                     gitHub().getFileContent(kOrg, kRepo, QStringLiteral(".github/CODEOWNERS"))),
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
        emulator().injectFault("GET", QStringLiteral("/repos/acme/ops/contents/**"),
                               GitHubEmulator::Fault::fixed(200, body));
        QCOMPARE(kindOf([&] {
                     AsyncTest::waitFor(
                         gitHub().getFileContent(kOrg, kRepo, QStringLiteral("a/b.txt")));
                 }),
                 GitHubError::fileWriteFailed);
    }

    void missingFileIsLoggedWithItsStatus() {
        emulator().createRepoDirect(kOrg, kRepo);
        QFile::remove(DiagnosticLog::tempLogPath());
        QCOMPARE(kindOf([&] {
                     AsyncTest::waitFor(
                         gitHub().getFileContent(kOrg, kRepo, QStringLiteral("missing.md")));
                 }),
                 GitHubError::fileWriteFailed);
        QFile log(DiagnosticLog::tempLogPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString line = QString::fromUtf8(log.readAll());
        QVERIFY2(line.contains(QStringLiteral("] getFileContent acme/ops/missing.md HTTP 404: {")),
                 qPrintable(line));
        QVERIFY(line.endsWith(QLatin1Char('\n')));
    }

    void collaboratorsMapToRoles() {
        emulator().createRepoDirect(kOrg, kRepo);
        for (const char *login : {"bob", "carol", "dave"})
            emulator().addUser(QString::fromLatin1(login));
        emulator().addCollaborator(kOrg, kRepo, QStringLiteral("bob"), QStringLiteral("admin"));
        emulator().addCollaborator(kOrg, kRepo, QStringLiteral("carol"), QStringLiteral("write"));
        emulator().addCollaborator(kOrg, kRepo, QStringLiteral("dave"), QStringLiteral("read"));
        QHash<QString, MachineRole> roles;
        for (const TeamMember &member :
             AsyncTest::waitFor(gitHub().getCollaborators(kOrg, kRepo))) {
            roles.insert(member.gitHubUsername, member.role);
            QVERIFY(!member.isOnline);
        }
        QCOMPARE(roles.value("bob"), MachineRole::ceo);
        QCOMPARE(roles.value("carol"), MachineRole::staff);
        QCOMPARE(roles.value("dave"), MachineRole::freelancer);
        QCOMPARE(roles.value(GitHubTestBench::user), MachineRole::ceo);
    }

    void collaboratorsWithoutPermissionsAreLeftOut() {
        emulator().injectFault("GET", QStringLiteral("/repos/acme/ops/collaborators"),
                               GitHubEmulator::Fault::fixed(
                                   200, R"([{"login":"a","permissions":{"admin":false,"push":true}},
                {"login":"b"},{"login":"c","permissions":{"admin":"yes"}},{"permissions":{"admin":true}}])"));
        const auto members = AsyncTest::waitFor(gitHub().getCollaborators(kOrg, kRepo));
        QCOMPARE(members.size(), 1);
        QCOMPARE(members[0].gitHubUsername, QStringLiteral("a"));
    }

    void protectionRoundTrip() {
        emulator().createRepoDirect(kOrg, kRepo);
        QVERIFY(!AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
        AsyncTest::waitFor(gitHub().enableBranchProtection(kOrg, kRepo));
        QCOMPARE(emulator()
                     .requests("PUT", QStringLiteral("/repos/acme/ops/branches/main/protection"))
                     .value(0)
                     .json()
                     .toObject(),
                 expectedRules());
        QVERIFY(AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
        AsyncTest::waitFor(gitHub().disableBranchProtection(kOrg, kRepo));
        QVERIFY(!AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
        // Nothing left to remove is not a failure.
        AsyncTest::waitFor(gitHub().disableBranchProtection(kOrg, kRepo));
    }

    void planRefusalIsReportedWithGitHubsWords() {
        GitHubEmulator::OrgOptions options;
        options.refusesPrivateProtection = true;
        emulator().setOrgOptions(kOrg, options);
        emulator().createRepoDirect(kOrg, kRepo);
        try {
            AsyncTest::waitFor(gitHub().enableBranchProtection(kOrg, kRepo));
            QFAIL("a refused protection was reported as success");
        } catch (const GitHubError &error) {
            QCOMPARE(error.kind(), GitHubError::branchProtectionFailed);
            QVERIFY2(error.detail().contains(QStringLiteral("Upgrade to GitHub Team")),
                     qPrintable(error.detail()));
        }
        QVERIFY(!AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
    }

    void protectionFailures_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        QTest::newRow("enable 422") << QByteArray("PUT") << 422;
        QTest::newRow("disable 403") << QByteArray("DELETE") << 403;
    }

    void protectionFailures() {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        emulator().createRepoDirect(kOrg, kRepo);
        emulator().injectFault(method, QStringLiteral("/repos/acme/ops/branches/main/protection"),
                               GitHubEmulator::Fault::fixed(status, R"({"message":"refused"})"));
        QCOMPARE(kindOf([&] {
                     if (method == "PUT")
                         AsyncTest::waitFor(gitHub().enableBranchProtection(kOrg, kRepo));
                     else
                         AsyncTest::waitFor(gitHub().disableBranchProtection(kOrg, kRepo));
                 }),
                 GitHubError::branchProtectionFailed);
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
        AsyncTest::waitFor(
            gitHub().writeFiles(kOrg, kRepo, twoFiles(), QStringLiteral("Governance")));
        AsyncTest::waitFor(gitHub().enableBranchProtection(kOrg, kRepo));

        QVERIFY(AsyncTest::waitFor(gitHub().repoExists(kOrg, kRepo)));
        QVERIFY(AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
        QCOMPARE(AsyncTest::waitFor(
                     gitHub().getFileContent(kOrg, kRepo, QStringLiteral(".github/CODEOWNERS"))),
                 twoFiles()[0].content);
        QCOMPARE(AsyncTest::waitFor(
                     gitHub().getFileContent(kOrg, kRepo, QStringLiteral("docs/naïve.md"))),
                 twoFiles()[1].content);
        const auto team = AsyncTest::waitFor(gitHub().getCollaborators(kOrg, kRepo));
        QCOMPARE(team.size(), 1);
        QCOMPARE(team[0].gitHubUsername, GitHubTestBench::user);
    }
};

QTEST_GUILESS_MAIN(TestGitHubRepositories)
#include "TestGitHubRepositories.moc"
