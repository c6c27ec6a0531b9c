// Runs many health checks back to back against the emulator and samples the
// process's resident memory, to show that a long-running heartbeat does not
// leak. Needs the credential store (run it under with-test-session.sh): the
// client takes its token from there, as the application does.
//
//   keelmark-bench-soak [--checks N]
//
// Prints one JSON object on stdout.
#include "AppState.h"
#include "GitHubEmulator.h"
#include "GitHubService.h"
#include "GitHubTestBench.h"
#include "GovernanceFiles.h"
#include "HealthCheckService.h"
#include "KeychainService.h"
#include "PersistenceService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <QCoroTask>

#include <cstdio>

namespace {

const QString kOrg = QStringLiteral("acme");
const QString kRepo = QStringLiteral("acme-ops");
const QString kUser = QStringLiteral("octo");
// Its own items, so a soak never touches the application's.
const QString kCredentialService = QStringLiteral("io.keelmark.bench-soak");

qint64 residentKiB() {
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// A set-up organisation as the protection run leaves it.
QString seed(GitHubEmulator &emulator) {
    emulator.addUser(kUser);
    emulator.addOrg(kOrg);
    emulator.setMembership(kOrg, kUser, QStringLiteral("admin"));
    emulator.createRepoDirect(kOrg, kRepo);
    // The files and rules a check expects, so every check measures a
    // protected repository rather than a reported drift.
    for (const FileEntry &file : GovernanceFiles::compose(kUser, kOrg))
        emulator.writeFileDirect(kOrg, kRepo, file.path, file.content.toUtf8());
    emulator.setProtection(kOrg, kRepo, GitHubTestBench::protectionRules());
    for (const QString &login : {QStringLiteral("ana"), QStringLiteral("ben")}) {
        emulator.addUser(login);
        emulator.addCollaborator(kOrg, kRepo, login, QStringLiteral("write"));
    }
    GitHubEmulator::TokenOptions options;
    options.expiresIn = 0;
    return emulator.issueToken(kUser, options);
}

struct Sample {
    int checks = 0;
    qint64 rssKiB = 0;
};

QCoro::Task<int> soak(int checks, QJsonObject *result) {
    GitHubEmulator emulator;
    if (!emulator.start()) {
        std::fprintf(stderr, "keelmark-bench-soak: the emulator cannot listen\n");
        co_return 1;
    }
    const QString token = seed(emulator);
    if (!co_await KeychainService::save(QString::fromLatin1(KeychainService::accessTokenKey), token,
                                        kCredentialService)) {
        std::fprintf(stderr, "keelmark-bench-soak: the credential store refused the token "
                             "(run under scripts/with-test-session.sh)\n");
        co_return 1;
    }

    QTemporaryDir stateDir;
    PersistenceService persistence(stateDir.path());
    AppState appState(&persistence);
    appState.setGitHubUsername(kUser);
    appState.setSelectedOrg(GitHubOrg{*emulator.userId(kUser), kOrg, true});
    appState.setRepoName(kRepo);

    GitHubService gitHub(GitHubEndpoints{emulator.apiUrl().toString(), emulator.webUrl().toString(),
                                         QString(), QStringLiteral("Iv1.keelmark")},
                         DiagnosticLog(stateDir.path()));
    gitHub.setCredentialService(kCredentialService);
    co_await gitHub.restoreFromKeychain();
    gitHub.setApprovedOrg(kOrg);
    HealthCheckService health(&gitHub, DiagnosticLog(stateDir.path()));

    // The first checks load libraries and fill caches; the baseline is taken
    // once that has settled.
    const int warmUp = std::min(1000, checks / 10);
    const int sampleEvery = std::max(1, checks / 20);
    QList<Sample> samples;
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= checks; ++i) {
        co_await health.performHealthCheck(&appState);
        if (i % 100 == 0)
            emulator.clearRequests(); // the recorder would otherwise grow
        if (i == warmUp || (i > warmUp && i % sampleEvery == 0))
            samples.append({i, residentKiB()});
    }
    const double seconds = static_cast<double>(timer.elapsed()) / 1000.0;

    if (!appState.repoCreated() || !appState.codeownersValid() ||
        !appState.branchProtectionEnabled()) {
        std::fprintf(stderr, "keelmark-bench-soak: the last check did not see a set-up "
                             "repository; the figures would measure failures\n");
        co_return 1;
    }

    QJsonArray series;
    for (const Sample &s : samples)
        series.append(QJsonObject{{"checks", s.checks}, {"rssKiB", s.rssKiB}});
    const qint64 baseline = samples.first().rssKiB;
    const qint64 last = samples.last().rssKiB;
    *result = QJsonObject{{"checks", checks},
                          {"seconds", seconds},
                          {"baselineChecks", samples.first().checks},
                          {"baselineRssKiB", baseline},
                          {"finalRssKiB", last},
                          {"growthKiB", last - baseline},
                          {"samples", series}};
    co_return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    int checks = 10000;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--checks"));
    if (at > 0 && at + 1 < args.size())
        checks = std::max(10, args.at(at + 1).toInt());

    QJsonObject result;
    const int status = QCoro::waitFor(soak(checks, &result));
    if (status == 0)
        std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return status;
}
