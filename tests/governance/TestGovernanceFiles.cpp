#include "GovernanceFiles.h"

#include <QCryptographicHash>
#include <QTest>

// The committed texts are checked against digests taken from the reference
// texts, so a stray space or a lost em dash fails here before it reaches a
// repository.
class TestGovernanceFiles : public QObject {
    Q_OBJECT

private:
    static QByteArray sha256(const QString &text) {
        return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex();
    }

private slots:
    void pathsInCommitOrder() {
        const QList<FileEntry> files =
            GovernanceFiles::compose(QStringLiteral("alice"), QStringLiteral("acme"));
        QStringList paths;
        for (const FileEntry &file : files)
            paths << file.path;
        QCOMPARE(paths, (QStringList{
                            ".github/CODEOWNERS",
                            "CLAUDE.md",
                            ".claude/settings.json",
                            ".mcp.json",
                            ".claude/agents/account-manager.md",
                            ".claude/agents/tech-lead.md",
                            ".claude/agents/delivery-pm.md",
                            ".claude/agents/proposal-writer.md",
                            "memory/learnings.md",
                            "memory/proposals/.gitkeep",
                            "docs/.gitkeep",
                            "client-work/.gitkeep",
                        }));
    }

    void fixedFiles_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("settings.json")
            << 2 << 123
            << QByteArray("ef0165284dc55a507e9a0d1192e67cc9a1003ecda45dbf5b481ac1c1caf2c7d4");
        QTest::newRow(".mcp.json")
            << 3 << 22
            << QByteArray("38935ac9bd01a9a91be32d16fc131d8b9d46fbcede88855e85c01f31c7347615");
        QTest::newRow("account-manager")
            << 4 << 346
            << QByteArray("156512ce3fc058d0bd0278edd22eca3a7b942f016ebb67ba373d552a8422f092");
        QTest::newRow("tech-lead")
            << 5 << 331
            << QByteArray("f8da9ebcc017b0bc2fb068247404a9dd0783cdcb029cfb485666ca93d6fabb25");
        QTest::newRow("delivery-pm")
            << 6 << 303
            << QByteArray("b9568a3057e56d4fdf9dd3cf6833b8b719a52563ffcc0d60723587b446b07bd6");
        QTest::newRow("proposal-writer")
            << 7 << 343
            << QByteArray("e78bbc03eb7272933edb0ce44e71d033de1923a5c09ad1482a707246ac5310c7");
        QTest::newRow("learnings")
            << 8 << 46
            << QByteArray("bed57c739ba18c350aec8d71f109b392a676ef4f09bf5c4c9c79bf97568611a0");
        QTest::newRow("proposals/.gitkeep") << 9 << 0 << QByteArray();
        QTest::newRow("docs/.gitkeep") << 10 << 0 << QByteArray();
        QTest::newRow("client-work/.gitkeep") << 11 << 0 << QByteArray();
    }

    void fixedFiles() {
        QFETCH(int, index);
        QFETCH(int, bytes);
        QFETCH(QByteArray, digest);
        // The owner and organisation must not leak into the fixed files.
        const QString content =
            GovernanceFiles::compose(QStringLiteral("zed"), QStringLiteral("org"))
                .at(index)
                .content;
        QCOMPARE(content.toUtf8().size(), bytes);
        if (!digest.isEmpty())
            QCOMPARE(sha256(content), digest);
        // Only the learnings stub ends with a line feed.
        if (bytes > 0)
            QCOMPARE(content.endsWith(u'\n'), index == 8);
    }

    void composedFiles_data() {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QString>("org");
        QTest::addColumn<QByteArray>("codeownersDigest");
        QTest::addColumn<QByteArray>("instructionsDigest");
        QTest::newRow("plain")
            << "alice"
            << "alice"
            << QByteArray("6c071921c9cc1f4c5a21336d6623f5b4188dcd9da1efe34ee566c4c1cdf420c2")
            << QByteArray("fe6b9b95a4f8c26c0f7f31067889cd8aec5f4ca15eb1a90e7ccfa70ead2bea5c");
        QTest::newRow("empty")
            << ""
            << "" << QByteArray("eebaf3b5ce9f5df002b1db2ae6eff62e5b5a8dfaa5cce9443cf98fd8283879c7")
            << QByteArray("46362e6a119a4009941fe7550643146584603a9f07723a8539d43b6a85775f37");
        QTest::newRow("non-ASCII")
            << QString::fromUtf8("Zoë") << QString::fromUtf8("Zoë")
            << QByteArray("297a5bb87c8cd847d5c2973668bad99a11244438db330555baba78fbcb28504a")
            << QByteArray("62c09f0f348f9f97be0d3567944385b64a635eff1df12a9732ed1cee125dba99");
        // Values that look like template markers or format arguments are
        // inserted verbatim.
        QTest::newRow("markers") << "%1"
                                 << "{org}" << QByteArray() << QByteArray();
        QTest::newRow("long") << QString(39, u'x') << QString::fromUtf8("株式会社-ø")
                              << QByteArray() << QByteArray();
    }

    void composedFiles() {
        QFETCH(QString, owner);
        QFETCH(QString, org);
        QFETCH(QByteArray, codeownersDigest);
        QFETCH(QByteArray, instructionsDigest);
        const QList<FileEntry> files = GovernanceFiles::compose(owner, org);
        QCOMPARE(files.size(), 12);
        const QString codeowners = files.at(0).content;
        const QString instructions = files.at(1).content;

        const qsizetype ownerBytes = owner.toUtf8().size();
        const qsizetype orgBytes = org.toUtf8().size();
        QCOMPARE(codeowners.toUtf8().size(), 252 + 7 * ownerBytes);
        QCOMPARE(instructions.toUtf8().size(), 766 + 2 * orgBytes);
        if (!codeownersDigest.isEmpty())
            QCOMPARE(sha256(codeowners), codeownersDigest);
        if (!instructionsDigest.isEmpty())
            QCOMPARE(sha256(instructions), instructionsDigest);

        const QStringList lines = codeowners.split(u'\n');
        QCOMPARE(lines.size(), 10);
        QCOMPARE(lines.at(0), QString::fromUtf8("# KeelMark governance — do not edit manually"));
        QCOMPARE(lines.at(2), QString());
        for (int i = 3; i < 10; ++i) {
            QVERIFY2(lines.at(i).endsWith(u'@' + owner), qPrintable(lines.at(i)));
            // Column 21 for every path but the one that fills its field.
            QCOMPARE(lines.at(i).indexOf(u'@'), i == 8 ? 21 : 20);
        }
        QCOMPARE(lines.at(8), QStringLiteral("/memory/learnings.md @") + owner);

        const QStringList instructionLines = instructions.split(u'\n');
        QCOMPARE(instructionLines.size(), 20);
        QCOMPARE(instructionLines.at(0),
                 QStringLiteral("# ") + org + QString::fromUtf8(" — AI Operations"));
        QCOMPARE(instructionLines.at(3),
                 QStringLiteral("You are an AI assistant working for ") + org +
                     QStringLiteral(". Follow these operating instructions in every session."));
    }

    void changedOwnerLeavesNothingOfTheOld() {
        const QString before =
            GovernanceFiles::compose(QStringLiteral("old-owner"), QStringLiteral("acme"))
                .at(0)
                .content;
        const QString after =
            GovernanceFiles::compose(QStringLiteral("new"), QStringLiteral("acme")).at(0).content;
        QCOMPARE(before.count(QStringLiteral("@old-owner")), 7);
        QVERIFY(!after.contains(QStringLiteral("old-owner")));
        QCOMPARE(after.count(QStringLiteral("@new")), 7);
    }
};

QTEST_APPLESS_MAIN(TestGovernanceFiles)
#include "TestGovernanceFiles.moc"
