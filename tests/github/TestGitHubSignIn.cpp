#include "GitHubTestBench.h"
#include "KeychainService.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>
#include <QUuid>

namespace {

const QString kPastExpiry = QStringLiteral("2001-01-01T00:00:00Z");

QString param(const GitHubEmulator::RecordedRequest &request, const QString &name) {
    const QJsonValue json = request.json();
    if (json.isObject())
        return json.toObject().value(name).toString();
    return QUrlQuery(QString::fromUtf8(request.body)).queryItemValue(name, QUrl::FullyDecoded);
}

// One GET without following redirects; the Location it answers.
QUrl locationOf(QNetworkAccessManager &network, const QUrl &url) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(30000);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    return finished.wait(30000) ? QUrl::fromEncoded(reply->rawHeader("Location")) : QUrl();
}

// A credential store that refuses every write, as a missing or locked one does.
QCoro::Task<bool> refuseCredential(QString, QString, QString) {
    co_return false;
}

} // namespace

class TestGitHubSignIn : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    GitHubService &gitHub() { return *m_bench->gitHub; }
    GitHubEmulator &emulator() { return m_bench->emulator; }
    AppState &appState() { return *m_bench->appState; }

    QString stored(const char *key) {
        return AsyncTest::waitFor(
                   KeychainService::load(QString::fromLatin1(key), m_bench->credentialService))
            .value_or(QString());
    }

    int refreshesSent() {
        int count = 0;
        for (const auto &request : m_bench->tokenRequests())
            count += param(request, "grant_type") == QLatin1String("refresh_token");
        return count;
    }

    void callback(const QList<QPair<QString, QString>> &items) {
        AsyncTest::waitFor(
            gitHub().handleCallback(GitHubTestBench::callbackUrl(items), &appState()));
    }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
    }

    void cleanup() { m_bench.reset(); }

    void browserRoundTripSignsIn_data() {
        QTest::addColumn<bool>("expiring");
        QTest::newRow("expiring token") << true;
        // An expiry stored earlier must not outlive the token it belonged to.
        QTest::newRow("token without expiry") << false;
    }

    // The whole round trip as the browser makes it: authorisation page,
    // relay callback, keelmark:// URL, exchange with the PKCE verifier.
    void browserRoundTripSignsIn() {
        QFETCH(bool, expiring);
        if (!expiring) {
            QVERIFY(m_bench->restore("ghu_old", "ghr_old", "2099-01-01T00:00:00Z"));
            auto app = emulator().oauthApp();
            app.expiringTokens = false;
            emulator().setOAuthApp(app);
        }
        const QUrl authorization = gitHub().makeAuthorizationUrl();
        QCOMPARE(authorization.host() + authorization.path(),
                 emulator().webUrl().host() + "/login/oauth/authorize");
        const QUrlQuery query(authorization);
        QCOMPARE(query.queryItemValue("code_challenge_method"), QStringLiteral("S256"));

        emulator().setAutoApprove(true);
        QNetworkAccessManager network;
        const QUrl appUrl = locationOf(network, locationOf(network, authorization));
        QCOMPARE(appUrl.scheme(), QStringLiteral("keelmark"));
        AsyncTest::waitFor(gitHub().handleCallback(appUrl, &appState()));
        QVERIFY(appState().gitHubConnected());
        QCOMPARE(appState().gitHubUsername(), GitHubTestBench::user);

        // The verifier went to GitHub beside the code and matches the challenge.
        const auto exchanges = m_bench->tokenRequests();
        QCOMPARE(exchanges.size(), 1);
        const QByteArray verifier = param(exchanges[0], "code_verifier").toLatin1();
        QCOMPARE(QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                     .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals),
                 query.queryItemValue("code_challenge").toLatin1());

        // Tokens and expiry are stored, and come back after a restart.
        QCOMPARE(stored(KeychainService::accessTokenKey), *gitHub().oauthToken());
        const QString storedExpiry = stored(KeychainService::tokenExpiryKey);
        auto restored = m_bench->makeService();
        AsyncTest::waitFor(restored->restoreFromKeychain());
        QCOMPARE(restored->oauthToken(), gitHub().oauthToken());
        QCOMPARE(restored->refreshToken(), gitHub().refreshToken());
        QCOMPARE(gitHub().tokenExpiresAt().has_value(), expiring);
        QCOMPARE(restored->tokenExpiresAt().has_value(), expiring);
        if (!expiring) {
            QCOMPARE(storedExpiry, QString());
            return;
        }
        const QDateTime expiry = QDateTime::fromString(storedExpiry, Qt::ISODate);
        QCOMPARE(expiry.timeSpec(), Qt::UTC);
        QVERIFY(qAbs(expiry.secsTo(QDateTime::currentDateTimeUtc().addSecs(28800))) < 120);
        QVERIFY(qAbs(restored->tokenExpiresAt().value().secsTo(*gitHub().tokenExpiresAt())) <= 1);
    }

    // Each way a sign-in can fail ends with its cause on the connect step
    // and nothing connected, rather than an empty organisation list.
    void failedSignInIsShownAndConnectsNothing_data() {
        QTest::addColumn<QString>("route"); // "METHOD path" of the fault, or "keyring"
        QTest::addColumn<QString>("fault"); // "refused", "5xx", "malformed", "drop", "slow"
        QTest::addColumn<QString>("shown");
        const QString exchange = "The GitHub sign-in didn't complete. ";
        const QString account = "KeelMark couldn't read your GitHub account. ";
        const QString orgs = "KeelMark couldn't list your GitHub organisations. ";
        const struct {
            const char *name, *route, *fault;
            QString shown;
        } rows[] = {
            // clang-format off
            {"keyring refuses the tokens", "keyring", "", "KeelMark couldn't store your GitHub sign-in in the system keyring \u2014 unlock or install one, then connect again."},
            {"code refused", "POST /login/oauth/access_token", "refused", exchange + "The code passed is incorrect or expired."},
            {"token endpoint down", "POST /login/oauth/access_token", "drop", exchange},
            {"user refused", "GET /user", "refused", account + "The reply is not a GitHub user: Bad credentials."},
            {"user malformed", "GET /user", "malformed", account + "GitHub's reply could not be read"},
            {"user dropped", "GET /user", "drop", account},
            {"installations refused", "GET /user/installations", "refused", orgs + "Bad credentials."},
            {"installations server error", "GET /user/installations", "5xx", orgs + "Server Error."},
            {"installations malformed", "GET /user/installations", "malformed", orgs + "GitHub's reply could not be read"},
            {"installations dropped", "GET /user/installations", "drop", orgs},
            {"installations timed out", "GET /user/installations", "slow", orgs + "GitHub did not answer in time."},
            // clang-format on
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << row.route << row.fault << row.shown;
    }

    void failedSignInIsShownAndConnectsNothing() {
        QFETCH(QString, route);
        QFETCH(QString, fault);
        QFETCH(QString, shown);
        using Fault = GitHubEmulator::Fault;
        const QByteArray refusal = route.contains("access_token")
                                       ? R"({"error":"bad_verification_code","error_description":)"
                                         R"("The code passed is incorrect or expired."})"
                                       : R"({"message":"Bad credentials"})";
        const QMap<QString, Fault> faults{
            {"refused", Fault::fixed(route.contains("access_token") ? 200 : 401, refusal)},
            {"5xx", Fault::fixed(500, R"({"message":"Server Error"})")},
            {"malformed", Fault::malformed()},
            {"drop", Fault::drop()},
            {"slow", Fault::latency(3000)},
        };
        if (route == "keyring")
            gitHub().setCredentialWriter(refuseCredential);
        else
            emulator().injectFault(route.section(' ', 0, 0).toLatin1(), route.section(' ', 1),
                                   faults.value(fault));
        gitHub().setTransferTimeout(std::chrono::milliseconds(1000));

        // Tokens GitHub issued are kept once stored; only the keyring row has none.
        QCOMPARE(m_bench->signIn(), route != "keyring" && !route.contains("access_token"));
        QVERIFY2(appState().gitHubSignInProblem().startsWith(shown),
                 qPrintable(appState().gitHubSignInProblem()));
        QVERIFY(appState().gitHubSignInProblem().size() > shown.size() || shown.endsWith('.'));
        QCOMPARE(appState().gitHubSignInPhase(), GitHubSignInPhase::idle);
        QVERIFY(!appState().gitHubConnected());
        QCOMPARE(appState().gitHubUsername(), QString());
        QVERIFY(appState().gitHubOrgs().isEmpty());
        if (route == "keyring") // refused before anything is asked of GitHub
            QVERIFY(emulator().requests("GET", "/user").isEmpty());
    }

    // The refresh token in the store is spent once GitHub rotates it, so
    // refreshed tokens the store refuses are still used, and the user told.
    void refreshedTokensTheStoreRefusesAreStillUsed() {
        QVERIFY(m_bench->signIn());
        emulator().createRepoDirect("acme", "ops");
        bool refuse = true;
        gitHub().setCredentialWriter([&refuse](QString key, QString value, QString service) {
            return refuse ? refuseCredential(key, value, service)
                          : KeychainService::save(key, value, service);
        });
        QSignalSpy unsaved(&gitHub(), &GitHubService::tokensUnsavedChanged);
        for (const bool storeWorks : {false, true}) {
            refuse = !storeWorks;
            QVERIFY(
                m_bench->restore(*gitHub().oauthToken(), *gitHub().refreshToken(), kPastExpiry));
            const QString before = *gitHub().oauthToken();
            QVERIFY(AsyncTest::waitFor(gitHub().repoExists("acme", "ops")));
            QVERIFY(*gitHub().oauthToken() != before);
            QCOMPARE(gitHub().tokensUnsaved(), !storeWorks);
            QCOMPARE(stored(KeychainService::accessTokenKey) == before, !storeWorks);
        }
        QCOMPARE(unsaved.size(), 2);
    }

    // Only the callback of the pending sign-in is acted on, once.
    void unexpectedCallbackChangesNothing_data() {
        QTest::addColumn<QString>("before"); // what happened first
        QTest::addColumn<QString>("state");  // "pending": the pending sign-in's
        QTest::addColumn<QString>("code");   // "valid": one minted for the challenge
        QTest::addColumn<int>("exchanges");  // token requests it may cause
        const QString another = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        const struct {
            const char *name, *before;
            QString state;
            const char *code;
            int exchanges;
        } rows[] = {
            // clang-format off
            {"no sign-in started", "", another, "valid", 0},
            {"another state", "start", another, "valid", 0},
            {"no state", "start", QString(), "valid", 0},
            {"callback used twice", "signIn", "pending", "valid", 0},
            {"after a declined sign-in", "decline", "pending", "valid", 0},
            {"code refused by GitHub", "start", "pending", "not-a-code", 1},
            // clang-format on
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << row.before << row.state << row.code << row.exchanges;
    }

    void unexpectedCallbackChangesNothing() {
        QFETCH(QString, before);
        QFETCH(QString, state);
        QFETCH(QString, code);
        QFETCH(int, exchanges);
        QUrlQuery pending;
        if (before == "signIn") {
            QVERIFY(m_bench->signIn());
            QCOMPARE(m_bench->tokenRequests().size(), 1);
        }
        if (!before.isEmpty())
            pending = QUrlQuery(gitHub().makeAuthorizationUrl());
        if (state == "pending")
            state = pending.queryItemValue("state");
        if (code == "valid")
            code = emulator().mintAuthorizationCode(GitHubTestBench::user, {},
                                                    pending.queryItemValue("code_challenge"));
        QList<QPair<QString, QString>> items{{"code", code}};
        if (!state.isNull())
            items.append({"state", state});
        if (before == "signIn")
            callback(items); // the first use is fine
        else if (before == "decline")
            callback({{"error", "access_denied"}, {"state", state}});

        const auto token = gitHub().oauthToken();
        const qsizetype sent = m_bench->tokenRequests().size();
        const bool connected = appState().gitHubConnected();
        callback(items);
        QCOMPARE(m_bench->tokenRequests().size(), sent + exchanges);
        QCOMPARE(gitHub().oauthToken(), token);
        QCOMPARE(appState().gitHubConnected(), connected);
        if (!token)
            QVERIFY(!connected && appState().gitHubUsername().isEmpty());
    }

    // Pressing Connect twice and finishing in the first tab still works,
    // with that attempt's own verifier.
    void earlierAttemptCompletesWithItsOwnVerifier() {
        const QUrlQuery first(gitHub().makeAuthorizationUrl());
        const QUrlQuery second(gitHub().makeAuthorizationUrl());
        QVERIFY(first.queryItemValue("state") != second.queryItemValue("state"));
        QVERIFY(first.queryItemValue("code_challenge") != second.queryItemValue("code_challenge"));
        const QString code = emulator().mintAuthorizationCode(
            GitHubTestBench::user, {}, first.queryItemValue("code_challenge"));
        callback({{"code", code}, {"code", "second"}, {"state", first.queryItemValue("state")}});
        QVERIFY(appState().gitHubConnected());
        QCOMPARE(param(m_bench->tokenRequests().value(0), "code"), code);
    }

    // GitHub rotates refresh tokens: concurrent callers that find the token
    // expired must share one refresh.
    void expiredTokenIsRefreshedOnceForConcurrentCallers() {
        QVERIFY(m_bench->signIn());
        emulator().createRepoDirect("acme", "ops");
        const QString oldRefresh = *gitHub().refreshToken();
        QVERIFY(m_bench->restore(*gitHub().oauthToken(), oldRefresh, kPastExpiry));

        auto exists = gitHub().repoExists("acme", "ops");
        auto protection = gitHub().hasBranchProtection("acme", "ops");
        auto team = gitHub().getCollaborators("acme", "ops");
        auto readme = gitHub().getFileContent("acme", "ops", "README.md");
        QVERIFY(AsyncTest::waitFor(std::move(exists)));
        QVERIFY(!AsyncTest::waitFor(std::move(protection)));
        QVERIFY(!AsyncTest::waitFor(std::move(team)).isEmpty());
        AsyncTest::waitFor(std::move(readme));

        QCOMPARE(refreshesSent(), 1);
        QVERIFY(!emulator().tokenIsValid(oldRefresh));
        QVERIFY(*gitHub().tokenExpiresAt() > QDateTime::currentDateTimeUtc());
        QCOMPARE(stored(KeychainService::refreshTokenKey), *gitHub().refreshToken());
        QCOMPARE(stored(KeychainService::accessTokenKey), *gitHub().oauthToken());
    }

    void failedRefreshChangesNothingAndIsRetried() {
        QVERIFY(m_bench->signIn());
        const QString token = *gitHub().oauthToken();
        QVERIFY(m_bench->restore(token, "ghr_revoked", kPastExpiry));
        const QDateTime expiry = *gitHub().tokenExpiresAt();
        QSignalSpy refused(&gitHub(), &GitHubService::tokenRefreshRefused);
        for (int attempt = 1; attempt <= 2; ++attempt) {
            QVERIFY_THROWS_EXCEPTION(
                GitHubJsonError, AsyncTest::waitFor(gitHub().hasBranchProtection("acme", "ops")));
            QCOMPARE(refreshesSent(), attempt);
            QCOMPARE(refused.size(), attempt);
        }
        QVERIFY(!refused.first().first().toString().isEmpty());
        QCOMPARE(gitHub().oauthToken(), token);
        QCOMPARE(gitHub().refreshToken(), QStringLiteral("ghr_revoked"));
        QCOMPARE(gitHub().tokenExpiresAt(), expiry);
    }

    void expiredTokenWithoutRefreshTokenIsANetworkError() {
        QVERIFY(m_bench->restore(emulator().issueToken(GitHubTestBench::user), {}, kPastExpiry));
        emulator().clearRequests();
        QCOMPARE(GitHubTestBench::kindOf(gitHub().repoExists("acme", "ops")),
                 int(GitHubError::networkError));
        QCOMPARE(emulator().requests().size(), 0);
    }

    // Signing out: the grant is revoked through the relay where it can be,
    // and the sign-in is forgotten here whatever GitHub said.
    void signOutRevokesAndForgets_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("failure"); // empty: revokeGrant succeeds
        QTest::newRow("revoked") << ""
                                 << "";
        QTest::newRow("token GitHub no longer knows") << "revoked"
                                                      << "";
        QTest::newRow("GitHub fails") << "500"
                                      << "server error (HTTP 502)";
        QTest::newRow("relay down") << "down"
                                    << "Connection refused";
    }

    void signOutRevokesAndForgets() {
        QFETCH(QString, situation);
        QFETCH(QString, failure);
        QVERIFY(m_bench->signIn());
        const QString access = *gitHub().oauthToken();
        const QString refresh = *gitHub().refreshToken();
        auto restarted = m_bench->makeService(); // needs the relay's address
        if (situation == "revoked")
            for (const QString &token : {access, refresh})
                emulator().revokeToken(token);
        else if (situation == "500")
            emulator().injectFault("DELETE",
                                   "/applications/" + emulator().oauthApp().clientId + "/grant",
                                   GitHubEmulator::Fault::fixed(500, "{}"));
        else if (situation == "down")
            m_bench->relay.reset();

        QString thrown;
        try {
            AsyncTest::waitFor(gitHub().revokeGrant());
        } catch (const GitHubFailure &error) {
            thrown = error.description() + u' ' + error.detail();
        }
        QVERIFY2(failure.isEmpty() ? thrown.isEmpty() : thrown.contains(failure),
                 qPrintable(thrown));
        // Refresh tokens go with the grant, so nothing can bring it back.
        QCOMPARE(emulator().tokenIsValid(access), !failure.isEmpty());
        QCOMPARE(emulator().tokenIsValid(refresh), !failure.isEmpty());

        QVERIFY(AsyncTest::waitFor(gitHub().forgetSignIn()));
        QVERIFY(!gitHub().oauthToken() && !gitHub().refreshToken());
        for (const char *key : {KeychainService::accessTokenKey, KeychainService::refreshTokenKey,
                                KeychainService::tokenExpiryKey})
            QCOMPARE(stored(key), QString());
        AsyncTest::waitFor(restarted->restoreFromKeychain());
        QVERIFY(!restarted->oauthToken());
    }

    // Disconnecting while a sign-in waits on GitHub: the sign-in must not
    // bring its tokens back into memory or the keyring afterwards.
    void signOutDuringASignInWins() {
        const QUrlQuery query(gitHub().makeAuthorizationUrl());
        const QString code = emulator().mintAuthorizationCode(
            GitHubTestBench::user, query.queryItemValue("redirect_uri", QUrl::FullyDecoded),
            query.queryItemValue("code_challenge"));
        emulator().injectFault("POST", "/login/oauth/access_token",
                               GitHubEmulator::Fault::latency(600));
        auto signIn = gitHub().handleCallback(
            m_bench->callbackUrl({{"code", code}, {"state", query.queryItemValue("state")}}),
            &appState());
        QVERIFY(AsyncTest::waitFor(gitHub().forgetSignIn()));
        AsyncTest::waitFor(std::move(signIn));
        QVERIFY(!gitHub().oauthToken());
        QVERIFY(!appState().gitHubConnected());
        QCOMPARE(stored(KeychainService::accessTokenKey), QString());
    }
};

QTEST_GUILESS_MAIN(TestGitHubSignIn)
#include "TestGitHubSignIn.moc"
