#include "GitHubTestBench.h"

#include <QTest>

class TestGitHubTransport : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    GitHubService &gitHub() { return *m_bench->gitHub; }
    GitHubEmulator &emulator() { return m_bench->emulator; }

    void setCollaboratorsAnswer(QByteArray link) {
        GitHubEmulator::Fault answer = GitHubEmulator::Fault::fixed(200, "[]");
        answer.headers = {{"Link", "<" + link + "?page=2>; rel=\"next\""}};
        emulator().injectFault("GET", "/repos/acme/ops/collaborators", answer);
    }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUpSignedIn(&error), qPrintable(error));
        emulator().createRepoDirect(GitHubTestBench::org, GitHubTestBench::repo);
        emulator().clearRequests();
    }

    void cleanup() { m_bench.reset(); }

    void requestsCarryGitHubHeaders() {
        QVERIFY(AsyncTest::waitFor(gitHub().repoExists("acme", "ops")));
        const auto sent = emulator().requests();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].header("accept"), QByteArray("application/vnd.github+json"));
        QCOMPARE(sent[0].header("x-github-api-version"), QByteArray("2022-11-28"));
        QCOMPARE(sent[0].authorization(), "Bearer " + *gitHub().oauthToken());
        QVERIFY(sent[0].header("user-agent").startsWith("KeelMark/"));
    }

    // Names GitHub allows go as they are; anything else stays inside its
    // one segment, and names that cannot be a segment are never sent.
    void namesTravelAsOneSegment_data() {
        QTest::addColumn<QString>("org");
        QTest::addColumn<QString>("repo");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("sent"); // empty: refused as invalidName
        const struct {
            const char *name, *org, *repo, *path, *sent;
        } rows[] = {
            // clang-format off
            {"allowed punctuation", "acme", "my.repo_1-x", "a.md", "/repos/acme/my.repo_1-x/contents/a.md"},
            {"traversal", "acme", "x/../../orgs/other/repos", "a", "/repos/acme/x%2F..%2F..%2Forgs%2Fother%2Frepos/contents/a"},
            {"query and fragment", "acme", "a?b=1#c", "a", "/repos/acme/a%3Fb%3D1%23c/contents/a"},
            {"pre-encoded", "acme", "x%2F..%2Fy", "a", "/repos/acme/x%252F..%252Fy/contents/a"},
            {"non-ASCII and space", "acme", "é x", "a", "/repos/acme/%C3%A9%20x/contents/a"},
            {"three dots", "acme", "...", "a", "/repos/acme/.../contents/a"},
            {"file path keeps separators", "acme", "ops", ".claude/agents/a b?.md", "/repos/acme/ops/contents/.claude/agents/a%20b%3F.md"},
            {"empty repo", "acme", "", "a", ""},
            {"dot repo", "acme", ".", "a", ""},
            {"dot-dot org", "..", "ops", "a", ""},
            {"empty path", "acme", "ops", "", ""},
            {"leading slash", "acme", "ops", "/a.md", ""},
            {"double slash", "acme", "ops", "docs//a.md", ""},
            {"climbing path", "acme", "ops", "../../other/repo/a.md", ""},
            {"dot segment", "acme", "ops", "docs/./a.md", ""},
            // clang-format on
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << QString::fromUtf8(row.org) << QString::fromUtf8(row.repo)
                                    << QString::fromUtf8(row.path) << QString::fromUtf8(row.sent);
    }

    void namesTravelAsOneSegment() {
        QFETCH(QString, org);
        QFETCH(QString, repo);
        QFETCH(QString, path);
        QFETCH(QString, sent);
        // The file is not there; only the address sent matters.
        const int kind = GitHubTestBench::kindOf(gitHub().getFileContent(org, repo, path));
        if (sent.isEmpty()) {
            QCOMPARE(kind, int(GitHubError::invalidName));
            QCOMPARE(emulator().requests().size(), 0);
        } else {
            QCOMPARE(m_bench->apiCalls(), QStringList{"GET " + sent});
        }
    }

    // Each failure surfaces as its own type; only a time-out has our words.
    void failuresAreTyped_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("transport");
        QTest::addColumn<QString>("description"); // empty: Qt's or the parser's own
        QTest::newRow("cut off") << 0 << true << QString();
        QTest::newRow("no answer in time") << 1 << true << "GitHub did not answer in time.";
        QTest::newRow("malformed body") << 2 << false << QString();
        // The token must not follow a redirect to another host.
        QTest::newRow("redirect to another host") << 3 << true << QString();
    }

    void failuresAreTyped() {
        QFETCH(int, fault);
        QFETCH(bool, transport);
        QFETCH(QString, description);
        GitHubEmulator::Fault moved = GitHubEmulator::Fault::fixed(301, "{}");
        moved.headers = {{"Location", emulator().webUrl().toEncoded() + "/repos/acme/ops"}};
        const GitHubEmulator::Fault faults[] = {GitHubEmulator::Fault::drop(),
                                                GitHubEmulator::Fault::latency(5000),
                                                GitHubEmulator::Fault::malformed(), moved};
        gitHub().setTransferTimeout(std::chrono::milliseconds(300));
        emulator().injectFault("GET", "/repos/acme/ops/collaborators", faults[fault]);
        try {
            AsyncTest::waitFor(gitHub().getCollaborators("acme", "ops"));
            QFAIL("no error");
        } catch (const GitHubFailure &error) {
            QCOMPARE(dynamic_cast<const GitHubTransportError *>(&error) != nullptr, transport);
            QCOMPARE(dynamic_cast<const GitHubJsonError *>(&error) != nullptr, !transport);
            if (description.isEmpty()) {
                QVERIFY(!error.description().isEmpty());
                QVERIFY(error.description() != GitHubTransportError::timedOutText());
            } else {
                QCOMPARE(error.description(), description);
            }
        }
        QCOMPARE(m_bench->requests(GitHubEmulator::Host::Web).size(), 0);
    }

    void redirectOnTheSameHostIsFollowed() {
        const qint64 id = *emulator().repoId("acme", "ops");
        GitHubEmulator::Fault moved = GitHubEmulator::Fault::fixed(301, "{}", 1);
        moved.headers = {{"Location", emulator().apiUrl().toEncoded() + "/repositories/" +
                                          QByteArray::number(id)}};
        emulator().injectFault("GET", "/repos/acme/renamed", moved);
        QVERIFY(AsyncTest::waitFor(gitHub().repoExists("acme", "renamed")));
    }

    void everyPageIsRead() {
        for (int i = 0; i < 230; ++i) {
            const QString login = QStringLiteral("user%1").arg(i, 3, 10, QLatin1Char('0'));
            emulator().addUser(login);
            emulator().addCollaborator("acme", "ops", login, "write");
        }
        QStringList logins;
        for (const TeamMember &member :
             AsyncTest::waitFor(gitHub().getCollaborators("acme", "ops")))
            logins << member.gitHubUsername;
        QCOMPARE(logins.removeDuplicates(), 0);
        QVERIFY(logins.contains("user000") && logins.contains("user229"));
        // Later pages come from GitHub's own Link addresses.
        const auto pages = m_bench->requests(GitHubEmulator::Host::Api);
        QCOMPARE(pages.size(), 3);
        QCOMPARE(pages[0].query.queryItemValue("per_page"), QStringLiteral("100"));
    }

    void pagesStopAfterTheLimit() {
        setCollaboratorsAnswer(emulator().apiUrl().toEncoded() + "/repos/acme/ops/collaborators");
        AsyncTest::waitFor(gitHub().getCollaborators("acme", "ops"));
        QCOMPARE(emulator().requests().size(), GitHubService::maxPages);
    }

    void nextPageOnAnotherHostIsNotFollowed() {
        setCollaboratorsAnswer(emulator().webUrl().toEncoded() + "/collaborators");
        AsyncTest::waitFor(gitHub().getCollaborators("acme", "ops"));
        QCOMPARE(emulator().requests().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestGitHubTransport)
#include "TestGitHubTransport.moc"
