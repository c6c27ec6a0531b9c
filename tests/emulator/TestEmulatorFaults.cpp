// Instrumentation: request records, injected faults and concurrent service.
#include "EmulatorHttp.h"
#include "GitHubEmulator.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestEmulatorFaults : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requestsAreRecorded();
    void fixedResponseReplacesTheAnswer();
    void faultsCountDownAndFilterByMethod();
    void pathPatterns_data();
    void pathPatterns();
    void malformedBodyIsNotJson();
    void droppedConnectionFailsTheRequest();
    void rateLimits_data();
    void rateLimits();
    void servesSeveralRequestsAtOnce();
    void slowRouteDoesNotHoldUpOthers();
    void clientGoneBeforeDelayedReply();

private:
    QNetworkReply *start(const QString &path);

    std::unique_ptr<GitHubEmulator> m_emu;
    std::unique_ptr<EmulatorHttp> m_http;
    QNetworkAccessManager m_network;
    QString m_token;
};

void TestEmulatorFaults::init() {
    m_emu = std::make_unique<GitHubEmulator>();
    QVERIFY(m_emu->start());
    m_emu->addOrg("northwind");
    m_emu->setMembership("northwind", "avery", "admin");
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    m_token = m_emu->issueToken("avery");
    m_http = std::make_unique<EmulatorHttp>(m_emu->apiUrl());
    m_http->setToken(m_token);
}

void TestEmulatorFaults::cleanup() {
    m_http.reset();
    m_emu.reset();
}

QNetworkReply *TestEmulatorFaults::start(const QString &path) {
    QNetworkRequest request(QUrl(m_emu->apiUrl().toString() + path));
    request.setTransferTimeout(20000);
    request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
    return m_network.get(request);
}

void TestEmulatorFaults::requestsAreRecorded() {
    QSignalSpy finished(m_emu.get(), &GitHubEmulator::requestFinished);
    m_http->get("/repos/northwind/ops/collaborators?per_page=5&page=2");
    m_http->patch("/repos/northwind/ops/git/refs/heads/main", {{"sha", "x"}, {"force", false}});
    const auto all = m_emu->requests();
    QCOMPARE(all.size(), 2);
    QCOMPARE(finished.size(), 2);
    QCOMPARE(all[0].method, QByteArray("GET"));
    QCOMPARE(all[0].path, QString("/repos/northwind/ops/collaborators"));
    QCOMPARE(all[0].query.queryItemValue("per_page"), QString("5"));
    QCOMPARE(all[0].authorization(), "Bearer " + m_token);
    QCOMPARE(all[0].status, 200);
    QCOMPARE(all[0].host, GitHubEmulator::Host::Api);
    QCOMPARE(all[1].json().toObject()["force"].toBool(true), false);
    QCOMPARE(all[1].header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(all[1].status, 422);
    QCOMPARE(m_emu->requests("PATCH", "/repos/*/*/git/refs/**").size(), 1);
    m_emu->clearRequests();
    QVERIFY(m_emu->requests().isEmpty());
}

void TestEmulatorFaults::fixedResponseReplacesTheAnswer() {
    m_emu->injectFault("GET", "/user",
                       GitHubEmulator::Fault::fixed(502, R"({"message":"Server Error"})"));
    const HttpResult r = m_http->get("/user");
    QCOMPARE(r.status, 502);
    QCOMPARE(r.message(), QString("Server Error"));
    QCOMPARE(m_http->get("/repos/northwind/ops").status, 200);
    m_emu->clearFaults();
    QCOMPARE(m_http->get("/user").status, 200);
}

void TestEmulatorFaults::faultsCountDownAndFilterByMethod() {
    m_emu->injectFault("PUT", "/repos/*/*/branches/main/protection",
                       GitHubEmulator::Fault::fixed(500, "{}", 1));
    // A GET on the same path is not hit and does not use up the fault.
    QCOMPARE(m_http->get("/repos/northwind/ops/branches/main/protection").status, 404);
    const QJsonObject rules{{"required_status_checks", QJsonValue::Null},
                            {"enforce_admins", true},
                            {"required_pull_request_reviews", QJsonValue::Null},
                            {"restrictions", QJsonValue::Null}};
    QCOMPARE(m_http->put("/repos/northwind/ops/branches/main/protection", rules).status, 500);
    QVERIFY(!m_emu->protectionOf("northwind", "ops")); // refused requests change nothing
    QCOMPARE(m_http->put("/repos/northwind/ops/branches/main/protection", rules).status, 200);
}

void TestEmulatorFaults::pathPatterns_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("hit");
    QTest::newRow("exact") << "/user"
                           << "/user" << true;
    QTest::newRow("exact is not a prefix") << "/user"
                                           << "/user/orgs" << false;
    QTest::newRow("star in a segment") << "/repos/*/*"
                                       << "/repos/northwind/ops" << true;
    QTest::newRow("star stops at slash") << "/repos/*"
                                         << "/repos/northwind/ops" << false;
    QTest::newRow("double star spans")
        << "/repos/**/CODEOWNERS"
        << "/repos/northwind/ops/contents/.github/CODEOWNERS" << true;
    QTest::newRow("dots are literal") << "/repos/*/ops/contents/a.b"
                                      << "/repos/x/ops/contents/aXb" << false;
}

void TestEmulatorFaults::pathPatterns() {
    QFETCH(QString, pattern);
    QFETCH(QString, path);
    QFETCH(bool, hit);
    m_emu->injectFault("*", pattern, GitHubEmulator::Fault::fixed(418, "{}"));
    QCOMPARE(m_http->get(path).status == 418, hit);
}

void TestEmulatorFaults::malformedBodyIsNotJson() {
    m_emu->injectFault("GET", "/user", GitHubEmulator::Fault::malformed());
    const HttpResult r = m_http->get("/user");
    QCOMPARE(r.status, 200);
    QJsonParseError err;
    QJsonDocument::fromJson(r.body, &err);
    QVERIFY(err.error != QJsonParseError::NoError);
}

void TestEmulatorFaults::droppedConnectionFailsTheRequest() {
    m_emu->injectFault("GET", "/repos/*/*/collaborators", GitHubEmulator::Fault::drop(1));
    const HttpResult r = m_http->get("/repos/northwind/ops/collaborators");
    QVERIFY(r.error != QNetworkReply::NoError);
    QVERIFY(!r.timedOut);
    QCOMPARE(m_emu->requests().last().status, 0);
    QCOMPARE(m_emu->inFlight(), 0);
    // The server goes on serving.
    QCOMPARE(m_http->get("/repos/northwind/ops/collaborators").status, 200);
}

void TestEmulatorFaults::rateLimits_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("secondary");
    QTest::newRow("primary 403") << 403 << false;
    QTest::newRow("primary 429") << 429 << false;
    QTest::newRow("secondary 403") << 403 << true;
}

void TestEmulatorFaults::rateLimits() {
    QFETCH(int, status);
    QFETCH(bool, secondary);
    m_emu->injectFault("*", "/user/**", GitHubEmulator::Fault::rateLimit(status, secondary, 30));
    const HttpResult r = m_http->get("/user/installations");
    QCOMPARE(r.status, status);
    QCOMPARE(r.object()["status"].toString(), QString::number(status));
    const qint64 reset = r.header("x-ratelimit-reset").toLongLong();
    QVERIFY(reset > QDateTime::currentSecsSinceEpoch());
    QCOMPARE(r.header("x-ratelimit-resource"), QByteArray("core"));
    if (secondary) {
        QCOMPARE(r.header("retry-after"), QByteArray("30"));
        QVERIFY(r.message().startsWith("You have exceeded a secondary rate limit"));
        QVERIFY(r.header("x-ratelimit-remaining").toInt() > 0);
    } else {
        QVERIFY(r.header("retry-after").isEmpty());
        QCOMPARE(r.header("x-ratelimit-remaining"), QByteArray("0"));
        QVERIFY(r.message().startsWith("API rate limit exceeded"));
    }
}

void TestEmulatorFaults::servesSeveralRequestsAtOnce() {
    // The health check overlaps four requests; all four must be in flight
    // together rather than queued behind one another.
    m_emu->setLatency(300);
    const QStringList paths = {"/repos/northwind/ops", "/repos/northwind/ops/contents/README.md",
                               "/repos/northwind/ops/branches/main/protection",
                               "/repos/northwind/ops/collaborators"};
    QList<QNetworkReply *> replies;
    for (const auto &p : paths)
        replies.append(start(p));
    for (auto *reply : replies)
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 15000);
    QCOMPARE(m_emu->peakInFlight(), 4);
    QCOMPARE(replies[0]->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QCOMPARE(replies[2]->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
    qDeleteAll(replies);
    m_emu->resetPeak();
    QCOMPARE(m_emu->peakInFlight(), 0);
}

void TestEmulatorFaults::slowRouteDoesNotHoldUpOthers() {
    m_emu->injectFault("GET", "/user/installations", GitHubEmulator::Fault::latency(3000));
    QNetworkReply *slow = start("/user/installations");
    QTRY_COMPARE_WITH_TIMEOUT(m_emu->inFlight(), 1, 10000);
    QNetworkReply *fast = start("/user");
    QTRY_VERIFY_WITH_TIMEOUT(fast->isFinished(), 10000);
    QVERIFY(!slow->isFinished());
    QTRY_VERIFY_WITH_TIMEOUT(slow->isFinished(), 15000);
    QCOMPARE(slow->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    delete slow;
    delete fast;
}

void TestEmulatorFaults::clientGoneBeforeDelayedReply() {
    m_emu->injectFault("GET", "/user", GitHubEmulator::Fault::latency(500));
    QSignalSpy finished(m_emu.get(), &GitHubEmulator::requestFinished);
    QNetworkReply *reply = start("/user");
    QTRY_COMPARE_WITH_TIMEOUT(m_emu->inFlight(), 1, 10000);
    reply->abort();
    delete reply;
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(m_emu->inFlight(), 0);
    QCOMPARE(m_emu->requests().first().status, 0);
    m_emu->clearFaults();
    QCOMPARE(m_http->get("/user").status, 200);
}

QTEST_GUILESS_MAIN(TestEmulatorFaults)
#include "TestEmulatorFaults.moc"
