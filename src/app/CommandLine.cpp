#include "CommandLine.h"

#include "AppState.h"
#include "BuildConfig.h"
#include "LaunchOptions.h"
#include "PersistedState.h"
#include "platform/PlatformIntegration.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace {

QString repositoryOf(const QString &orgLogin, const QString &repoName) {
    if (repoName.isEmpty())
        return {};
    return orgLogin.isEmpty() ? repoName : orgLogin + QLatin1Char('/') + repoName;
}

void print(FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

namespace CommandLine {

QString helpText() {
    return QStringLiteral(
        "Usage: keelmark [--background] [URL]\n"
        "       keelmark status [--json]\n"
        "       keelmark --help | --version\n"
        "\n"
        "Without a command, starts KeelMark (or brings the running one forward).\n"
        "\n"
        "Commands:\n"
        "  status         Print whether this machine is protected, its repository,\n"
        "                 the time of the last check and the reasons for any drift.\n"
        "                 Exit code: 0 protected, 1 alert, 2 not set up or offline.\n"
        "  --json         With status: print one JSON object instead.\n"
        "  --background   Start with the tray icon only, as at login.\n"
        "  -h, --help     Print this help.\n"
        "  --version      Print the version.\n");
}

QString versionText() {
    return QStringLiteral("keelmark %1\n").arg(QLatin1String(BuildConfig::version));
}

QJsonObject statusOf(const AppState &state) {
    QJsonArray reasons;
    for (const QString &reason : state.statusReasons())
        reasons.append(reason);
    const auto org = state.selectedOrg();
    const auto heartbeat = state.lastHeartbeat();
    return QJsonObject{
        {"source", "instance"},
        {"status", toText(state.machineStatus())},
        {"label", state.statusLabel()},
        {"setUp", state.setupComplete()},
        {"repository", repositoryOf(org ? org->login : QString(), state.repoName())},
        {"lastCheck", heartbeat ? QJsonValue(heartbeat->toUTC().toString(Qt::ISODate))
                                : QJsonValue(QJsonValue::Null)},
        {"reasons", reasons},
        {"stale", false},
    };
}

QJsonObject statusOf(const PersistedState &state) {
    // The live status is never saved: nothing checks the machine while
    // the application is not running.
    return QJsonObject{
        {"source", "disk"},
        {"status", "unknown"},
        {"label", "Unknown"},
        {"setUp", state.setupComplete},
        {"repository", repositoryOf(state.orgLogin.value_or(QString()), state.repoName)},
        {"lastCheck", QJsonValue::Null},
        {"reasons", QJsonArray{}},
        {"stale", true},
    };
}

int exitCodeFor(const QJsonObject &status) {
    const QString text = status.value("status").toString();
    if (text == toText(MachineStatusState::protected_))
        return 0;
    if (text == toText(MachineStatusState::tamperAlert))
        return 1;
    return 2;
}

QString describe(const QJsonObject &status) {
    QString text;
    const bool stale = status.value("stale").toBool();
    if (stale)
        text += QStringLiteral("KeelMark is not running: this is the last state saved on disk "
                               "and may be stale.\n");
    text += QStringLiteral("Status:     %1\n")
                .arg(stale ? QStringLiteral("unknown (nothing checks this machine while "
                                            "KeelMark is not running)")
                           : status.value("label").toString());
    text += QStringLiteral("Set up:     %1\n")
                .arg(status.value("setUp").toBool() ? QStringLiteral("yes") : QStringLiteral("no"));
    const QString repository = status.value("repository").toString();
    text += QStringLiteral("Repository: %1\n").arg(repository.isEmpty() ? "none" : repository);
    if (!stale) {
        const QDateTime lastCheck =
            QDateTime::fromString(status.value("lastCheck").toString(), Qt::ISODate);
        text +=
            QStringLiteral("Last check: %1\n")
                .arg(lastCheck.isValid()
                         ? lastCheck.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                         : QStringLiteral("not yet"));
    }
    const QJsonArray reasons = status.value("reasons").toArray();
    if (!reasons.isEmpty()) {
        text += QStringLiteral("Reasons:\n");
        for (const QJsonValue &reason : reasons)
            text += QStringLiteral("  - %1\n").arg(reason.toString());
    }
    return text;
}

int run(const LaunchOptions &options, PlatformIntegration &platform,
        const QString &stateDirectory) {
    switch (options.command) {
    case LaunchOptions::Command::run:
        return 0;
    case LaunchOptions::Command::help:
        print(stdout, helpText());
        return 0;
    case LaunchOptions::Command::version:
        print(stdout, versionText());
        return 0;
    case LaunchOptions::Command::status:
        break;
    }

    QJsonObject status;
    const PlatformIntegration::StatusAnswer answer = platform.queryStatus();
    if (answer.outcome == PlatformIntegration::StatusAnswer::Outcome::answered)
        status = QJsonDocument::fromJson(answer.status).object();
    if (status.isEmpty()) {
        if (answer.outcome != PlatformIntegration::StatusAnswer::Outcome::notRunning)
            print(stderr, QStringLiteral("keelmark: the running instance did not answer (%1)\n")
                              .arg(answer.error.isEmpty() ? QStringLiteral("unreadable answer")
                                                          : answer.error));
        // Read directly rather than through the persistence service, which
        // tidies the folder: a query must not touch what the app owns.
        QFile file(QDir(stateDirectory).filePath(QStringLiteral("state.json")));
        PersistedState saved;
        if (file.open(QIODevice::ReadOnly))
            saved = PersistedState::decode(file.readAll()).value_or(PersistedState{});
        status = statusOf(saved);
    }
    print(stdout, options.json
                      ? QString::fromUtf8(QJsonDocument(status).toJson(QJsonDocument::Compact)) +
                            QLatin1Char('\n')
                      : describe(status));
    return exitCodeFor(status);
}

} // namespace CommandLine
