// Objects written through the emulator carry the ids git itself computes.
#include "EmulatorHttp.h"
#include "GitHubEmulator.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestEmulatorGitIds : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<GitHubEmulator> m_emu;
    std::unique_ptr<EmulatorHttp> m_http;

    // git's trimmed output, or an empty text when git is missing or fails.
    QString git(const QStringList &args, const QByteArray &input = {},
                const QStringList &env = {}) const {
        QProcess git;
        git.setWorkingDirectory(m_dir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &setting : env)
            environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
        git.setProcessEnvironment(environment);
        git.start("git", args);
        git.write(input);
        git.closeWriteChannel();
        if (!git.waitForFinished(30000) || git.exitCode() != 0)
            return {};
        return QString::fromUtf8(git.readAllStandardOutput()).trimmed();
    }
    QByteArray blob(const QByteArray &content) const {
        return git({"hash-object", "-w", "--stdin"}, content).toUtf8();
    }

private slots:
    void initTestCase() {
        if (git({"--version"}).isEmpty())
            QSKIP("git is not installed");
        git({"init", "-q", "."});
    }

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

    void blobs_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x00\x01\xff\x7f\r\n", 6);
    }

    void blobs() {
        QFETCH(QByteArray, content);
        const HttpResult r = m_http->post(
            "/repos/northwind/ops/git/blobs",
            {{"content", QString::fromLatin1(content.toBase64())}, {"encoding", "base64"}});
        QCOMPARE(r.status, 201);
        QCOMPARE(r.object()["sha"].toString(), git({"hash-object", "--stdin"}, content));
    }

    void treesSortAsGitDoes() {
        // git compares a directory as if its name ended in '/', and '-' < '.' <
        // '/', so it orders a-b, a.txt, a; a plain name sort would put a first.
        QJsonArray entries{blobEntry("a-b", "dash\n"), blobEntry("a.txt", "dot\n"),
                           blobEntry("a/b.txt", "nested\n"), blobEntry("a/c/deep.md", "deeper\n"),
                           blobEntry("Z.md", "capital\n")};
        QJsonObject script = blobEntry("run.sh", "#!/bin/sh\n");
        script["mode"] = "100755";
        entries.append(script);
        const HttpResult r = m_http->post("/repos/northwind/ops/git/trees", {{"tree", entries}});
        QCOMPARE(r.status, 201);

        const QByteArray deep =
            git({"mktree"}, "100644 blob " + blob("deeper\n") + "\tdeep.md\n").toUtf8();
        const QByteArray a = git({"mktree"}, "100644 blob " + blob("nested\n") + "\tb.txt\n" +
                                                 "040000 tree " + deep + "\tc\n")
                                 .toUtf8();
        const QString root = git(
            {"mktree"}, "100644 blob " + blob("dash\n") + "\ta-b\n100644 blob " + blob("dot\n") +
                            "\ta.txt\n040000 tree " + a + "\ta\n100644 blob " + blob("capital\n") +
                            "\tZ.md\n100755 blob " + blob("#!/bin/sh\n") + "\trun.sh\n");
        QVERIFY(!root.isEmpty());
        QCOMPARE(r.object()["sha"].toString(), root);
        // The listing comes in git's order too.
        QStringList names;
        for (const auto &e : r.object()["tree"].toArray())
            names << e.toObject()["path"].toString() + ' ' + e.toObject()["mode"].toString();
        QCOMPARE(names, QStringList({"Z.md 100644", "a-b 100644", "a.txt 100644", "a 040000",
                                     "run.sh 100755"}));
    }

    void commits() {
        // The initial commit, handed to git byte for byte, has the same id.
        const QString root = m_emu->mainHeadSha("northwind", "ops");
        const QString rootTree = m_emu->mainTreeSha("northwind", "ops");
        QCOMPARE(git({"mktree"}, "100644 blob " + blob("# ops\n") + "\tREADME.md\n"), rootTree);
        QCOMPARE(git({"hash-object", "-w", "-t", "commit", "--stdin"},
                     m_emu->gitObject("northwind", "ops", root).value_or(QByteArray())),
                 root);

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
    }
};

QTEST_GUILESS_MAIN(TestEmulatorGitIds)
#include "TestEmulatorGitIds.moc"
