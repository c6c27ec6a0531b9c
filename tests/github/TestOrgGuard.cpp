#include "GitHubError.h"
#include "GitHubTestBench.h"

#include <QTest>

// Hostile organisation, repository and file names against every guarded
// operation: whatever happens, no write may leave the approved organisation.
class TestOrgGuard : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    enum Operation { createRepo, writeFiles, enableProtection, disableProtection };

    // Runs one guarded operation; the error kind, or -1 when it succeeded or
    // failed some other way (GitHub refusing a name it does not know).
    int run(Operation operation, const QString &org, const QString &repo, const QString &path) {
        GitHubService &gitHub = *m_bench->gitHub;
        try {
            switch (operation) {
            case createRepo:
                AsyncTest::waitFor(gitHub.createRepo(org, repo));
                break;
            case writeFiles:
                AsyncTest::waitFor(gitHub.writeFiles(org, repo, {{path, QStringLiteral("x")}},
                                                     QStringLiteral("m")));
                break;
            case enableProtection:
                AsyncTest::waitFor(gitHub.enableBranchProtection(org, repo));
                break;
            case disableProtection:
                AsyncTest::waitFor(gitHub.disableBranchProtection(org, repo));
                break;
            }
        } catch (const GitHubError &error) {
            return error.kind();
        } catch (const GitHubFailure &) {
        }
        return -1;
    }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        QVERIFY(m_bench->signInDirect());
        // Something to steer into: a second organisation the user also runs.
        m_bench->emulator.addOrg(QStringLiteral("other"));
        m_bench->emulator.setMembership(QStringLiteral("other"), GitHubTestBench::user,
                                        QStringLiteral("admin"));
        m_bench->emulator.createRepoDirect(QStringLiteral("other"), QStringLiteral("repos"));
        m_bench->emulator.createRepoDirect(GitHubTestBench::org, QStringLiteral("ops"));
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
            const char *name;
            QString org, repo, path;
            int refusal;
        } cases[] = {
            {"other organisation", "other", "ops", "a.md", notApproved},
            {"other letter case", "ACME", "ops", "a.md", notApproved},
            {"organisation with traversal", "acme/../other", "repos", "a.md", notApproved},
            {"organisation with slash", "acme/", "ops", "a.md", notApproved},
            {"empty organisation", "", "ops", "a.md", notApproved},
            {"repository climbing out", "acme", "x/../../orgs/other/repos", "a.md", -1},
            {"repository as sibling path", "acme", "../other/repos", "a.md", -1},
            {"repository pre-encoded", "acme", "..%2F..%2Fother%2Frepos", "a.md", -1},
            {"repository with query", "acme", "ops?org=other#x", "a.md", -1},
            {"repository with backslashes", "acme", "..\\..\\other", "a.md", -1},
            {"repository dot-dot", "acme", "..", "a.md", invalid},
            {"repository dot", "acme", ".", "a.md", invalid},
            {"empty repository", "acme", "", "a.md", invalid},
        };
        const struct {
            const char *name;
            Operation operation;
        } operations[] = {{"createRepo", createRepo},
                          {"writeFiles", writeFiles},
                          {"enableBranchProtection", enableProtection},
                          {"disableBranchProtection", disableProtection}};
        for (const auto &op : operations) {
            for (const auto &c : cases) {
                QTest::addRow("%s: %s", op.name, c.name)
                    << int(op.operation) << c.org << c.repo << c.path << c.refusal;
            }
        }
        // File paths only reach writeFiles.
        const struct {
            const char *name;
            QString path;
            int refusal;
        } paths[] = {{"climbing file path", "../../../other/repos/x", invalid},
                     {"absolute file path", "/orgs/other/repos", invalid},
                     {"dot segment", "docs/./x", invalid},
                     {"empty segment", "docs//x", invalid},
                     {"encoded climb", "..%2F..%2Fother", -1}};
        for (const auto &p : paths) {
            QTest::addRow("writeFiles: %s", p.name) << int(writeFiles) << QStringLiteral("acme")
                                                    << QStringLiteral("ops") << p.path << p.refusal;
        }
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
            QVERIFY2(!segments.contains(QStringLiteral("..")) &&
                         !segments.contains(QStringLiteral(".")),
                     qPrintable(request.rawPath));
            QVERIFY2(segments.value(1) == QLatin1String("repos") ||
                         segments.value(1) == QLatin1String("orgs"),
                     qPrintable(request.rawPath));
            QVERIFY2(QUrl::fromPercentEncoding(segments.value(2).toUtf8()) == GitHubTestBench::org,
                     qPrintable(request.rawPath));
        }
        // Nothing changed in the other organisation.
        QCOMPARE(m_bench->emulator.filesOnMain(QStringLiteral("other"), QStringLiteral("repos")),
                 QStringList{QStringLiteral("README.md")});
        QVERIFY(!m_bench->emulator.protectionOf(QStringLiteral("other"), QStringLiteral("repos")));
    }

    void noApprovedOrganisationRefusesEveryWrite() {
        m_bench->gitHub->setApprovedOrg(std::nullopt);
        for (Operation operation : {createRepo, writeFiles, enableProtection, disableProtection})
            QCOMPARE(
                run(operation, GitHubTestBench::org, QStringLiteral("ops"), QStringLiteral("a.md")),
                int(GitHubError::orgNotApproved));
        QCOMPARE(m_bench->emulator.requests().size(), 0);
    }

    // The guard comes before the token: no refresh is spent on a refused write.
    void refusalSpendsNoRefresh() {
        QVERIFY(m_bench->restore(*m_bench->gitHub->oauthToken(), QStringLiteral("ghr_x"),
                                 QStringLiteral("2001-01-01T00:00:00Z")));
        QCOMPARE(run(enableProtection, QStringLiteral("other"), QStringLiteral("ops"), {}),
                 int(GitHubError::orgNotApproved));
        QCOMPARE(m_bench->emulator.requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestOrgGuard)
#include "TestOrgGuard.moc"
