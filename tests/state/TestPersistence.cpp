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
    state.gitHubUsername = QStringLiteral("octo");
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
        // Pretty-printed: one key per line.
        QCOMPARE(full.count('\n'), order.size() + 2);
        QVERIFY(full.contains("\"orgId\": 9007199254740993"));

        const QByteArray minimal = PersistedState{}.encode();
        const QJsonObject object = QJsonDocument::fromJson(minimal).object();
        QCOMPARE(object.keys(), (QStringList{"gitHubConnected", "gitHubUsername", "isSetupMode",
                                             "orgIsAdmin", "repoName", "setupComplete"}));
        QVERIFY(!minimal.contains("null"));
        QCOMPARE(object.value("orgIsAdmin"), QJsonValue(false));
        QCOMPARE(object.value("gitHubUsername"), QJsonValue(QString()));
    }

    void roundTrip_data() {
        QTest::addColumn<PersistedState>("state");
        QTest::newRow("defaults") << PersistedState{};
        QTest::newRow("full") << fullRecord();
        PersistedState odd = fullRecord();
        odd.gitHubUsername = QString::fromUtf8("Zoë-日本 \"quoted\"\n");
        odd.orgId = -1;
        odd.setupRole.reset();
        QTest::newRow("non-ASCII, negative id, no role") << odd;
        PersistedState orgOnlyLogin;
        orgOnlyLogin.orgLogin = QStringLiteral("acme");
        QTest::newRow("login without id") << orgOnlyLogin;
    }

    void roundTrip() {
        QFETCH(PersistedState, state);
        const auto decoded = PersistedState::decode(state.encode());
        QVERIFY(decoded);
        QCOMPARE(*decoded == state, true);
    }

    void decodeRules_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        QTest::newRow("valid, any whitespace") << QByteArray(validBase + "\n\t}") << true;
        QTest::newRow("unknown key") << QByteArray(validBase + R"(,"theme":"dark"})") << true;
        QTest::newRow("setupRole null") << QByteArray(validBase + R"(,"setupRole":null})") << true;
        QTest::newRow("orgId null") << QByteArray(validBase + R"(,"orgId":null})") << true;
        QTest::newRow("unknown role text is still text")
            << QByteArray(validBase + R"(,"setupRole":"admin"})") << true;
        QTest::newRow("orgIsAdmin null")
            << QByteArray(
                   R"({"setupComplete":true,"gitHubUsername":"octo","repoName":"ops","isSetupMode":false,"gitHubConnected":true,"orgIsAdmin":null})")
            << false;
        QTest::newRow("orgIsAdmin missing")
            << QByteArray(
                   R"({"setupComplete":true,"gitHubUsername":"octo","repoName":"ops","isSetupMode":false,"gitHubConnected":true})")
            << false;
        QTest::newRow("repoName missing")
            << QByteArray(
                   R"({"setupComplete":true,"gitHubUsername":"octo","isSetupMode":false,"gitHubConnected":true,"orgIsAdmin":false})")
            << false;
        QTest::newRow("bool as text")
            << QByteArray(
                   R"({"setupComplete":"true","gitHubUsername":"octo","repoName":"ops","isSetupMode":false,"gitHubConnected":true,"orgIsAdmin":false})")
            << false;
        QTest::newRow("bool as number")
            << QByteArray(
                   R"({"setupComplete":1,"gitHubUsername":"octo","repoName":"ops","isSetupMode":false,"gitHubConnected":true,"orgIsAdmin":false})")
            << false;
        QTest::newRow("text as number")
            << QByteArray(
                   R"({"setupComplete":true,"gitHubUsername":7,"repoName":"ops","isSetupMode":false,"gitHubConnected":true,"orgIsAdmin":false})")
            << false;
        QTest::newRow("orgId as text") << QByteArray(validBase + R"(,"orgId":"12"})") << false;
        QTest::newRow("orgId fraction") << QByteArray(validBase + R"(,"orgId":1.5})") << false;
        QTest::newRow("setupRole number") << QByteArray(validBase + R"(,"setupRole":3})") << false;
        QTest::newRow("orgLogin bool") << QByteArray(validBase + R"(,"orgLogin":true})") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("not JSON") << QByteArray("setupComplete=true") << false;
        QTest::newRow("truncated") << QByteArray(validBase) << false;
        QTest::newRow("array") << QByteArray("[]") << false;
        QTest::newRow("invalid UTF-8")
            << QByteArray(validBase + ",\"orgLogin\":\"\xff\"}") << false;
    }

    void decodeRules() {
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        QCOMPARE(PersistedState::decode(json).has_value(), ok);
    }

    void serviceLoadsDefaultsForMissingOrBrokenFile() {
        QTemporaryDir dir;
        PersistenceService service(dir.path() + "/io.keelmark.app");
        QVERIFY(QDir(service.directory()).exists());
        QCOMPARE(service.filePath(), dir.path() + "/io.keelmark.app/state.json");
        QCOMPARE(service.load() == PersistedState{}, true);

        writeFile(service.filePath(), R"({"setupComplete":true,"gitHubUsername":"octo"})");
        QCOMPARE(service.load() == PersistedState{}, true);
        // The broken file stays until the next save replaces it.
        QVERIFY(QFile::exists(service.filePath()));

        QVERIFY(service.save(fullRecord()));
        QCOMPARE(service.load() == fullRecord(), true);
    }

    void unknownKeyIsDroppedOnNextSave() {
        QTemporaryDir dir;
        PersistenceService service(dir.path());
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
        const bool saved2 = service.save(big);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!saved2);
        QCOMPARE(readAll(service.filePath()), before);
        // No temporary file left behind beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"state.json"});
    }

    void unusableDirectoryIsSilent() {
        QTemporaryDir dir;
        writeFile(dir.path() + "/blocker", "not a directory");
        PersistenceService service(dir.path() + "/blocker/io.keelmark.app");
        QCOMPARE(service.load() == PersistedState{}, true);
        QVERIFY(!service.save(fullRecord()));
    }

    void defaultDirectoryIsPerUserDataLocation() {
        const QString directory = PersistenceService::defaultDirectory();
        QVERIFY(directory.endsWith("/io.keelmark.app"));
#if defined(Q_OS_LINUX)
        // Test mode points Qt at a throw-away location; the layout is what matters.
        QCOMPARE(directory,
                 QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation).first() +
                     "/io.keelmark.app");
#endif
    }
};

QTEST_GUILESS_MAIN(TestPersistence)
#include "TestPersistence.moc"
