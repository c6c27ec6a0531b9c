// The REST side of the emulator, checked against GitHub's documented
// behaviour with a plain HTTP client.
#include "EmulatorHttp.h"
#include "GitHubEmulator.h"

#include <QTest>

#include <memory>

class TestGitHubEmulator : public QObject {
    Q_OBJECT

    std::unique_ptr<GitHubEmulator> m_emu;
    std::unique_ptr<EmulatorHttp> m_http; // avery: owner of northwind
    const QString p = QStringLiteral("/repos/northwind/ops");

    EmulatorHttp as(const QString &login) const {
        return EmulatorHttp(m_emu->apiUrl(), m_emu->issueToken(login));
    }

private slots:
    void init() {
        m_emu = std::make_unique<GitHubEmulator>();
        QVERIFY(m_emu->start());
        m_emu->addOrg("northwind");
        m_emu->addOrg("tinyshop", {.refusesPrivateProtection = true});
        m_emu->addOrg("noapp", {.appInstalled = false});
        m_emu->setMembership("northwind", "avery", "admin");
        m_emu->setMembership("northwind", "blake", "member");
        m_emu->setMembership("tinyshop", "avery", "admin");
        m_emu->setMembership("noapp", "avery", "admin");
        m_emu->addUser("casey"); // in no organisation
        m_http = std::make_unique<EmulatorHttp>(m_emu->apiUrl(), m_emu->issueToken("avery"));
    }

    void cleanup() {
        m_http.reset();
        m_emu.reset();
    }

    void authentication_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("bearer") << "bearer" << 200 << "";
        QTest::newRow("token scheme") << "token" << 200 << "";
        QTest::newRow("none") << "none" << 401 << "Requires authentication";
        QTest::newRow("unknown") << "unknown" << 401 << "Bad credentials";
        QTest::newRow("expired") << "expired" << 401 << "Bad credentials";
        QTest::newRow("revoked") << "revoked" << 401 << "Bad credentials";
        QTest::newRow("API version") << "version" << 400 << "\"v3\", is not a supported version";
    }

    void authentication() {
        QFETCH(QString, kind);
        QFETCH(int, status);
        QFETCH(QString, message);
        QString token = m_emu->issueToken("avery");
        if (kind == "expired")
            m_emu->expireToken(token);
        if (kind == "revoked")
            m_emu->revokeToken(token);
        const QByteArray scheme = kind == "token" ? "token " : "Bearer ";
        Headers headers{{"Authorization", scheme + (kind == "unknown" ? "ghu_x" : token.toUtf8())}};
        if (kind == "none")
            headers.clear();
        if (kind == "version")
            headers.append(qMakePair(QByteArray("X-GitHub-Api-Version"), QByteArray("v3")));

        const HttpResult r = EmulatorHttp(m_emu->apiUrl()).send("GET", "/user", {}, headers);
        QCOMPARE(r.status, status);
        QVERIFY(!r.header("x-ratelimit-remaining").isEmpty());
        if (status == 200) {
            QCOMPARE(r.object()["login"].toString(), QString("avery"));
            QCOMPARE(r.object()["id"].toInteger(), *m_emu->userId("avery"));
            return;
        }
        QVERIFY2(r.message().contains(message), qPrintable(r.message()));
        QCOMPARE(r.object()["status"].toString(), QString::number(status));
        QVERIFY(r.object()["documentation_url"].toString().startsWith("https://docs.github.com/"));
    }

    void installationsAndOrgsDependOnTokenKind() {
        // An App user token lists installations on member organisations that
        // have the app, and sees no organisations on /user/orgs.
        HttpResult r = m_http->get("/user/installations");
        QStringList logins;
        for (const auto &i : r.object()["installations"].toArray())
            logins << i.toObject()["account"].toObject()["login"].toString();
        QCOMPARE(logins, QStringList({"northwind", "tinyshop"}));
        QCOMPARE(r.object()["total_count"].toInt(), 2);
        QCOMPARE(m_http->get("/user/orgs").array().size(), 0);

        // An OAuth-app token is refused on installations and lists memberships.
        EmulatorHttp oauth(m_emu->apiUrl(), m_emu->issueToken("avery", {.appUserToken = false}));
        r = oauth.get("/user/installations");
        QCOMPARE(r.status, 403);
        QVERIFY(r.message().startsWith("You must authenticate with an access token authorized to "
                                       "a GitHub App"));
        r = oauth.get("/user/orgs");
        QCOMPARE(r.array().size(), 3);
        QVERIFY(r.array().at(0).toObject()["id"].isDouble());
    }

    void memberships_data() {
        QTest::addColumn<QString>("caller");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("role"); // empty: 404
        const auto row = [](const char *name, const char *caller, const char *path,
                            const char *role) {
            QTest::newRow(name) << QString(caller) << QString(path) << QString(role);
        };
        row("admin about member", "avery", "northwind/memberships/blake", "member");
        row("member about admin", "blake", "northwind/memberships/avery", "admin");
        row("case-insensitive", "avery", "NorthWind/memberships/AVERY", "admin");
        row("not a member", "avery", "northwind/memberships/casey", "");
        row("outsider asks", "casey", "northwind/memberships/avery", "");
        row("no such org", "avery", "nowhere/memberships/avery", "");
    }

    void memberships() {
        QFETCH(QString, caller);
        QFETCH(QString, path);
        QFETCH(QString, role);
        const HttpResult r = as(caller).get("/orgs/" + path);
        QCOMPARE(r.status, role.isEmpty() ? 404 : 200);
        QCOMPARE(r.object()["role"].toString(), role);
        QCOMPARE(r.object()["state"].toString(), QString(role.isEmpty() ? "" : "active"));
    }

    void createRepository() {
        const QString description = "northwind AI operations — governed by KeelMark";
        HttpResult r = m_http->post("/orgs/northwind/repos", {{"name", "ops"},
                                                              {"private", true},
                                                              {"auto_init", true},
                                                              {"description", description}});
        QCOMPARE(r.status, 201);
        QCOMPARE(r.header("Location"), m_http->url(p).toEncoded());
        QCOMPARE(r.object()["full_name"].toString(), QString("northwind/ops"));
        QCOMPARE(r.object()["permissions"].toObject()["admin"].toBool(), true);
        QCOMPARE(m_emu->fileOnMain("northwind", "ops", "README.md").value_or(""),
                 "# ops\n" + description.toUtf8() + "\n");
        QVERIFY(m_emu->commitParents("northwind", "ops", m_emu->mainHeadSha("northwind", "ops"))
                    .isEmpty());

        // Names are unique regardless of case.
        r = m_http->post("/orgs/northwind/repos", {{"name", "OPS"}});
        QCOMPARE(r.status, 422);
        QCOMPARE(r.message(), QString("Repository creation failed."));
        const QJsonObject err = r.object()["errors"].toArray().at(0).toObject();
        QCOMPARE(err["field"].toString(), QString("name"));
        QCOMPARE(err["message"].toString(), QString("name already exists on this account"));

        QCOMPARE(as("casey").post("/orgs/northwind/repos", {{"name", "x"}}).status, 404);
        QCOMPARE(m_http->post("/orgs/northwind/repos", {{"private", true}}).status, 422);
        const Headers json{{"Content-Type", "application/json"}};
        QCOMPARE(m_http->send("POST", "/orgs/northwind/repos", "{nope", json).status, 400);
    }

    void emptyRepositoryRefusesGitData() {
        QCOMPARE(m_http->post("/orgs/northwind/repos", {{"name", "bare"}}).status, 201);
        const QString bare = "/repos/northwind/bare";
        for (const auto &r : {m_http->get(bare + "/git/ref/heads/main"),
                              m_http->post(bare + "/git/trees", {{"tree", QJsonArray{}}}),
                              m_http->post(bare + "/git/commits", {{"message", "m"}})}) {
            QCOMPARE(r.status, 409);
            QCOMPARE(r.message(), QString("Git Repository is empty."));
        }
        const HttpResult contents = m_http->get(bare + "/contents/README.md");
        QCOMPARE(contents.status, 404);
        QCOMPARE(contents.message(), QString("This repository is empty."));
    }

    void privateRepositoryIsInvisibleToOutsiders() {
        QVERIFY(m_emu->createRepoDirect("northwind", "secret"));
        QVERIFY(m_emu->createRepoDirect("northwind", "open", {.isPrivate = false}));
        const EmulatorHttp outsider = as("casey");
        QCOMPARE(outsider.get("/repos/northwind/secret").status, 404);
        QCOMPARE(outsider.get("/repos/northwind/secret/contents/README.md").status, 404);
        const HttpResult open = outsider.get("/repos/northwind/open");
        QCOMPARE(open.status, 200);
        QCOMPARE(open.object()["permissions"].toObject()["push"].toBool(), false);
        // Read access does not allow writing git data.
        QCOMPARE(outsider.post("/repos/northwind/open/git/blobs", {{"content", "x"}}).status, 403);
        QCOMPARE(m_http->get("/repos/northwind/secret/").status, 404); // trailing slash
    }

    void contentsAreWrappedBase64() {
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        const QByteArray text = QByteArray("* @avery the ownership file\n").repeated(40);
        m_emu->writeFileDirect("northwind", "ops", ".github/CODEOWNERS", text);
        const QString first = m_emu->mainHeadSha("northwind", "ops");
        m_emu->writeFileDirect("northwind", "ops", ".github/CODEOWNERS", "* @mallory\n");

        // ?ref= reads the older commit.
        const HttpResult r = m_http->get(p + "/contents/.github/CODEOWNERS?ref=" + first);
        const QJsonObject o = r.object();
        const QByteArray content = o["content"].toString().toLatin1();
        const QList<QByteArray> lines = content.split('\n');
        QVERIFY(content.endsWith('\n'));
        for (int i = 0; i < lines.size() - 2; ++i)
            QCOMPARE(lines.at(i).size(), 60);
        QCOMPARE(QByteArray::fromBase64(QByteArray(content).replace('\n', "")), text);
        QCOMPARE(o["encoding"].toString(), QString("base64"));
        QCOMPARE(o["size"].toInt(), text.size());
        // The sha is the blob's, which the git data API serves.
        QCOMPARE(m_http->get(p + "/git/blobs/" + o["sha"].toString()).status, 200);
        QCOMPARE(m_http->get(p + "/contents/.github/MISSING").status, 404);
        QCOMPARE(m_http->get(p + "/contents/.github").array().at(0)["name"].toString(),
                 QString("CODEOWNERS"));
    }

    void treesOverlayOrReplace() {
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        QVERIFY(!commitOnMain(*m_http, p, {blobEntry("d/a.md", "A")}).isEmpty());
        QCOMPARE(m_emu->filesOnMain("northwind", "ops"), QStringList({"README.md", "d/a.md"}));
        // sha null deletes; the emptied directory disappears.
        const QJsonObject remove{
            {"path", "d/a.md"}, {"mode", "100644"}, {"type", "blob"}, {"sha", QJsonValue::Null}};
        QVERIFY(!commitOnMain(*m_http, p, {remove}).isEmpty());
        QCOMPARE(m_emu->filesOnMain("northwind", "ops"), QStringList({"README.md"}));
        // Without base_tree the tree holds only the given entries.
        QVERIFY(!commitOnMain(*m_http, p, {blobEntry("only.md", "O")}, false).isEmpty());
        QCOMPARE(m_emu->filesOnMain("northwind", "ops"), QStringList({"only.md"}));
    }

    void treeValidation_data() {
        QTest::addColumn<QJsonObject>("entry");
        QTest::addColumn<QString>("message");
        const QJsonObject ok = blobEntry("a.md", "x");
        QJsonObject neither = ok;
        neither.remove("content");
        const auto with = [](QJsonObject entry, const char *key, const QJsonValue &value) {
            entry[key] = value;
            return entry;
        };
        QTest::newRow("sha and content")
            << with(ok, "sha", QString(40, 'a')) << "Request contained both";
        QTest::newRow("neither") << neither << "Must supply either";
        QTest::newRow("bad mode") << with(ok, "mode", "644") << "is not one of";
        QTest::newRow("dot-dot path")
            << with(ok, "path", "../etc/passwd") << "malformed path component";
        QTest::newRow("unknown sha")
            << with(neither, "sha", QString(40, '1')) << "is not a valid blob";
        QTest::newRow("delete missing")
            << with(with(neither, "sha", QJsonValue::Null), "path", "no/such.md")
            << "does not exist";
        QTest::newRow("commit as base_tree") << QJsonObject() << "base_tree is not a valid tree";
    }

    void treeValidation() {
        QFETCH(QJsonObject, entry);
        QFETCH(QString, message);
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        QJsonObject body{{"tree", QJsonArray{entry.isEmpty() ? blobEntry("a.md", "x") : entry}}};
        if (entry.isEmpty())
            body["base_tree"] = m_emu->mainHeadSha("northwind", "ops");
        const HttpResult r = m_http->post(p + "/git/trees", body);
        QCOMPARE(r.status, 422);
        QVERIFY2(r.message().contains(message), qPrintable(r.message()));
    }

    void refUpdates() {
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        const QString root = m_emu->mainHeadSha("northwind", "ops");
        const QString second = commitOnMain(*m_http, p, {blobEntry("a.md", "A")});
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
        QCOMPARE(r.message(), QString("Reference does not exist"));
        QCOMPARE(m_http->patch(p + "/git/refs/heads/main", {{"sha", QString(40, 'a')}}).status,
                 422);
        QCOMPARE(m_http->get(p + "/git/ref/heads/nothing").status, 404);
        QCOMPARE(m_http->get(p + "/git/commits/" + QString(40, 'a')).status, 404);
        r = m_http->post(p + "/git/commits", {{"message", "m"},
                                              {"tree", m_emu->mainTreeSha("northwind", "ops")},
                                              {"parents", QJsonArray{QString(40, 'b')}}});
        QCOMPARE(r.status, 422);
    }

    void protectedMainRefusesUpdates() {
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        QCOMPARE(m_http->put(p + "/branches/main/protection", protectionRules()).status, 200);
        const QString before = m_emu->mainHeadSha("northwind", "ops");
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
        QJsonObject lenient = protectionRules();
        lenient["enforce_admins"] = false;
        m_emu->setProtection("northwind", "ops", lenient);
        QCOMPARE(m_http->patch(p + "/git/refs/heads/main", {{"sha", c.object()["sha"]}}).status,
                 200);
    }

    void collaboratorsPaginate() {
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        for (int i = 0; i < 72; ++i)
            m_emu->addCollaborator("northwind", "ops", QString("user%1").arg(i), "write");
        const int total = 74; // avery (owner) and blake (member with read) on top
        QCOMPARE(m_http->get(p + "/collaborators").array().size(), 30); // default page size
        HttpResult r = m_http->get(p + "/collaborators?per_page=500");
        QCOMPARE(r.array().size(), total); // capped at 100, which holds them all
        QVERIFY(r.header("Link").isEmpty());

        // Follow rel="next" verbatim until it is gone.
        QUrl next = m_http->url(p + "/collaborators?per_page=20");
        QSet<QString> seen;
        int pages = 0;
        for (; !next.isEmpty() && pages < 10; ++pages) {
            r = EmulatorHttp::wait(m_http->start("GET", next));
            for (const auto &c : r.array())
                seen.insert(c.toObject()["login"].toString());
            next = QUrl();
            for (const QByteArray &part : r.header("Link").split(',')) {
                const QByteArray link = part.trimmed();
                if (link.endsWith("rel=\"next\""))
                    next = QUrl(QString::fromUtf8(link.mid(1, link.indexOf('>') - 1)));
                if (pages == 0 && link.endsWith("rel=\"last\""))
                    QVERIFY(
                        link.contains(QString("/repositories/%1/collaborators?per_page=20&page=4")
                                          .arg(*m_emu->repoId("northwind", "ops"))
                                          .toUtf8()));
            }
        }
        QCOMPARE(pages, 4);
        QCOMPARE(seen.size(), total);
    }

    void collaboratorPermissions() {
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        m_emu->addCollaborator("northwind", "ops", "casey", "triage");
        // login, role and the five permission flags from admin down to pull
        QStringList seen;
        for (const auto &c : m_http->get(p + "/collaborators").array()) {
            QString flags;
            for (const char *level : {"admin", "maintain", "push", "triage", "pull"})
                flags += c.toObject()["permissions"].toObject()[level].toBool() ? '1' : '0';
            seen << c.toObject()["login"].toString() + ' ' + c.toObject()["role_name"].toString() +
                        ' ' + flags;
        }
        QCOMPARE(seen,
                 QStringList({"avery admin 11111", "blake read 00001", "casey triage 00011"}));
        // Listing needs push access.
        QCOMPARE(as("blake").get(p + "/collaborators").status, 404);
    }

    void protectionLifecycle() {
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        const QString path = p + "/branches/main/protection";
        QCOMPARE(m_http->get(path).message(), QString("Branch not protected"));

        HttpResult r = m_http->put(path, protectionRules());
        QCOMPARE(r.status, 200);
        QCOMPARE(m_emu->protectionOf("northwind", "ops"), std::optional(protectionRules()));
        const QJsonObject shape = r.object();
        QVERIFY(shape["url"].toString().endsWith(path));
        QCOMPARE(shape["enforce_admins"]["enabled"].toBool(), true);
        QCOMPARE(shape["allow_force_pushes"]["enabled"].toBool(), false);
        QCOMPARE(shape["required_pull_request_reviews"]["require_code_owner_reviews"].toBool(),
                 true);
        QVERIFY(!shape.contains("required_status_checks") && !shape.contains("restrictions"));
        QCOMPARE(m_http->get(path).object(), shape);

        // Plain members may not read or change it.
        QCOMPARE(as("blake").get(path).status, 403);
        QCOMPARE(as("blake").del(path).status, 403);

        r = m_http->del(path);
        QCOMPARE(r.status, 204);
        QVERIFY(r.body.isEmpty());
        QVERIFY(!m_emu->protectionOf("northwind", "ops"));
        QCOMPARE(m_http->del(path).status, 404);
    }

    void protectionValidation_data() {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<QString>("message");
        const QJsonObject full{{"required_status_checks", QJsonValue::Null},
                               {"enforce_admins", QJsonValue::Null},
                               {"required_pull_request_reviews", QJsonValue::Null},
                               {"restrictions", QJsonValue::Null}};
        QJsonObject body = full;
        body.remove("enforce_admins");
        QTest::newRow("one missing")
            << body << "Invalid request.\n\n\"enforce_admins\" wasn't supplied.";
        body.remove("restrictions");
        QTest::newRow("two missing")
            << body << "Invalid request.\n\n\"enforce_admins\", \"restrictions\" weren't supplied.";
        body = full;
        body["required_pull_request_reviews"] = QJsonObject{{"required_approving_review_count", 7}};
        QTest::newRow("seven reviews") << body << "required_approving_review_count";
    }

    void protectionValidation() {
        QFETCH(QJsonObject, body);
        QFETCH(QString, message);
        QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
        const HttpResult r = m_http->put(p + "/branches/main/protection", body);
        QCOMPARE(r.status, 422);
        QVERIFY2(r.message().contains(message), qPrintable(r.message()));
        QVERIFY(!m_emu->protectionOf("northwind", "ops"));
    }

    void planRefusesPrivateProtection() {
        QVERIFY(m_emu->createRepoDirect("tinyshop", "ops"));
        QVERIFY(m_emu->createRepoDirect("tinyshop", "site", {.isPrivate = false}));
        const QString path = "/repos/tinyshop/ops/branches/main/protection";
        for (const auto &r : {m_http->put(path, protectionRules()), m_http->get(path)}) {
            QCOMPARE(r.status, 403);
            QCOMPARE(r.message(), QString("Upgrade to GitHub Team or make this repository public "
                                          "to enable this feature."));
        }
        QVERIFY(!m_emu->protectionOf("tinyshop", "ops"));
        QCOMPARE(
            m_http->put("/repos/tinyshop/site/branches/main/protection", protectionRules()).status,
            200);
    }
};

QTEST_GUILESS_MAIN(TestGitHubEmulator)
#include "TestGitHubEmulator.moc"
