#include "GitHubTestBench.h"

#include <QTest>

// Hostile organisation, repository and file names against every guarded
// operation: whatever happens, no write may leave the approved organisation.
class TestOrgGuard : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    enum Operation { createRepo, writeFiles, enableProtection, disableProtection };

    // The error kind, or -1 when it succeeded or failed some other way
    // (GitHub refusing a name it does not know).
    int run(Operation operation, const QString &org, const QString &repo, const QString &path) {
        GitHubService &gitHub = *m_bench->gitHub;
        try {
            switch (operation) {
            case createRepo:
                return GitHubTestBench::kindOf(gitHub.createRepo(org, repo));
            case writeFiles:
                return GitHubTestBench::kindOf(gitHub.writeFiles(org, repo, {{path, "x"}}, "m"));
            case enableProtection:
                return GitHubTestBench::kindOf(gitHub.enableBranchProtection(org, repo));
            case disableProtection:
                return GitHubTestBench::kindOf(gitHub.disableBranchProtection(org, repo));
            }
        } catch (const GitHubFailure &) {
        }
        return -1;
    }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUpSignedIn(&error), qPrintable(error));
        // Something to steer into: a second organisation the user also runs.
        m_bench->emulator.addOrg("other");
        m_bench->emulator.setMembership("other", GitHubTestBench::user, "admin");
        m_bench->emulator.createRepoDirect("other", "repos");
        m_bench->emulator.createRepoDirect("acme", "ops");
        m_bench->emulator.clearRequests();
    }

    void cleanup() { m_bench.reset(); }

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
            {"repository with query", "acme", "ops?org=other#x", "a.md", -1},
            {"repository with backslashes", "acme", "..\\..\\other", "a.md", -1},
            {"repository dot-dot", "acme", "..", "a.md", invalid},
            {"empty repository", "acme", "", "a.md", invalid},
        };
        const char *names[] = {"createRepo", "writeFiles", "enableBranchProtection",
                               "disableBranchProtection"};
        for (int op = createRepo; op <= disableProtection; ++op) {
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
                     {"dot segment", "docs/./x", invalid},
                     {"encoded climb", "..%2F..%2Fother", -1}};
        for (const auto &p : paths)
            QTest::addRow("writeFiles: %s", p.name) << int(writeFiles) << "acme"
                                                    << "ops" << p.path << p.refusal;
    }

    void hostileNamesStayInTheApprovedOrganisation() {
        QFETCH(int, operation);
        QFETCH(QString, org);
        QFETCH(QString, repo);
        QFETCH(QString, path);
        QFETCH(int, refusal);

        const int outcome = run(Operation(operation), org, repo, path);
        const auto sent = m_bench->emulator.requests();
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
        QCOMPARE(m_bench->emulator.filesOnMain("other", "repos"), QStringList{"README.md"});
        QVERIFY(!m_bench->emulator.protectionOf("other", "repos"));
    }

    void noApprovedOrganisationRefusesEveryWrite() {
        m_bench->gitHub->setApprovedOrg(std::nullopt);
        for (Operation operation : {createRepo, writeFiles, enableProtection, disableProtection})
            QCOMPARE(run(operation, "acme", "ops", "a.md"), int(GitHubError::orgNotApproved));
        QCOMPARE(m_bench->emulator.requests().size(), 0);
    }

    // The guard comes before the token: no refresh is spent on a refused write.
    void refusalSpendsNoRefresh() {
        QVERIFY(m_bench->restore(*m_bench->gitHub->oauthToken(), "ghr_x", "2001-01-01T00:00:00Z"));
        QCOMPARE(run(enableProtection, "other", "ops", {}), int(GitHubError::orgNotApproved));
        QCOMPARE(m_bench->emulator.requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestOrgGuard)
#include "TestOrgGuard.moc"
