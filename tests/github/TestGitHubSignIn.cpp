#include "GitHubError.h"
#include "GitHubTestBench.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

namespace {

const QString kPastExpiry = QStringLiteral("2001-01-01T00:00:00Z");

QString param(const GitHubEmulator::RecordedRequest &request, const QString &name) {
    const QJsonValue json = request.json();
    if (json.isObject())
        return json.toObject().value(name).toString();
    return QUrlQuery(QString::fromUtf8(request.body)).queryItemValue(name, QUrl::FullyDecoded);
}

QString s256(const QString &verifier) {
    return QString::fromLatin1(
        QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// One GET without following redirects; the Location it answers.
QUrl locationOf(QNetworkAccessManager &network, const QUrl &url) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(30000);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(30000))
        return {};
    return QUrl::fromEncoded(reply->rawHeader("Location"));
}

} // namespace

// Receives what startOAuth hands to the desktop.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestGitHubSignIn : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubTestBench> m_bench;

    GitHubService &gitHub() { return *m_bench->gitHub; }
    GitHubEmulator &emulator() { return m_bench->emulator; }
    AppState &appState() { return *m_bench->appState; }

    QString storedValue(const char *key) {
        return AsyncTest::waitFor(
                   KeychainService::load(QString::fromLatin1(key), m_bench->credentialService))
            .value_or(QString());
    }

    int refreshesSent() {
        int count = 0;
        for (const auto &request : m_bench->tokenRequests())
            count += param(request, QStringLiteral("grant_type")) == QLatin1String("refresh_token");
        return count;
    }

    void verifyNotSignedIn() {
        QVERIFY(!gitHub().oauthToken());
        QVERIFY(!appState().gitHubConnected());
        QVERIFY(appState().gitHubUsername().isEmpty());
        QCOMPARE(m_bench->tokenRequests().size(), 0);
    }

private slots:
    void init() {
        m_bench = std::make_unique<GitHubTestBench>();
        QString error;
        QVERIFY2(m_bench->setUp(&error), qPrintable(error));
    }

    void cleanup() { m_bench.reset(); }

    void authorizationUrlCarriesStateAndChallenge() {
        const QUrl url = gitHub().makeAuthorizationUrl();
        QCOMPARE(url.path(), QStringLiteral("/login/oauth/authorize"));
        QCOMPARE(url.host(), emulator().webUrl().host());
        const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
        QStringList names;
        for (const auto &item : items)
            names << item.first;
        QCOMPARE(names, (QStringList{"client_id", "redirect_uri", "scope", "state",
                                     "code_challenge", "code_challenge_method"}));
        QCOMPARE(items[0].second, emulator().oauthApp().clientId);
        QCOMPARE(items[1].second, m_bench->relay->baseUrl().toString() + "/v1/github/callback");
        QCOMPARE(items[2].second, QStringLiteral("repo,admin:org"));
        QCOMPARE(items[3].second.size(), 36);
        QCOMPARE(items[3].second, items[3].second.toUpper());
        QVERIFY(!QUuid::fromString(items[3].second).isNull());
        QCOMPARE(items[4].second.size(), 43);
        QCOMPARE(items[5].second, QStringLiteral("S256"));

        const QUrlQuery second(gitHub().makeAuthorizationUrl());
        QVERIFY(second.queryItemValue("state") != items[3].second);
        QVERIFY(second.queryItemValue("code_challenge") != items[4].second);
    }

    // The whole round trip as the browser makes it: authorisation page,
    // relay callback, keelmark:// URL, exchange with the PKCE verifier.
    void browserRoundTripSignsIn() {
        BrowserStandIn browser;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
        gitHub().startOAuth();
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(browser.opened.size(), 1);
        const QUrl authorization = browser.opened.first();

        emulator().setAutoApprove(true);
        QNetworkAccessManager network;
        const QUrl relayCallback = locationOf(network, authorization);
        QCOMPARE(relayCallback.path(), QStringLiteral("/v1/github/callback"));
        const QUrl appUrl = locationOf(network, relayCallback);
        QCOMPARE(appUrl.scheme(), QStringLiteral("keelmark"));

        QSignalSpy tokensChanged(&gitHub(), &GitHubService::tokensChanged);
        AsyncTest::waitFor(gitHub().handleCallback(appUrl, &appState()));

        QVERIFY(appState().gitHubConnected());
        QCOMPARE(appState().gitHubUsername(), GitHubTestBench::user);
        QCOMPARE(appState().gitHubOrgs().size(), 1);
        QCOMPARE(appState().gitHubOrgs()[0].login, GitHubTestBench::org);
        QVERIFY(tokensChanged.count() >= 1);

        // The verifier went to GitHub beside the code and matches the challenge.
        const auto exchanges = m_bench->tokenRequests();
        QCOMPARE(exchanges.size(), 1);
        QCOMPARE(s256(param(exchanges[0], "code_verifier")),
                 QUrlQuery(authorization).queryItemValue("code_challenge"));

        // Tokens and expiry are in the credential store.
        QCOMPARE(storedValue(KeychainService::accessTokenKey), *gitHub().oauthToken());
        QCOMPARE(storedValue(KeychainService::refreshTokenKey), *gitHub().refreshToken());
        const QDateTime expiry =
            QDateTime::fromString(storedValue(KeychainService::tokenExpiryKey), Qt::ISODate);
        QVERIFY(expiry.isValid());
        QCOMPARE(expiry.timeSpec(), Qt::UTC);
        QVERIFY(qAbs(expiry.secsTo(QDateTime::currentDateTimeUtc().addSecs(28800))) < 120);
        QVERIFY(emulator().tokenIsValid(*gitHub().oauthToken()));
    }

    void callbackWithoutAMatchingStateIsDropped_data() {
        QTest::addColumn<bool>("pending");
        QTest::addColumn<QString>("state");
        QTest::newRow("no sign-in started")
            << false << QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        QTest::newRow("another state")
            << true << QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        QTest::newRow("no state") << true << QString();
        QTest::newRow("empty state") << true << "";
    }

    void callbackWithoutAMatchingStateIsDropped() {
        QFETCH(bool, pending);
        QFETCH(QString, state);
        if (pending)
            gitHub().makeAuthorizationUrl();
        const QString code = emulator().mintAuthorizationCode(GitHubTestBench::user);
        QList<QPair<QString, QString>> items{{"code", code}};
        if (!state.isNull())
            items.append({"state", state});
        AsyncTest::waitFor(
            gitHub().handleCallback(GitHubTestBench::callbackUrl(items), &appState()));
        verifyNotSignedIn();
    }

    void callbackIsUsedOnce() {
        QVERIFY(m_bench->signIn());
        const QUrlQuery query(gitHub().makeAuthorizationUrl());
        const QString state = query.queryItemValue("state");
        const QString code = emulator().mintAuthorizationCode(
            GitHubTestBench::user, {}, query.queryItemValue("code_challenge"));
        const QUrl callback = GitHubTestBench::callbackUrl({{"state", state}, {"code", code}});
        AsyncTest::waitFor(gitHub().handleCallback(callback, &appState()));
        QCOMPARE(m_bench->tokenRequests().size(), 2);
        AsyncTest::waitFor(gitHub().handleCallback(callback, &appState()));
        QCOMPARE(m_bench->tokenRequests().size(), 2);
    }

    void declinedSignInEndsTheAttempt() {
        const QUrlQuery query(gitHub().makeAuthorizationUrl());
        const QString state = query.queryItemValue("state");
        AsyncTest::waitFor(gitHub().handleCallback(
            GitHubTestBench::callbackUrl({{"error", "access_denied"}, {"state", state}}),
            &appState()));
        const QString code = emulator().mintAuthorizationCode(
            GitHubTestBench::user, {}, query.queryItemValue("code_challenge"));
        AsyncTest::waitFor(gitHub().handleCallback(
            GitHubTestBench::callbackUrl({{"code", code}, {"state", state}}), &appState()));
        verifyNotSignedIn();
    }

    // Pressing Connect twice and finishing in the first tab still works,
    // with that attempt's own verifier.
    void earlierAttemptCompletesWithItsOwnVerifier() {
        const QUrlQuery first(gitHub().makeAuthorizationUrl());
        gitHub().makeAuthorizationUrl();
        const QString code = emulator().mintAuthorizationCode(
            GitHubTestBench::user, {}, first.queryItemValue("code_challenge"));
        AsyncTest::waitFor(gitHub().handleCallback(
            GitHubTestBench::callbackUrl(
                {{"code", code}, {"code", "second"}, {"state", first.queryItemValue("state")}}),
            &appState()));
        QVERIFY(appState().gitHubConnected());
        QCOMPARE(param(m_bench->tokenRequests().value(0), "code"), code);
    }

    void refusedCodeChangesNothing() {
        const QUrlQuery query(gitHub().makeAuthorizationUrl());
        AsyncTest::waitFor(gitHub().handleCallback(
            GitHubTestBench::callbackUrl(
                {{"code", "not-a-code"}, {"state", query.queryItemValue("state")}}),
            &appState()));
        QCOMPARE(m_bench->tokenRequests().size(), 1);
        QVERIFY(!gitHub().oauthToken());
        QVERIFY(!appState().gitHubConnected());
    }

    void restoreBringsBackTokensAndExpiry() {
        QVERIFY(m_bench->signIn());
        auto restored = m_bench->makeService();
        AsyncTest::waitFor(restored->restoreFromKeychain());
        QCOMPARE(restored->oauthToken(), gitHub().oauthToken());
        QCOMPARE(restored->refreshToken(), gitHub().refreshToken());
        QVERIFY(restored->tokenExpiresAt().has_value());
        QVERIFY(qAbs(restored->tokenExpiresAt()->secsTo(*gitHub().tokenExpiresAt())) <= 1);
    }

    // GitHub rotates refresh tokens: concurrent callers that find the token
    // expired must share one refresh.
    void expiredTokenIsRefreshedOnceForConcurrentCallers() {
        QVERIFY(m_bench->signIn());
        emulator().createRepoDirect(GitHubTestBench::org, QStringLiteral("ops"));
        const QString oldRefresh = *gitHub().refreshToken();
        QVERIFY(m_bench->restore(*gitHub().oauthToken(), oldRefresh, kPastExpiry));

        auto exists = gitHub().repoExists(GitHubTestBench::org, QStringLiteral("ops"));
        auto protection = gitHub().hasBranchProtection(GitHubTestBench::org, QStringLiteral("ops"));
        auto team = gitHub().getCollaborators(GitHubTestBench::org, QStringLiteral("ops"));
        auto readme = gitHub().getFileContent(GitHubTestBench::org, QStringLiteral("ops"),
                                              QStringLiteral("README.md"));
        QVERIFY(AsyncTest::waitFor(std::move(exists)));
        QVERIFY(!AsyncTest::waitFor(std::move(protection)));
        QVERIFY(!AsyncTest::waitFor(std::move(team)).isEmpty());
        AsyncTest::waitFor(std::move(readme));

        QCOMPARE(refreshesSent(), 1);
        QVERIFY(*gitHub().refreshToken() != oldRefresh);
        QVERIFY(!emulator().tokenIsValid(oldRefresh));
        QVERIFY(*gitHub().tokenExpiresAt() > QDateTime::currentDateTimeUtc());
        QCOMPARE(storedValue(KeychainService::refreshTokenKey), *gitHub().refreshToken());
        QCOMPARE(storedValue(KeychainService::accessTokenKey), *gitHub().oauthToken());
    }

    void failedRefreshChangesNothingAndIsRetried() {
        QVERIFY(m_bench->signIn());
        const QString token = *gitHub().oauthToken();
        QVERIFY(m_bench->restore(token, QStringLiteral("ghr_revoked"), kPastExpiry));
        const QDateTime expiry = *gitHub().tokenExpiresAt();
        for (int attempt = 1; attempt <= 2; ++attempt) {
            QVERIFY_THROWS_EXCEPTION(
                GitHubJsonError,
                AsyncTest::waitFor(gitHub().hasBranchProtection(GitHubTestBench::org, "ops")));
            QCOMPARE(refreshesSent(), attempt);
        }
        QCOMPARE(gitHub().oauthToken(), token);
        QCOMPARE(gitHub().refreshToken(), QStringLiteral("ghr_revoked"));
        QCOMPARE(gitHub().tokenExpiresAt(), expiry);
    }

    void expiredTokenWithoutRefreshTokenIsANetworkError() {
        GitHubEmulator::TokenOptions options;
        QVERIFY(m_bench->restore(emulator().issueToken(GitHubTestBench::user, options), {},
                                 kPastExpiry));
        emulator().clearRequests();
        try {
            AsyncTest::waitFor(gitHub().repoExists(GitHubTestBench::org, QStringLiteral("ops")));
            QFAIL("no error");
        } catch (const GitHubError &error) {
            QCOMPARE(error.kind(), GitHubError::networkError);
        }
        QCOMPARE(emulator().requests().size(), 0);
    }
};

QTEST_MAIN(TestGitHubSignIn)
#include "TestGitHubSignIn.moc"
