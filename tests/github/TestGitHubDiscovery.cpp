#include "GitHubTestBench.h"

#include <QTest>

class TestGitHubDiscovery : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    GitHubEmulator &emulator() { return m_bench->emulator; }
    AppState &appState() { return *m_bench->appState; }

    QStringList orgLogins() {
        QStringList logins;
        for (const GitHubOrg &org : appState().gitHubOrgs())
            logins << org.login + (org.isAdmin ? QStringLiteral(":admin") : QString());
        return logins;
    }

    void fetch() { AsyncTest::waitFor(m_bench->gitHub->fetchOrgs(&appState())); }

    // A list that a failed run must leave in place.
    void setSentinel() { appState().setGitHubOrgs({GitHubOrg{99, QStringLiteral("kept"), false}}); }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        appState().setGitHubUsername(GitHubTestBench::user);
    }

    void cleanup() { m_bench.reset(); }

    void installationsAreListedAsAdministered() {
        GitHubEmulator::OrgOptions notInstalled;
        notInstalled.appInstalled = false;
        emulator().addOrg(QStringLiteral("beta"));
        emulator().setMembership(QStringLiteral("beta"), GitHubTestBench::user,
                                 QStringLiteral("member"));
        emulator().addOrg(QStringLiteral("gamma"), notInstalled);
        emulator().setMembership(QStringLiteral("gamma"), GitHubTestBench::user,
                                 QStringLiteral("admin"));
        QVERIFY(m_bench->signInDirect(true));
        fetch();
        QCOMPARE(orgLogins(), (QStringList{"acme:admin", "beta:admin"}));
        QVERIFY(appState().gitHubOrgs()[0].id > 0);
        QCOMPARE(emulator().requests("GET", QStringLiteral("/user/orgs")).size(), 0);
    }

    void everyPageOfInstallationsIsRead() {
        for (int i = 0; i < 130; ++i) {
            const QString org = QStringLiteral("org%1").arg(i, 3, 10, QLatin1Char('0'));
            emulator().addOrg(org);
            emulator().setMembership(org, GitHubTestBench::user, QStringLiteral("admin"));
        }
        QVERIFY(m_bench->signInDirect(true));
        fetch();
        QCOMPARE(appState().gitHubOrgs().size(), 131);
        QVERIFY(orgLogins().contains(QStringLiteral("org129:admin")));
    }

    void emptyInstallationsGiveAnEmptyList() {
        emulator().setOrgOptions(GitHubTestBench::org, [] {
            GitHubEmulator::OrgOptions options;
            options.appInstalled = false;
            return options;
        }());
        QVERIFY(m_bench->signInDirect(true));
        setSentinel();
        fetch();
        QVERIFY(appState().gitHubOrgs().isEmpty());
        QCOMPARE(emulator().requests("GET", QStringLiteral("/user/orgs")).size(), 0);
    }

    // A token that may not list installations: memberships decide isAdmin.
    void membershipsDecideWithoutInstallations() {
        emulator().addOrg(QStringLiteral("beta"));
        emulator().setMembership(QStringLiteral("beta"), GitHubTestBench::user,
                                 QStringLiteral("member"));
        QVERIFY(m_bench->signInDirect(false));
        fetch();
        QCOMPARE(orgLogins(), (QStringList{"acme:admin", "beta"}));
        QCOMPARE(emulator().requests("GET", QStringLiteral("/orgs/beta/memberships/alice")).size(),
                 1);
    }

    void everyPageOfOrganisationsIsRead() {
        for (int i = 0; i < 104; ++i) {
            const QString org = QStringLiteral("org%1").arg(i, 3, 10, QLatin1Char('0'));
            emulator().addOrg(org);
            emulator().setMembership(org, GitHubTestBench::user, QStringLiteral("member"));
        }
        QVERIFY(m_bench->signInDirect(false));
        fetch();
        QCOMPARE(appState().gitHubOrgs().size(), 105);
        QVERIFY(orgLogins().contains(QStringLiteral("acme:admin")));
        QVERIFY(orgLogins().contains(QStringLiteral("org103")));
    }

    void unreadableMembershipIsNotAdmin() {
        QVERIFY(m_bench->signInDirect(false));
        emulator().injectFault("GET", QStringLiteral("/orgs/acme/memberships/alice"),
                               GitHubEmulator::Fault::fixed(200, R"({"role":"Admin"})"));
        fetch();
        QCOMPARE(orgLogins(), QStringList{"acme"});
    }

    void failedRunKeepsThePreviousList_data() {
        QTest::addColumn<QString>("route");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("installations not JSON")
            << "/user/installations" << 200 << QByteArray("<html>");
        QTest::newRow("orgs refused")
            << "/user/orgs" << 401 << QByteArray(R"({"message":"Bad credentials"})");
        QTest::newRow("orgs not JSON") << "/user/orgs" << 200 << QByteArray("[{");
    }

    void failedRunKeepsThePreviousList() {
        QFETCH(QString, route);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QVERIFY(m_bench->signInDirect(false));
        emulator().injectFault("GET", route, GitHubEmulator::Fault::fixed(status, body));
        setSentinel();
        fetch();
        QCOMPARE(orgLogins(), QStringList{"kept"});
    }
};

QTEST_GUILESS_MAIN(TestGitHubDiscovery)
#include "TestGitHubDiscovery.moc"
