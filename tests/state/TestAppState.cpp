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
    "orgId": 42, "orgIsAdmin": true, "orgLogin": "Åcme", "repoName": "dépôt-日本",
    "setupComplete": true, "setupRole": "forMyself", "extra": 1
})";

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    QJsonObject saved() const {
        return QJsonDocument::fromJson(readAll(m_persistence->filePath())).object();
    }
    QByteArray log() const { return readAll(m_persistence->directory() + "/debug.log"); }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_persistence = std::make_unique<PersistenceService>(m_dir->path() + "/io.keelmark.app");
    }

    void firstStartHasDefaultsAndWritesNothing() {
        AppState state(m_persistence.get());
        QCOMPARE(state.setupComplete(), false);
        QVERIFY(!state.setupRole());
        QVERIFY(!state.selectedOrg());
        QCOMPARE(state.machineStatus(), MachineStatusState::setupMode);
        QCOMPARE(state.statusLabel(), QStringLiteral("Setup incomplete"));
        QVERIFY(!QFile::exists(m_persistence->filePath()));
        const QRegularExpression line(
            QStringLiteral(
                "^AppState\\.init\\(0x%1\\): loaded setupComplete=false, org=nil, repo=\\n$")
                .arg(quintptr(&state), 0, 16));
        QVERIFY2(line.match(QString::fromUtf8(log())).hasMatch(), log().constData());
    }

    void constructionWritesNothingAndFirstWriteWritesAll() {
        writeState(fullFile);
        const QByteArray before = readAll(m_persistence->filePath());
        {
            AppState state(m_persistence.get());
            QCOMPARE(state.gitHubUsername(), QStringLiteral("octo"));
            QCOMPARE(state.setupRole(), SetupRole::forMyself);
            QCOMPARE(state.selectedOrg()->id, 42);
            QCOMPARE(state.selectedOrg()->isAdmin, true);
            QCOMPARE(state.currentSetupStep(), SetupStep::complete);
            // Never read from the file: waits for the first health check.
            QCOMPARE(state.machineStatus(), MachineStatusState::setupMode);
            // Construction applied the fields through the setters but wrote nothing.
            QCOMPARE(readAll(m_persistence->filePath()), before);

            state.setIsSetupMode(false);
            QCOMPARE(saved().keys(), (QStringList{"gitHubConnected", "gitHubUsername",
                                                  "isSetupMode", "orgId", "orgIsAdmin", "orgLogin",
                                                  "repoName", "setupComplete", "setupRole"}));
            QCOMPARE(saved().value("isSetupMode"), QJsonValue(false));
            QCOMPARE(saved().value("orgId").toInteger(), 42);

            state.setSelectedOrg(std::nullopt);
            QVERIFY(!saved().contains("orgId") && !saved().contains("orgLogin"));
            QCOMPARE(saved().value("orgIsAdmin"), QJsonValue(false));
        }
        // A second launch appends its start-up line; names land as UTF-8.
        { AppState again(m_persistence.get()); }
        const QList<QByteArray> lines = log().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith("loaded setupComplete=true, org=Åcme, repo=dépôt-日本"));
        QVERIFY(lines[1].endsWith("org=nil, repo=dépôt-日本"));
    }

    void brokenOrPartialFiles_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("setupComplete");
        QTest::addColumn<bool>("hasRole");
        QTest::addColumn<bool>("hasOrg");
        const QByteArray base = R"({"setupComplete":true,"gitHubUsername":"octo","repoName":"ops",)"
                                R"("isSetupMode":true,"gitHubConnected":true,"orgIsAdmin":true)";
        QTest::newRow("not JSON") << QByteArray("{oops") << false << false << false;
        QTest::newRow("required key missing")
            << QByteArray(base).replace(R"("repoName":"ops",)", "").append('}') << false << false
            << false;
        QTest::newRow("unknown role")
            << base + R"(,"setupRole":"boss","orgId":1,"orgLogin":"acme"})" << true << false
            << true;
        QTest::newRow("login without id")
            << base + R"(,"setupRole":"forMyself","orgLogin":"acme"})" << true << true << false;
    }

    void brokenOrPartialFiles() {
        QFETCH(QByteArray, file);
        QFETCH(bool, setupComplete);
        QFETCH(bool, hasRole);
        QFETCH(bool, hasOrg);
        writeState(file);
        AppState state(m_persistence.get());
        QCOMPARE(state.setupComplete(), setupComplete);
        // All or nothing: not even the keys that were fine are kept.
        QCOMPARE(state.gitHubUsername().isEmpty(), !setupComplete);
        QCOMPARE(state.setupRole().has_value(), hasRole);
        QCOMPARE(state.selectedOrg().has_value(), hasOrg);

        state.setRepoName(QStringLiteral("ops"));
        QCOMPARE(saved().contains("setupRole"), hasRole);
        QCOMPARE(saved().contains("orgId"), hasOrg);
        QCOMPARE(saved().value("orgIsAdmin").toBool(), hasOrg);
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

    void signalsFollowTheStoredValue() {
        AppState state(m_persistence.get());
        bool savedBeforeSignal = false;
        connect(&state, &AppState::gitHubUsernameChanged, this,
                [&] { savedBeforeSignal = saved().value("gitHubUsername") == QJsonValue("Zoë"); });
        state.setGitHubUsername(QStringLiteral("Zoë"));
        QVERIFY(savedBeforeSignal);

        QSignalSpy statusSpy(&state, &AppState::machineStatusChanged);
        state.setMachineStatus(MachineStatusState::protected_);
        state.setMachineStatus(MachineStatusState::protected_);
        QCOMPARE(statusSpy.count(), 1);
        QCOMPARE(state.statusLabel(), QStringLiteral("Protected"));
        QCOMPARE(state.statusColor(), statusColor(MachineStatusState::protected_));
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "TestAppState.moc"
