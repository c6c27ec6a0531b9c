#include "AppState.h"
#include "DiagnosticLog.h"
#include "PersistedState.h"
#include "PersistenceService.h"
#include "Records.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray fullFile = R"({
    "gitHubConnected": true, "gitHubUsername": "octo", "isSetupMode": true,
    "orgId": 42, "orgIsAdmin": true, "orgLogin": "Åcme", "repoName": "dépôt-日本",
    "setupComplete": true, "setupRole": "forMyself", "extra": 1
})";

mode_t modeOf(const QString &path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// orgId is not representable as a double.
const PersistedState fullRecord{true,
                                QStringLiteral("Zoë-日本 \"quoted\"\n"),
                                "ops",
                                true,
                                true,
                                "forSomeoneElse",
                                9007199254740993LL,
                                "acme",
                                true};

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

const QByteArray validBase = R"({"setupComplete":true,"gitHubUsername":"octo","repoName":"ops",
    "isSetupMode":false,"gitHubConnected":true,"orgIsAdmin":false)";

// Decodes with the record type's own decoder and hands back its encoding.
using Codec = std::function<std::optional<QJsonObject>(const QJsonValue &)>;
template <typename Record> Codec codec() {
    return [](const QJsonValue &json) -> std::optional<QJsonObject> {
        const auto record = Record::fromJson(json);
        return record ? std::optional(record->toJson()) : std::nullopt;
    };
}

} // namespace

class TestAppState : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PersistenceService> m_persistence;

    void writeState(const QByteArray &bytes) { writeFile(m_persistence->filePath(), bytes); }
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
            QCOMPARE(state.currentSetupStep(), SetupStep::complete);
            // Never read from the file: waits for the first health check.
            QCOMPARE(state.machineStatus(), MachineStatusState::setupMode);
            // Construction applied the fields through the setters but wrote nothing.
            QCOMPARE(readAll(m_persistence->filePath()), before);

            state.setIsSetupMode(false);
            QCOMPARE(saved().keys(), (QStringList{"gitHubConnected", "gitHubUsername",
                                                  "isSetupMode", "orgId", "orgIsAdmin", "orgLogin",
                                                  "repoName", "setupComplete", "setupRole"}));
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

    void brokenOrPartialFiles() {
        const QByteArray base = R"({"setupComplete":true,"gitHubUsername":"octo","repoName":"ops",)"
                                R"("isSetupMode":true,"gitHubConnected":true,"orgIsAdmin":true)";
        struct Case {
            QByteArray file;
            bool setupComplete, hasRole, hasOrg;
        };
        for (const Case &c : {Case{QByteArray(base).replace(R"("repoName":"ops",)", "") + '}',
                                   false, false, false}, // a required key missing
                              Case{base + R"(,"setupRole":"boss","orgId":1,"orgLogin":"a"})", true,
                                   false, true}, // an unknown role
                              Case{base + R"(,"setupRole":"forMyself","orgLogin":"a"})", true, true,
                                   false}}) { // a login without an id
            writeState(c.file);
            AppState state(m_persistence.get());
            QCOMPARE(state.setupComplete(), c.setupComplete);
            // All or nothing: not even the keys that were fine are kept.
            QCOMPARE(state.gitHubUsername().isEmpty(), !c.setupComplete);
            QCOMPARE(state.setupRole().has_value(), c.hasRole);
            QCOMPARE(state.selectedOrg().has_value(), c.hasOrg);
            state.setRepoName(QStringLiteral("ops"));
            QCOMPARE(saved().contains("setupRole"), c.hasRole);
            QCOMPARE(saved().contains("orgId"), c.hasOrg);
            QCOMPARE(saved().value("orgIsAdmin").toBool(), c.hasOrg);
        }
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
        QCOMPARE(state.statusTone(), StatusTone::ok);
    }

    // The state file on its own.
    void encodesSortedKeysAndOmitsAbsentOptionals() {
        const QByteArray full = fullRecord.encode();
        // Pretty-printed, one key a line, in sorted order.
        QStringList keys;
        static const QRegularExpression keyLine(R"re(^    "(\w+)": )re",
                                                QRegularExpression::MultilineOption);
        for (const auto &match : keyLine.globalMatch(QString::fromUtf8(full)))
            keys << match.captured(1);
        QCOMPARE(keys,
                 (QStringList{"gitHubConnected", "gitHubUsername", "isSetupMode", "orgId",
                              "orgIsAdmin", "orgLogin", "repoName", "setupComplete", "setupRole"}));
        QVERIFY(full.contains("\n    \"orgId\": 9007199254740993,\n"));

        const QByteArray minimal = PersistedState{}.encode();
        QCOMPARE(QJsonDocument::fromJson(minimal).object().keys(),
                 (QStringList{"gitHubConnected", "gitHubUsername", "isSetupMode", "orgIsAdmin",
                              "repoName", "setupComplete"}));
        QVERIFY(!minimal.contains("null"));
    }

    void roundTrip() {
        PersistedState odd; // an id without a login, negative
        odd.orgId = -1;
        for (const PersistedState &state : {PersistedState{}, fullRecord, odd})
            QVERIFY(PersistedState::decode(state.encode()) == state);
    }

    void decodeRules() {
        // validBase plus one key: the optionals and the type rules.
        for (const auto &[extra, ok] :
             {std::pair(R"(,"theme":"dark")", true), std::pair(R"(,"setupRole":null)", true),
              std::pair(R"(,"setupRole":"admin")", true), // an unknown role is still text
              std::pair(R"(,"orgId":"12")", false), std::pair(R"(,"orgId":1.5)", false),
              std::pair(R"(,"orgId":1e300)", false),
              std::pair(R"(,"orgId":9223372036854775807)", true), // the 64-bit limit
              std::pair(R"(,"setupRole":3)", false), std::pair(",\"orgLogin\":\"\xff\"", false)})
            QVERIFY2(PersistedState::decode(validBase + extra + "}").has_value() == ok, extra);
        // The required keys missing, null or mistyped, and files that are no JSON object.
        const QByteArray valid = validBase + "}";
        for (const QByteArray &json :
             {QByteArray(valid).replace("\"orgIsAdmin\":false", "\"orgIsAdmin\":null"),
              QByteArray(valid).replace("\"repoName\":\"ops\",", ""),
              QByteArray(valid).replace("\"setupComplete\":true", "\"setupComplete\":\"true\""),
              QByteArray(), QByteArray("setupComplete=true")})
            QVERIFY2(!PersistedState::decode(json), json.constData());
    }

    void failedWriteLeavesPreviousFile() {
        QTemporaryDir dir;
        PersistenceService service(dir.path());
        QVERIFY(service.save(fullRecord));
        const QByteArray before = readAll(service.filePath());

        // A file-size limit makes the write fail even for root, the way a
        // full disk would.
        PersistedState big = fullRecord;
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

    // The folder and its files are the user's alone, also when an earlier
    // version left them open; a killed save's leftovers, and only those, are
    // cleared at start.
    void folderIsPrivateAndClearedAtStart_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name"); // planted in the folder before start
        QTest::addColumn<bool>("removed");
        const QString orphan = QStringLiteral("state.json.AbCxYz");
        QTest::newRow("fresh folder") << "none" << QString() << false;
        QTest::newRow("orphan of a killed save") << "file" << orphan << true;
        QTest::newRow("orphan of a killed baseline save") << "file"
                                                          << "baseline.json.AbCxYz" << true;
        QTest::newRow("another suffix") << "file"
                                        << "state.json.bak" << false;
        QTest::newRow("another file's temporary") << "file"
                                                  << "notes.AbCxYz" << false;
        QTest::newRow("another user's") << "foreign" << orphan << false;
        QTest::newRow("a link") << "link" << orphan << false;
        QTest::newRow("a folder") << "folder" << orphan << false;
    }
    void folderIsPrivateAndClearedAtStart() {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(bool, removed);
        const QString dir = m_dir->filePath("app");
        const QString planted = dir + '/' + name;
        const QString outside = m_dir->filePath("precious");
        if (kind != "none") {
            QVERIFY(QDir().mkdir(dir));
            QCOMPARE(::chmod(QFile::encodeName(dir).constData(), 0755), 0);
            for (const QString file : {"state.json", "debug.log"}) {
                writeFile(dir + '/' + file, validBase + "}");
                QCOMPARE(::chmod(QFile::encodeName(dir + '/' + file).constData(), 0644), 0);
            }
            writeFile(outside, "precious\n");
        }
        if (kind == "file" || kind == "foreign") {
            writeFile(planted, "half a save");
        } else if (kind == "link") {
            QVERIFY(QFile::link(outside, planted));
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(planted));
        }
        if (kind == "foreign") {
            if (::geteuid() != 0)
                QSKIP("only root can give a file to another user");
            QCOMPARE(::chown(QFile::encodeName(planted).constData(), 65534, 65534), 0);
        }

        PersistenceService service(dir);
        AppState state(&service);
        state.setRepoName(QStringLiteral("ops"));
        QCOMPARE(modeOf(dir), mode_t(0700));
        QCOMPARE(modeOf(service.filePath()), mode_t(0600));
        QCOMPARE(modeOf(dir + "/debug.log"), mode_t(0600));
        if (!name.isEmpty())
            QCOMPARE(modeOf(planted) == 0, removed);
        if (kind == "link")
            QCOMPARE(readAll(outside), QByteArray("precious\n"));
    }

    // The records GitHub and the team service send.
    void decodeAndEncode() {
        struct Case {
            Codec decode;
            QByteArray json;
            bool ok;
        };
        const Codec user = codec<GitHubUser>(), member = codec<TeamMember>();
        for (const auto &[decode, json, ok] :
             {Case{user, R"({"login":"o","id":1,"avatar_url":"a.png","type":"User"})", true},
              Case{user, R"({"login":"o","id":1,"avatar_url":null})", true},
              Case{user, R"({"login":"o","id":"1"})", false},
              Case{codec<GitHubOrgResponse>(), R"({"id":42})", false},
              Case{codec<GitHubMembership>(), R"({"role":1})", false},
              Case{member,
                   R"({"gitHubUsername":"ann","role":"staff","isOnline":true,"scopes":["repo"],)"
                   R"("lastSeen":"2026-03-01T09:15:42.000Z","machineName":"mbp"})",
                   true},
              Case{member, R"({"gitHubUsername":"ann","role":"CTO","isOnline":false})", false},
              Case{member,
                   R"({"gitHubUsername":"ann","role":"cto","isOnline":false,"lastSeen":"x"})",
                   false}}) {
            const QJsonObject object = QJsonDocument::fromJson(json).object();
            const auto encoded = decode(object);
            QVERIFY2(encoded.has_value() == ok, json.constData());
            if (!ok)
                continue;
            // The encoding reads back to itself, keeps what it read, and leaves
            // absent optionals out rather than writing null.
            QCOMPARE(decode(*encoded), encoded);
            for (const QString &key : encoded->keys()) {
                QVERIFY(!encoded->value(key).isNull());
                QCOMPARE(encoded->value(key), object.value(key));
            }
        }
    }

    // The diagnostic log.
    void timestampIsUtc() {
        const QDateTime inBerlinSummer(QDate(2026, 7, 1), QTime(11, 15, 42),
                                       QTimeZone(QByteArrayLiteral("UTC+02:00")));
        QCOMPARE(DiagnosticLog::timestamp(inBerlinSummer),
                 QStringLiteral("2026-07-01 09:15:42 +0000"));
    }

    void tempLogIsPrivateAndAppends() {
        const DiagnosticLog log(m_dir->path());
        log.appendToTempLog("one\n");
        log.appendToTempLog("two\n");
        QCOMPARE(readAll(m_dir->filePath("keelmark-debug.log")), QByteArray("one\ntwo\n"));
        QCOMPARE(modeOf(log.tempLogPath()), mode_t(0600));
    }

    void tempLogRefusesPlantedFiles() {
        for (const QString kind : {"symlink", "hardlink", "foreign", "fifo"}) {
            QVERIFY(QDir(m_dir->path()).mkdir(kind));
            const DiagnosticLog log(m_dir->filePath(kind));
            const QString target = m_dir->filePath(kind + "-target");
            const QString planted = log.tempLogPath();
            const QByteArray plantedName = QFile::encodeName(planted);
            writeFile(target, "precious\n");
            if (kind == "fifo") {
                QCOMPARE(::mkfifo(plantedName.constData(), 0600), 0);
                // With no reader a blocking open waits for ever: bounded here, and a
                // reader opened afterwards releases a stuck writer, so the row fails
                // rather than hangs.
                std::unique_ptr<QThread> writer(
                    QThread::create([&log] { log.appendToTempLog("intruder\n"); }));
                writer->start();
                const bool returned = writer->wait(5000);
                const int reader = ::open(plantedName.constData(), O_RDONLY | O_NONBLOCK);
                writer->wait();
                QVERIFY2(returned, "the append blocked on a FIFO");
                // With a reader the open succeeds; it is still no file to write.
                log.appendToTempLog("intruder\n");
                char byte = 0;
                QVERIFY(::read(reader, &byte, 1) <= 0);
                ::close(reader);
                continue;
            }
            if (kind == "symlink") {
                QVERIFY(QFile::link(target, planted));
            } else if (kind == "hardlink") {
                QCOMPARE(::link(QFile::encodeName(target).constData(), plantedName.constData()), 0);
            } else if (::geteuid() != 0) {
                continue; // only root can give a file to another user
            } else {
                QVERIFY(QFile::copy(target, planted));
                QCOMPARE(::chown(plantedName.constData(), 65534, 65534), 0);
            }
            log.appendToTempLog("intruder\n");
            QCOMPARE(readAll(target), QByteArray("precious\n"));
            QCOMPARE(readAll(planted), QByteArray("precious\n"));
        }
    }

    void concurrentLinesLandWhole() {
        const DiagnosticLog log(m_dir->path());
        constexpr int threads = 6;
        constexpr int linesEach = 300;
        // Long lines make a torn write likely if lines were written in parts.
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([t, &log] {
                for (int i = 0; i < linesEach; ++i) {
                    const QString line =
                        QStringLiteral("t%1 n%2 %3 end\n").arg(t).arg(i).arg(QString(400, '.'));
                    if (i % 2) // both ways of writing: the app log's and the temporary one's
                        log.appendToTempLog(line);
                    else
                        DiagnosticLog::appendLine(log.tempLogPath(), line);
                }
            }));
            workers.back()->start();
        }
        for (auto &worker : workers)
            QVERIFY(worker->wait(60'000));

        const QList<QByteArray> lines = readAll(log.tempLogPath()).split('\n');
        const QRegularExpression whole(QStringLiteral("^t\\d n\\d+ \\.{400} end$"));
        const QSet<QByteArray> distinct(lines.begin(), lines.end() - 1);
        QCOMPARE(distinct.size(), threads * linesEach);
        for (const QByteArray &line : distinct)
            QVERIFY2(whole.match(QString::fromUtf8(line)).hasMatch(), line.left(80).constData());
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "TestAppState.moc"
