#include "GitHubTestBench.h"

#include <QTest>

class TestGitHubTransport : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    GitHubService &gitHub() { return *m_bench->gitHub; }
    GitHubEmulator &emulator() { return m_bench->emulator; }

    // The error kind, or -1 when it succeeded or failed some other way
    // (GitHub refusing a name it does not know).
    int run(int operation, const QString &org, const QString &repo, const QString &path = "a.md") {
        try {
            const auto error = m_bench->write(GitHubTestBench::Write(operation), org, repo, path);
            return error ? int(error->kind()) : -1;
        } catch (const GitHubFailure &) {
            return -1;
        }
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
            {"non-ASCII and space", "acme", "é x", "a", "/repos/acme/%C3%A9%20x/contents/a"},
            {"file path keeps separators", "acme", "ops", ".claude/agents/a b?.md", "/repos/acme/ops/contents/.claude/agents/a%20b%3F.md"},
            {"dot-dot org", "..", "ops", "a", ""},
            {"empty path", "acme", "ops", "", ""},
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

    // An endless Link chain stops at the page limit; a next page on
    // another host is not asked for.
    void linksAreFollowedWithinLimits_data() {
        QTest::addColumn<bool>("sameHost");
        QTest::addColumn<int>("requests");
        QTest::newRow("endless") << true << GitHubService::maxPages;
        QTest::newRow("another host") << false << 1;
    }

    void linksAreFollowedWithinLimits() {
        QFETCH(bool, sameHost);
        QFETCH(int, requests);
        const QUrl host = sameHost ? emulator().apiUrl() : emulator().webUrl();
        GitHubEmulator::Fault answer = GitHubEmulator::Fault::fixed(200, "[]");
        answer.headers = {{"Link", "<" + host.toEncoded() +
                                       "/repos/acme/ops/collaborators?page=2>; rel=\"next\""}};
        emulator().injectFault("GET", "/repos/acme/ops/collaborators", answer);
        AsyncTest::waitFor(gitHub().getCollaborators("acme", "ops"));
        QCOMPARE(emulator().requests().size(), requests);
    }

    // Hostile organisation, repository and file names against every guarded
    // operation: whatever happens, no write may leave the approved organisation.
    void hostileNamesStayInTheApprovedOrganisation_data() {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("org");
        QTest::addColumn<QString>("repo");
        QTest::addColumn<QString>("path");
        // -1: may be sent (inside the approved organisation), otherwise the
        // kind it must fail with before anything is sent.
        QTest::addColumn<int>("refusal");

        const int notApproved = GitHubError::orgNotApproved;
        const int invalid = GitHubError::invalidName;
        const struct {
            const char *name, *org, *repo, *path;
            int refusal;
        } cases[] = {
            {"other organisation", "other", "ops", "a.md", notApproved},
            {"other letter case", "ACME", "ops", "a.md", notApproved},
            {"organisation with traversal", "acme/../other", "repos", "a.md", notApproved},
            {"empty organisation", "", "ops", "a.md", notApproved},
            {"repository climbing out", "acme", "x/../../orgs/other/repos", "a.md", -1},
            {"repository pre-encoded", "acme", "..%2F..%2Fother%2Frepos", "a.md", -1},
            {"repository dot-dot", "acme", "..", "a.md", invalid},
            {"empty repository", "acme", "", "a.md", invalid},
        };
        const char *names[] = {"createRepo", "writeFiles", "enableBranchProtection",
                               "disableBranchProtection"};
        for (int op = GitHubTestBench::createRepo; op <= GitHubTestBench::disableProtection; ++op) {
            for (const auto &c : cases)
                QTest::addRow("%s: %s", names[op], c.name)
                    << op << c.org << c.repo << c.path << c.refusal;
        }
        // File paths only reach writeFiles.
        const struct {
            const char *name, *path;
            int refusal;
        } paths[] = {{"climbing file path", "../../../other/repos/x", invalid},
                     {"absolute file path", "/orgs/other/repos", invalid},
                     {"encoded climb", "..%2F..%2Fother", -1}};
        for (const auto &p : paths)
            QTest::addRow("writeFiles: %s", p.name) << int(GitHubTestBench::writeFiles) << "acme"
                                                    << "ops" << p.path << p.refusal;
    }

    void hostileNamesStayInTheApprovedOrganisation() {
        QFETCH(int, operation);
        QFETCH(QString, org);
        QFETCH(QString, repo);
        QFETCH(QString, path);
        QFETCH(int, refusal);
        // Something to steer into: a second organisation the user also runs.
        emulator().addOrg("other");
        emulator().setMembership("other", GitHubTestBench::user, "admin");
        emulator().createRepoDirect("other", "repos");
        emulator().clearRequests();

        const int outcome = run(operation, org, repo, path);
        const auto sent = emulator().requests();
        if (refusal >= 0) {
            QCOMPARE(outcome, refusal);
            QCOMPARE(sent.size(), 0);
        }
        for (const auto &request : sent) {
            QCOMPARE(request.host, GitHubEmulator::Host::Api);
            // As GitHub splits it: literal "/" only, each segment decoded.
            const QStringList segments = request.rawPath.split(QLatin1Char('/'));
            QVERIFY2(!segments.contains("..") && !segments.contains("."),
                     qPrintable(request.rawPath));
            QVERIFY2(segments.value(1) == "repos" || segments.value(1) == "orgs",
                     qPrintable(request.rawPath));
            QVERIFY2(QUrl::fromPercentEncoding(segments.value(2).toUtf8()) == "acme",
                     qPrintable(request.rawPath));
        }
        // Nothing changed in the other organisation.
        QCOMPARE(emulator().filesOnMain("other", "repos"), QStringList{"README.md"});
        QVERIFY(!emulator().protectionOf("other", "repos"));
    }

    void noApprovedOrganisationRefusesEveryWrite() {
        m_bench->gitHub->setApprovedOrg(std::nullopt);
        for (int operation = 0; operation < 4; ++operation)
            QCOMPARE(run(operation, "acme", "ops"), int(GitHubError::orgNotApproved));
        QCOMPARE(emulator().requests().size(), 0);
    }

    // The guard comes before the token: no refresh is spent on a refused write.
    void refusalSpendsNoRefresh() {
        QVERIFY(m_bench->restore(*m_bench->gitHub->oauthToken(), "ghr_x", "2001-01-01T00:00:00Z"));
        QCOMPARE(run(GitHubTestBench::enableProtection, "other", "ops"),
                 int(GitHubError::orgNotApproved));
        QCOMPARE(emulator().requests().size(), 0);
    }

    // The release page is opened in the browser: only a web address from
    // GitHub's answer is taken, anything else falls back to the releases
    // page on the web host; a server error is not "no releases".
    void latestReleaseAnswers_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("htmlUrl");
        QTest::addColumn<QString>("page"); // empty: the call throws
        const QString fallback = "/acme/ops/releases/latest";
        QTest::newRow("web page") << 200 << QByteArray("https://example.org/r/v2") << "/r/v2";
        QTest::newRow("script address") << 200 << QByteArray("javascript:alert(1)") << fallback;
        QTest::newRow("no address") << 200 << QByteArray() << fallback;
        QTest::newRow("server error") << 502 << QByteArray() << QString();
    }
    void latestReleaseAnswers() {
        QFETCH(int, status);
        QFETCH(QByteArray, htmlUrl);
        QFETCH(QString, page);
        emulator().injectFault(
            "GET", "/repos/acme/ops/releases/latest",
            GitHubEmulator::Fault::fixed(status, "{\"tag_name\":\"v2.0.0\",\"html_url\":\"" +
                                                     htmlUrl + "\"}"));
        try {
            const auto release = AsyncTest::waitFor(gitHub().latestRelease("acme", "ops"));
            QVERIFY(release && !page.isEmpty());
            QCOMPARE(release->tagName, QString("v2.0.0"));
            QCOMPARE(release->htmlUrl.path(), page);
            QVERIFY(release->htmlUrl.scheme().startsWith("http"));
        } catch (const GitHubReadFailure &error) {
            QVERIFY(page.isEmpty());
            QCOMPARE(error.kind(), GitHubReadFailure::serverError);
        }
    }
};

QTEST_GUILESS_MAIN(TestGitHubTransport)
#include "TestGitHubTransport.moc"
