#include "GitHubTestBench.h"

#include <QTest>

class TestGitHubDiscovery : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    GitHubEmulator &emulator() { return m_bench->emulator; }
    AppState &appState() { return *m_bench->appState; }

    // Signs in with an app user token (installations readable) or without,
    // and runs discovery; the organisations found as "login[:admin]".
    QStringList discover(bool installations) {
        if (!m_bench->signInDirect(installations))
            return {"sign-in failed"};
        AsyncTest::waitFor(m_bench->gitHub->fetchOrgs(&appState()));
        QStringList logins;
        for (const GitHubOrg &org : appState().gitHubOrgs())
            logins << org.login + (org.isAdmin ? ":admin" : "");
        return logins;
    }

    void addOrgs(const QString &prefix, int count, const QString &role) {
        for (int i = 0; i < count; ++i) {
            const QString org = prefix + QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));
            emulator().addOrg(org);
            emulator().setMembership(org, GitHubTestBench::user, role);
        }
    }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
        appState().setGitHubUsername(GitHubTestBench::user);
        // A list that a failed run must leave in place.
        appState().setGitHubOrgs({GitHubOrg{99, "kept", false}});
    }

    void cleanup() { m_bench.reset(); }

    // Installations are administered wherever the app is installed; without
    // them the memberships decide.
    void organisationsAndRoles_data() {
        QTest::addColumn<bool>("installations");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("installations") << true << QStringList{"acme:admin", "beta:admin"};
        QTest::newRow("memberships") << false << QStringList{"acme:admin", "beta", "gamma:admin"};
    }

    void organisationsAndRoles() {
        QFETCH(bool, installations);
        QFETCH(QStringList, found);
        GitHubEmulator::OrgOptions notInstalled;
        notInstalled.appInstalled = false;
        emulator().addOrg("beta");
        emulator().setMembership("beta", GitHubTestBench::user, "member");
        emulator().addOrg("gamma", notInstalled);
        emulator().setMembership("gamma", GitHubTestBench::user, "admin");
        QCOMPARE(discover(installations), found);
        QVERIFY(appState().gitHubOrgs()[0].id > 0);
        QCOMPARE(emulator().requests("GET", "/user/orgs").isEmpty(), installations);
    }

    void everyPageIsRead_data() {
        QTest::addColumn<bool>("installations");
        QTest::newRow("installations") << true;
        QTest::newRow("organisations") << false;
    }

    void everyPageIsRead() {
        QFETCH(bool, installations);
        addOrgs("org", 130, "admin");
        const QStringList found = discover(installations);
        QCOMPARE(found.size(), 131);
        QVERIFY(found.contains("org129:admin"));
    }

    void noInstallationsGiveAnEmptyList() {
        GitHubEmulator::OrgOptions notInstalled;
        notInstalled.appInstalled = false;
        emulator().setOrgOptions(GitHubTestBench::org, notInstalled);
        QCOMPARE(discover(true), QStringList());
        QCOMPARE(emulator().requests("GET", "/user/orgs").size(), 0);
    }

    void failedRunKeepsThePreviousList_data() {
        QTest::addColumn<QString>("route");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("installations");
        QTest::newRow("installations not JSON")
            << "/user/installations" << 200 << QByteArray("<html>") << true;
        QTest::newRow("orgs refused")
            << "/user/orgs" << 401 << QByteArray(R"({"message":"Bad credentials"})") << false;
    }

    void failedRunKeepsThePreviousList() {
        QFETCH(QString, route);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, installations);
        emulator().injectFault("GET", route, GitHubEmulator::Fault::fixed(status, body));
        QCOMPARE(discover(installations), QStringList{"kept"});
    }
};

QTEST_GUILESS_MAIN(TestGitHubDiscovery)
#include "TestGitHubDiscovery.moc"
