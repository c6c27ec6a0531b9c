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

    // An installation's organisation is administered only where the user's
    // own membership says "admin"; without installations the memberships of
    // /user/orgs decide. Personal accounts and hidden accounts are left out.
    void organisationsAndRoles_data() {
        QTest::addColumn<bool>("installations");
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QStringList>("found");
        const QStringList both{"acme:admin", "beta"};
        QTest::newRow("admin and member") << true << "" << both;
        QTest::newRow("look-up failing") << true << "failing" << QStringList{"acme", "beta"};
        QTest::newRow("invitation pending") << true << "pending" << QStringList{"acme", "beta"};
        QTest::newRow("personal account") << true << "personal" << both;
        QTest::newRow("null account") << true << "accountless" << both;
        QTest::newRow("memberships")
            << false << "" << QStringList{"acme:admin", "beta", "gamma:admin"};
    }

    void organisationsAndRoles() {
        QFETCH(bool, installations);
        QFETCH(QString, extra);
        QFETCH(QStringList, found);
        GitHubEmulator::OrgOptions notInstalled;
        notInstalled.appInstalled = false;
        emulator().addOrg("beta");
        emulator().setMembership("beta", GitHubTestBench::user, "member");
        emulator().addOrg("gamma", notInstalled);
        emulator().setMembership("gamma", GitHubTestBench::user, "admin");
        const QString acme = "/user/memberships/orgs/acme";
        if (extra == "failing")
            emulator().injectFault("GET", acme, GitHubEmulator::Fault::fixed(502, "{}"));
        if (extra == "pending")
            emulator().injectFault(
                "GET", acme,
                GitHubEmulator::Fault::fixed(200, R"({"state":"pending","role":"admin"})"));
        if (extra == "personal")
            emulator().installOnUser(GitHubTestBench::user);
        if (extra == "accountless")
            emulator().addAccountlessInstallation(GitHubTestBench::user);
        QCOMPARE(discover(installations), found);
        QVERIFY(appState().gitHubOrgs()[0].id > 0);
        QCOMPARE(emulator().requests("GET", "/user/orgs").isEmpty(), installations);
        // One look-up of the user's own membership per organisation listed.
        QCOMPARE(emulator().requests("GET", "/user/memberships/orgs/*").size(),
                 installations ? 2 : 3);
    }

    void everyPageIsRead_data() {
        QTest::addColumn<bool>("installations");
        QTest::newRow("installations") << true;
        QTest::newRow("organisations") << false;
    }

    void everyPageIsRead() {
        QFETCH(bool, installations);
        addOrgs("org", 130, "admin");
        emulator().injectFault("GET", "/user/memberships/orgs/*",
                               GitHubEmulator::Fault::latency(50));
        const QStringList found = discover(installations);
        QCOMPARE(found.size(), 131);
        QVERIFY(found.contains("org129:admin"));
        // The look-ups overlap rather than wait for one another.
        if (installations)
            QVERIFY(emulator().peakInFlight() > 1);
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
