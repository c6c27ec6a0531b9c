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
const QString kState = QStringLiteral("4F1C2A3B-0000-4000-8000-1234567890AB");
const QString kVerifier = QStringLiteral("a-verifier-of-enough-length-0123456789-abcdefghij");
using Params = QList<QPair<QString, QString>>;

QString challengeFor(const QString &verifier) {
    return QString::fromLatin1(
        QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The id the authorisation page's form posts back.
QString requestIdOf(const HttpResult &page) {
    static const QRegularExpression id(QStringLiteral("name=\"request\" value=\"([^\"]+)\""));
    return id.match(QString::fromUtf8(page.body)).captured(1);
}

QUrlQuery queryOf(const HttpResult &redirect) {
    return QUrlQuery(QUrl::fromEncoded(redirect.header("Location")));
}

} // namespace

class TestEmulatorOAuth : public QObject {
    Q_OBJECT

    std::unique_ptr<GitHubEmulator> m_emu;
    std::unique_ptr<EmulatorHttp> m_web;

    HttpResult authorizePage(const QString &challenge = {}) const {
        QString query = "client_id=Iv1.testclient&redirect_uri=" + kCallback + "&state=" + kState;
        if (!challenge.isEmpty())
            query += "&code_challenge=" + challenge + "&code_challenge_method=S256";
        return m_web->get("/login/oauth/authorize?" + query);
    }
    // Shows the page, then presses Approve the way the page's form does.
    QString approve(const QString &challenge = {}) const {
        const HttpResult r = m_web->send(
            "POST", "/login/oauth/authorize",
            "request=" + requestIdOf(authorizePage(challenge)).toUtf8() + "&authorize=1",
            {{"Content-Type", "application/x-www-form-urlencoded"}});
        return queryOf(r).queryItemValue("code");
    }
    HttpResult exchange(Params params) const {
        params.prepend({"client_secret", "s3cret"});
        params.prepend({"client_id", "Iv1.testclient"});
        QUrlQuery form;
        for (const auto &[key, value] : params)
            form.addQueryItem(key, QString::fromUtf8(QUrl::toPercentEncoding(value)));
        return m_web->send("POST", "/login/oauth/access_token",
                           form.toString(QUrl::FullyEncoded).toUtf8(),
                           {{"Content-Type", "application/x-www-form-urlencoded"},
                            {"Accept", "application/json"}});
    }
    QJsonObject refresh(const QString &token) const {
        return exchange({{"grant_type", "refresh_token"}, {"refresh_token", token}}).object();
    }

private slots:
    void init() {
        m_emu = std::make_unique<GitHubEmulator>();
        QVERIFY(m_emu->start());
        m_emu->setOAuthApp(
            {.clientId = "Iv1.testclient", .clientSecret = "s3cret", .callbackUrls = {kCallback}});
        m_emu->addOrg("northwind");
        m_emu->setMembership("northwind", "avery", "admin");
        m_emu->setAuthorizingUser("avery");
        m_web = std::make_unique<EmulatorHttp>(m_emu->webUrl());
    }

    void cleanup() {
        m_web.reset();
        m_emu.reset();
    }

    void authorisationPage() {
        const HttpResult page = authorizePage();
        QVERIFY(page.header("Content-Type").startsWith("text/html"));
        QVERIFY(page.body.contains("Authorize KeelMark") && page.body.contains("avery"));
        QVERIFY(!approve().isEmpty());

        // Declining redirects with access_denied, and the request is spent.
        const QString id = requestIdOf(authorizePage());
        const HttpResult r = m_web->get("/login/oauth/authorize?request=" + id + "&authorize=0");
        QVERIFY(r.header("Location").startsWith(kCallback.toUtf8() + '?'));
        QCOMPARE(queryOf(r).queryItemValue("error"), QString("access_denied"));
        QCOMPARE(queryOf(r).queryItemValue("state"), kState);
        QVERIFY(!queryOf(r).hasQueryItem("code"));
        QCOMPARE(m_web->get("/login/oauth/authorize?request=" + id + "&authorize=1").status, 404);

        m_emu->setAutoApprove(true);
        const QUrlQuery automatic = queryOf(authorizePage());
        QVERIFY(!automatic.queryItemValue("code").isEmpty());
        QCOMPARE(automatic.queryItemValue("state"), kState);
    }

    void authorizeRequestErrors_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("error"); // empty: 404, no redirect
        QTest::newRow("unknown client") << "client_id=Iv1.other&redirect_uri=" + kCallback << "";
        QTest::newRow("unregistered redirect")
            << "client_id=Iv1.testclient&redirect_uri=http://evil.example/cb&state=s"
            << "redirect_uri_mismatch";
        QTest::newRow("plain challenge") << "client_id=Iv1.testclient&redirect_uri=" + kCallback +
                                                "&state=s&code_challenge=abc"
                                                "&code_challenge_method=plain"
                                         << "invalid_request";
    }

    void authorizeRequestErrors() {
        QFETCH(QString, query);
        QFETCH(QString, error);
        const HttpResult r = m_web->get("/login/oauth/authorize?" + query);
        QCOMPARE(r.status, error.isEmpty() ? 404 : 302);
        QCOMPARE(queryOf(r).queryItemValue("error"), error);
        // Never to the address the request named, only to a registered one.
        if (!error.isEmpty())
            QVERIFY(r.header("Location").startsWith(kCallback.toUtf8() + '?'));
    }

    void exchangeErrorsComeWithStatus200_data() {
        QTest::addColumn<Params>("params");
        QTest::addColumn<QString>("error");
        QTest::newRow("wrong secret")
            << Params{{"client_secret", "wrong"}} << "incorrect_client_credentials";
        QTest::newRow("code used twice") << Params{{"reuse", ""}} << "bad_verification_code";
        QTest::newRow("pkce without verifier") << Params{{"pkce", ""}} << "bad_verification_code";
        QTest::newRow("pkce wrong verifier")
            << Params{{"pkce", ""}, {"code_verifier", kVerifier + "x"}} << "bad_verification_code";
        QTest::newRow("unknown refresh token")
            << Params{{"grant_type", "refresh_token"}, {"refresh_token", "ghr_unknown"}}
            << "bad_refresh_token";
    }

    void exchangeErrorsComeWithStatus200() {
        QFETCH(Params, params);
        QFETCH(QString, error);
        const bool pkce = params.first().first == "pkce";
        const QString code = approve(pkce ? challengeFor(kVerifier) : QString());
        QVERIFY(!code.isEmpty());
        if (params.first().first == "reuse")
            QVERIFY(exchange({{"code", code}}).object().contains("access_token"));
        if (pkce || params.first().first == "reuse")
            params.removeFirst();
        params.prepend({"code", code});
        const HttpResult r = exchange(params);
        QCOMPARE(r.status, 200);
        QCOMPARE(r.object()["error"].toString(), error);
        QVERIFY(r.object()["error_uri"].toString().startsWith("https://docs.github.com/"));
        QVERIFY(!r.object().contains("access_token"));
    }

    void refreshRotatesBothTokens() {
        const QJsonObject first =
            exchange({{"code", approve(challengeFor(kVerifier))}, {"code_verifier", kVerifier}})
                .object();
        QCOMPARE(first["expires_in"].toInt(), 28800);
        const QString oldAccess = first["access_token"].toString();
        const QString oldRefresh = first["refresh_token"].toString();

        // An expired access token answers 401; its refresh token still renews it.
        EmulatorHttp oldApi(m_emu->apiUrl(), oldAccess);
        m_emu->expireToken(oldAccess);
        QCOMPARE(oldApi.get("/user").message(), QString("Bad credentials"));
        const QJsonObject second = refresh(oldRefresh);
        const QString newAccess = second["access_token"].toString();
        QVERIFY(!newAccess.isEmpty() && newAccess != oldAccess);
        QVERIFY(second["refresh_token"].toString() != oldRefresh);
        QCOMPARE(EmulatorHttp(m_emu->apiUrl(), newAccess).get("/user").status, 200);
        // The old refresh token is spent; a refresh token is no access token.
        QCOMPARE(refresh(oldRefresh)["error"].toString(), QString("bad_refresh_token"));
        QCOMPARE(
            EmulatorHttp(m_emu->apiUrl(), second["refresh_token"].toString()).get("/user").status,
            401);
    }

    void nonExpiringAppOmitsExpiry() {
        GitHubEmulator::OAuthApp app = m_emu->oauthApp();
        app.expiringTokens = false;
        m_emu->setOAuthApp(app);
        QStringList keys = exchange({{"code", approve()}}).object().keys();
        keys.sort();
        QCOMPARE(keys, QStringList({"access_token", "scope", "token_type"}));
    }

    // Authorise -> exchange -> create repository -> commit a tree on main ->
    // protect -> read the file back -> list collaborators, all over HTTP.
    void walkThroughTheWholePath() {
        const QJsonObject tokens =
            exchange({{"code", approve(challengeFor(kVerifier))}, {"code_verifier", kVerifier}})
                .object();
        const EmulatorHttp api(m_emu->apiUrl(), tokens["access_token"].toString());
        QCOMPARE(api.get("/user/installations").object()["total_count"].toInt(), 1);

        const QString p = "/repos/northwind/ops";
        QCOMPARE(api.get(p).status, 404);
        QCOMPARE(api.post("/orgs/northwind/repos",
                          {{"name", "ops"}, {"private", true}, {"auto_init", true}})
                     .status,
                 201);
        const QString codeowners = "* @avery\n.github/ @avery\n";
        QVERIFY(!commitOnMain(
                     api, p,
                     {blobEntry(".github/CODEOWNERS", codeowners), blobEntry(".mcp.json", "{}")})
                     .isEmpty());
        QCOMPARE(m_emu->filesOnMain("northwind", "ops"),
                 QStringList({".github/CODEOWNERS", ".mcp.json", "README.md"}));

        QCOMPARE(api.put(p + "/branches/main/protection", protectionRules()).status, 200);
        const QString content =
            api.get(p + "/contents/.github/CODEOWNERS").object()["content"].toString();
        QCOMPARE(QByteArray::fromBase64(content.toLatin1()), codeowners.toUtf8());

        m_emu->addCollaborator("northwind", "ops", "blake", "write");
        const QJsonArray collaborators = api.get(p + "/collaborators").array();
        QCOMPARE(collaborators.size(), 2);
        QCOMPARE(collaborators.at(1)["permissions"]["push"].toBool(), true);
    }
};

QTEST_GUILESS_MAIN(TestEmulatorOAuth)
#include "TestEmulatorOAuth.moc"
