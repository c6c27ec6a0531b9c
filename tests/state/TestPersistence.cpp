#include "PersistedState.h"
#include "PersistenceService.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(PersistedState)

namespace {

PersistedState fullRecord() {
    PersistedState state;
    state.setupComplete = true;
    state.gitHubUsername = QString::fromUtf8("Zoë-日本 \"quoted\"\n");
    state.repoName = QStringLiteral("ops");
    state.isSetupMode = true;
    state.gitHubConnected = true;
    state.setupRole = QStringLiteral("forSomeoneElse");
    state.orgId = 9007199254740993LL; // not representable as a double
    state.orgLogin = QStringLiteral("acme");
    state.orgIsAdmin = true;
    return state;
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

const QByteArray validBase = R"({"setupComplete":true,"gitHubUsername":"octo","repoName":"ops",
    "isSetupMode":false,"gitHubConnected":true,"orgIsAdmin":false)";

} // namespace

class TestPersistence : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void encodesSortedKeysAndOmitsAbsentOptionals() {
        const QByteArray full = fullRecord().encode();
        const QStringList order{"gitHubConnected", "gitHubUsername", "isSetupMode",
                                "orgId",           "orgIsAdmin",     "orgLogin",
                                "repoName",        "setupComplete",  "setupRole"};
        qsizetype last = -1;
        for (const QString &key : order) {
            const qsizetype at = full.indexOf('"' + key.toUtf8() + "\":");
            QVERIFY2(at > last, qPrintable(key));
            last = at;
        }
        QCOMPARE(full.count('\n'), order.size() + 2); // pretty-printed, one key a line
        QVERIFY(full.contains("\n    \"orgId\": 9007199254740993,\n"));

        const QByteArray minimal = PersistedState{}.encode();
        QCOMPARE(QJsonDocument::fromJson(minimal).object().keys(),
                 (QStringList{"gitHubConnected", "gitHubUsername", "isSetupMode", "orgIsAdmin",
                              "repoName", "setupComplete"}));
        QVERIFY(!minimal.contains("null"));
    }

    void roundTrip_data() {
        QTest::addColumn<PersistedState>("state");
        QTest::newRow("defaults") << PersistedState{};
        QTest::newRow("full, non-ASCII") << fullRecord();
        PersistedState odd;
        odd.orgId = -1;
        QTest::newRow("id without login, negative") << odd;
    }

    void roundTrip() {
        QFETCH(PersistedState, state);
        const auto decoded = PersistedState::decode(state.encode());
        QVERIFY(decoded);
        QVERIFY(*decoded == state);
    }

    void decodeRules_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        // validBase + one more key: the optionals and the type rules.
        const auto with = [](const char *name, const char *extra, bool ok) {
            QTest::newRow(name) << QByteArray(validBase + extra + "}") << ok;
        };
        with("valid, any whitespace", "\n\t", true);
        with("unknown key", R"(,"theme":"dark")", true);
        with("setupRole null", R"(,"setupRole":null)", true);
        with("orgId null", R"(,"orgId":null)", true);
        with("unknown role text is still text", R"(,"setupRole":"admin")", true);
        with("orgId as text", R"(,"orgId":"12")", false);
        with("orgId fraction", R"(,"orgId":1.5)", false);
        with("orgId too large", R"(,"orgId":1e300)", false);
        with("orgId at the 64-bit limit", R"(,"orgId":9223372036854775807)", true);
        with("setupRole number", R"(,"setupRole":3)", false);
        with("orgLogin bool", R"(,"orgLogin":true)", false);
        with("invalid UTF-8", ",\"orgLogin\":\"\xff\"", false);
        // The required keys: missing, null or of the wrong type.
        const auto without = [](const char *name, QByteArray from, QByteArray to) {
            QTest::newRow(name) << QByteArray(validBase + "}").replace(from, to) << false;
        };
        without("orgIsAdmin null", "\"orgIsAdmin\":false", "\"orgIsAdmin\":null");
        without("repoName missing", "\"repoName\":\"ops\",", "");
        without("bool as text", "\"setupComplete\":true", "\"setupComplete\":\"true\"");
        without("bool as number", "\"setupComplete\":true", "\"setupComplete\":1");
        without("text as number", "\"gitHubUsername\":\"octo\"", "\"gitHubUsername\":7");
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("not JSON") << QByteArray("setupComplete=true") << false;
        QTest::newRow("truncated") << validBase << false;
        QTest::newRow("array") << QByteArray("[]") << false;
    }

    void decodeRules() {
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        QCOMPARE(PersistedState::decode(json).has_value(), ok);
    }

    void serviceLoadsDefaultsAndDropsUnknownKeys() {
        QTemporaryDir dir;
        PersistenceService service(dir.path() + "/io.keelmark.app");
        QCOMPARE(service.filePath(), dir.path() + "/io.keelmark.app/state.json");
        QVERIFY(service.load() == PersistedState{});

        // All or nothing: a file missing a required key gives the defaults.
        writeFile(service.filePath(), R"({"setupComplete":true,"gitHubUsername":"octo"})");
        QVERIFY(service.load() == PersistedState{});

        writeFile(service.filePath(), validBase + R"(,"theme":"dark"})");
        const PersistedState loaded = service.load();
        QCOMPARE(loaded.gitHubUsername, QStringLiteral("octo"));
        QVERIFY(service.save(loaded));
        QVERIFY(!readAll(service.filePath()).contains("theme"));
    }

    void failedWriteLeavesPreviousFile() {
        QTemporaryDir dir;
        PersistenceService service(dir.path());
        QVERIFY(service.save(fullRecord()));
        const QByteArray before = readAll(service.filePath());

        // A file-size limit makes the write fail even for root, the way a
        // full disk would.
        PersistedState big = fullRecord();
        big.repoName = QString(64 * 1024, QLatin1Char('x'));
        struct rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto *previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = saved;
        limited.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const bool bigSaved = service.save(big);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!bigSaved);
        QCOMPARE(readAll(service.filePath()), before);
        // No temporary file left behind beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"state.json"});
    }

    void unusableDirectoryIsSilent() {
        QTemporaryDir dir;
        writeFile(dir.path() + "/blocker", "not a directory");
        PersistenceService service(dir.path() + "/blocker/io.keelmark.app");
        QVERIFY(service.load() == PersistedState{});
        QVERIFY(!service.save(fullRecord()));
    }

    void defaultDirectoryIsPerUserDataLocation() {
        // Test mode points Qt at a throw-away location; the layout is what matters.
        QCOMPARE(PersistenceService::defaultDirectory(),
                 QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation).first() +
                     "/io.keelmark.app");
    }
};

QTEST_GUILESS_MAIN(TestPersistence)
#include "TestPersistence.moc"
