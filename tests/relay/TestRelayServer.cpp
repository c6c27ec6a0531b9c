#include "RelayServer.h"
#include "RelayTestClient.h"

#include "GitHubEmulator.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QMutex>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QUrlQuery>
#include <QUuid>

using namespace std::chrono_literals;

namespace {

const QString kClientId = QStringLiteral("Iv1.relaytest0000000");
const QString kSecret = QStringLiteral("relay-secret-3f9c1e77d0");
const QString kTokenPath = QStringLiteral("/login/oauth/access_token");

// Everything logged while the tests run, to prove what never gets there.
QMutex g_logMutex;
QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    {
        QMutexLocker lock(&g_logMutex);
        g_log.append(message);
    }
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

QStringList takeLog() {
    QMutexLocker lock(&g_logMutex);
    return std::exchange(g_log, {});
}

QString pkceChallenge(const QByteArray &verifier) {
    return QString::fromLatin1(
        QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray jsonBody(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

class TestRelayServer : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<GitHubEmulator> m_emulator;
    std::unique_ptr<RelayServer> m_relay;
    RelayTestClient m_client;

    std::unique_ptr<RelayServer>
    startRelay(QUrl webUrl, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        RelayConfig config;
        config.port = 0;
        config.clientId = kClientId;
        config.clientSecret = kSecret;
        config.gitHubWebUrl = webUrl;
        config.upstreamTimeout = timeout;
        auto relay = std::make_unique<RelayServer>(config);
        if (!relay->listen())
            return nullptr;
        return relay;
    }

    QUrl relayUrl(const QString &path) const {
        QUrl url = m_relay->baseUrl();
        url.setPath(path);
        return url;
    }
    QUrl exchangeUrl() const { return relayUrl(QStringLiteral("/v1/github/exchange")); }

    HttpResult exchangeCode(const QString &code, const QString &verifier = {}) {
        QJsonObject body{{"code", code}};
        if (!verifier.isEmpty())
            body.insert("code_verifier", verifier);
        return m_client.postJson(exchangeUrl(), body);
    }
    HttpResult refresh(const QString &refreshToken) {
        return m_client.postJson(
            exchangeUrl(), {{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}});
    }
    int tokenEndpointCalls() const { return int(m_emulator->requests("POST", kTokenPath).size()); }

    // GET /user on the emulator's API with the token: what the app does next.
    int userStatus(const QString &token) {
        QUrl url = m_emulator->apiUrl();
        url.setPath(QStringLiteral("/user"));
        return m_client
            .get(url,
                 {{"Authorization", "Bearer " + token.toUtf8()}, {"User-Agent", "keelmark-tests"}})
            .status;
    }

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureMessage); }

    void init() {
        m_emulator = std::make_unique<GitHubEmulator>();
        QVERIFY(m_emulator->start());
        m_emulator->addUser(QStringLiteral("octo"));
        GitHubEmulator::OAuthApp app;
        app.clientId = kClientId;
        app.clientSecret = kSecret;
        m_emulator->setOAuthApp(app);
        m_emulator->setAutoApprove(true);
        m_emulator->setAuthorizingUser(QStringLiteral("octo"));
        m_relay = startRelay(m_emulator->webUrl());
        QVERIFY(m_relay);
        takeLog();
    }

    void cleanup() {
        m_relay.reset();
        m_emulator.reset();
    }

    void healthAndUnknownAddresses_data() {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("allow");

        QTest::newRow("health") << QByteArray("GET") << "/healthz" << 200 << QByteArray();
        QTest::newRow("health by POST")
            << QByteArray("POST") << "/healthz" << 405 << QByteArray("GET");
        QTest::newRow("callback by POST")
            << QByteArray("POST") << "/v1/github/callback" << 405 << QByteArray("GET");
        QTest::newRow("unknown path")
            << QByteArray("GET") << "/v1/github/token" << 404 << QByteArray();
        QTest::newRow("trailing slash")
            << QByteArray("POST") << "/v1/github/exchange/" << 404 << QByteArray();
    }

    void healthAndUnknownAddresses() {
        QFETCH(QByteArray, verb);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, allow);

        const HttpResult result = RelayTestClient::wait(
            m_client.start(verb, relayUrl(path), {{"Content-Type", "text/plain"}}, "x"));
        QCOMPARE(result.status, status);
        QCOMPARE(result.header("Allow"), allow);
        if (status == 200)
            QCOMPARE(result.body, QByteArray("ok"));
    }

    void callbackHandsTheBrowserToTheApp_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("location"); // empty: 400 expected

        QTest::newRow("code and state") << "code=4f2a9c&state=0A1B-22"
                                        << "keelmark://github?code=4f2a9c&state=0A1B-22";
        QTest::newRow("state first") << "state=S&code=C"
                                     << "keelmark://github?code=C&state=S";
        QTest::newRow("no state") << "code=C"
                                  << "keelmark://github?code=C";
        QTest::newRow("first code wins") << "code=one&code=two&state=S"
                                         << "keelmark://github?code=one&state=S";
        // Characters that would add or change items are encoded again.
        QTest::newRow("reserved characters")
            << "code=a%2Bb%26c%3Dd%20e&state=x%23y%2F"
            << "keelmark://github?code=a%2Bb%26c%3Dd%20e&state=x%23y%2F";
        QTest::newRow("declined")
            << "error=access_denied&error_description=The+user+has+denied&state=S"
            << "keelmark://github?error=access_denied&state=S";
        QTest::newRow("neither") << "state=S" << QString();
        QTest::newRow("empty code") << "code=&state=S" << QString();
        QTest::newRow("no query") << "" << QString();
    }

    void callbackHandsTheBrowserToTheApp() {
        QFETCH(QString, query);
        QFETCH(QString, location);

        QUrl url = relayUrl(QStringLiteral("/v1/github/callback"));
        url.setQuery(query, QUrl::StrictMode);
        const HttpResult result = m_client.get(url);
        if (location.isEmpty()) {
            QCOMPARE(result.status, 400);
            QVERIFY(result.header("Content-Type").startsWith("text/plain"));
            QVERIFY(result.body.contains("neither an authorisation code nor an error"));
            return;
        }
        QCOMPARE(result.status, 302);
        QCOMPARE(QString::fromUtf8(result.header("Location")), location);
        QVERIFY(result.header("Content-Type").startsWith("text/html"));
        // The page links to the same address for browsers that stop here.
        QVERIFY2(result.body.contains("href=\"" + location.toHtmlEscaped().toUtf8() + "\""),
                 result.body.constData());
        QCOMPARE(result.header("Cache-Control"), QByteArray("no-store"));
    }

    void signInEndToEnd() {
        const QString state = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        const QString callback = relayUrl(QStringLiteral("/v1/github/callback")).toString();
        QUrl authorize = m_emulator->webUrl();
        authorize.setPath(QStringLiteral("/login/oauth/authorize"));
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("client_id"), kClientId);
        query.addQueryItem(QStringLiteral("redirect_uri"), callback);
        query.addQueryItem(QStringLiteral("scope"), QStringLiteral("repo,admin:org"));
        query.addQueryItem(QStringLiteral("state"), state);
        authorize.setQuery(query);

        // The browser: GitHub approves and sends it to the relay ...
        const HttpResult approved = m_client.get(authorize);
        QCOMPARE(approved.status, 302);
        const QUrl toRelay(QString::fromUtf8(approved.header("Location")));
        QVERIFY2(toRelay.toString().startsWith(callback), approved.header("Location").constData());

        // ... which sends it on to the app.
        const HttpResult toApp = m_client.get(toRelay);
        QCOMPARE(toApp.status, 302);
        const QUrl appUrl(QString::fromUtf8(toApp.header("Location")));
        QCOMPARE(appUrl.scheme(), QStringLiteral("keelmark"));
        QCOMPARE(appUrl.host(), QStringLiteral("github"));
        const QUrlQuery appQuery(appUrl);
        QCOMPARE(appQuery.queryItemValue(QStringLiteral("state")), state);
        const QString code = appQuery.queryItemValue(QStringLiteral("code"));
        QVERIFY(!code.isEmpty());

        // The app exchanges the code through the relay.
        const HttpResult tokens = exchangeCode(code);
        QCOMPARE(tokens.status, 200);
        QVERIFY(tokens.header("Content-Type").startsWith("application/json"));
        const QString accessToken = tokens.json().value("access_token").toString();
        QVERIFY2(!accessToken.isEmpty(), tokens.body.constData());
        QVERIFY(!tokens.json().value("refresh_token").toString().isEmpty());
        QCOMPARE(tokens.json().value("expires_in").toInt(), 28800);
        QCOMPARE(userStatus(accessToken), 200);

        // The relay, not the app, supplied the client credentials.
        const auto calls = m_emulator->requests("POST", kTokenPath);
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.first().header("accept"), QByteArray("application/json"));
        const QUrlQuery form(QString::fromUtf8(calls.first().body));
        QCOMPARE(form.queryItemValue("client_id"), kClientId);
        QCOMPARE(form.queryItemValue("client_secret"), kSecret);
        QCOMPARE(form.queryItemValue("code"), code);

        // A code works once; GitHub's error comes back as GitHub sent it.
        const HttpResult again = exchangeCode(code);
        QCOMPARE(again.status, 200);
        QCOMPARE(again.json().value("error").toString(), QStringLiteral("bad_verification_code"));
        QVERIFY(!again.json().contains("access_token"));
    }

    void pkceVerifierReachesGitHub() {
        const QByteArray verifier = "verifier-" + QUuid::createUuid().toByteArray(QUuid::Id128);
        const QString challenge = pkceChallenge(verifier);

        const HttpResult wrong = exchangeCode(
            m_emulator->mintAuthorizationCode("octo", {}, challenge), QStringLiteral("not-it"));
        QCOMPARE(wrong.status, 200);
        QVERIFY2(!wrong.json().contains("access_token"), wrong.body.constData());
        QVERIFY(wrong.json().contains("error"));

        const HttpResult right =
            exchangeCode(m_emulator->mintAuthorizationCode("octo", {}, challenge),
                         QString::fromLatin1(verifier));
        QCOMPARE(right.status, 200);
        QVERIFY2(right.json().contains("access_token"), right.body.constData());
    }

    void refreshRotatesTheTokens() {
        const QJsonObject first = exchangeCode(m_emulator->mintAuthorizationCode("octo")).json();
        const QString oldAccess = first.value("access_token").toString();
        const QString oldRefresh = first.value("refresh_token").toString();
        QVERIFY(!oldRefresh.isEmpty());

        const HttpResult rotated = refresh(oldRefresh);
        QCOMPARE(rotated.status, 200);
        const QString newAccess = rotated.json().value("access_token").toString();
        const QString newRefresh = rotated.json().value("refresh_token").toString();
        QVERIFY2(!newAccess.isEmpty(), rotated.body.constData());
        QVERIFY(newAccess != oldAccess);
        QVERIFY(!newRefresh.isEmpty() && newRefresh != oldRefresh);
        QCOMPARE(userStatus(newAccess), 200);
        QCOMPARE(userStatus(oldAccess), 401);

        // The old refresh token is spent: GitHub's HTTP-200 error, unchanged.
        const HttpResult replay = refresh(oldRefresh);
        QCOMPARE(replay.status, 200);
        QCOMPARE(replay.json().value("error").toString(), QStringLiteral("bad_refresh_token"));

        const auto calls = m_emulator->requests("POST", kTokenPath);
        const QUrlQuery form(QString::fromUtf8(calls.last().body));
        QCOMPARE(form.queryItemValue("grant_type"), QStringLiteral("refresh_token"));
        QCOMPARE(form.queryItemValue("client_secret"), kSecret);
    }

    void gitHubRepliesPassThroughByteForByte_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");

        QTest::newRow("error at 200, odd spacing")
            << 200
            << QByteArray("{ \"error\" : \"bad_verification_code\",\n  \"error_description\":"
                          "\"The code passed is incorrect or expired.\", \"extra\": [1, 2] }");
        QTest::newRow("client error with JSON") << 404 << QByteArray("{\"message\":\"Not Found\"}");
    }

    void gitHubRepliesPassThroughByteForByte() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        m_emulator->injectFault("POST", kTokenPath, GitHubEmulator::Fault::fixed(status, body));
        const HttpResult result = exchangeCode(QStringLiteral("whatever"));
        QCOMPARE(result.status, status);
        QCOMPARE(result.body, body);
    }

    void malformedRequestsNeverReachGitHub_data() {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");

        const QByteArray valid = R"({"code":"abc"})";
        QTest::newRow("GET") << QByteArray("GET") << QByteArray() << QByteArray() << 405;
        QTest::newRow("PUT") << QByteArray("PUT") << QByteArray("application/json") << valid << 405;
        QTest::newRow("DELETE") << QByteArray("DELETE") << QByteArray() << QByteArray() << 405;
        QTest::newRow("text/plain")
            << QByteArray("POST") << QByteArray("text/plain") << valid << 415;
        QTest::newRow("form") << QByteArray("POST")
                              << QByteArray("application/x-www-form-urlencoded")
                              << QByteArray("code=abc") << 415;
        QTest::newRow("json, other charset")
            << QByteArray("POST") << QByteArray("application/json; charset=iso-8859-1") << valid
            << 415;
        QTest::newRow("json-ish type")
            << QByteArray("POST") << QByteArray("application/jsonx") << valid << 415;
        QTest::newRow("over 16 KiB")
            << QByteArray("POST") << QByteArray("application/json")
            << QByteArray("{\"code\":\"" + QByteArray(16 * 1024, 'a') + "\"}") << 413;
        QTest::newRow("not JSON") << QByteArray("POST") << QByteArray("application/json")
                                  << QByteArray("code=abc") << 400;
        QTest::newRow("truncated JSON") << QByteArray("POST") << QByteArray("application/json")
                                        << QByteArray("{\"code\":\"ab") << 400;
        QTest::newRow("empty body")
            << QByteArray("POST") << QByteArray("application/json") << QByteArray() << 400;
        QTest::newRow("array") << QByteArray("POST") << QByteArray("application/json")
                               << QByteArray(R"(["abc"])") << 400;
        QTest::newRow("string") << QByteArray("POST") << QByteArray("application/json")
                                << QByteArray(R"("abc")") << 400;
        QTest::newRow("empty object")
            << QByteArray("POST") << QByteArray("application/json") << QByteArray("{}") << 400;
        QTest::newRow("empty code") << QByteArray("POST") << QByteArray("application/json")
                                    << QByteArray(R"({"code":""})") << 400;
        QTest::newRow("numeric code") << QByteArray("POST") << QByteArray("application/json")
                                      << QByteArray(R"({"code":42})") << 400;
        QTest::newRow("null verifier") << QByteArray("POST") << QByteArray("application/json")
                                       << QByteArray(R"({"code":"a","code_verifier":null})") << 400;
        QTest::newRow("unknown field")
            << QByteArray("POST") << QByteArray("application/json")
            << QByteArray(R"({"code":"a","client_secret":"mine"})") << 400;
        QTest::newRow("refresh token alone") << QByteArray("POST") << QByteArray("application/json")
                                             << QByteArray(R"({"refresh_token":"r"})") << 400;
        QTest::newRow("refresh without token")
            << QByteArray("POST") << QByteArray("application/json")
            << QByteArray(R"({"grant_type":"refresh_token"})") << 400;
        QTest::newRow("other grant type")
            << QByteArray("POST") << QByteArray("application/json")
            << QByteArray(R"({"grant_type":"authorization_code","code":"a"})") << 400;
        QTest::newRow("refresh plus code")
            << QByteArray("POST") << QByteArray("application/json")
            << QByteArray(R"({"grant_type":"refresh_token","refresh_token":"r","code":"a"})")
            << 400;
    }

    void malformedRequestsNeverReachGitHub() {
        QFETCH(QByteArray, verb);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(int, status);

        RelayTestClient::Headers headers;
        if (!contentType.isEmpty())
            headers.append({"Content-Type", contentType});
        const HttpResult result =
            RelayTestClient::wait(m_client.start(verb, exchangeUrl(), headers, body));
        QCOMPARE(result.status, status);
        QVERIFY(result.header("Content-Type").startsWith("application/json"));
        QVERIFY2(!result.json().value("error").toString().isEmpty(), result.body.constData());
        QVERIFY(!result.json().value("error_description").toString().isEmpty());
        if (status == 405)
            QCOMPARE(result.header("Allow"), QByteArray("POST"));
        QCOMPARE(tokenEndpointCalls(), 0);
    }

    void postWithoutContentTypeIs415() {
        const QByteArray body = R"({"code":"abc"})";
        const HttpResult result = RelayTestClient::raw(
            m_relay->port(),
            "POST /v1/github/exchange HTTP/1.1\r\nHost: relay\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QCOMPARE(result.status, 415);
        QCOMPARE(tokenEndpointCalls(), 0);
    }

    void hugeUploadIsCutOffUnread_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("plain") << QByteArray("/v1/github/exchange");
        QTest::newRow("with a query") << QByteArray("/v1/github/exchange?code=hidden");
    }

    void hugeUploadIsCutOffUnread() {
        QFETCH(QByteArray, target);
        // Announces 100 MB and starts sending; the relay answers 413 without
        // waiting for (or buffering) the rest.
        QByteArray request = "POST " + target +
                             " HTTP/1.1\r\nHost: relay\r\nContent-Type: application/json\r\n"
                             "Content-Length: 104857600\r\n\r\n";
        request += QByteArray(256 * 1024, ' ');
        const HttpResult result = RelayTestClient::raw(m_relay->port(), request);
        QCOMPARE(result.status, 413);
        QCOMPARE(result.json().value("error").toString(), QStringLiteral("request_too_large"));
        QCOMPARE(tokenEndpointCalls(), 0);
        const QStringList log = takeLog();
        QVERIFY2(log.filter(QStringLiteral(" POST /v1/github/exchange 413 ")).size() == 1,
                 qPrintable(log.join('\n')));
        QVERIFY(log.filter(QStringLiteral("hidden")).isEmpty());
        QCOMPARE(m_client.get(relayUrl(QStringLiteral("/healthz"))).status, 200);
    }

    void keepAliveConnectionsGetAFreshBudget() {
        // One connection, many requests just under the body limit: the cap
        // applies per request, not per connection.
        const QByteArray body = QByteArray("{\"code\":\"") + QByteArray(15 * 1024, 'a') + "\"}";
        for (int i = 0; i < 6; ++i)
            QCOMPARE(m_client.post(exchangeUrl(), "application/json", body).status, 200);
        QCOMPARE(tokenEndpointCalls(), 6);
    }

    void acceptedRequestShapes_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");

        QTest::newRow("charset utf-8")
            << QByteArray("application/json; charset=UTF-8") << QByteArray(R"({"code":"abc"})");
        QTest::newRow("upper-case type")
            << QByteArray("Application/JSON") << QByteArray(R"({"code":"abc"})");
        // 16 KiB exactly is still allowed.
        const QByteArray prefix = "{\"code\":\"";
        const QByteArray suffix = "\"}";
        QTest::newRow("16 KiB exactly")
            << QByteArray("application/json")
            << prefix + QByteArray(16 * 1024 - prefix.size() - suffix.size(), 'a') + suffix;
    }

    void acceptedRequestShapes() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        const HttpResult result = m_client.post(exchangeUrl(), contentType, body);
        QCOMPARE(result.status, 200); // GitHub's bad-code answer
        QCOMPARE(tokenEndpointCalls(), 1);
    }

    void valuesAreFormEncodedForGitHub() {
        const QString odd = QStringLiteral("a+b&c=d %25é");
        exchangeCode(odd, odd);
        const auto calls = m_emulator->requests("POST", kTokenPath);
        QCOMPARE(calls.size(), 1);
        QVERIFY(
            calls.first().header("content-type").startsWith("application/x-www-form-urlencoded"));
        // Decoded the way a form is: every value arrives intact.
        QUrlQuery form;
        form.setQuery(QString::fromUtf8(calls.first().body));
        QCOMPARE(form.queryItemValue("code", QUrl::FullyDecoded), odd);
        QCOMPARE(form.queryItemValue("code_verifier", QUrl::FullyDecoded), odd);
        QCOMPARE(form.queryItems().size(), 4);
    }

    void unreachableGitHubIs502() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        QUrl dead;
        dead.setScheme(QStringLiteral("http"));
        dead.setHost(QStringLiteral("127.0.0.1"));
        dead.setPort(closed.serverPort());
        closed.close();

        m_relay = startRelay(dead);
        QVERIFY(m_relay);
        const HttpResult result = exchangeCode(QStringLiteral("abc"));
        QCOMPARE(result.status, 502);
        QCOMPARE(result.json().value("error").toString(), QStringLiteral("upstream_unavailable"));
    }

    void gitHubFailuresAre502_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");

        using Kind = GitHubEmulator::Fault::Kind;
        QTest::newRow("server error") << int(Kind::FixedResponse) << 500 << QByteArray("{}");
        QTest::newRow("unicorn page")
            << int(Kind::FixedResponse) << 503
            << QByteArray("<html>No server is currently available</html>");
        QTest::newRow("html at 200")
            << int(Kind::FixedResponse) << 200 << QByteArray("<html></html>");
        QTest::newRow("form reply")
            << int(Kind::FixedResponse) << 200 << QByteArray("access_token=x&token_type=bearer");
        QTest::newRow("redirect") << int(Kind::FixedResponse) << 302 << QByteArray();
        QTest::newRow("corrupted body") << int(Kind::MalformedBody) << 0 << QByteArray();
        QTest::newRow("connection dropped") << int(Kind::DropConnection) << 0 << QByteArray();
    }

    void gitHubFailuresAre502() {
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        using Fault = GitHubEmulator::Fault;
        const Fault fault = Fault::Kind(kind) == Fault::Kind::FixedResponse
                                ? Fault::fixed(status, body)
                            : Fault::Kind(kind) == Fault::Kind::MalformedBody ? Fault::malformed()
                                                                              : Fault::drop();
        m_emulator->injectFault("POST", kTokenPath, fault);

        const HttpResult result = exchangeCode(m_emulator->mintAuthorizationCode("octo"));
        QCOMPARE(result.status, 502);
        QVERIFY(result.json().value("error").toString().startsWith("upstream_"));
        QVERIFY(!result.json().contains("access_token"));
    }

    void slowGitHubIs504WhileOthersAreServed() {
        m_relay = startRelay(m_emulator->webUrl(), 1500ms);
        QVERIFY(m_relay);
        m_emulator->injectFault("POST", kTokenPath, GitHubEmulator::Fault::latency(20000));

        QNetworkReply *exchange =
            m_client.start("POST", exchangeUrl(), {{"Content-Type", "application/json"}},
                           jsonBody({{"code", "slow"}}));
        QTRY_COMPARE_WITH_TIMEOUT(m_relay->pendingExchanges(), 1, 10000);
        // The wait on GitHub does not hold up anyone else.
        const HttpResult health = m_client.get(relayUrl(QStringLiteral("/healthz")));
        QCOMPARE(health.status, 200);
        QVERIFY(!exchange->isFinished());

        const HttpResult result = RelayTestClient::wait(exchange);
        QCOMPARE(result.status, 504);
        QCOMPARE(result.json().value("error").toString(), QStringLiteral("upstream_timeout"));
        QCOMPARE(m_relay->pendingExchanges(), 0);
    }

    void manyExchangesAtOnce() {
        // Each token request takes a while at GitHub; the relay must keep
        // many of them in flight rather than queue them.
        m_emulator->injectFault("POST", kTokenPath, GitHubEmulator::Fault::latency(300));
        m_emulator->resetPeak();
        constexpr int kClients = 5; // six connections each
        constexpr int kRequests = 30;
        std::vector<std::unique_ptr<RelayTestClient>> clients;
        for (int i = 0; i < kClients; ++i)
            clients.push_back(std::make_unique<RelayTestClient>());
        QList<QNetworkReply *> replies;
        for (int i = 0; i < kRequests; ++i) {
            replies.append(clients[i % kClients]->start(
                "POST", exchangeUrl(), {{"Content-Type", "application/json"}},
                jsonBody({{"code", m_emulator->mintAuthorizationCode("octo")}})));
        }
        QSet<QString> tokens;
        for (QNetworkReply *reply : replies) {
            const HttpResult result = RelayTestClient::wait(reply);
            QCOMPARE(result.status, 200);
            tokens.insert(result.json().value("access_token").toString());
        }
        QCOMPARE(tokens.size(), kRequests);
        QVERIFY(!tokens.contains(QString()));
        QVERIFY2(m_emulator->peakInFlight() >= 12,
                 qPrintable(QString::number(m_emulator->peakInFlight())));
    }

    void clientLeavingMidExchangeIsHarmless() {
        m_emulator->injectFault("POST", kTokenPath, GitHubEmulator::Fault::latency(600));
        QSignalSpy completed(m_relay.get(), &RelayServer::requestCompleted);
        // The client gives up while the relay waits on GitHub.
        QNetworkReply *reply =
            m_client.start("POST", exchangeUrl(), {{"Content-Type", "application/json"}},
                           jsonBody({{"code", m_emulator->mintAuthorizationCode("octo")}}));
        QTRY_COMPARE_WITH_TIMEOUT(m_relay->pendingExchanges(), 1, 10000);
        reply->abort();
        QCOMPARE(RelayTestClient::wait(reply).status, 0);
        QTRY_VERIFY_WITH_TIMEOUT(completed.size() == 1, 10000);
        QCOMPARE(completed.first().first().toInt(), 499);
        QCOMPARE(m_relay->pendingExchanges(), 0);
        QCOMPARE(m_client.get(relayUrl(QStringLiteral("/healthz"))).status, 200);
    }

    void shuttingDownWithExchangesInFlight() {
        m_emulator->injectFault("POST", kTokenPath, GitHubEmulator::Fault::latency(5000));
        QNetworkReply *reply =
            m_client.start("POST", exchangeUrl(), {{"Content-Type", "application/json"}},
                           jsonBody({{"code", "abc"}}));
        QTRY_COMPARE_WITH_TIMEOUT(m_relay->pendingExchanges(), 1, 10000);
        m_relay.reset();
        const HttpResult result = RelayTestClient::wait(reply);
        QCOMPARE(result.status, 0); // connection closed, nothing answered
    }

    void logHasOneLinePerRequestAndNoSecrets() {
        const QByteArray verifier = "log-verifier-" + QUuid::createUuid().toByteArray(QUuid::Id128);
        const QString code = m_emulator->mintAuthorizationCode("octo", {}, pkceChallenge(verifier));
        const QString state = QStringLiteral("STATE-") + QUuid::createUuid().toString(QUuid::Id128);

        QUrl callback = relayUrl(QStringLiteral("/v1/github/callback"));
        callback.setQuery(QStringLiteral("code=%1&state=%2").arg(code, state));
        QCOMPARE(m_client.get(callback).status, 302);
        const HttpResult tokens = exchangeCode(code, QString::fromLatin1(verifier));
        const QString access = tokens.json().value("access_token").toString();
        const QString refreshToken = tokens.json().value("refresh_token").toString();
        QVERIFY(!access.isEmpty() && !refreshToken.isEmpty());
        const HttpResult rotated = refresh(refreshToken);
        QVERIFY(rotated.json().contains("access_token"));
        QCOMPARE(refresh(refreshToken).status, 200); // spent token
        QCOMPARE(m_client.post(exchangeUrl(), "text/plain", code.toUtf8()).status, 415);
        m_emulator->injectFault("POST", kTokenPath, GitHubEmulator::Fault::fixed(500, "{}"));
        QCOMPARE(exchangeCode(code).status, 502);

        const QStringList log = takeLog();
        const QStringList secrets{kSecret,
                                  code,
                                  state,
                                  QString::fromLatin1(verifier),
                                  access,
                                  refreshToken,
                                  rotated.json().value("access_token").toString(),
                                  rotated.json().value("refresh_token").toString()};
        for (const QString &line : log) {
            for (const QString &secret : secrets)
                QVERIFY2(!line.contains(secret), qPrintable(line));
            QVERIFY2(!line.contains(QLatin1Char('?')), qPrintable(line));
        }

        static const QRegularExpression requestLine(QStringLiteral(
            R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (GET|POST) (/\S*) (\d{3}) \d+\.\dms$)"));
        QStringList requests;
        for (const QString &line : log) {
            if (const auto match = requestLine.match(line); match.hasMatch())
                requests.append(match.captured(1) + ' ' + match.captured(2) + ' ' +
                                match.captured(3));
        }
        QCOMPARE(requests,
                 (QStringList{"GET /v1/github/callback 302", "POST /v1/github/exchange 200",
                              "POST /v1/github/exchange 200", "POST /v1/github/exchange 200",
                              "POST /v1/github/exchange 415", "POST /v1/github/exchange 502"}));
    }
};

QTEST_GUILESS_MAIN(TestRelayServer)
#include "TestRelayServer.moc"
