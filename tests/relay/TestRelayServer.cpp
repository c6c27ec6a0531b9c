#include "RelayServer.h"

#include "EmulatorHttp.h"
#include "GitHubEmulator.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>
#include <QUuid>

using namespace std::chrono_literals;
using Fault = GitHubEmulator::Fault;

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

QByteArray compact(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

class TestRelayServer : public QObject {
    Q_OBJECT

    std::unique_ptr<GitHubEmulator> m_emulator;
    std::unique_ptr<RelayServer> m_relay;
    EmulatorHttp m_client{QUrl()};

    std::unique_ptr<RelayServer> startRelay(QUrl webUrl, std::chrono::milliseconds timeout = 10s) {
        RelayConfig config;
        config.port = 0;
        config.clientId = kClientId;
        config.clientSecret = kSecret;
        config.gitHubWebUrl = webUrl;
        config.upstreamTimeout = timeout;
        auto relay = std::make_unique<RelayServer>(config);
        return relay->listen() ? std::move(relay) : nullptr;
    }

    QUrl relayUrl(const QString &path) const {
        QUrl url = m_relay->baseUrl();
        url.setPath(path);
        return url;
    }
    QNetworkReply *startExchange(const QJsonObject &body) {
        return m_client.start("POST", relayUrl("/v1/github/exchange"), compact(body),
                              {{"Content-Type", "application/json"}});
    }
    HttpResult exchange(const QJsonObject &body) { return EmulatorHttp::wait(startExchange(body)); }
    HttpResult refresh(const QString &token) {
        return exchange({{"grant_type", "refresh_token"}, {"refresh_token", token}});
    }
    QList<GitHubEmulator::RecordedRequest> tokenCalls() const {
        return m_emulator->requests("POST", kTokenPath);
    }
    int userStatus(const QString &token) const {
        return EmulatorHttp(m_emulator->apiUrl(), token).get("/user").status;
    }
    // For requests QNetworkAccessManager will not send (a POST without a
    // Content-Type, a body that never ends): the bytes as given.
    HttpResult raw(const QByteArray &request) const {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_relay->port());
        socket.write(request);
        QByteArray in;
        qsizetype end = -1;
        static const QRegularExpression length("content-length: *(\\d+)",
                                               QRegularExpression::CaseInsensitiveOption);
        (void)QTest::qWaitFor(
            [&] {
                in += socket.readAll();
                end = in.indexOf("\r\n\r\n");
                return end >= 0 &&
                       in.size() >= end + 4 + length.match(in.left(end)).captured(1).toLongLong();
            },
            30000);
        HttpResult result;
        result.status = end < 0 ? 0 : in.mid(9, 3).toInt();
        result.body = in.mid(end + 4);
        return result;
    }

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureMessage); }

    void init() {
        m_emulator = std::make_unique<GitHubEmulator>();
        QVERIFY(m_emulator->start());
        m_emulator->addUser("octo");
        GitHubEmulator::OAuthApp app;
        app.clientId = kClientId;
        app.clientSecret = kSecret;
        m_emulator->setOAuthApp(app);
        m_emulator->setAutoApprove(true);
        m_emulator->setAuthorizingUser("octo");
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
        QTest::newRow("health") << QByteArray("GET") << "/healthz" << 200;
        QTest::newRow("health by POST") << QByteArray("POST") << "/healthz" << 405;
        QTest::newRow("unknown path") << QByteArray("GET") << "/v1/github/token" << 404;
        QTest::newRow("trailing slash") << QByteArray("POST") << "/v1/github/exchange/" << 404;
    }

    void healthAndUnknownAddresses() {
        QFETCH(QByteArray, verb);
        QFETCH(QString, path);
        QFETCH(int, status);
        const HttpResult result = EmulatorHttp::wait(
            m_client.start(verb, relayUrl(path), "x", {{"Content-Type", "text/plain"}}));
        QCOMPARE(result.status, status);
        QCOMPARE(result.header("Allow"), status == 405 ? QByteArray("GET") : QByteArray());
        QCOMPARE(result.body == "ok", status == 200);
    }

    void callbackHandsTheBrowserToTheApp_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("location"); // empty: 400 expected
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
        QTest::newRow("declined") << "error=access_denied&error_description=No&state=S"
                                  << "keelmark://github?error=access_denied&state=S";
        QTest::newRow("neither") << "state=S" << QString();
        QTest::newRow("empty code") << "code=&state=S" << QString();
    }

    void callbackHandsTheBrowserToTheApp() {
        QFETCH(QString, query);
        QFETCH(QString, location);
        QUrl url = relayUrl("/v1/github/callback");
        url.setQuery(query, QUrl::StrictMode);
        const HttpResult result = EmulatorHttp::wait(m_client.start("GET", url));
        if (location.isEmpty()) {
            QCOMPARE(result.status, 400);
            QVERIFY(result.header("Content-Type").startsWith("text/plain"));
            QVERIFY(result.body.contains("neither an authorisation code nor an error"));
            return;
        }
        QCOMPARE(result.status, 302);
        QCOMPARE(QString::fromUtf8(result.header("Location")), location);
        // The page links to the same address for browsers that stop here.
        QVERIFY(result.header("Content-Type").startsWith("text/html"));
        QVERIFY2(result.body.contains("href=\"" + location.toHtmlEscaped().toUtf8() + "\""),
                 result.body.constData());
        QCOMPARE(result.header("Cache-Control"), QByteArray("no-store"));
    }

    void signInEndToEnd() {
        const QString state = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString callback = relayUrl("/v1/github/callback").toString();
        const QUrlQuery query{
            {"client_id", kClientId}, {"redirect_uri", callback}, {"state", state}};
        // The browser: GitHub approves and sends it to the relay, which sends
        // it on to the app.
        const HttpResult approved =
            EmulatorHttp(m_emulator->webUrl()).get("/login/oauth/authorize?" + query.toString());
        QVERIFY(approved.header("Location").startsWith(callback.toUtf8()));
        const HttpResult toApp = EmulatorHttp::wait(
            m_client.start("GET", QUrl::fromEncoded(approved.header("Location"))));
        QCOMPARE(toApp.status, 302);
        const QUrl appUrl = QUrl::fromEncoded(toApp.header("Location"));
        QCOMPARE(appUrl.scheme() + ':' + appUrl.host(), QStringLiteral("keelmark:github"));
        QCOMPARE(QUrlQuery(appUrl).queryItemValue("state"), state);
        const QString code = QUrlQuery(appUrl).queryItemValue("code");

        // The app exchanges the code through the relay.
        const HttpResult tokens = exchange({{"code", code}});
        QCOMPARE(tokens.status, 200);
        QVERIFY(tokens.header("Content-Type").startsWith("application/json"));
        QCOMPARE(tokens.object().value("expires_in").toInt(), 28800);
        QCOMPARE(userStatus(tokens.object().value("access_token").toString()), 200);

        // The relay, not the app, supplied the client credentials.
        QCOMPARE(tokenCalls().size(), 1);
        QCOMPARE(tokenCalls().first().header("accept"), QByteArray("application/json"));
        const QUrlQuery form(QString::fromUtf8(tokenCalls().first().body));
        QCOMPARE(form.queryItemValue("client_id"), kClientId);
        QCOMPARE(form.queryItemValue("client_secret"), kSecret);

        // A code works once; GitHub's error comes back as GitHub sent it.
        const HttpResult again = exchange({{"code", code}});
        QCOMPARE(again.status, 200);
        QCOMPARE(again.object().value("error").toString(), QString("bad_verification_code"));
    }

    void refreshRotatesTheTokens() {
        const QJsonObject first =
            exchange({{"code", m_emulator->mintAuthorizationCode("octo")}}).object();
        const QString oldAccess = first.value("access_token").toString();
        const QString oldRefresh = first.value("refresh_token").toString();
        const QJsonObject rotated = refresh(oldRefresh).object();
        const QString newAccess = rotated.value("access_token").toString();
        QVERIFY(!newAccess.isEmpty() && newAccess != oldAccess);
        QVERIFY(rotated.value("refresh_token").toString() != oldRefresh);
        QCOMPARE(userStatus(newAccess), 200);
        QCOMPARE(userStatus(oldAccess), 401);

        // The old refresh token is spent: GitHub's HTTP-200 error, unchanged.
        const HttpResult replay = refresh(oldRefresh);
        QCOMPARE(replay.status, 200);
        QCOMPARE(replay.object().value("error").toString(), QString("bad_refresh_token"));
        const QUrlQuery form(QString::fromUtf8(tokenCalls().last().body));
        QCOMPARE(form.queryItemValue("grant_type"), QString("refresh_token"));
        QCOMPARE(form.queryItemValue("client_secret"), kSecret);
    }

    void requestShapes_data() {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<QByteArray>("contentType"); // empty: none sent
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status"); // 200: accepted and sent on to GitHub
        const auto row = [](const char *name, const QByteArray &body, int status,
                            const QByteArray &type = "application/json",
                            const QByteArray &verb = "POST") {
            QTest::newRow(name) << verb << type << body << status;
        };
        const QByteArray valid = R"({"code":"abc"})";
        const auto padded = [](qsizetype size) {
            return "{\"code\":\"" + QByteArray(size - 11, 'a') + "\"}";
        };
        row("GET", {}, 405, {}, "GET");
        row("PUT", valid, 405, "application/json", "PUT");
        row("no content type", valid, 415, {});
        row("text/plain", valid, 415, "text/plain");
        row("json, other charset", valid, 415, "application/json; charset=iso-8859-1");
        row("json-ish type", valid, 415, "application/jsonx");
        row("over 16 KiB", padded(16 * 1024 + 1), 413);
        row("not JSON", "code=abc", 400);
        row("array", R"(["abc"])", 400);
        row("empty object", "{}", 400);
        row("empty code", R"({"code":""})", 400);
        row("numeric code", R"({"code":42})", 400);
        row("null verifier", R"({"code":"a","code_verifier":null})", 400);
        row("unknown field", R"({"code":"a","client_secret":"mine"})", 400);
        row("refresh token alone", R"({"refresh_token":"r"})", 400);
        row("refresh without token", R"({"grant_type":"refresh_token"})", 400);
        row("other grant type", R"({"grant_type":"authorization_code","code":"a"})", 400);
        row("refresh plus code", R"({"grant_type":"refresh_token","refresh_token":"r","code":"a"})",
            400);
        row("charset utf-8", valid, 200, "application/json; charset=UTF-8");
        row("upper-case type", valid, 200, "Application/JSON");
        row("16 KiB exactly", padded(16 * 1024), 200);
    }

    void requestShapes() {
        QFETCH(QByteArray, verb);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const HttpResult result =
            contentType.isEmpty() && verb == "POST"
                ? raw("POST /v1/github/exchange HTTP/1.1\r\nHost: relay\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body)
                : EmulatorHttp::wait(m_client.start(
                      verb, relayUrl("/v1/github/exchange"), body,
                      contentType.isEmpty() ? Headers{} : Headers{{"Content-Type", contentType}}));
        QCOMPARE(result.status, status);
        QCOMPARE(tokenCalls().size(), status == 200 ? 1 : 0);
        if (status == 200)
            return; // GitHub's bad-code answer
        QVERIFY2(!result.object().value("error").toString().isEmpty(), result.body.constData());
        QVERIFY(!result.object().value("error_description").toString().isEmpty());
        if (status == 405)
            QCOMPARE(result.header("Allow"), QByteArray("POST"));
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
        const HttpResult result = raw("POST " + target +
                                      " HTTP/1.1\r\nHost: relay\r\nContent-Type: application/json"
                                      "\r\nContent-Length: 104857600\r\n\r\n" +
                                      QByteArray(256 * 1024, ' '));
        QCOMPARE(result.status, 413);
        QCOMPARE(result.object().value("error").toString(), QString("request_too_large"));
        QCOMPARE(tokenCalls().size(), 0);
        const QStringList log = takeLog();
        QVERIFY2(log.filter(" POST /v1/github/exchange 413 ").size() == 1,
                 qPrintable(log.join('\n')));
        QVERIFY(log.filter("hidden").isEmpty());
        QCOMPARE(m_client.get(relayUrl("/healthz").toString()).status, 200);
    }

    void keepAliveConnectionsGetAFreshBudget() {
        // One connection, many requests just under the body limit: the cap
        // applies per request, not per connection.
        const QString code = QString(15 * 1024, 'a');
        for (int i = 0; i < 6; ++i)
            QCOMPARE(exchange({{"code", code}}).status, 200);
        QCOMPARE(tokenCalls().size(), 6);
    }

    void valuesAreFormEncodedForGitHub() {
        const QString odd = QStringLiteral("a+b&c=d %25é");
        exchange({{"code", odd}, {"code_verifier", odd}});
        QCOMPARE(tokenCalls().size(), 1);
        QVERIFY(tokenCalls()
                    .first()
                    .header("content-type")
                    .startsWith("application/x-www-form-urlencoded"));
        // Decoded the way a form is: every value arrives intact.
        const QUrlQuery form(QString::fromUtf8(tokenCalls().first().body));
        QCOMPARE(form.queryItemValue("code", QUrl::FullyDecoded), odd);
        QCOMPARE(form.queryItemValue("code_verifier", QUrl::FullyDecoded), odd);
        QCOMPARE(form.queryItems().size(), 4);
    }

    void gitHubAnswers_data() {
        QTest::addColumn<int>("status"); // -1: malformed body, -2: dropped, -3: down
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("passedOn"); // unchanged, byte for byte; else 502
        QTest::newRow("error at 200, odd spacing")
            << 200
            << QByteArray("{ \"error\" : \"bad_verification_code\",\n  \"error_description\":"
                          "\"The code passed is incorrect or expired.\", \"extra\": [1, 2] }")
            << true;
        QTest::newRow("client error with JSON") << 404 << QByteArray("{\"message\":\"x\"}") << true;
        QTest::newRow("server error") << 500 << QByteArray("{}") << false;
        QTest::newRow("unicorn page") << 503 << QByteArray("<html>No server</html>") << false;
        QTest::newRow("html at 200") << 200 << QByteArray("<html></html>") << false;
        QTest::newRow("form reply")
            << 200 << QByteArray("access_token=x&token_type=bearer") << false;
        QTest::newRow("redirect") << 302 << QByteArray() << false;
        QTest::newRow("corrupted body") << -1 << QByteArray() << false;
        QTest::newRow("connection dropped") << -2 << QByteArray() << false;
        QTest::newRow("nobody listening") << -3 << QByteArray() << false;
    }

    void gitHubAnswers() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, passedOn);
        if (status == -3) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            const QUrl dead("http://127.0.0.1:" + QString::number(closed.serverPort()));
            closed.close();
            m_relay = startRelay(dead);
        } else {
            m_emulator->injectFault("POST", kTokenPath,
                                    status == -1   ? Fault::malformed()
                                    : status == -2 ? Fault::drop()
                                                   : Fault::fixed(status, body));
        }
        const HttpResult result = exchange({{"code", m_emulator->mintAuthorizationCode("octo")}});
        QCOMPARE(result.status, passedOn ? status : 502);
        if (passedOn)
            QCOMPARE(result.body, body);
        else
            QVERIFY(result.object().value("error").toString().startsWith("upstream_"));
    }

    void slowGitHubIs504WhileOthersAreServed() {
        m_relay = startRelay(m_emulator->webUrl(), 1500ms);
        m_emulator->injectFault("POST", kTokenPath, Fault::latency(20000));
        QNetworkReply *slow = startExchange({{"code", "slow"}});
        QTRY_COMPARE_WITH_TIMEOUT(m_relay->pendingExchanges(), 1, 10000);
        // The wait on GitHub does not hold up anyone else.
        QCOMPARE(m_client.get(relayUrl("/healthz").toString()).status, 200);
        QVERIFY(!slow->isFinished());
        const HttpResult result = EmulatorHttp::wait(slow);
        QCOMPARE(result.status, 504);
        QCOMPARE(result.object().value("error").toString(), QString("upstream_timeout"));
        QCOMPARE(m_relay->pendingExchanges(), 0);
    }

    void clientLeavingOrShutdownMidExchange() {
        m_emulator->injectFault("POST", kTokenPath, Fault::latency(600));
        QSignalSpy completed(m_relay.get(), &RelayServer::requestCompleted);
        QNetworkReply *reply = startExchange({{"code", "abc"}});
        QTRY_COMPARE_WITH_TIMEOUT(m_relay->pendingExchanges(), 1, 10000);
        reply->abort();
        QCOMPARE(EmulatorHttp::wait(reply).status, 0);
        QTRY_COMPARE_WITH_TIMEOUT(completed.size(), 1, 10000);
        QCOMPARE(completed.first().first().toInt(), 499);
        QCOMPARE(m_relay->pendingExchanges(), 0);

        // Shutting down with an exchange in flight closes the connection.
        reply = startExchange({{"code", "abc"}});
        QTRY_COMPARE_WITH_TIMEOUT(m_relay->pendingExchanges(), 1, 10000);
        m_relay.reset();
        QCOMPARE(EmulatorHttp::wait(reply).status, 0);
    }

    void logHasOneLinePerRequestAndNoSecrets() {
        const QByteArray verifier = "log-verifier-" + QUuid::createUuid().toByteArray(QUuid::Id128);
        const QString code = m_emulator->mintAuthorizationCode(
            "octo", {},
            QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        const QString state = "STATE-" + QUuid::createUuid().toString(QUuid::Id128);

        QUrl callback = relayUrl("/v1/github/callback");
        callback.setQuery(QStringLiteral("code=%1&state=%2").arg(code, state));
        QCOMPARE(EmulatorHttp::wait(m_client.start("GET", callback)).status, 302);
        const QJsonObject tokens =
            exchange({{"code", code}, {"code_verifier", QString(verifier)}}).object();
        const QString refreshToken = tokens.value("refresh_token").toString();
        QVERIFY(!refreshToken.isEmpty()); // the verifier reached GitHub
        const QJsonObject rotated = refresh(refreshToken).object();
        QCOMPARE(refresh(refreshToken).status, 200); // spent token
        QCOMPARE(m_client
                     .send("POST", relayUrl("/v1/github/exchange").toString(), code.toUtf8(),
                           {{"Content-Type", "text/plain"}})
                     .status,
                 415);
        m_emulator->injectFault("POST", kTokenPath, Fault::fixed(500, "{}"));
        QCOMPARE(exchange({{"code", code}}).status, 502);

        const QStringList log = takeLog();
        for (const QString &line : log) {
            for (const QString &secret :
                 {kSecret, code, state, QString(verifier), tokens.value("access_token").toString(),
                  refreshToken, rotated.value("access_token").toString(),
                  rotated.value("refresh_token").toString()})
                QVERIFY2(!line.contains(secret), qPrintable(line));
            QVERIFY2(!line.contains('?'), qPrintable(line));
        }
        static const QRegularExpression requestLine(
            R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (GET|POST) (/\S*) (\d{3}) \d+\.\dms$)");
        QStringList requests;
        for (const QString &line : log) {
            if (const auto match = requestLine.match(line); match.hasMatch())
                requests.append(match.capturedTexts().mid(1).join(' '));
        }
        QCOMPARE(requests,
                 (QStringList{"GET /v1/github/callback 302", "POST /v1/github/exchange 200",
                              "POST /v1/github/exchange 200", "POST /v1/github/exchange 200",
                              "POST /v1/github/exchange 415", "POST /v1/github/exchange 502"}));
    }
};

QTEST_GUILESS_MAIN(TestRelayServer)
#include "TestRelayServer.moc"
