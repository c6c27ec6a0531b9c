// The web host: authorisation page, token endpoint with PKCE and rotation,
// and the whole sign-in-to-protected-repository path walked by hand.
#include "EmulatorHttp.h"
#include "GitHubEmulator.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

#include <memory>

namespace {

const QString kCallback = QStringLiteral("http://127.0.0.1:9/v1/github/callback");

QString challengeFor(const QString &verifier) {
    return QString::fromLatin1(
        QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

using Param = QPair<QString, QString>;

QUrlQuery queryOf(const HttpResult &redirect) {
    return QUrlQuery(QUrl::fromEncoded(redirect.header("Location")));
}

} // namespace

class TestEmulatorOAuth : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void approveRedirectsWithCodeAndState();
    void denyRedirectsWithAccessDenied();
    void autoApproveRedirectsAtOnce();
    void authorizeRequestErrors_data();
    void authorizeRequestErrors();
    void exchangeErrorsComeWithStatus200_data();
    void exchangeErrorsComeWithStatus200();
    void replyIsFormEncodedUnlessJsonIsAccepted();
    void refreshRotatesBothTokens();
    void expiredTokensAnswerBadCredentials();
    void nonExpiringAppOmitsExpiry();
    void webPagesTheAppLinksTo();
    void walkThroughTheWholePath();

private:
    QString authorizeUrl(const QString &challenge = {}) const;
    HttpResult exchange(const QList<QPair<QString, QString>> &params, bool json = true) const;
    HttpResult approve(const QString &challenge = {});

    std::unique_ptr<GitHubEmulator> m_emu;
    std::unique_ptr<EmulatorHttp> m_web;
};

void TestEmulatorOAuth::init() {
    m_emu = std::make_unique<GitHubEmulator>();
    QVERIFY(m_emu->start());
    GitHubEmulator::OAuthApp app;
    app.clientId = "Iv1.testclient";
    app.clientSecret = "s3cret";
    app.callbackUrls = {kCallback};
    m_emu->setOAuthApp(app);
    m_emu->addOrg("northwind");
    m_emu->setMembership("northwind", "avery", "admin");
    m_emu->setAuthorizingUser("avery");
    m_web = std::make_unique<EmulatorHttp>(m_emu->webUrl());
}

void TestEmulatorOAuth::cleanup() {
    m_web.reset();
    m_emu.reset();
}

QString TestEmulatorOAuth::authorizeUrl(const QString &challenge) const {
    QUrlQuery q;
    q.addQueryItem("client_id", "Iv1.testclient");
    q.addQueryItem("redirect_uri", kCallback);
    q.addQueryItem("scope", "repo,admin:org");
    q.addQueryItem("state", "4F1C2A3B-0000-4000-8000-1234567890AB");
    if (!challenge.isEmpty()) {
        q.addQueryItem("code_challenge", challenge);
        q.addQueryItem("code_challenge_method", "S256");
    }
    return "/login/oauth/authorize?" + q.toString(QUrl::FullyEncoded);
}

HttpResult TestEmulatorOAuth::exchange(const QList<QPair<QString, QString>> &params,
                                       bool json) const {
    QUrlQuery form;
    for (const auto &p : params)
        form.addQueryItem(p.first, QString::fromUtf8(QUrl::toPercentEncoding(p.second)));
    QList<QPair<QByteArray, QByteArray>> headers{
        {"Content-Type", "application/x-www-form-urlencoded"}};
    if (json)
        headers.append(qMakePair(QByteArray("Accept"), QByteArray("application/json")));
    return m_web->send("POST", "/login/oauth/access_token",
                       form.toString(QUrl::FullyEncoded).toUtf8(), headers);
}

// Shows the page, then presses Approve the way the page's form does.
HttpResult TestEmulatorOAuth::approve(const QString &challenge) {
    const HttpResult page = m_web->get(authorizeUrl(challenge));
    if (page.status != 200)
        return page;
    const auto match = QRegularExpression(R"re(name="request" value="([^"]+)")re")
                           .match(QString::fromUtf8(page.body));
    if (!match.hasMatch())
        return {};
    return m_web->send("POST", "/login/oauth/authorize",
                       "request=" + match.captured(1).toUtf8() + "&authorize=1",
                       {{"Content-Type", "application/x-www-form-urlencoded"}});
}

void TestEmulatorOAuth::approveRedirectsWithCodeAndState() {
    const HttpResult page = m_web->get(authorizeUrl());
    QCOMPARE(page.status, 200);
    QVERIFY(page.header("Content-Type").startsWith("text/html"));
    QVERIFY(page.body.contains("Authorize KeelMark"));
    QVERIFY(page.body.contains("avery"));

    const HttpResult r = approve();
    QCOMPARE(r.status, 302);
    const QUrl target = QUrl::fromEncoded(r.header("Location"));
    QCOMPARE(target.adjusted(QUrl::RemoveQuery).toString(), kCallback);
    QCOMPARE(queryOf(r).queryItemValue("state"), QString("4F1C2A3B-0000-4000-8000-1234567890AB"));
    QVERIFY(!queryOf(r).queryItemValue("code").isEmpty());
}

void TestEmulatorOAuth::denyRedirectsWithAccessDenied() {
    const HttpResult page = m_web->get(authorizeUrl());
    const QString id = QRegularExpression(R"re(name="request" value="([^"]+)")re")
                           .match(QString::fromUtf8(page.body))
                           .captured(1);
    const HttpResult r = m_web->get("/login/oauth/authorize?request=" + id + "&authorize=0");
    QCOMPARE(r.status, 302);
    QCOMPARE(queryOf(r).queryItemValue("error"), QString("access_denied"));
    QCOMPARE(queryOf(r).queryItemValue("state"), QString("4F1C2A3B-0000-4000-8000-1234567890AB"));
    QVERIFY(!queryOf(r).hasQueryItem("code"));
    // The request is spent.
    QCOMPARE(m_web->get("/login/oauth/authorize?request=" + id + "&authorize=1").status, 404);
}

void TestEmulatorOAuth::autoApproveRedirectsAtOnce() {
    m_emu->setAutoApprove(true);
    const HttpResult r = m_web->get(authorizeUrl());
    QCOMPARE(r.status, 302);
    QVERIFY(!queryOf(r).queryItemValue("code").isEmpty());
}

void TestEmulatorOAuth::authorizeRequestErrors_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("redirectedTo");
    QTest::newRow("unknown client") << "client_id=Iv1.other&redirect_uri=" + kCallback << 404 << ""
                                    << "";
    QTest::newRow("unregistered redirect")
        << "client_id=Iv1.testclient&redirect_uri=http://evil.example/cb&state=s" << 302
        << "redirect_uri_mismatch" << kCallback;
    QTest::newRow("plain challenge")
        << "client_id=Iv1.testclient&redirect_uri=" + kCallback +
               "&state=s&code_challenge=abc&code_challenge_method=plain"
        << 302 << "invalid_request" << kCallback;
}

void TestEmulatorOAuth::authorizeRequestErrors() {
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(QString, redirectedTo);
    const HttpResult r = m_web->get("/login/oauth/authorize?" + query);
    QCOMPARE(r.status, status);
    if (status == 302) {
        QCOMPARE(queryOf(r).queryItemValue("error"), error);
        QCOMPARE(QUrl::fromEncoded(r.header("Location")).adjusted(QUrl::RemoveQuery).toString(),
                 redirectedTo);
    }
}

void TestEmulatorOAuth::exchangeErrorsComeWithStatus200_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("wrong secret") << "secret"
                                  << "incorrect_client_credentials";
    QTest::newRow("unknown code") << "code"
                                  << "bad_verification_code";
    QTest::newRow("code used twice") << "reuse"
                                     << "bad_verification_code";
    QTest::newRow("pkce without verifier") << "noverifier"
                                           << "bad_verification_code";
    QTest::newRow("pkce wrong verifier") << "wrongverifier"
                                         << "bad_verification_code";
    QTest::newRow("other redirect_uri") << "redirect"
                                        << "redirect_uri_mismatch";
    QTest::newRow("unknown grant") << "grant"
                                   << "unsupported_grant_type";
    QTest::newRow("unknown refresh token") << "refresh"
                                           << "bad_refresh_token";
}

void TestEmulatorOAuth::exchangeErrorsComeWithStatus200() {
    QFETCH(QString, kind);
    QFETCH(QString, error);
    const QString verifier = "a-verifier-of-enough-length-0123456789-abcdefghij";
    const bool pkce = kind.contains("verifier");
    const QString code =
        queryOf(approve(pkce ? challengeFor(verifier) : QString())).queryItemValue("code");
    QVERIFY(!code.isEmpty());
    QList<QPair<QString, QString>> params{{"client_id", "Iv1.testclient"},
                                          {"client_secret", kind == "secret" ? "wrong" : "s3cret"},
                                          {"code", kind == "code" ? "0000" : code}};
    if (kind == "reuse")
        QVERIFY(exchange(params).object().contains("access_token"));
    if (kind == "wrongverifier")
        params.append(Param("code_verifier", verifier + "x"));
    if (kind == "redirect")
        params.append(Param("redirect_uri", "http://127.0.0.1:9/elsewhere"));
    if (kind == "grant")
        params.append(Param("grant_type", "password"));
    if (kind == "refresh") {
        params.append(Param("grant_type", "refresh_token"));
        params.append(Param("refresh_token", "ghr_unknown"));
    }
    const HttpResult r = exchange(params);
    QCOMPARE(r.status, 200);
    QCOMPARE(r.object()["error"].toString(), error);
    QVERIFY(!r.object()["error_description"].toString().isEmpty());
    QVERIFY(r.object()["error_uri"].toString().startsWith("https://docs.github.com/"));
    QVERIFY(!r.object().contains("access_token"));
}

void TestEmulatorOAuth::replyIsFormEncodedUnlessJsonIsAccepted() {
    const QString code = queryOf(approve()).queryItemValue("code");
    const HttpResult r = exchange(
        {{"client_id", "Iv1.testclient"}, {"client_secret", "s3cret"}, {"code", code}}, false);
    QCOMPARE(r.status, 200);
    QVERIFY(r.header("Content-Type").startsWith("application/x-www-form-urlencoded"));
    const QUrlQuery form(QString::fromUtf8(r.body));
    QVERIFY(form.queryItemValue("access_token").startsWith("ghu_"));
    QCOMPARE(form.queryItemValue("token_type"), QString("bearer"));
    QCOMPARE(form.queryItemValue("expires_in"), QString("28800"));

    // A JSON request body is accepted as well.
    const QString code2 = queryOf(approve()).queryItemValue("code");
    const HttpResult j =
        m_web->send("POST", "/login/oauth/access_token",
                    QJsonDocument(QJsonObject{{"client_id", "Iv1.testclient"},
                                              {"client_secret", "s3cret"},
                                              {"code", code2}})
                        .toJson(),
                    {{"Content-Type", "application/json"}, {"Accept", "application/json"}});
    QVERIFY(j.object()["access_token"].toString().startsWith("ghu_"));
}

void TestEmulatorOAuth::refreshRotatesBothTokens() {
    const QString verifier = "another-verifier-0123456789-0123456789-abcdefgh";
    const QString code = queryOf(approve(challengeFor(verifier))).queryItemValue("code");
    const QJsonObject first = exchange({{"client_id", "Iv1.testclient"},
                                        {"client_secret", "s3cret"},
                                        {"code", code},
                                        {"code_verifier", verifier}})
                                  .object();
    QCOMPARE(first["expires_in"].toInt(), 28800);
    QCOMPARE(first["refresh_token_expires_in"].toInt(), 15811200);
    QCOMPARE(first["scope"].toString(), QString(""));
    QVERIFY(first["refresh_token"].toString().startsWith("ghr_"));
    const QString oldAccess = first["access_token"].toString();
    const QString oldRefresh = first["refresh_token"].toString();

    const auto refresh = [&](const QString &token) {
        return exchange({{"client_id", "Iv1.testclient"},
                         {"client_secret", "s3cret"},
                         {"grant_type", "refresh_token"},
                         {"refresh_token", token}})
            .object();
    };
    const QJsonObject second = refresh(oldRefresh);
    const QString newAccess = second["access_token"].toString();
    QVERIFY(!newAccess.isEmpty() && newAccess != oldAccess);
    QVERIFY(second["refresh_token"].toString() != oldRefresh);

    EmulatorHttp api(m_emu->apiUrl());
    api.setToken(newAccess);
    QCOMPARE(api.get("/user").status, 200);
    api.setToken(oldAccess);
    const HttpResult old = api.get("/user");
    QCOMPARE(old.status, 401);
    QCOMPARE(old.message(), QString("Bad credentials"));
    QCOMPARE(refresh(oldRefresh)["error"].toString(), QString("bad_refresh_token"));
    // A refresh token is not an access token.
    api.setToken(second["refresh_token"].toString());
    QCOMPARE(api.get("/user").status, 401);

    // A pair issued directly refreshes the same way.
    const auto direct = m_emu->issueTokenPair("avery");
    QVERIFY(refresh(direct.second)["access_token"].toString().startsWith("ghu_"));
    QVERIFY(!m_emu->tokenIsValid(direct.first));

    m_emu->expireToken(second["refresh_token"].toString());
    QCOMPARE(refresh(second["refresh_token"].toString())["error"].toString(),
             QString("bad_refresh_token"));
}

void TestEmulatorOAuth::expiredTokensAnswerBadCredentials() {
    const QString code = queryOf(approve()).queryItemValue("code");
    const QJsonObject tokens =
        exchange({{"client_id", "Iv1.testclient"}, {"client_secret", "s3cret"}, {"code", code}})
            .object();
    EmulatorHttp api(m_emu->apiUrl());
    api.setToken(tokens["access_token"].toString());
    QCOMPARE(api.get("/user").status, 200);
    m_emu->expireToken(tokens["access_token"].toString());
    QCOMPARE(api.get("/user").status, 401);
    // The refresh token still renews an expired access token.
    const QJsonObject renewed = exchange({{"client_id", "Iv1.testclient"},
                                          {"client_secret", "s3cret"},
                                          {"grant_type", "refresh_token"},
                                          {"refresh_token", tokens["refresh_token"].toString()}})
                                    .object();
    api.setToken(renewed["access_token"].toString());
    QCOMPARE(api.get("/user").status, 200);
}

void TestEmulatorOAuth::nonExpiringAppOmitsExpiry() {
    GitHubEmulator::OAuthApp app = m_emu->oauthApp();
    app.expiringTokens = false;
    m_emu->setOAuthApp(app);
    const QString code = queryOf(approve()).queryItemValue("code");
    const QJsonObject tokens =
        exchange({{"client_id", "Iv1.testclient"}, {"client_secret", "s3cret"}, {"code", code}})
            .object();
    QStringList keys = tokens.keys();
    keys.sort();
    QCOMPARE(keys, QStringList({"access_token", "scope", "token_type"}));
}

void TestEmulatorOAuth::webPagesTheAppLinksTo() {
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    QCOMPARE(m_web->get("/account/organizations/new").status, 200);
    QCOMPARE(m_web->get("/northwind/ops/settings/access").status, 200);
    QCOMPARE(m_web->get("/northwind/nothing/settings/access").status, 404);
}

// Authorise -> exchange -> create repository -> commit a tree on main ->
// protect -> read the file back -> list collaborators, all over HTTP.
void TestEmulatorOAuth::walkThroughTheWholePath() {
    const QString verifier = "walkthrough-verifier-0123456789-0123456789-xyz";
    const QString code = queryOf(approve(challengeFor(verifier))).queryItemValue("code");
    const QJsonObject tokens = exchange({{"client_id", "Iv1.testclient"},
                                         {"client_secret", "s3cret"},
                                         {"code", code},
                                         {"code_verifier", verifier}})
                                   .object();
    EmulatorHttp api(m_emu->apiUrl());
    api.setToken(tokens["access_token"].toString());
    QCOMPARE(api.get("/user").object()["login"].toString(), QString("avery"));
    const QJsonArray installations =
        api.get("/user/installations").object()["installations"].toArray();
    QCOMPARE(installations.at(0).toObject()["account"].toObject()["login"].toString(),
             QString("northwind"));

    QCOMPARE(api.get("/repos/northwind/ops").status, 404);
    QCOMPARE(api.post("/orgs/northwind/repos",
                      {{"name", "ops"},
                       {"private", true},
                       {"auto_init", true},
                       {"description", "northwind AI operations — governed by KeelMark"}})
                 .status,
             201);
    QCOMPARE(api.get("/repos/northwind/ops").status, 200);

    const QString p = "/repos/northwind/ops";
    const QString parent =
        api.get(p + "/git/ref/heads/main").object()["object"].toObject()["sha"].toString();
    const QString baseTree =
        api.get(p + "/git/commits/" + parent).object()["tree"].toObject()["sha"].toString();
    const QString codeowners = "* @avery\n.github/ @avery\n";
    const HttpResult tree =
        api.post(p + "/git/trees", {{"base_tree", baseTree},
                                    {"tree", QJsonArray{QJsonObject{{"path", ".github/CODEOWNERS"},
                                                                    {"mode", "100644"},
                                                                    {"type", "blob"},
                                                                    {"content", codeowners}},
                                                        QJsonObject{{"path", ".mcp.json"},
                                                                    {"mode", "100644"},
                                                                    {"type", "blob"},
                                                                    {"content", "{}"}}}}});
    QCOMPARE(tree.status, 201);
    const HttpResult commit = api.post(p + "/git/commits", {{"message", "Governance files"},
                                                            {"tree", tree.object()["sha"]},
                                                            {"parents", QJsonArray{parent}}});
    QCOMPARE(commit.status, 201);
    QCOMPARE(
        api.patch(p + "/git/refs/heads/main", {{"sha", commit.object()["sha"]}, {"force", false}})
            .status,
        200);
    QCOMPARE(m_emu->commitParents("northwind", "ops", m_emu->mainHeadSha("northwind", "ops")),
             QStringList{parent});
    QCOMPARE(m_emu->filesOnMain("northwind", "ops"),
             QStringList({".github/CODEOWNERS", ".mcp.json", "README.md"}));

    const QJsonObject rules{
        {"required_status_checks", QJsonValue::Null},
        {"enforce_admins", true},
        {"required_pull_request_reviews", QJsonObject{{"required_approving_review_count", 1},
                                                      {"require_code_owner_reviews", true},
                                                      {"dismiss_stale_reviews", true}}},
        {"restrictions", QJsonValue::Null},
        {"required_linear_history", true},
        {"allow_force_pushes", false},
        {"allow_deletions", false}};
    QCOMPARE(api.put(p + "/branches/main/protection", rules).status, 200);
    QCOMPARE(api.get(p + "/branches/main/protection").status, 200);

    const HttpResult file = api.get(p + "/contents/.github/CODEOWNERS");
    QCOMPARE(file.status, 200);
    QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(
                 file.object()["content"].toString().remove('\n').toLatin1())),
             codeowners);

    m_emu->addCollaborator("northwind", "ops", "blake", "write");
    const QJsonArray collaborators = api.get(p + "/collaborators").array();
    QCOMPARE(collaborators.size(), 2);
    QCOMPARE(collaborators.at(0).toObject()["login"].toString(), QString("avery"));
    QCOMPARE(collaborators.at(1).toObject()["permissions"].toObject()["push"].toBool(), true);
}

QTEST_GUILESS_MAIN(TestEmulatorOAuth)
#include "TestEmulatorOAuth.moc"
