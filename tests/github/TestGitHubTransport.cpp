#include "GitHubError.h"
#include "GitHubTestBench.h"

#include <QTcpServer>
#include <QTest>

using Kind = GitHubError::Kind;

class TestGitHubTransport : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    GitHubService &gitHub() { return *m_bench->gitHub; }
    GitHubEmulator &emulator() { return m_bench->emulator; }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        QVERIFY(m_bench->signInDirect());
        emulator().createRepoDirect(GitHubTestBench::org, QStringLiteral("ops"));
        emulator().clearRequests();
    }

    void cleanup() { m_bench.reset(); }

    void errorDescriptions_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("description");
        QTest::newRow("networkError")
            << int(GitHubError::networkError) << "Can't reach GitHub. Check your connection.";
        QTest::newRow("orgNotApproved") << int(GitHubError::orgNotApproved)
                                        << "This organisation is not approved for KeelMark access.";
        QTest::newRow("repoCreationFailed")
            << int(GitHubError::repoCreationFailed) << "Couldn't create the repository.";
        QTest::newRow("fileWriteFailed")
            << int(GitHubError::fileWriteFailed) << "Couldn't write file to the repository.";
        QTest::newRow("branchProtectionFailed")
            << int(GitHubError::branchProtectionFailed) << "Couldn't enable branch protection.";
        QTest::newRow("invalidName")
            << int(GitHubError::invalidName) << "That name can't be used on GitHub.";
    }

    void errorDescriptions() {
        QFETCH(int, kind);
        QFETCH(QString, description);
        const GitHubError error(Kind(kind), QStringLiteral("GitHub's own words"));
        QCOMPARE(error.description(), description);
        QCOMPARE(QString::fromUtf8(error.what()), description);
        QCOMPARE(error.detail(), QStringLiteral("GitHub's own words"));
    }

    void requestsCarryGitHubHeaders() {
        QVERIFY(
            AsyncTest::waitFor(gitHub().repoExists(GitHubTestBench::org, QStringLiteral("ops"))));
        const auto sent = emulator().requests();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].header("accept"), QByteArray("application/vnd.github+json"));
        QCOMPARE(sent[0].header("x-github-api-version"), QByteArray("2022-11-28"));
        const QString expected =
            QStringLiteral("Bearer ") + gitHub().oauthToken().value_or(QString());
        QCOMPARE(sent[0].authorization(), expected);
        QVERIFY(sent[0].header("user-agent").startsWith("KeelMark/"));
    }

    // Names GitHub allows are sent as they are; anything else stays inside
    // its one segment.
    void namesTravelAsOneSegment_data() {
        QTest::addColumn<QString>("repo");
        QTest::addColumn<QString>("expectedPath");
        QTest::newRow("plain") << "ops"
                               << "/repos/acme/ops";
        QTest::newRow("allowed punctuation") << "my.repo_1-x"
                                             << "/repos/acme/my.repo_1-x";
        QTest::newRow("traversal") << "x/../../orgs/other/repos"
                                   << "/repos/acme/x%2F..%2F..%2Forgs%2Fother%2Frepos";
        QTest::newRow("query and fragment") << "a?b=1#c"
                                            << "/repos/acme/a%3Fb%3D1%23c";
        QTest::newRow("pre-encoded") << "x%2F..%2Fy"
                                     << "/repos/acme/x%252F..%252Fy";
        QTest::newRow("non-ASCII and space") << "é x"
                                             << "/repos/acme/%C3%A9%20x";
        QTest::newRow("three dots") << "..."
                                    << "/repos/acme/...";
    }

    void namesTravelAsOneSegment() {
        QFETCH(QString, repo);
        QFETCH(QString, expectedPath);
        AsyncTest::waitFor(gitHub().repoExists(GitHubTestBench::org, repo));
        QCOMPARE(m_bench->apiCalls(), QStringList{QStringLiteral("GET ") + expectedPath});
    }

    void filePathsKeepTheirSeparators() {
        try {
            AsyncTest::waitFor(gitHub().getFileContent(GitHubTestBench::org, QStringLiteral("ops"),
                                                       QStringLiteral(".claude/agents/a b?.md")));
        } catch (const GitHubError &) {
            // Not there; only the path sent matters.
        }
        QCOMPARE(
            m_bench->apiCalls(),
            QStringList{QStringLiteral("GET /repos/acme/ops/contents/.claude/agents/a%20b%3F.md")});
    }

    void unusableNamesAreRefusedBeforeSending_data() {
        QTest::addColumn<QString>("org");
        QTest::addColumn<QString>("repo");
        QTest::addColumn<QString>("path");
        QTest::newRow("empty repo") << "acme"
                                    << ""
                                    << "README.md";
        QTest::newRow("dot repo") << "acme"
                                  << "."
                                  << "README.md";
        QTest::newRow("dot-dot repo") << "acme"
                                      << ".."
                                      << "README.md";
        QTest::newRow("dot-dot org") << ".."
                                     << "ops"
                                     << "README.md";
        QTest::newRow("empty path") << "acme"
                                    << "ops"
                                    << "";
        QTest::newRow("leading slash") << "acme"
                                       << "ops"
                                       << "/README.md";
        QTest::newRow("double slash") << "acme"
                                      << "ops"
                                      << "docs//README.md";
        QTest::newRow("climbing path") << "acme"
                                       << "ops"
                                       << "../../other/repo/README.md";
        QTest::newRow("dot segment") << "acme"
                                     << "ops"
                                     << "docs/./README.md";
    }

    void unusableNamesAreRefusedBeforeSending() {
        QFETCH(QString, org);
        QFETCH(QString, repo);
        QFETCH(QString, path);
        try {
            AsyncTest::waitFor(gitHub().getFileContent(org, repo, path));
            QFAIL("an unusable name was accepted");
        } catch (const GitHubError &error) {
            QCOMPARE(error.kind(), GitHubError::invalidName);
        }
        QCOMPARE(emulator().requests().size(), 0);
    }

    void refusedConnectionIsATransportError() {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        GitHubEndpoints endpoints = m_bench->endpoints();
        endpoints.apiBaseUrl = QStringLiteral("http://127.0.0.1:%1").arg(port);
        GitHubService service(endpoints);
        service.setCredentialService(m_bench->credentialService);
        AsyncTest::waitFor(service.restoreFromKeychain());
        try {
            AsyncTest::waitFor(service.repoExists(GitHubTestBench::org, QStringLiteral("ops")));
            QFAIL("no error");
        } catch (const GitHubTransportError &error) {
            QVERIFY(!error.description().isEmpty());
        }
    }

    void cutOffReplyIsATransportError() {
        emulator().injectFault("GET", QStringLiteral("/repos/acme/ops/collaborators"),
                               GitHubEmulator::Fault::drop());
        QVERIFY_THROWS_EXCEPTION(GitHubTransportError,
                                 AsyncTest::waitFor(gitHub().getCollaborators(
                                     GitHubTestBench::org, QStringLiteral("ops"))));
    }

    void slowReplyTimesOut() {
        gitHub().setTransferTimeout(std::chrono::milliseconds(300));
        emulator().injectFault("GET", QStringLiteral("/repos/acme/ops"),
                               GitHubEmulator::Fault::latency(5000));
        QVERIFY_THROWS_EXCEPTION(
            GitHubTransportError,
            AsyncTest::waitFor(gitHub().repoExists(GitHubTestBench::org, QStringLiteral("ops"))));
    }

    void malformedBodyIsAJsonError() {
        emulator().injectFault("GET", QStringLiteral("/repos/acme/ops/collaborators"),
                               GitHubEmulator::Fault::malformed());
        try {
            AsyncTest::waitFor(
                gitHub().getCollaborators(GitHubTestBench::org, QStringLiteral("ops")));
            QFAIL("no error");
        } catch (const GitHubJsonError &error) {
            QVERIFY(!error.description().isEmpty());
        }
    }

    // The token must not follow a redirect to another host.
    void redirectToAnotherHostIsNotFollowed() {
        GitHubEmulator::Fault moved = GitHubEmulator::Fault::fixed(301, "{}");
        moved.headers = {{"Location", emulator().webUrl().toEncoded() + "/repos/acme/ops"}};
        emulator().injectFault("GET", QStringLiteral("/repos/acme/ops"), moved);
        QVERIFY_THROWS_EXCEPTION(
            GitHubTransportError,
            AsyncTest::waitFor(gitHub().repoExists(GitHubTestBench::org, QStringLiteral("ops"))));
        QCOMPARE(m_bench->requests(GitHubEmulator::Host::Web).size(), 0);
    }

    void redirectOnTheSameHostIsFollowed() {
        const qint64 id = *emulator().repoId(GitHubTestBench::org, QStringLiteral("ops"));
        GitHubEmulator::Fault moved = GitHubEmulator::Fault::fixed(301, "{}", 1);
        moved.headers = {{"Location", emulator().apiUrl().toEncoded() + "/repositories/" +
                                          QByteArray::number(id)}};
        emulator().injectFault("GET", QStringLiteral("/repos/acme/renamed"), moved);
        QVERIFY(AsyncTest::waitFor(
            gitHub().repoExists(GitHubTestBench::org, QStringLiteral("renamed"))));
    }

    void everyPageIsRead() {
        for (int i = 0; i < 230; ++i) {
            const QString login = QStringLiteral("user%1").arg(i, 3, 10, QLatin1Char('0'));
            emulator().addUser(login);
            emulator().addCollaborator(GitHubTestBench::org, QStringLiteral("ops"), login,
                                       QStringLiteral("write"));
        }
        const QList<TeamMember> members = AsyncTest::waitFor(
            gitHub().getCollaborators(GitHubTestBench::org, QStringLiteral("ops")));
        QStringList logins;
        for (const TeamMember &member : members)
            logins << member.gitHubUsername;
        QVERIFY(logins.contains(QStringLiteral("user000")));
        QVERIFY(logins.contains(QStringLiteral("user229")));
        QCOMPARE(logins.removeDuplicates(), 0);
        QVERIFY(logins.size() >= 230);

        // Later pages come from GitHub's own Link addresses.
        const auto pages = m_bench->requests(GitHubEmulator::Host::Api);
        QCOMPARE(pages.size(), 3);
        QCOMPARE(pages[0].query.queryItemValue(QStringLiteral("per_page")), QStringLiteral("100"));
    }

    void pagesStopAfterTheLimit() {
        GitHubEmulator::Fault endless = GitHubEmulator::Fault::fixed(200, "[]");
        endless.headers = {{"Link", "<" + emulator().apiUrl().toEncoded() +
                                        "/repos/acme/ops/collaborators?page=2>; rel=\"next\""}};
        emulator().injectFault("GET", QStringLiteral("/repos/acme/ops/collaborators"), endless);
        AsyncTest::waitFor(gitHub().getCollaborators(GitHubTestBench::org, QStringLiteral("ops")));
        QCOMPARE(emulator().requests().size(), GitHubService::maxPages);
    }

    void nextPageOnAnotherHostIsNotFollowed() {
        GitHubEmulator::Fault elsewhere = GitHubEmulator::Fault::fixed(200, "[]");
        elsewhere.headers = {{"Link", "<" + emulator().webUrl().toEncoded() +
                                          "/collaborators?page=2>; rel=\"next\""}};
        emulator().injectFault("GET", QStringLiteral("/repos/acme/ops/collaborators"), elsewhere);
        AsyncTest::waitFor(gitHub().getCollaborators(GitHubTestBench::org, QStringLiteral("ops")));
        QCOMPARE(m_bench->requests(GitHubEmulator::Host::Api).size(), 1);
        QCOMPARE(m_bench->requests(GitHubEmulator::Host::Web).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestGitHubTransport)
#include "TestGitHubTransport.moc"
