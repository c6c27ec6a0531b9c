#include "GitHubTestBench.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QTest>

namespace {

const QString kOrg = GitHubTestBench::org;
const QString kRepo = GitHubTestBench::repo;

// Long enough for GitHub to wrap its base64 over several lines.
const QList<FileEntry> kFiles = {{".github/CODEOWNERS", QString(200, u'x') + " @alice\n"},
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

    // The first run end to end: sign in, discover, create, commit, protect,
    // read back; with what was sent to GitHub at each step.
    void firstRunEndToEnd() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        QVERIFY(m_bench->signIn());
        const AppState &state = *m_bench->appState;
        QVERIFY(state.gitHubOrgs().value(0).isAdmin);
        gitHub().setApprovedOrg(state.gitHubOrgs()[0].login);
        emulator().clearRequests();

        QVERIFY(AsyncTest::waitFor(gitHub().createRepo(kOrg, kRepo)));
        QVERIFY(!AsyncTest::waitFor(gitHub().createRepo(kOrg, kRepo))); // finds it, sends nothing
        const QString parent = emulator().mainHeadSha(kOrg, kRepo);
        AsyncTest::waitFor(gitHub().disableBranchProtection(kOrg, kRepo)); // nothing to remove
        const GitHubBranchHead written =
            AsyncTest::waitFor(gitHub().writeFiles(kOrg, kRepo, kFiles, "Governance"));
        QCOMPARE(written.commitSha, emulator().mainHeadSha(kOrg, kRepo));
        QCOMPARE(written.treeSha, emulator().mainTreeSha(kOrg, kRepo));
        AsyncTest::waitFor(gitHub().enableBranchProtection(kOrg, kRepo));

        const auto sent = writes();
        QCOMPARE(sent.size(), 6);
        QCOMPARE(sent[0].json().toObject(),
                 (QJsonObject{{"name", kRepo},
                              {"private", true},
                              {"auto_init", true},
                              {"description", "acme AI operations — governed by KeelMark"}}));
        QCOMPARE(sent[1].method, QByteArray("DELETE"));
        const QJsonArray tree = sent[2].json().toObject().value("tree").toArray();
        QCOMPARE(tree.size(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(tree[i].toObject(), (QJsonObject{{"path", kFiles[i].path},
                                                      {"mode", "100644"},
                                                      {"type", "blob"},
                                                      {"content", kFiles[i].content}}));
        QCOMPARE(sent[3].json().toObject().value("parents").toArray(), QJsonArray{parent});
        QCOMPARE(sent[4].method + ' ' + sent[4].rawPath.toLatin1(),
                 QByteArray("PATCH /repos/acme/ops/git/refs/heads/main"));
        QCOMPARE(sent[4].json().toObject().value("force"), QJsonValue(false));
        QCOMPARE(sent[5].method + ' ' + sent[5].rawPath.toLatin1(),
                 QByteArray("PUT /repos/acme/ops/branches/main/protection"));
        QCOMPARE(sent[5].json().toObject(), GitHubTestBench::protectionRules());

        // One commit on main; the files read back through the client.
        const QString head = emulator().mainHeadSha(kOrg, kRepo);
        QCOMPARE(emulator().commitParents(kOrg, kRepo, head), QStringList{parent});
        QCOMPARE(emulator().commitMessage(kOrg, kRepo, head), QStringLiteral("Governance"));
        QVERIFY(AsyncTest::waitFor(gitHub().repoExists(kOrg, kRepo)));
        QVERIFY(AsyncTest::waitFor(gitHub().hasBranchProtection(kOrg, kRepo)));
        for (const FileEntry &file : kFiles)
            QCOMPARE(AsyncTest::waitFor(gitHub().getFileContent(kOrg, kRepo, file.path)),
                     file.content);
        const auto team = AsyncTest::waitFor(gitHub().getCollaborators(kOrg, kRepo));
        QCOMPARE(team.size(), 1);
        QCOMPARE(team[0].role, MachineRole::ceo);
    }

    // Every refusal is a failure with GitHub's own message beside it; a
    // refused branch update in particular means nothing was committed.
    void refusalsAreFailures_data() {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        const QString protection = "/repos/acme/ops/branches/main/protection";
        QTest::newRow("creation 403") << 0 << QByteArray("POST") << "/orgs/acme/repos" << 403;
        QTest::newRow("branch update 422")
            << 1 << QByteArray("PATCH") << "/repos/acme/ops/git/refs/heads/main" << 422;
        QTest::newRow("enable 403") << 2 << QByteArray("PUT") << protection << 403;
        QTest::newRow("disable 403") << 3 << QByteArray("DELETE") << protection << 403;
    }

    void refusalsAreFailures() {
        QFETCH(int, operation);
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        if (operation > 0)
            emulator().createRepoDirect(kOrg, kRepo);
        const QString head = emulator().mainHeadSha(kOrg, kRepo);
        emulator().injectFault(
            method, path, GitHubEmulator::Fault::fixed(status, R"({"message":"Refused here"})"));
        const auto error = m_bench->write(GitHubTestBench::Write(operation), kOrg, kRepo);
        QVERIFY2(error, "a refusal was reported as success");
        const GitHubError::Kind kinds[] = {
            GitHubError::repoCreationFailed, GitHubError::fileWriteFailed,
            GitHubError::branchProtectionFailed, GitHubError::branchProtectionFailed};
        QCOMPARE(error->kind(), kinds[operation]);
        QVERIFY2(error->detail().contains("Refused here"), qPrintable(error->detail()));
        QCOMPARE(emulator().mainHeadSha(kOrg, kRepo), head);
    }

    void getFileContentRefusesUndecodableContent_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("carriage returns")
            << QByteArray(R"({"content":"YWJj\r\nZGVm\r\n","encoding":"base64"})");
        QTest::newRow("not UTF-8") << QByteArray(R"({"content":"/w==\n","encoding":"base64"})");
        QTest::newRow("no content") << QByteArray(R"({"type":"dir"})");
    }

    void getFileContentRefusesUndecodableContent() {
        QFETCH(QByteArray, body);
        emulator().injectFault("GET", "/repos/acme/ops/contents/**",
                               GitHubEmulator::Fault::fixed(200, body));
        QCOMPARE(GitHubTestBench::kindOf(gitHub().getFileContent(kOrg, kRepo, "a/b.txt")),
                 int(GitHubError::fileWriteFailed));
    }

    // Roles follow role_name (the highest role, teams included) where it is a
    // known one, the base permissions otherwise; entries with neither usable
    // are left out.
    void collaboratorsMapToRoles() {
        emulator().injectFault("GET", "/repos/acme/ops/collaborators",
                               GitHubEmulator::Fault::fixed(200, R"([
            {"login":"bob","permissions":{"admin":true,"push":true,"pull":true}},
            {"login":"carol","permissions":{"admin":false,"push":true,"pull":true}},
            {"login":"dave","permissions":{"admin":false,"push":false,"pull":true}},
            {"login":"erin","role_name":"admin","permissions":{"admin":false,"push":false,"pull":true}},
            {"login":"fay","role_name":"maintain","permissions":{"admin":false,"push":false,"pull":true}},
            {"login":"gus","role_name":"auditor","permissions":{"admin":false,"push":true,"pull":true}},
            {"login":"b"},{"login":"c","permissions":{"admin":"yes"}},{"permissions":{"admin":true}}])"));
        QHash<QString, MachineRole> roles;
        for (const TeamMember &member :
             AsyncTest::waitFor(gitHub().getCollaborators(kOrg, kRepo))) {
            roles.insert(member.gitHubUsername, member.role);
            QVERIFY(!member.isOnline);
        }
        const QHash<QString, MachineRole> expected{
            {"bob", MachineRole::ceo},         {"carol", MachineRole::staff},
            {"dave", MachineRole::freelancer}, {"erin", MachineRole::ceo},
            {"fay", MachineRole::staff},       {"gus", MachineRole::staff}};
        QCOMPARE(roles, expected);
    }

    // Files put back by blob id: one commit that sends no content, none when
    // main holds them already, and GitHub's 422 for a blob it never had.
    void writeBlobIds_data() {
        QTest::addColumn<QString>("change"); // what happened to a.md since "approved"
        QTest::addColumn<bool>("knownBlob");
        QTest::addColumn<int>("commitsAdded");
        QTest::newRow("edited file back") << "edit" << true << 1;
        QTest::newRow("deleted file added back") << "delete" << true << 1;
        QTest::newRow("unchanged: no commit") << "none" << true << 0;
        QTest::newRow("unknown blob refused") << "edit" << false << 0;
    }
    void writeBlobIds() {
        QFETCH(QString, change);
        QFETCH(bool, knownBlob);
        QFETCH(int, commitsAdded);
        emulator().createRepoDirect(kOrg, kRepo);
        const QByteArray approved = "approved\n";
        emulator().writeFileDirect(kOrg, kRepo, "docs/a.md", approved);
        emulator().writeFileDirect(kOrg, kRepo, "b.md", "untouched\n");
        if (change != "none")
            emulator().writeFileDirect(kOrg, kRepo, "docs/a.md",
                                       change == "edit" ? std::optional<QByteArray>("x\n")
                                                        : std::nullopt);
        const QString before = emulator().mainHeadSha(kOrg, kRepo);
        const QByteArray object = "blob " + QByteArray::number(approved.size()) + '\0' + approved;
        const QString blob =
            knownBlob ? QCryptographicHash::hash(object, QCryptographicHash::Sha1).toHex()
                      : QString(40, u'e');
        emulator().clearRequests();

        const auto error = GitHubTestBench::errorOf(
            gitHub().writeBlobIds(kOrg, kRepo, {{"docs/a.md", blob}}, "Restore"));
        const QString head = emulator().mainHeadSha(kOrg, kRepo);
        QVERIFY(emulator().requests("POST", "/repos/acme/ops/git/blobs").isEmpty());
        if (!knownBlob) {
            QVERIFY2(error && error->detail().contains("is not a valid blob"),
                     error ? qPrintable(error->detail()) : "no error");
            QCOMPARE(head, before);
            return;
        }
        QVERIFY2(!error, error ? qPrintable(error->detail()) : "");
        QCOMPARE(emulator().fileOnMain(kOrg, kRepo, "docs/a.md"), std::optional(approved));
        QCOMPARE(emulator().fileOnMain(kOrg, kRepo, "b.md"),
                 std::optional(QByteArray("untouched\n")));
        const auto trees = emulator().requests("POST", "/repos/acme/ops/git/trees");
        QCOMPARE(trees.size(), 1);
        QVERIFY(
            !trees[0].json().toObject().value("tree").toArray()[0].toObject().contains("content"));
        if (commitsAdded == 0)
            QCOMPARE(head, before);
        else
            QCOMPARE(emulator().commitParents(kOrg, kRepo, head), QStringList{before});
    }
};

QTEST_GUILESS_MAIN(TestGitHubRepositories)
#include "TestGitHubRepositories.moc"
