// The REST side of the emulator, checked against GitHub's documented
// behaviour with a plain HTTP client.
#include "EmulatorHttp.h"
#include "GitHubEmulator.h"

#include <QTcpSocket>
#include <QTest>

#include <memory>

class TestGitHubEmulator : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void authentication_data();
    void authentication();
    void missingUserAgentIsRefusedAsHtml();
    void unsupportedApiVersion();
    void installationsAndOrgsDependOnTokenKind();
    void memberships_data();
    void memberships();
    void createRepository();
    void emptyRepositoryRefusesGitData();
    void privateRepositoryIsInvisibleToOutsiders();
    void contentsAreWrappedBase64();
    void treesOverlayOrReplace();
    void treeValidation_data();
    void treeValidation();
    void refUpdates();
    void protectedMainRefusesUpdates();
    void collaboratorsPaginate();
    void collaboratorPermissions();
    void protectionLifecycle();
    void protectionValidation_data();
    void protectionValidation();
    void planRefusesPrivateProtection();

private:
    QString commitFile(const QString &repo, const QString &path, const QString &content,
                       bool withBase = true);

    std::unique_ptr<GitHubEmulator> m_emu;
    std::unique_ptr<EmulatorHttp> m_http;
    QString m_admin;   // avery: owner of northwind
    QString m_member;  // blake: plain member of northwind
    QString m_outside; // casey: in no organisation
};

void TestGitHubEmulator::init() {
    m_emu = std::make_unique<GitHubEmulator>();
    QVERIFY(m_emu->start());
    m_emu->addOrg("northwind");
    m_emu->addOrg("tinyshop", {.refusesPrivateProtection = true});
    m_emu->addOrg("noapp", {.appInstalled = false});
    m_emu->setMembership("northwind", "avery", "admin");
    m_emu->setMembership("northwind", "blake", "member");
    m_emu->setMembership("tinyshop", "avery", "admin");
    m_emu->setMembership("noapp", "avery", "admin");
    m_emu->addUser("casey");
    m_admin = m_emu->issueToken("avery");
    m_member = m_emu->issueToken("blake");
    m_outside = m_emu->issueToken("casey");
    m_http = std::make_unique<EmulatorHttp>(m_emu->apiUrl());
    m_http->setToken(m_admin);
}

void TestGitHubEmulator::cleanup() {
    m_http.reset();
    m_emu.reset();
}

QString TestGitHubEmulator::commitFile(const QString &repo, const QString &path,
                                       const QString &content, bool withBase) {
    const QString p = "/repos/northwind/" + repo;
    const QString head =
        m_http->get(p + "/git/ref/heads/main").object()["object"].toObject()["sha"].toString();
    const QString base =
        m_http->get(p + "/git/commits/" + head).object()["tree"].toObject()["sha"].toString();
    QJsonObject treeBody{
        {"tree", QJsonArray{QJsonObject{
                     {"path", path}, {"mode", "100644"}, {"type", "blob"}, {"content", content}}}}};
    if (withBase)
        treeBody["base_tree"] = base;
    const HttpResult tree = m_http->post(p + "/git/trees", treeBody);
    if (tree.status != 201)
        return {};
    const HttpResult commit = m_http->post(p + "/git/commits", {{"message", "Write " + path},
                                                                {"tree", tree.object()["sha"]},
                                                                {"parents", QJsonArray{head}}});
    const QString sha = commit.object()["sha"].toString();
    if (m_http->patch(p + "/git/refs/heads/main", {{"sha", sha}, {"force", false}}).status != 200)
        return {};
    return sha;
}

void TestGitHubEmulator::authentication_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("bearer") << "bearer" << 200 << "";
    QTest::newRow("token scheme") << "token" << 200 << "";
    QTest::newRow("none") << "none" << 401 << "Requires authentication";
    QTest::newRow("unknown") << "unknown" << 401 << "Bad credentials";
    QTest::newRow("expired") << "expired" << 401 << "Bad credentials";
    QTest::newRow("revoked") << "revoked" << 401 << "Bad credentials";
}

void TestGitHubEmulator::authentication() {
    QFETCH(QString, kind);
    QFETCH(int, status);
    QFETCH(QString, message);
    EmulatorHttp http(m_emu->apiUrl());
    QList<QPair<QByteArray, QByteArray>> headers;
    QString token = m_emu->issueToken("avery");
    if (kind == "expired")
        m_emu->expireToken(token);
    if (kind == "revoked")
        m_emu->revokeToken(token);
    if (kind == "unknown")
        token = "ghu_notAToken";
    if (kind == "token")
        headers.append({"Authorization", "token " + token.toUtf8()});
    else if (kind != "none")
        headers.append({"Authorization", "Bearer " + token.toUtf8()});

    const HttpResult r = http.send("GET", "/user", {}, headers);
    QCOMPARE(r.status, status);
    if (status == 200) {
        QCOMPARE(r.object()["login"].toString(), QString("avery"));
        QCOMPARE(r.object()["id"].toInteger(), *m_emu->userId("avery"));
        QCOMPARE(r.header("x-github-api-version-selected"), QByteArray("2022-11-28"));
    } else {
        QCOMPARE(r.message(), message);
        QCOMPARE(r.object()["status"].toString(), QString("401"));
        QVERIFY(r.object()["documentation_url"].toString().startsWith("https://docs.github.com/"));
    }
    QVERIFY(!r.header("x-ratelimit-remaining").isEmpty());
    QVERIFY(!r.header("x-github-request-id").isEmpty());
}

void TestGitHubEmulator::missingUserAgentIsRefusedAsHtml() {
    // QNetworkAccessManager always sends a User-Agent, so talk raw HTTP.
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", m_emu->apiUrl().port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET /user HTTP/1.1\r\nHost: api\r\nAuthorization: Bearer " + m_admin.toUtf8() +
                 "\r\nConnection: close\r\n\r\n");
    QByteArray response;
    QTRY_VERIFY_WITH_TIMEOUT((response += socket.readAll()).contains("administrative rules"),
                             10000);
    QVERIFY(response.startsWith("HTTP/1.1 403"));
    QVERIFY(response.contains("Content-Type: text/html"));
}

void TestGitHubEmulator::unsupportedApiVersion() {
    const HttpResult r = m_http->send("GET", "/user", {}, {{"X-GitHub-Api-Version", "v3"}});
    QCOMPARE(r.status, 400);
    QVERIFY(r.message().contains("\"v3\", is not a supported version"));
    QCOMPARE(m_http->send("GET", "/user", {}, {{"X-GitHub-Api-Version", "2022-11-28"}}).status,
             200);
}

void TestGitHubEmulator::installationsAndOrgsDependOnTokenKind() {
    // An App user token lists installations on member organisations that
    // have the app, and sees no organisations on /user/orgs.
    HttpResult r = m_http->get("/user/installations");
    QCOMPARE(r.status, 200);
    QStringList logins;
    for (const auto &i : r.object()["installations"].toArray())
        logins << i.toObject()["account"].toObject()["login"].toString();
    QCOMPARE(logins, QStringList({"northwind", "tinyshop"}));
    QCOMPARE(r.object()["total_count"].toInt(), 2);
    QCOMPARE(m_http->get("/user/orgs").array().size(), 0);

    // An OAuth-app token is refused on installations and lists memberships.
    EmulatorHttp oauth(m_emu->apiUrl());
    oauth.setToken(m_emu->issueToken("avery", {.appUserToken = false}));
    r = oauth.get("/user/installations");
    QCOMPARE(r.status, 403);
    QVERIFY(r.message().startsWith("You must authenticate with an access token authorized to a "
                                   "GitHub App"));
    r = oauth.get("/user/orgs");
    QCOMPARE(r.status, 200);
    QCOMPARE(r.array().size(), 3);
    QCOMPARE(r.array().at(0).toObject()["login"].toString(), QString("noapp"));
    QVERIFY(r.array().at(0).toObject()["id"].isDouble());
}

void TestGitHubEmulator::memberships_data() {
    QTest::addColumn<QString>("caller");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("role");
    QTest::newRow("admin about self") << "avery"
                                      << "/orgs/northwind/memberships/avery" << 200 << "admin";
    QTest::newRow("admin about member") << "avery"
                                        << "/orgs/northwind/memberships/blake" << 200 << "member";
    QTest::newRow("member about admin") << "blake"
                                        << "/orgs/northwind/memberships/avery" << 200 << "admin";
    QTest::newRow("case-insensitive") << "avery"
                                      << "/orgs/NorthWind/memberships/AVERY" << 200 << "admin";
    QTest::newRow("not a member") << "avery"
                                  << "/orgs/northwind/memberships/casey" << 404 << "";
    QTest::newRow("outsider asks") << "casey"
                                   << "/orgs/northwind/memberships/avery" << 404 << "";
    QTest::newRow("no such org") << "avery"
                                 << "/orgs/nowhere/memberships/avery" << 404 << "";
    QTest::newRow("empty username") << "avery"
                                    << "/orgs/northwind/memberships/" << 404 << "";
}

void TestGitHubEmulator::memberships() {
    QFETCH(QString, caller);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, role);
    EmulatorHttp http(m_emu->apiUrl());
    http.setToken(m_emu->issueToken(caller));
    const HttpResult r = http.get(path);
    QCOMPARE(r.status, status);
    QCOMPARE(r.object()["role"].toString(), role);
    if (status == 200)
        QCOMPARE(r.object()["state"].toString(), QString("active"));
}

void TestGitHubEmulator::createRepository() {
    const QJsonObject body{{"name", "ops"},
                           {"private", true},
                           {"auto_init", true},
                           {"description", "northwind AI operations — governed by KeelMark"}};
    HttpResult r = m_http->post("/orgs/northwind/repos", body);
    QCOMPARE(r.status, 201);
    QCOMPARE(r.header("Location"), m_emu->apiUrl().toString().toUtf8() + "/repos/northwind/ops");
    const QJsonObject repo = r.object();
    QCOMPARE(repo["full_name"].toString(), QString("northwind/ops"));
    QCOMPARE(repo["private"].toBool(), true);
    QCOMPARE(repo["default_branch"].toString(), QString("main"));
    QCOMPARE(repo["permissions"].toObject()["admin"].toBool(), true);
    QCOMPARE(repo["description"].toString(), body["description"].toString());
    QVERIFY(m_emu->repoExists("northwind", "ops"));
    QCOMPARE(m_emu->fileOnMain("northwind", "ops", "README.md").value_or(""),
             QByteArray("# ops\nnorthwind AI operations — governed by KeelMark\n"));
    QVERIFY(
        m_emu->commitParents("northwind", "ops", m_emu->mainHeadSha("northwind", "ops")).isEmpty());
    QCOMPARE(m_http->get("/repos/northwind/ops").status, 200);

    // Names are unique regardless of case.
    r = m_http->post("/orgs/northwind/repos", {{"name", "OPS"}});
    QCOMPARE(r.status, 422);
    QCOMPARE(r.message(), QString("Repository creation failed."));
    const QJsonObject err = r.object()["errors"].toArray().at(0).toObject();
    QCOMPARE(err["code"].toString(), QString("custom"));
    QCOMPARE(err["field"].toString(), QString("name"));
    QCOMPARE(err["message"].toString(), QString("name already exists on this account"));

    // Only members create repositories; others do not see the organisation's side.
    EmulatorHttp outsider(m_emu->apiUrl());
    outsider.setToken(m_outside);
    QCOMPARE(outsider.post("/orgs/northwind/repos", {{"name", "x"}}).status, 404);
    QCOMPARE(m_http->post("/orgs/northwind/repos", {{"private", true}}).status, 422);
    QCOMPARE(
        m_http
            ->send("POST", "/orgs/northwind/repos", "{nope", {{"Content-Type", "application/json"}})
            .status,
        400);
}

void TestGitHubEmulator::emptyRepositoryRefusesGitData() {
    QCOMPARE(m_http->post("/orgs/northwind/repos", {{"name", "bare"}}).status, 201);
    QVERIFY(m_emu->mainHeadSha("northwind", "bare").isEmpty());
    const QString p = "/repos/northwind/bare";
    for (const auto &r : {m_http->get(p + "/git/ref/heads/main"),
                          m_http->post(p + "/git/trees", {{"tree", QJsonArray{}}}),
                          m_http->post(p + "/git/commits", {{"message", "m"}, {"tree", "x"}})}) {
        QCOMPARE(r.status, 409);
        QCOMPARE(r.message(), QString("Git Repository is empty."));
    }
    const HttpResult contents = m_http->get(p + "/contents/README.md");
    QCOMPARE(contents.status, 404);
    QCOMPARE(contents.message(), QString("This repository is empty."));
    QCOMPARE(m_http->get(p + "/branches").array().size(), 0);
    QCOMPARE(m_http->get(p).object()["default_branch"].toString(), QString("main"));
}

void TestGitHubEmulator::privateRepositoryIsInvisibleToOutsiders() {
    QVERIFY(m_emu->createRepoDirect("northwind", "secret"));
    QVERIFY(m_emu->createRepoDirect("northwind", "open", {.isPrivate = false}));
    EmulatorHttp outsider(m_emu->apiUrl());
    outsider.setToken(m_outside);
    QCOMPARE(outsider.get("/repos/northwind/secret").status, 404);
    QCOMPARE(outsider.get("/repos/northwind/secret/contents/README.md").status, 404);
    QCOMPARE(outsider.get("/repos/northwind/open").status, 200);
    QCOMPARE(
        outsider.get("/repos/northwind/open").object()["permissions"].toObject()["push"].toBool(),
        false);
    // Read access does not allow writing git data.
    QCOMPARE(outsider.post("/repos/northwind/open/git/blobs", {{"content", "x"}}).status, 403);
    QCOMPARE(m_http->get("/repos/northwind/secret/").status, 404); // trailing slash
    QCOMPARE(m_http->get("/repos/northwind/missing").status, 404);
}

void TestGitHubEmulator::contentsAreWrappedBase64() {
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    QByteArray text;
    for (int i = 0; i < 40; ++i)
        text += "line " + QByteArray::number(i) + " of the ownership file\n";
    m_emu->writeFileDirect("northwind", "ops", ".github/CODEOWNERS", text);

    HttpResult r = m_http->get("/repos/northwind/ops/contents/.github/CODEOWNERS");
    QCOMPARE(r.status, 200);
    const QJsonObject o = r.object();
    const QByteArray content = o["content"].toString().toLatin1();
    const QList<QByteArray> lines = content.split('\n');
    QVERIFY(content.endsWith('\n'));
    for (int i = 0; i < lines.size() - 2; ++i)
        QCOMPARE(lines.at(i).size(), 60);
    QVERIFY(lines.at(lines.size() - 2).size() <= 60);
    QCOMPARE(QByteArray::fromBase64(QByteArray(content).replace('\n', "")), text);
    QCOMPARE(o["encoding"].toString(), QString("base64"));
    QCOMPARE(o["size"].toInt(), text.size());
    QCOMPARE(o["type"].toString(), QString("file"));
    QCOMPARE(o["path"].toString(), QString(".github/CODEOWNERS"));
    // The sha is the blob's, which the git data API serves.
    QCOMPARE(m_http->get("/repos/northwind/ops/git/blobs/" + o["sha"].toString()).status, 200);

    QCOMPARE(m_http->get("/repos/northwind/ops/contents/.github/MISSING").status, 404);
    r = m_http->get("/repos/northwind/ops/contents/.github");
    QCOMPARE(r.array().size(), 1);
    QCOMPARE(r.array().at(0).toObject()["name"].toString(), QString("CODEOWNERS"));

    // ?ref= reads an older commit.
    const QString first = m_emu->mainHeadSha("northwind", "ops");
    m_emu->writeFileDirect("northwind", "ops", ".github/CODEOWNERS", "* @mallory\n");
    r = m_http->get("/repos/northwind/ops/contents/.github/CODEOWNERS?ref=" + first);
    QCOMPARE(QByteArray::fromBase64(r.object()["content"].toString().toLatin1()), text);
}

void TestGitHubEmulator::treesOverlayOrReplace() {
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    QVERIFY(!commitFile("ops", "docs/a.md", "A").isEmpty());
    QVERIFY(!commitFile("ops", "docs/b.md", "B").isEmpty());
    QCOMPARE(m_emu->filesOnMain("northwind", "ops"),
             QStringList({"README.md", "docs/a.md", "docs/b.md"}));

    // Without base_tree the tree holds only the given entries.
    const QString head = commitFile("ops", "only.md", "O", false);
    QCOMPARE(m_emu->filesOnMain("northwind", "ops"), QStringList({"only.md"}));
    QCOMPARE(m_emu->commitParents("northwind", "ops", head).size(), 1);

    // sha null deletes; the emptied directory disappears.
    QVERIFY(!commitFile("ops", "d/x.md", "X").isEmpty());
    const QString base = m_emu->mainTreeSha("northwind", "ops");
    const HttpResult r =
        m_http->post("/repos/northwind/ops/git/trees",
                     {{"base_tree", base},
                      {"tree", QJsonArray{QJsonObject{{"path", "d/x.md"},
                                                      {"mode", "100644"},
                                                      {"type", "blob"},
                                                      {"sha", QJsonValue::Null}}}}});
    QCOMPARE(r.status, 201);
    QCOMPARE(r.object()["tree"].toArray().size(), 1);
    QCOMPARE(r.object()["tree"].toArray().at(0).toObject()["path"].toString(), QString("only.md"));
}

void TestGitHubEmulator::treeValidation_data() {
    QTest::addColumn<QJsonObject>("entry");
    QTest::addColumn<bool>("commitAsBase");
    QTest::addColumn<QString>("message");
    const QJsonObject ok{{"path", "a.md"}, {"mode", "100644"}, {"type", "blob"}, {"content", "x"}};
    QJsonObject both = ok;
    both["sha"] = "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
    QJsonObject neither = ok;
    neither.remove("content");
    QJsonObject badMode = ok;
    badMode["mode"] = "644";
    QJsonObject dotdot = ok;
    dotdot["path"] = "../etc/passwd";
    QJsonObject unknownSha = neither;
    unknownSha["sha"] = "1111111111111111111111111111111111111111";
    QJsonObject deleteMissing = neither;
    deleteMissing["sha"] = QJsonValue::Null;
    deleteMissing["path"] = "nothing/here.md";
    QTest::newRow("sha and content") << both << false << "Request contained both";
    QTest::newRow("neither") << neither << false << "Must supply either";
    QTest::newRow("bad mode") << badMode << false << "is not one of";
    QTest::newRow("dot-dot path") << dotdot << false << "malformed path component";
    QTest::newRow("unknown sha") << unknownSha << false << "is not a valid blob";
    QTest::newRow("delete missing") << deleteMissing << false << "does not exist";
    QTest::newRow("commit as base_tree") << ok << true << "base_tree is not a valid tree oid";
}

void TestGitHubEmulator::treeValidation() {
    QFETCH(QJsonObject, entry);
    QFETCH(bool, commitAsBase);
    QFETCH(QString, message);
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    QJsonObject body{{"tree", QJsonArray{entry}}};
    if (commitAsBase)
        body["base_tree"] = m_emu->mainHeadSha("northwind", "ops");
    const HttpResult r = m_http->post("/repos/northwind/ops/git/trees", body);
    QCOMPARE(r.status, 422);
    QVERIFY2(r.message().contains(message), qPrintable(r.message()));
}

void TestGitHubEmulator::refUpdates() {
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    const QString p = "/repos/northwind/ops";
    const QString root = m_emu->mainHeadSha("northwind", "ops");
    const QString second = commitFile("ops", "a.md", "A");
    QVERIFY(!second.isEmpty());
    QCOMPARE(m_emu->commitParents("northwind", "ops", second), QStringList{root});

    // Moving back to the root is not a fast forward.
    HttpResult r = m_http->patch(p + "/git/refs/heads/main", {{"sha", root}, {"force", false}});
    QCOMPARE(r.status, 422);
    QCOMPARE(r.message(), QString("Update is not a fast forward"));
    QCOMPARE(m_emu->mainHeadSha("northwind", "ops"), second);
    r = m_http->patch(p + "/git/refs/heads/main", {{"sha", root}, {"force", true}});
    QCOMPARE(r.status, 200);
    QCOMPARE(r.object()["object"].toObject()["sha"].toString(), root);
    QCOMPARE(r.object()["ref"].toString(), QString("refs/heads/main"));

    r = m_http->patch(p + "/git/refs/heads/nothing", {{"sha", root}});
    QCOMPARE(r.status, 422);
    QCOMPARE(r.message(), QString("Reference does not exist"));
    QCOMPARE(m_http->patch(p + "/git/refs/heads/main", {{"sha", QString(40, 'a')}}).status, 422);
    // The singular form is for reading only; a missing ref reads as 404.
    QCOMPARE(m_http->get(p + "/git/ref/heads/nothing").status, 404);
    QCOMPARE(m_http->get(p + "/git/commits/" + QString(40, 'a')).status, 404);
    // A commit with an unknown parent is refused.
    r = m_http->post(p + "/git/commits", {{"message", "m"},
                                          {"tree", m_emu->mainTreeSha("northwind", "ops")},
                                          {"parents", QJsonArray{QString(40, 'b')}}});
    QCOMPARE(r.status, 422);
}

void TestGitHubEmulator::protectedMainRefusesUpdates() {
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    const QString p = "/repos/northwind/ops";
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
    QCOMPARE(m_http->put(p + "/branches/main/protection", rules).status, 200);
    const QString before = m_emu->mainHeadSha("northwind", "ops");
    // Build a child commit by hand; the branch must not move, force or not.
    const HttpResult c =
        m_http->post(p + "/git/commits", {{"message", "m"},
                                          {"tree", m_emu->mainTreeSha("northwind", "ops")},
                                          {"parents", QJsonArray{before}}});
    QCOMPARE(c.status, 201);
    for (bool force : {false, true}) {
        const HttpResult r = m_http->patch(p + "/git/refs/heads/main",
                                           {{"sha", c.object()["sha"]}, {"force", force}});
        QCOMPARE(r.status, 422);
        QCOMPARE(r.message(), QString("Changes must be made through a pull request."));
    }
    QCOMPARE(m_emu->mainHeadSha("northwind", "ops"), before);

    // Administrators pass when the rules do not bind them.
    QJsonObject lenient = rules;
    lenient["enforce_admins"] = false;
    m_emu->setProtection("northwind", "ops", lenient);
    QCOMPARE(m_http->patch(p + "/git/refs/heads/main", {{"sha", c.object()["sha"]}}).status, 200);
}

void TestGitHubEmulator::collaboratorsPaginate() {
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    for (int i = 0; i < 72; ++i)
        m_emu->addCollaborator("northwind", "ops", QString("user%1").arg(i, 2, 10, QChar('0')),
                               "write");
    // avery (owner) and blake (member with read) come on top: 74 in all.
    const int total = 74;
    const qint64 id = *m_emu->repoId("northwind", "ops");

    HttpResult r = m_http->get("/repos/northwind/ops/collaborators");
    QCOMPARE(r.array().size(), 30); // default page size
    r = m_http->get("/repos/northwind/ops/collaborators?per_page=500");
    QCOMPARE(r.array().size(), total); // capped at 100, which holds them all
    QVERIFY(r.header("Link").isEmpty());

    // Follow rel="next" verbatim until it is gone.
    QUrl next = m_http->url("/repos/northwind/ops/collaborators?per_page=20");
    QSet<QString> seen;
    int pages = 0;
    while (next.isValid() && !next.isEmpty()) {
        r = m_http->sendTo("GET", next);
        QCOMPARE(r.status, 200);
        for (const auto &c : r.array())
            seen.insert(c.toObject()["login"].toString());
        ++pages;
        next = QUrl();
        const QByteArray link = r.header("Link");
        for (const QByteArray &part : link.split(',')) {
            const QByteArray p = part.trimmed();
            if (p.endsWith("rel=\"next\""))
                next = QUrl(QString::fromUtf8(p.mid(1, p.indexOf('>') - 1)));
            if (pages == 1 && p.endsWith("rel=\"last\"")) {
                QVERIFY(p.contains(QString("/repositories/%1/collaborators?").arg(id).toUtf8()));
                QVERIFY(p.contains("per_page=20&page=4"));
            }
        }
        QVERIFY(pages < 10);
    }
    QCOMPARE(pages, 4);
    QCOMPARE(seen.size(), total);
}

void TestGitHubEmulator::collaboratorPermissions() {
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    m_emu->addCollaborator("northwind", "ops", "casey", "triage");
    m_emu->addCollaborator("northwind", "ops", "dana", "maintain");
    const HttpResult r = m_http->get("/repos/northwind/ops/collaborators");
    QCOMPARE(r.status, 200);
    QHash<QString, QJsonObject> byLogin;
    for (const auto &c : r.array())
        byLogin.insert(c.toObject()["login"].toString(), c.toObject());
    QCOMPARE(byLogin.size(), 4);
    const auto perms = [&](const QString &login) {
        return byLogin[login]["permissions"].toObject();
    };
    QCOMPARE(perms("avery")["admin"].toBool(), true);
    QCOMPARE(byLogin["avery"]["role_name"].toString(), QString("admin"));
    QCOMPARE(perms("blake")["push"].toBool(), false);
    QCOMPARE(perms("blake")["pull"].toBool(), true);
    QCOMPARE(byLogin["casey"]["role_name"].toString(), QString("triage"));
    QCOMPARE(perms("casey")["triage"].toBool(), true);
    QCOMPARE(perms("dana")["maintain"].toBool(), true);
    QCOMPARE(perms("dana")["admin"].toBool(), false);
    // Listing needs push access.
    EmulatorHttp reader(m_emu->apiUrl());
    reader.setToken(m_member);
    QCOMPARE(reader.get("/repos/northwind/ops/collaborators").status, 404);
}

void TestGitHubEmulator::protectionLifecycle() {
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    const QString path = "/repos/northwind/ops/branches/main/protection";
    HttpResult r = m_http->get(path);
    QCOMPARE(r.status, 404);
    QCOMPARE(r.message(), QString("Branch not protected"));

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
    r = m_http->put(path, rules);
    QCOMPARE(r.status, 200);
    QCOMPARE(m_emu->protectionOf("northwind", "ops"), std::optional<QJsonObject>(rules));
    const QJsonObject shape = r.object();
    QVERIFY(shape["url"].toString().endsWith(path));
    QCOMPARE(shape["enforce_admins"].toObject()["enabled"].toBool(), true);
    QCOMPARE(shape["required_linear_history"].toObject()["enabled"].toBool(), true);
    QCOMPARE(shape["allow_force_pushes"].toObject()["enabled"].toBool(), false);
    const QJsonObject reviews = shape["required_pull_request_reviews"].toObject();
    QCOMPARE(reviews["required_approving_review_count"].toInt(), 1);
    QCOMPARE(reviews["require_code_owner_reviews"].toBool(), true);
    QVERIFY(!shape.contains("required_status_checks"));
    QVERIFY(!shape.contains("restrictions"));
    QCOMPARE(m_http->get(path).object(), shape);

    // Plain members may not read or change it.
    EmulatorHttp member(m_emu->apiUrl());
    member.setToken(m_member);
    QCOMPARE(member.get(path).status, 403);
    QCOMPARE(member.del(path).status, 403);

    r = m_http->del(path);
    QCOMPARE(r.status, 204);
    QVERIFY(r.body.isEmpty());
    QVERIFY(!m_emu->protectionOf("northwind", "ops"));
    QCOMPARE(m_http->get(path).status, 404);
    QCOMPARE(m_http->del(path).status, 404);
}

void TestGitHubEmulator::protectionValidation_data() {
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<QString>("message");
    const QJsonObject full{{"required_status_checks", QJsonValue::Null},
                           {"enforce_admins", QJsonValue::Null},
                           {"required_pull_request_reviews", QJsonValue::Null},
                           {"restrictions", QJsonValue::Null}};
    QJsonObject one = full;
    one.remove("enforce_admins");
    QTest::newRow("one missing") << one
                                 << "Invalid request.\n\n\"enforce_admins\" wasn't supplied.";
    QJsonObject two = one;
    two.remove("restrictions");
    QTest::newRow("two missing")
        << two << "Invalid request.\n\n\"enforce_admins\", \"restrictions\" weren't supplied.";
    QJsonObject wrongType = full;
    wrongType["enforce_admins"] = "yes";
    QTest::newRow("not a boolean") << wrongType << "enforce_admins";
    QJsonObject tooMany = full;
    tooMany["required_pull_request_reviews"] = QJsonObject{{"required_approving_review_count", 7}};
    QTest::newRow("seven reviews") << tooMany << "required_approving_review_count";
    QJsonObject checks = full;
    checks["required_status_checks"] = QJsonObject{{"contexts", QJsonArray{}}};
    QTest::newRow("checks without strict") << checks << "\"strict\" wasn't supplied";
}

void TestGitHubEmulator::protectionValidation() {
    QFETCH(QJsonObject, body);
    QFETCH(QString, message);
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    const HttpResult r = m_http->put("/repos/northwind/ops/branches/main/protection", body);
    QCOMPARE(r.status, 422);
    QVERIFY2(r.message().contains(message), qPrintable(r.message()));
    QVERIFY(!m_emu->protectionOf("northwind", "ops"));
}

void TestGitHubEmulator::planRefusesPrivateProtection() {
    QVERIFY(m_emu->createRepoDirect("tinyshop", "ops"));
    QVERIFY(m_emu->createRepoDirect("tinyshop", "site", {.isPrivate = false}));
    const QJsonObject rules{{"required_status_checks", QJsonValue::Null},
                            {"enforce_admins", true},
                            {"required_pull_request_reviews", QJsonValue::Null},
                            {"restrictions", QJsonValue::Null}};
    for (const auto &r : {m_http->put("/repos/tinyshop/ops/branches/main/protection", rules),
                          m_http->get("/repos/tinyshop/ops/branches/main/protection")}) {
        QCOMPARE(r.status, 403);
        QCOMPARE(r.message(), QString("Upgrade to GitHub Team or make this repository public to "
                                      "enable this feature."));
    }
    QVERIFY(!m_emu->protectionOf("tinyshop", "ops"));
    QCOMPARE(m_http->put("/repos/tinyshop/site/branches/main/protection", rules).status, 200);
}

QTEST_GUILESS_MAIN(TestGitHubEmulator)
#include "TestGitHubEmulator.moc"
