#include "AppState.h"
#include "PersistenceService.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace {

const QByteArray fullFile = R"({
    "gitHubConnected": true, "gitHubUsername": "octo", "isSetupMode": true,
    "orgId": 42, "orgIsAdmin": true, "orgLogin": "acme", "repoName": "ops",
    "setupComplete": true, "setupRole": "forMyself", "extra": 1
})";

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject readObject(const QString &path) {
    return QJsonDocument::fromJson(readAll(path)).object();
}

} // namespace

class TestAppState : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PersistenceService> m_persistence;

    void writeState(const QByteArray &bytes) {
        QFile file(m_persistence->filePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_persistence = std::make_unique<PersistenceService>(m_dir->path() + "/io.keelmark.app");
    }

    void firstStartHasDefaultsAndWritesNothing() {
        AppState state(m_persistence.get());
        QCOMPARE(state.setupComplete(), false);
        QCOMPARE(state.gitHubUsername(), QString());
        QCOMPARE(state.setupRole(), std::nullopt);
        QVERIFY(!state.selectedOrg());
        QCOMPARE(state.currentSetupStep(), SetupStep::welcome);
        QCOMPARE(state.machineStatus(), MachineStatusState::setupMode);
        QCOMPARE(state.statusLabel(), QStringLiteral("Setup incomplete"));
        QCOMPARE(state.statusColor(), statusColor(MachineStatusState::setupMode));
        QVERIFY(!state.lastHeartbeat());
        QVERIFY(!QFile::exists(m_persistence->filePath()));

        const QString log = QString::fromUtf8(readAll(m_persistence->directory() + "/debug.log"));
        const QRegularExpression line(
            "^AppState\\.init\\(0x[0-9a-f]+\\): loaded setupComplete=false, org=nil, repo=\\n$");
        QVERIFY2(line.match(log).hasMatch(), qPrintable(log));
        QVERIFY(log.contains(QString::number(quintptr(&state), 16)));
    }

    void loadsEveryPersistedField() {
        writeState(fullFile);
        const QByteArray before = readAll(m_persistence->filePath());
        AppState state(m_persistence.get());
        QCOMPARE(state.setupComplete(), true);
        QCOMPARE(state.gitHubUsername(), QStringLiteral("octo"));
        QCOMPARE(state.repoName(), QStringLiteral("ops"));
        QCOMPARE(state.isSetupMode(), true);
        QCOMPARE(state.gitHubConnected(), true);
        QCOMPARE(state.setupRole(), SetupRole::forMyself);
        QVERIFY(state.selectedOrg());
        QCOMPARE(state.selectedOrg()->id, 42);
        QCOMPARE(state.selectedOrg()->login, QStringLiteral("acme"));
        QCOMPARE(state.selectedOrg()->isAdmin, true);
        QCOMPARE(state.currentSetupStep(), SetupStep::complete);
        // Never read from the file: waits for the first health check.
        QCOMPARE(state.machineStatus(), MachineStatusState::setupMode);
        // Construction applied seven fields through the setters but wrote nothing.
        QCOMPARE(readAll(m_persistence->filePath()), before);
        QVERIFY(readAll(m_persistence->directory() + "/debug.log")
                    .endsWith("loaded setupComplete=true, org=acme, repo=ops\n"));

        // The first write afterwards writes all seven fields at once.
        state.setIsSetupMode(false);
        const QJsonObject saved = readObject(m_persistence->filePath());
        QCOMPARE(saved.keys(),
                 (QStringList{"gitHubConnected", "gitHubUsername", "isSetupMode", "orgId",
                              "orgIsAdmin", "orgLogin", "repoName", "setupComplete", "setupRole"}));
        QCOMPARE(saved.value("isSetupMode"), QJsonValue(false));
        QCOMPARE(saved.value("orgId").toInteger(), 42);
        QCOMPARE(saved.value("setupRole"), QJsonValue("forMyself"));
    }

    void brokenOrPartialFiles_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("setupComplete");
        QTest::addColumn<bool>("hasRole");
        QTest::addColumn<bool>("hasOrg");
        QTest::newRow("not JSON") << QByteArray("{oops") << false << false << false;
        QTest::newRow("required key missing")
            << QByteArray(
                   R"({"setupComplete":true,"gitHubUsername":"octo","isSetupMode":true,"gitHubConnected":true,"orgIsAdmin":true})")
            << false << false << false;
        QTest::newRow("unknown role")
            << QByteArray(
                   R"({"setupComplete":true,"gitHubUsername":"octo","repoName":"ops","isSetupMode":true,"gitHubConnected":true,"orgIsAdmin":true,"setupRole":"boss","orgId":1,"orgLogin":"acme"})")
            << true << false << true;
        QTest::newRow("login without id")
            << QByteArray(
                   R"({"setupComplete":true,"gitHubUsername":"octo","repoName":"ops","isSetupMode":true,"gitHubConnected":true,"orgIsAdmin":true,"setupRole":"forMyself","orgLogin":"acme"})")
            << true << true << false;
        QTest::newRow("id without login")
            << QByteArray(
                   R"({"setupComplete":true,"gitHubUsername":"octo","repoName":"ops","isSetupMode":true,"gitHubConnected":true,"orgIsAdmin":true,"setupRole":"forMyself","orgId":1})")
            << true << true << false;
    }

    void brokenOrPartialFiles() {
        QFETCH(QByteArray, file);
        QFETCH(bool, setupComplete);
        QFETCH(bool, hasRole);
        QFETCH(bool, hasOrg);
        writeState(file);
        AppState state(m_persistence.get());
        QCOMPARE(state.setupComplete(), setupComplete);
        QCOMPARE(state.setupRole().has_value(), hasRole);
        QCOMPARE(state.selectedOrg().has_value(), hasOrg);
        if (!setupComplete) {
            // All or nothing: not even the keys that were fine are kept.
            QCOMPARE(state.gitHubUsername(), QString());
            QCOMPARE(state.isSetupMode(), false);
        }

        state.setRepoName(QStringLiteral("ops"));
        const QJsonObject saved = readObject(m_persistence->filePath());
        QCOMPARE(saved.contains("setupRole"), hasRole);
        QCOMPARE(saved.contains("orgId"), hasOrg);
        QCOMPARE(saved.contains("orgLogin"), hasOrg);
        if (!hasOrg)
            QCOMPARE(saved.value("orgIsAdmin"), QJsonValue(false));
    }

    void everyPersistedWriteSavesEvenWhenEqual() {
        AppState state(m_persistence.get());
        const QString path = m_persistence->filePath();
        const std::vector<std::function<void()>> writes{
            [&] { state.setSetupComplete(false); },
            [&] { state.setGitHubUsername(QString()); },
            [&] { state.setRepoName(QString()); },
            [&] { state.setIsSetupMode(false); },
            [&] { state.setGitHubConnected(false); },
            [&] { state.setSetupRole(std::nullopt); },
            [&] { state.setSelectedOrg(std::nullopt); },
        };
        for (const auto &write : writes) {
            QFile::remove(path);
            write();
            QVERIFY(QFile::exists(path));
        }
        // Run-only fields never touch the file.
        QFile::remove(path);
        state.setRepoCreated(true);
        state.setMachineStatus(MachineStatusState::protected_);
        state.setCurrentSetupStep(SetupStep::setupRepo);
        state.setTeamMembers({});
        QVERIFY(!QFile::exists(path));
    }

    void clearingTheOrganisationDropsItsKeys() {
        writeState(fullFile);
        AppState state(m_persistence.get());
        state.setSelectedOrg(std::nullopt);
        const QJsonObject saved = readObject(m_persistence->filePath());
        QVERIFY(!saved.contains("orgId"));
        QVERIFY(!saved.contains("orgLogin"));
        QCOMPARE(saved.value("orgIsAdmin"), QJsonValue(false));
    }

    void signalsFollowTheStoredValue() {
        AppState state(m_persistence.get());
        QString seenName;
        bool savedBeforeSignal = false;
        connect(&state, &AppState::gitHubUsernameChanged, this, [&] {
            seenName = state.gitHubUsername();
            savedBeforeSignal = readObject(m_persistence->filePath()).value("gitHubUsername") ==
                                QJsonValue(seenName);
        });
        state.setGitHubUsername(QString::fromUtf8("Zoë"));
        QCOMPARE(seenName, QString::fromUtf8("Zoë"));
        QVERIFY(savedBeforeSignal);

        QSignalSpy statusSpy(&state, &AppState::machineStatusChanged);
        state.setMachineStatus(MachineStatusState::protected_);
        QCOMPARE(state.statusLabel(), QStringLiteral("Protected"));
        QCOMPARE(state.statusColor(), statusColor(MachineStatusState::protected_));
        state.setMachineStatus(MachineStatusState::protected_);
        QCOMPARE(statusSpy.count(), 1);
    }

    void startupLineIsUtf8AndAppends() {
        writeState(
            R"({"setupComplete":true,"gitHubUsername":"o","repoName":"dépôt-日本","isSetupMode":false,"gitHubConnected":true,"orgIsAdmin":false,"orgId":7,"orgLogin":"Åcme"})");
        { AppState first(m_persistence.get()); }
        { AppState second(m_persistence.get()); }
        const QList<QByteArray> lines =
            readAll(m_persistence->directory() + "/debug.log").split('\n');
        QCOMPARE(lines.size(), 3); // two lines and the empty rest after the last line feed
        for (int i = 0; i < 2; ++i)
            QVERIFY(lines[i].endsWith(QString::fromUtf8("org=Åcme, repo=dépôt-日本").toUtf8()));
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "TestAppState.moc"
