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

    // The whole round trip as the browser makes it: authorisation page,
    // relay callback, keelmark:// URL, exchange with the PKCE verifier.
    void browserRoundTripSignsIn() {
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
        const QDateTime expiry =
            QDateTime::fromString(stored(KeychainService::tokenExpiryKey), Qt::ISODate);
        QCOMPARE(expiry.timeSpec(), Qt::UTC);
        QVERIFY(qAbs(expiry.secsTo(QDateTime::currentDateTimeUtc().addSecs(28800))) < 120);
        auto restored = m_bench->makeService();
        AsyncTest::waitFor(restored->restoreFromKeychain());
        QCOMPARE(restored->oauthToken(), gitHub().oauthToken());
        QCOMPARE(restored->refreshToken(), gitHub().refreshToken());
        QVERIFY(qAbs(restored->tokenExpiresAt().value().secsTo(*gitHub().tokenExpiresAt())) <= 1);
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
        for (int attempt = 1; attempt <= 2; ++attempt) {
            QVERIFY_THROWS_EXCEPTION(
                GitHubJsonError, AsyncTest::waitFor(gitHub().hasBranchProtection("acme", "ops")));
            QCOMPARE(refreshesSent(), attempt);
        }
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
};

QTEST_GUILESS_MAIN(TestGitHubSignIn)
#include "TestGitHubSignIn.moc"
