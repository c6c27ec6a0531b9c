#include "BoundedTcpServer.h"
#include "RelayConfig.h"
#include "RelayServer.h"

#include "EmulatorHttp.h"
#include "GitHubEmulator.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

using namespace std::chrono_literals;
using Fault = GitHubEmulator::Fault;

namespace {

const QString kClientId = QStringLiteral("Iv1.relaytest0000000");
const QString kSecret = QStringLiteral("relay-secret-3f9c1e77d0");
const QString kTokenPath = QStringLiteral("/login/oauth/access_token");

// Everything logged while the tests run, to prove what never gets there.
QMutex g_logMutex;
QStringList g_log;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message) {
    QMutexLocker lock(&g_logMutex);
    g_log.append(message);
}

QStringList takeLog() {
    QMutexLocker lock(&g_logMutex);
    return std::exchange(g_log, {});
}

// The two required settings plus `extra`; an empty value removes a setting.
// Built by hand, so the test process's own environment plays no part.
QProcessEnvironment env(const QList<QPair<QString, QString>> &extra = {}) {
    QProcessEnvironment environment;
    environment.insert(RelayEnv::clientId, "Iv1.abc");
    environment.insert(RelayEnv::clientSecret, "top-secret");
    for (const auto &[name, value] : extra) {
        if (value.isEmpty())
            environment.remove(name);
        else
            environment.insert(name, value);
    }
    return environment;
}

} // namespace

class TestRelayServer : public QObject {
    Q_OBJECT

    std::unique_ptr<GitHubEmulator> m_emulator;
    std::unique_ptr<RelayServer> m_relay;
    EmulatorHttp m_client{QUrl()};
    QTemporaryDir m_dir;

    QString fileWith(const QByteArray &content) const {
        QFile file(m_dir.filePath(QString::number(qHash(content))));
        return file.open(QIODevice::WriteOnly) && file.write(content) >= 0 ? file.fileName()
                                                                           : QString();
    }

    // `config` brings the limits; the rest is filled in here.
    std::unique_ptr<RelayServer> startRelay(QUrl webUrl, std::chrono::milliseconds timeout = 10s,
                                            RelayConfig config = {}) {
        config.port = 0;
        config.clientId = kClientId;
        config.clientSecret = kSecret;
        config.gitHubWebUrl = webUrl;
        // The default would reach the real GitHub.
        if (config.gitHubApiUrl == RelayConfig().gitHubApiUrl)
            config.gitHubApiUrl = m_emulator->apiUrl();
        config.upstreamTimeout = timeout;
        auto relay = std::make_unique<RelayServer>(config);
        return relay->listen() ? std::move(relay) : nullptr;
    }

    QUrl relayUrl(const QString &path) const { return m_relay->baseUrl().resolved(QUrl(path)); }
    QNetworkReply *startExchange(const QJsonObject &body) {
        return m_client.start("POST", relayUrl("/v1/github/exchange"), QJsonDocument(body).toJson(),
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
    // What a hand-made client sees on one connection, in ms from the connect.
    struct Probe {
        int status = 0; // 0: no answer
        qint64 answerMs = -1;
        qint64 closedMs = -1;
    };
    Probe probe(const QByteArray &request, int waitMs = 5000) const {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_relay->port());
        if (!socket.waitForConnected(5000))
            return {};
        QElapsedTimer clock;
        clock.start();
        socket.write(request);
        Probe result;
        QByteArray in;
        (void)QTest::qWaitFor(
            [&] {
                in += socket.readAll();
                if (result.answerMs < 0 && in.contains("\r\n\r\n")) {
                    result.answerMs = clock.elapsed();
                    result.status = in.mid(9, 3).toInt();
                }
                if (socket.state() == QAbstractSocket::UnconnectedState)
                    result.closedMs = clock.elapsed();
                return result.closedMs >= 0;
            },
            waitMs);
        return result;
    }
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
    void initTestCase() { qInstallMessageHandler(captureMessage); }

    void init() {
        m_emulator = std::make_unique<GitHubEmulator>();
        QVERIFY(m_emulator->start());
        m_emulator->addUser("octo");
        m_emulator->setOAuthApp(
            {.clientId = kClientId, .clientSecret = kSecret, .callbackUrls = {}});
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

    void callbackHandsTheBrowserToTheApp_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("location"); // empty: 400 expected
        // Characters that would add or change items are encoded again.
        QTest::newRow("reserved characters")
            << "code=a%2Bb%26c%3Dd%20e&state=x%23y%2F"
            << "keelmark://github?code=a%2Bb%26c%3Dd%20e&state=x%23y%2F";
        QTest::newRow("declined") << "error=access_denied&error_description=No&state=S"
                                  << "keelmark://github?error=access_denied&state=S";
        QTest::newRow("neither") << "state=S" << QString();
    }

    void callbackHandsTheBrowserToTheApp() {
        QFETCH(QString, query);
        QFETCH(QString, location);
        QUrl url = relayUrl("/v1/github/callback");
        url.setQuery(query, QUrl::StrictMode);
        const HttpResult result = EmulatorHttp::wait(m_client.start("GET", url));
        if (location.isEmpty()) {
            QCOMPARE(result.status, 400);
            QVERIFY(result.body.contains("neither an authorisation code nor an error"));
            return;
        }
        QCOMPARE(result.status, 302);
        QCOMPARE(QString::fromUtf8(result.header("Location")), location);
        // The page links to the same address for browsers that stop here.
        QVERIFY2(result.body.contains("href=\"" + location.toHtmlEscaped().toUtf8() + "\""),
                 result.body.constData());
    }

    void signInRefreshAndTheLog() {
        // The browser: GitHub approves and sends it to the relay, which sends
        // it on to the app.
        const QString state = QStringLiteral("4F1C2A3B-77");
        const HttpResult approved =
            EmulatorHttp(m_emulator->webUrl())
                .get("/login/oauth/authorize?client_id=" + kClientId + "&redirect_uri=" +
                     relayUrl("/v1/github/callback").toString() + "&state=" + state);
        const HttpResult toApp = EmulatorHttp::wait(
            m_client.start("GET", QUrl::fromEncoded(approved.header("Location"))));
        QCOMPARE(toApp.status, 302);
        const QUrl appUrl = QUrl::fromEncoded(toApp.header("Location"));
        QCOMPARE(appUrl.scheme() + ':' + appUrl.host(), QStringLiteral("keelmark:github"));
        QCOMPARE(QUrlQuery(appUrl).queryItemValue("state"), state);
        const QString code = QUrlQuery(appUrl).queryItemValue("code");

        // The app exchanges the code; the relay supplies the client credentials.
        const QJsonObject first = exchange({{"code", code}}).object();
        QCOMPARE(userStatus(first.value("access_token").toString()), 200);
        QCOMPARE(tokenCalls().first().header("accept"), QByteArray("application/json"));
        const QUrlQuery form(QString::fromUtf8(tokenCalls().first().body));
        QCOMPARE(form.queryItemValue("client_id"), kClientId);
        QCOMPARE(form.queryItemValue("client_secret"), kSecret);

        // Refresh rotates both tokens; the spent one gets GitHub's HTTP-200
        // error, unchanged.
        const QString oldRefresh = first.value("refresh_token").toString();
        const QJsonObject rotated = refresh(oldRefresh).object();
        QCOMPARE(userStatus(rotated.value("access_token").toString()), 200);
        QCOMPARE(userStatus(first.value("access_token").toString()), 401);
        QVERIFY(rotated.value("refresh_token").toString() != oldRefresh);
        const HttpResult replay = refresh(oldRefresh);
        QCOMPARE(replay.status, 200);
        QCOMPARE(replay.object().value("error").toString(), QString("bad_refresh_token"));
        m_emulator->injectFault("POST", kTokenPath, Fault::fixed(500, "{}"));
        QCOMPARE(exchange({{"code", code}}).status, 502);

        // One line per request; no secret, token or query string in any line.
        const QStringList log = takeLog();
        for (const QString &line : log) {
            for (const QString &secret :
                 {kSecret, code, state, first.value("access_token").toString(), oldRefresh,
                  rotated.value("access_token").toString(),
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
                              "POST /v1/github/exchange 502"}));
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
        row("no content type", valid, 415, {});
        row("json-ish type", valid, 415, "application/jsonx");
        row("over 16 KiB", padded(16 * 1024 + 1), 413);
        row("not JSON", "code=abc", 400);
        row("unknown field", R"({"code":"a","client_secret":"mine"})", 400);
        row("refresh without token", R"({"grant_type":"refresh_token"})", 400);
        row("refresh plus code", R"({"grant_type":"refresh_token","refresh_token":"r","code":"a"})",
            400);
        row("charset utf-8", valid, 200, "application/json; charset=UTF-8");
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
        if (status == 405)
            QCOMPARE(result.header("Allow"), QByteArray("POST"));
    }

    void hugeUploadIsCutOffUnread() {
        // Announces 100 MB and starts sending; the relay answers 413 without
        // waiting for (or buffering) the rest.
        const HttpResult result = raw("POST /v1/github/exchange?code=hidden HTTP/1.1\r\nHost: "
                                      "relay\r\nContent-Type: application/json"
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

    void exchangeBodiesReachGitHubIntact() {
        // Each request on one connection gets its own 16 KiB budget, and the
        // values are form-encoded so that GitHub decodes them as sent.
        const QString code = QStringLiteral("a+b&c=d %25é") + QString(15 * 1024, 'a');
        for (int i = 0; i < 6; ++i)
            QCOMPARE(exchange({{"code", code}, {"code_verifier", "v+&="}}).status, 200);
        QCOMPARE(tokenCalls().size(), 6);
        const QUrlQuery form(QString::fromUtf8(tokenCalls().last().body));
        QCOMPARE(form.queryItemValue("code", QUrl::FullyDecoded), code);
        QCOMPARE(form.queryItemValue("code_verifier", QUrl::FullyDecoded), QString("v+&="));
        QCOMPARE(form.queryItems().size(), 4);
    }

    void gitHubAnswers_data() {
        QTest::addColumn<int>("status"); // -1: malformed, -2: dropped, -3: down, -4: no length
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("passedOn"); // unchanged, byte for byte; else 502
        QTest::newRow("error at 200, odd spacing")
            << 200
            << QByteArray("{ \"error\" : \"bad_verification_code\",\n  \"error_description\":"
                          "\"The code passed is incorrect or expired.\", \"extra\": [1, 2] }")
            << true;
        QTest::newRow("server error") << 500 << QByteArray("{}") << false;
        QTest::newRow("html at 200") << 200 << QByteArray("<html></html>") << false;
        QTest::newRow("over 1 MiB")
            << 200 << "{\"access_token\":\"" + QByteArray(1024 * 1024, 'a') + "\"}" << false;
        QTest::newRow("corrupted body") << -1 << QByteArray() << false;
        QTest::newRow("connection dropped") << -2 << QByteArray() << false;
        QTest::newRow("nobody listening") << -3 << QByteArray() << false;
        QTest::newRow("over 1 MiB, length not announced")
            << -4 << "{\"access_token\":\"" + QByteArray(1024 * 1024, 'a') + "\"}" << false;
    }

    void gitHubAnswers() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, passedOn);
        // Rows below -2 use a stand-in for GitHub: none, or one that sends
        // the body without announcing its length.
        QTcpServer standIn;
        if (status < -2) {
            QVERIFY(standIn.listen(QHostAddress::LocalHost));
            m_relay = startRelay(QUrl("http://127.0.0.1:" + QString::number(standIn.serverPort())));
            if (status == -3)
                standIn.close();
            connect(&standIn, &QTcpServer::newConnection, this, [&standIn, body] {
                QTcpSocket *socket = standIn.nextPendingConnection();
                connect(socket, &QTcpSocket::readyRead, socket, [socket, body] {
                    socket->readAll();
                    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            });
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
        QCOMPARE(m_client.get(relayUrl("/healthz").toString()).body, QByteArray("ok"));
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

    void connectionLifetimes_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status"); // 0: closed without an answer
        QTest::addColumn<int>("answerMs");
        QTest::addColumn<int>("closedMs");
        QTest::addColumn<QString>("logged"); // method, path and status; empty: no line
        // The relay below: 500 ms to send a request, 2 s idle between them.
        const QByteArray health = "GET /healthz HTTP/1.1\r\nHost: relay\r\n";
        QTest::newRow("silent") << QByteArray() << 0 << -1 << 500 << QString();
        QTest::newRow("headers never end") << health << 408 << 500 << 2500 << "GET /healthz 408";
        QTest::newRow("kept alive, then idle") << health + "\r\n"
                                               << 200 << 0 << 2000 << "GET /healthz 200";
        QTest::newRow("HTTP/1.0") << QByteArray("GET /healthz HTTP/1.0\r\n\r\n") << 200 << 0 << 0
                                  << "GET /healthz 200";
        // Escapes in the path are logged as sent, never taken for placeholders.
        QTest::newRow("connection: close, escapes in the path")
            << QByteArray("GET /x%2F%3A HTTP/1.1\r\nHost: relay\r\nConnection: Keep-Alive, "
                          "Close\r\n\r\n")
            << 404 << 0 << 0 << "GET /x%2F%3A 404";
    }

    void connectionLifetimes() {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(int, answerMs);
        QFETCH(int, closedMs);
        QFETCH(QString, logged);
        m_relay =
            startRelay(m_emulator->webUrl(), 10s, {.requestTimeout = 500ms, .idleTimeout = 2s});
        takeLog();
        const Probe seen = probe(request);
        QCOMPARE(seen.status, status);
        // Not before its time-out, and not much after; "0" is well before any.
        const auto near = [](qint64 actual, int expected) {
            return actual >= expected * 9 / 10 && actual < expected + 1000;
        };
        QVERIFY2(answerMs < 0 || near(seen.answerMs, answerMs),
                 qPrintable(QString::number(seen.answerMs)));
        QVERIFY2(near(seen.closedMs, closedMs), qPrintable(QString::number(seen.closedMs)));
        QStringList lines;
        for (const QString &line : takeLog())
            lines.append(line.section(' ', 1, 3));
        QCOMPARE(lines, logged.isEmpty() ? QStringList() : QStringList{logged});
    }

    void manySlowClientsDoNotHoldUpOthers() {
        // 300 clients send a request a byte every 100 ms, stopping after 4 s;
        // a normal exchange goes through meanwhile, and each slow one is cut
        // off at its deadline while still sending.
        m_relay = startRelay(m_emulator->webUrl(), 10s, {.requestTimeout = 1s});
        const QByteArray request = "POST /v1/github/exchange HTTP/1.1\r\nX-Slow: abcdefgh";
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        // In batches, so that none waits for the accept backlog to drain.
        for (int i = 0; i < 300; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->connectToHost(QHostAddress::LocalHost, m_relay->port());
            slow.back()->write(request.left(1));
            if (i % 30 == 29)
                QTRY_COMPARE_WITH_TIMEOUT(m_relay->openConnections(), i + 1, 5000);
        }
        qsizetype sent = 1;
        QTimer drip;
        connect(&drip, &QTimer::timeout, this, [&] {
            for (const auto &socket : slow)
                socket->write(request.mid(sent, 1));
            if (++sent == request.size())
                drip.stop();
        });
        drip.start(100);

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(exchange({{"code", m_emulator->mintAuthorizationCode("octo")}}).status, 200);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        const auto refused = [&] {
            return std::all_of(slow.begin(), slow.end(), [](const auto &socket) {
                return socket->peek(12) == "HTTP/1.1 408";
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(refused(), 3000);
        QVERIFY(drip.isActive());
        // All but the exchange's own kept-alive connection have gone.
        QTRY_VERIFY_WITH_TIMEOUT(m_relay->openConnections() <= 1, 5000);
    }

    void pastTheCapConnectionsGet503() {
        m_relay = startRelay(m_emulator->webUrl(), 10s, {.maxConnections = 3});
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < 3; ++i) {
            held.push_back(std::make_unique<QTcpSocket>());
            held.back()->connectToHost(QHostAddress::LocalHost, m_relay->port());
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_relay->openConnections(), 3, 5000);
        const QByteArray health = "GET /healthz HTTP/1.1\r\nHost: relay\r\n\r\n";
        const Probe turnedAway = probe(health);
        QCOMPARE(turnedAway.status, 503);
        QVERIFY(turnedAway.closedMs >= 0);
        held.pop_back(); // one leaves, and its place is free again
        QTRY_COMPARE_WITH_TIMEOUT(m_relay->openConnections(), 2, 5000);
        QCOMPARE(probe(health, 500).status, 200);
    }

    void acceptsAgainAfterRunningOutOfDescriptors() {
        // What QTcpServer does when accept() finds no descriptor left: it
        // pauses, for good unless the listener resumes.
        BoundedTcpServer listener({}, {});
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        listener.pauseAccepting();
        emit listener.acceptError(QAbstractSocket::SocketResourceError);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), 3000);
    }

    void revokeGrant_data() {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<QByteArray>("body"); // "TOKEN": the app's live access token
        QTest::addColumn<int>("fault");       // GitHub's status; 0: none, -3: nobody listening
        QTest::addColumn<int>("status");
        const QByteArray live = R"({"access_token":"TOKEN"})";
        QTest::newRow("revoked") << QByteArray("POST") << live << 0 << 204;
        QTest::newRow("unknown token: GitHub's 404 passed on")
            << QByteArray("POST") << QByteArray(R"({"access_token":"gho_nope"})") << 0 << 404;
        QTest::newRow("GitHub fails") << QByteArray("POST") << live << 500 << 502;
        QTest::newRow("nobody listening") << QByteArray("POST") << live << -3 << 502;
        QTest::newRow("GET") << QByteArray("GET") << QByteArray() << 0 << 405;
        QTest::newRow("empty token")
            << QByteArray("POST") << QByteArray(R"({"access_token":""})") << 0 << 400;
        QTest::newRow("extra field")
            << QByteArray("POST") << QByteArray(R"({"access_token":"TOKEN","client_id":"x"})") << 0
            << 400;
        QTest::newRow("over 16 KiB")
            << QByteArray("POST") << "{\"access_token\":\"" + QByteArray(16 * 1024, 'a') + "\"}"
            << 0 << 413;
    }

    void revokeGrant() {
        QFETCH(QByteArray, verb);
        QFETCH(QByteArray, body);
        QFETCH(int, fault);
        QFETCH(int, status);
        const auto [access, refreshToken] = m_emulator->issueTokenPair("octo");
        const QString grantPath = "/applications/" + kClientId + "/grant";
        if (fault == -3) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            RelayConfig config;
            config.gitHubApiUrl = QUrl("http://127.0.0.1:" + QString::number(closed.serverPort()));
            closed.close();
            m_relay = startRelay(m_emulator->webUrl(), 10s, config);
        } else if (fault) {
            m_emulator->injectFault("DELETE", grantPath, Fault::fixed(fault, "{}"));
        }
        body.replace("TOKEN", access.toUtf8());
        const HttpResult result = EmulatorHttp::wait(m_client.start(
            verb, relayUrl("/v1/github/revoke"), body, {{"Content-Type", "application/json"}}));
        QCOMPARE(result.status, status);
        // Only a granted revocation ends the sign-in; the refresh token goes with it.
        QCOMPARE(userStatus(access), status == 204 ? 401 : 200);
        QCOMPARE(refresh(refreshToken).object().contains("error"), status == 204);
        const auto calls = m_emulator->requests("DELETE", grantPath);
        QCOMPARE(calls.size(), status == 204 || status == 404 || fault > 0 ? 1 : 0);
        if (!calls.isEmpty())
            QCOMPARE(calls.first().header("authorization"),
                     "Basic " + (kClientId + ':' + kSecret).toUtf8().toBase64());
        if (status != 204)
            QVERIFY2(!result.object().value(status == 404 ? "message" : "error").isUndefined(),
                     result.body.constData());
        const QStringList log = takeLog();
        QVERIFY2(log.filter(QStringLiteral(" /v1/github/revoke %1 ").arg(status)).size() == 1,
                 qPrintable(log.join('\n')));
        for (const QString &secret : {access, refreshToken, kSecret})
            QVERIFY(log.filter(secret).isEmpty());
    }

    // Configuration from the environment.
    void readsEverySetting() {
        QString error;
        const auto config = relayConfigFromEnvironment(
            env({{RelayEnv::listenAddress, "::1"},
                 {RelayEnv::port, "9443"},
                 {RelayEnv::gitHubUrl, "http://127.0.0.1:4000"},
                 {RelayEnv::gitHubApiUrl, "http://127.0.0.1:4001/api/"},
                 {RelayEnv::appScheme, "keelmark-dev"},
                 {RelayEnv::upstreamTimeoutMs, "2500"},
                 {RelayEnv::requestTimeoutMs, "4000"},
                 {RelayEnv::idleTimeoutMs, "6000"},
                 {RelayEnv::maxConnections, "300"},
                 {RelayEnv::clientSecret, ""},
                 {RelayEnv::clientSecretFile, fileWith("from-a-file\n")}}),
            &error);
        QVERIFY2(config, qPrintable(error));
        QCOMPARE(config->clientSecret, QStringLiteral("from-a-file"));
        QCOMPARE(config->listenAddress, QHostAddress(QHostAddress::LocalHostIPv6));
        QCOMPARE(config->port, quint16(9443));
        QCOMPARE(config->gitHubWebUrl, QUrl("http://127.0.0.1:4000"));
        QCOMPARE(config->gitHubApiUrl, QUrl("http://127.0.0.1:4001/api/"));
        QCOMPARE(config->appScheme, QStringLiteral("keelmark-dev"));
        QCOMPARE(config->upstreamTimeout, std::chrono::milliseconds(2500));
        QCOMPARE(config->requestTimeout, std::chrono::milliseconds(4000));
        QCOMPARE(config->idleTimeout, std::chrono::milliseconds(6000));
        QCOMPARE(config->maxConnections, 300);
    }

    void refusesToStart_data() {
        QTest::addColumn<QString>("name"); // the variable the message must name
        QTest::addColumn<QString>("value");
        QTest::newRow("no client id") << RelayEnv::clientId << "";
        QTest::newRow("no secret") << RelayEnv::clientSecret << "";
        QTest::newRow("secret file missing") << RelayEnv::clientSecretFile << "/nonexistent/s";
        QTest::newRow("both secret and file") << RelayEnv::clientSecretFile << "BOTH";
        QTest::newRow("port not a number") << RelayEnv::port << "80a";
        QTest::newRow("address not an address") << RelayEnv::listenAddress << "relay.example";
        QTest::newRow("github url without host") << RelayEnv::gitHubUrl << "github.com";
        QTest::newRow("api url with a query") << RelayEnv::gitHubApiUrl << "https://a.example/?x=1";
        QTest::newRow("scheme with a colon") << RelayEnv::appScheme << "keelmark:";
        QTest::newRow("connection cap not a number") << RelayEnv::maxConnections << "many";
    }

    void refusesToStart() {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QList<QPair<QString, QString>> settings{{name, value}};
        if (value == "BOTH") // which one would win?
            settings[0].second = fileWith("other");
        else if (name == RelayEnv::clientSecretFile)
            settings.append(qMakePair(QString(RelayEnv::clientSecret), QString()));
        QString error;
        QVERIFY(!relayConfigFromEnvironment(env(settings), &error));
        QVERIFY2(error.contains(name), qPrintable(error));
        // The message names the variable but never repeats the secret.
        QVERIFY2(!error.contains(QLatin1String("top-secret")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestRelayServer)
#include "TestRelayServer.moc"
