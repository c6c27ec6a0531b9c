// Instrumentation: request records, injected faults and concurrent service.
#include "EmulatorHttp.h"
#include "GitHubEmulator.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using Fault = GitHubEmulator::Fault;

class TestEmulatorFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<GitHubEmulator> m_emu;
    std::unique_ptr<EmulatorHttp> m_http;

    QNetworkReply *start(const QString &path) const {
        return m_http->start("GET", m_http->url(path));
    }
    static int status(QNetworkReply *reply) {
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }

private slots:
    void init() {
        m_emu = std::make_unique<GitHubEmulator>();
        QVERIFY(m_emu->start());
        m_emu->addOrg("northwind");
        m_emu->setMembership("northwind", "avery", "admin");
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        m_http = std::make_unique<EmulatorHttp>(m_emu->apiUrl(), m_emu->issueToken("avery"));
    }

    void cleanup() {
        m_http.reset();
        m_emu.reset();
    }

    void requestsAreRecorded() {
        QSignalSpy finished(m_emu.get(), &GitHubEmulator::requestFinished);
        m_http->get("/repos/northwind/ops/collaborators?per_page=5&page=2");
        m_http->patch("/repos/northwind/ops/git/refs/heads/main", {{"sha", "x"}, {"force", false}});
        const auto all = m_emu->requests();
        QCOMPARE(all.size(), 2);
        QCOMPARE(finished.size(), 2);
        QCOMPARE(all[0].method, QByteArray("GET"));
        QCOMPARE(all[0].path, QString("/repos/northwind/ops/collaborators"));
        QCOMPARE(all[0].query.queryItemValue("per_page"), QString("5"));
        QVERIFY(all[0].authorization().startsWith("Bearer ghu_"));
        QCOMPARE(all[0].status, 200);
        QCOMPARE(all[1].json().toObject()["force"].toBool(true), false);
        QCOMPARE(all[1].header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(all[1].status, 422);
        QCOMPARE(m_emu->requests("PATCH", "/repos/*/*/git/refs/**").size(), 1);
    }

    void fixedResponsesCountDownAndFilterByMethod() {
        m_emu->injectFault("PUT", "/repos/*/*/branches/main/protection",
                           Fault::fixed(502, R"({"message":"Server Error"})", 1));
        // A GET on the same path is not hit and does not use up the fault.
        const QString path = "/repos/northwind/ops/branches/main/protection";
        QCOMPARE(m_http->get(path).status, 404);
        const HttpResult r = m_http->put(path, protectionRules());
        QCOMPARE(r.status, 502);
        QCOMPARE(r.message(), QString("Server Error"));
        QVERIFY(!m_emu->protectionOf("northwind", "ops")); // refused requests change nothing
        QCOMPARE(m_http->put(path, protectionRules()).status, 200);
    }

    void pathPatterns_data() {
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
        QTest::newRow("double star spans") << "/repos/**/CODEOWNERS"
                                           << "/repos/n/ops/contents/.github/CODEOWNERS" << true;
        QTest::newRow("dots are literal") << "/repos/*/ops/a.b"
                                          << "/repos/x/ops/aXb" << false;
    }

    void pathPatterns() {
        QFETCH(QString, pattern);
        QFETCH(QString, path);
        QFETCH(bool, hit);
        m_emu->injectFault("*", pattern, Fault::fixed(418, "{}"));
        QCOMPARE(m_http->get(path).status == 418, hit);
    }

    void brokenReplies() {
        m_emu->injectFault("GET", "/user", Fault::malformed(1));
        const HttpResult r = m_http->get("/user");
        QCOMPARE(r.status, 200);
        QJsonParseError error;
        QJsonDocument::fromJson(r.body, &error);
        QVERIFY(error.error != QJsonParseError::NoError);

        m_emu->injectFault("GET", "/user", Fault::drop(1));
        const HttpResult dropped = m_http->get("/user");
        QVERIFY(dropped.error != QNetworkReply::NoError &&
                dropped.error != QNetworkReply::TimeoutError);
        QCOMPARE(m_emu->requests().last().status, 0);
        QCOMPARE(m_emu->inFlight(), 0);
        QCOMPARE(m_http->get("/user").status, 200); // the server goes on serving
    }

    void rateLimits_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("secondary");
        QTest::newRow("primary 403") << 403 << false;
        QTest::newRow("primary 429") << 429 << false;
        QTest::newRow("secondary 403") << 403 << true;
    }

    void rateLimits() {
        QFETCH(int, status);
        QFETCH(bool, secondary);
        m_emu->injectFault("*", "/user/**", Fault::rateLimit(status, secondary, 30));
        const HttpResult r = m_http->get("/user/installations");
        QCOMPARE(r.status, status);
        QCOMPARE(r.object()["status"].toString(), QString::number(status));
        QVERIFY(r.header("x-ratelimit-reset").toLongLong() > QDateTime::currentSecsSinceEpoch());
        QCOMPARE(r.header("x-ratelimit-resource"), QByteArray("core"));
        QCOMPARE(r.header("retry-after"), secondary ? QByteArray("30") : QByteArray());
        QCOMPARE(r.header("x-ratelimit-remaining") == "0", !secondary);
        QVERIFY(r.message().startsWith(secondary ? "You have exceeded a secondary rate limit"
                                                 : "API rate limit exceeded"));
    }

    void servesSeveralRequestsAtOnce() {
        // The health check overlaps four requests; all four must be in flight
        // together rather than queued behind one another.
        m_emu->setLatency(300);
        QList<QNetworkReply *> replies;
        for (const QString path :
             {"", "/contents/README.md", "/branches/main/protection", "/collaborators"})
            replies.append(start("/repos/northwind/ops" + path));
        for (auto *reply : replies)
            QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 15000);
        QCOMPARE(m_emu->peakInFlight(), 4);
        QCOMPARE(status(replies[0]), 200);
        QCOMPARE(status(replies[2]), 404);
        qDeleteAll(replies);
    }

    void slowRouteDoesNotHoldUpOthers() {
        m_emu->injectFault("GET", "/user/installations", Fault::latency(3000));
        std::unique_ptr<QNetworkReply> slow(start("/user/installations"));
        QTRY_COMPARE_WITH_TIMEOUT(m_emu->inFlight(), 1, 10000);
        std::unique_ptr<QNetworkReply> fast(start("/user"));
        QTRY_VERIFY_WITH_TIMEOUT(fast->isFinished(), 10000);
        QVERIFY(!slow->isFinished());
        QTRY_VERIFY_WITH_TIMEOUT(slow->isFinished(), 15000);
        QCOMPARE(status(slow.get()), 200);
    }

    void clientGoneBeforeDelayedReply() {
        m_emu->injectFault("GET", "/user", Fault::latency(500));
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
};

QTEST_GUILESS_MAIN(TestEmulatorFaults)
#include "TestEmulatorFaults.moc"
