// Objects written through the emulator carry the ids git itself computes.
#include "EmulatorHttp.h"
#include "GitHubEmulator.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestEmulatorGitIds : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void blobs_data();
    void blobs();
    void treesSortAsGitDoes();
    void commits();

private:
    QString git(const QStringList &args, const QByteArray &input = {},
                const QStringList &env = {}) {
        return runGit(m_dir.path(), args, input, env);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<GitHubEmulator> m_emu;
    std::unique_ptr<EmulatorHttp> m_http;
};

void TestEmulatorGitIds::initTestCase() {
    QVERIFY(m_dir.isValid());
    if (git({"--version"}).isEmpty())
        QSKIP("git is not installed");
    git({"init", "-q", "."});
    QVERIFY(QFile::exists(m_dir.filePath(".git/HEAD")));
}

void TestEmulatorGitIds::init() {
    m_emu = std::make_unique<GitHubEmulator>();
    QVERIFY(m_emu->start());
    m_emu->addOrg("northwind");
    m_emu->setMembership("northwind", "avery", "admin");
    QVERIFY(m_emu->createRepoDirect("northwind", "ops"));
    m_http = std::make_unique<EmulatorHttp>(m_emu->apiUrl());
    m_http->setToken(m_emu->issueToken("avery"));
}

void TestEmulatorGitIds::cleanup() {
    m_http.reset();
    m_emu.reset();
}

void TestEmulatorGitIds::blobs_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("hello\n");
    QTest::newRow("no final newline") << QByteArray("{}");
    QTest::newRow("utf-8") << QString("Governed — Änderung\n").toUtf8();
    QTest::newRow("binary") << QByteArray("\x00\x01\xff\x7f\r\n", 6);
}

void TestEmulatorGitIds::blobs() {
    QFETCH(QByteArray, content);
    const HttpResult r = m_http->post(
        "/repos/northwind/ops/git/blobs",
        {{"content", QString::fromLatin1(content.toBase64())}, {"encoding", "base64"}});
    QCOMPARE(r.status, 201);
    QCOMPARE(r.object()["sha"].toString(), git({"hash-object", "--stdin"}, content));
}

void TestEmulatorGitIds::treesSortAsGitDoes() {
    // git compares a directory as if its name ended in '/', and '-' < '.' <
    // '/', so it orders a-b, a.txt, a; a plain name sort would put a first.
    const QList<QPair<QString, QByteArray>> files = {{"a-b", "dash\n"},
                                                     {"a.txt", "dot\n"},
                                                     {"a/b.txt", "nested\n"},
                                                     {"a/c/deep.md", "deeper\n"},
                                                     {"Z.md", "capital\n"}};
    QJsonArray entries;
    for (const auto &f : files)
        entries.append(QJsonObject{{"path", f.first},
                                   {"mode", "100644"},
                                   {"type", "blob"},
                                   {"content", QString::fromUtf8(f.second)}});
    entries.append(QJsonObject{
        {"path", "run.sh"}, {"mode", "100755"}, {"type", "blob"}, {"content", "#!/bin/sh\n"}});
    const HttpResult r = m_http->post("/repos/northwind/ops/git/trees", {{"tree", entries}});
    QCOMPARE(r.status, 201);

    const auto blob = [&](const QByteArray &c) { return git({"hash-object", "-w", "--stdin"}, c); };
    const QString deep =
        git({"mktree"}, "100644 blob " + blob("deeper\n").toUtf8() + "\tdeep.md\n");
    const QString a = git({"mktree"}, "100644 blob " + blob("nested\n").toUtf8() + "\tb.txt\n" +
                                          "040000 tree " + deep.toUtf8() + "\tc\n");
    const QString root =
        git({"mktree"}, "100644 blob " + blob("dash\n").toUtf8() + "\ta-b\n" + "100644 blob " +
                            blob("dot\n").toUtf8() + "\ta.txt\n" + "040000 tree " + a.toUtf8() +
                            "\ta\n" + "100644 blob " + blob("capital\n").toUtf8() + "\tZ.md\n" +
                            "100755 blob " + blob("#!/bin/sh\n").toUtf8() + "\trun.sh\n");
    QVERIFY(!root.isEmpty());
    QCOMPARE(r.object()["sha"].toString(), root);

    // The listing comes in git's order too.
    QStringList names;
    for (const auto &e : r.object()["tree"].toArray())
        names << e.toObject()["path"].toString();
    QStringList gitNames = git({"ls-tree", "--name-only", root}).split('\n');
    QCOMPARE(names, gitNames);
    QCOMPARE(names, QStringList({"Z.md", "a-b", "a.txt", "a", "run.sh"}));
    QCOMPARE(r.object()["tree"].toArray().at(3).toObject()["mode"].toString(), QString("040000"));
    QCOMPARE(r.object()["tree"].toArray().at(4).toObject()["mode"].toString(), QString("100755"));
}

void TestEmulatorGitIds::commits() {
    // The initial commit, handed to git byte for byte, has the same id.
    const QString root = m_emu->mainHeadSha("northwind", "ops");
    const QByteArray rootRaw = m_emu->gitObject("northwind", "ops", root).value_or(QByteArray());
    const QString rootTree = m_emu->mainTreeSha("northwind", "ops");
    QCOMPARE(git({"hash-object", "-w", "-t", "blob", "--stdin"}, "# ops\n"),
             m_http->get("/repos/northwind/ops/contents/README.md").object()["sha"].toString());
    QCOMPARE(git({"mktree"}, "100644 blob " +
                                 git({"hash-object", "-w", "--stdin"}, "# ops\n").toUtf8() +
                                 "\tREADME.md\n"),
             rootTree);
    QCOMPARE(git({"hash-object", "-w", "-t", "commit", "--stdin"}, rootRaw), root);

    const QString message = "Governance files\n\nOne commit for the whole set.\n";
    const HttpResult r =
        m_http->post("/repos/northwind/ops/git/commits",
                     {{"message", message},
                      {"tree", rootTree},
                      {"parents", QJsonArray{root}},
                      {"author", QJsonObject{{"name", "Avery Admin"},
                                             {"email", "avery@example.com"},
                                             {"date", "2024-05-01T12:00:00+02:00"}}},
                      {"committer", QJsonObject{{"name", "GitHub"},
                                                {"email", "noreply@github.com"},
                                                {"date", "2024-05-01T10:30:00Z"}}}});
    QCOMPARE(r.status, 201);
    const QString expected =
        git({"commit-tree", rootTree, "-p", root}, message.toUtf8(),
            {"GIT_AUTHOR_NAME=Avery Admin", "GIT_AUTHOR_EMAIL=avery@example.com",
             "GIT_AUTHOR_DATE=@1714557600 +0200", "GIT_COMMITTER_NAME=GitHub",
             "GIT_COMMITTER_EMAIL=noreply@github.com", "GIT_COMMITTER_DATE=@1714559400 +0000"});
    QVERIFY(!expected.isEmpty());
    QCOMPARE(r.object()["sha"].toString(), expected);
    QCOMPARE(r.object()["author"].toObject()["date"].toString(), QString("2024-05-01T10:00:00Z"));
    QCOMPARE(r.object()["parents"].toArray().at(0).toObject()["sha"].toString(), root);
    QCOMPARE(r.object()["verification"].toObject()["reason"].toString(), QString("unsigned"));
}

QTEST_GUILESS_MAIN(TestEmulatorGitIds)
#include "TestEmulatorGitIds.moc"
