#include "GovernanceFiles.h"

#include <QCryptographicHash>
#include <QTest>

// The committed set is checked against digests of the reference texts, so a
// stray space or a lost em dash fails here before it reaches a repository;
// the size formulas cross-check where the owner and organisation go.
class TestGovernanceFiles : public QObject {
    Q_OBJECT

private slots:
    void fileSet_data() {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QString>("org");
        QTest::addColumn<QByteArray>("digest"); // of every path and content, in order
        // Values that look like template markers or format arguments go
        // in verbatim.
        const struct {
            const char *name, *owner, *org, *digest;
        } rows[] = {
            // clang-format off
            {"plain", "alice", "acme", "65314beb8f65441ebd96ee048e7d3cf09f352d8cc4f730f2916a0ab73bc2c9d7"},
            {"empty", "", "", "188f788a6830bfa5526f785e33cd48e112b513de251b4b54282a71ee9212b726"},
            {"non-ASCII", "Zoë", "株式会社-ø", "48d1ede4218c2f3b586ed73e14578cdb251418aaab85577ff64fd29dfe8597d9"},
            {"markers", "%1", "{org}", "06fc5ac3e893c177c92f8317eacdd7cf057552a1bc6982875532577e35fe84f4"},
            // clang-format on
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << row.owner << row.org << QByteArray(row.digest);
    }

    void fileSet() {
        QFETCH(QString, owner);
        QFETCH(QString, org);
        QFETCH(QByteArray, digest);
        const QList<FileEntry> files = GovernanceFiles::compose(owner, org);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (const FileEntry &file : files)
            hash.addData(file.path.toUtf8() + '\0' + file.content.toUtf8() + '\0');
        QCOMPARE(files.size(), 12);
        QCOMPARE(files[0].content.toUtf8().size(), 252 + 7 * owner.toUtf8().size());
        QCOMPARE(files[1].content.toUtf8().size(), 766 + 2 * org.toUtf8().size());
        QCOMPARE(hash.result().toHex(), digest);
    }
};

QTEST_APPLESS_MAIN(TestGovernanceFiles)
#include "TestGovernanceFiles.moc"
