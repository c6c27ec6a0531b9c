// Measures, with the emulator holding every reply back by L milliseconds:
//  - one protection run: its requests are sequential, so the goal is
//    1.1 x (number of requests) x L;
//  - the health check in three situations, each made by a scripted teammate
//    before the timed check: nothing changed (one round trip, 1.2 L), an
//    unrelated commit on main (one more for the tree, 2.2 L) and a changed
//    governance file (tree and comparison, the commits, 4.2 L);
//  - rate-limit points a steady-state heartbeat (one check a minute) spends
//    per hour, and the bytes each kind of check receives.
// Usage: bench_health [L in ms, default 100] [rounds, default 5]

#include "GitHubTestBench.h"
#include "HealthCheckService.h"
#include "ProtectionRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>

#include <algorithm>
#include <cstdio>

namespace {

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// One protection run on a repository that does not exist yet; returns the
// wall time in ms and the number of REST requests it made.
std::optional<std::pair<double, int>> timeProtectionRun(GitHubTestBench &bed, const QString &repo) {
    bed.appState->setRepoName(repo);
    bed.emulator.clearRequests();
    ProtectionRun run(bed.appState.get(), bed.gitHub.get());
    QSignalSpy finished(&run, &ProtectionRun::finished);
    QElapsedTimer clock;
    clock.start();
    run.start();
    if (finished.isEmpty() && !finished.wait(120000))
        return std::nullopt;
    const double elapsed = clock.nsecsElapsed() / 1e6;
    if (!run.allComplete())
        return std::nullopt;
    return std::make_pair(elapsed, int(bed.apiCalls().size()));
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int latency = args.size() > 1 ? args.at(1).toInt() : 100;
    const int rounds = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 5;

    GitHubTestBench bed;
    QString error;
    if (latency <= 0 || !bed.setUpSignedIn(&error)) {
        std::fprintf(stderr, "bench_health: %s\n",
                     qPrintable(error.isEmpty() ? "bad latency" : error));
        return 1;
    }
    bed.emulator.setLatency(latency);

    QList<double> runTimes;
    int requests = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto result = timeProtectionRun(bed, QStringLiteral("ops-%1").arg(i));
        if (!result) {
            std::fprintf(stderr, "bench_health: protection run failed\n");
            return 1;
        }
        runTimes << result->first;
        requests = result->second;
    }

    // Bytes on the wire as the client receives them: status line, headers
    // and body of every reply its network access manager finishes.
    qint64 received = 0;
    auto *network = bed.gitHub->findChild<QNetworkAccessManager *>();
    if (!network) {
        std::fprintf(stderr, "bench_health: no network access manager\n");
        return 1;
    }
    QObject::connect(network, &QNetworkAccessManager::finished, [&received](QNetworkReply *reply) {
        qint64 bytes = 17 + reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        for (const auto &[name, value] : reply->rawHeaderPairs())
            bytes += name.size() + value.size() + 4;
        received += bytes;
    });

    // The wizard marks setup complete once the run is through; only then
    // does a check judge the repository instead of reporting setup mode.
    bed.appState->setSetupComplete(true);
    HealthCheckService health(bed.gitHub.get(), bed.tempLog());
    const QString org = GitHubTestBench::org;
    const QString repo = bed.appState->repoName();
    const QString settingsPath = QStringLiteral(".claude/settings.json");
    const auto approvedSettings = bed.emulator.fileOnMain(org, repo, settingsPath);
    if (!approvedSettings) {
        std::fprintf(stderr, "bench_health: %s missing after the run\n", qPrintable(settingsPath));
        return 1;
    }

    struct Timed {
        double ms = 0;
        qint64 bytes = 0;
    };
    // One timed check; false when it did not reach the expected status.
    auto timeCheck = [&](MachineStatusState expected, QList<Timed> *into) {
        received = 0;
        QElapsedTimer clock;
        clock.start();
        AsyncTest::waitFor(health.performHealthCheck(bed.appState.get()), std::chrono::minutes(2));
        if (into)
            into->append({clock.nsecsElapsed() / 1e6, received});
        if (bed.appState->machineStatus() == expected)
            return true;
        std::fprintf(stderr, "bench_health: status %d: %s\n", int(bed.appState->machineStatus()),
                     qPrintable(bed.appState->statusReasons().join(u'\n')));
        return false;
    };
    const auto ok = MachineStatusState::protected_;

    QList<Timed> first, steady, unrelated, changed;
    if (!timeCheck(ok, &first)) {
        std::fprintf(stderr, "bench_health: the first check did not see a protected repository\n");
        return 1;
    }
    const int pointsBefore = bed.emulator.rateLimitUsed(GitHubTestBench::user);
    for (int i = 0; i < rounds; ++i) {
        if (!timeCheck(ok, &steady)) {
            std::fprintf(stderr, "bench_health: a steady-state check lost protection\n");
            return 1;
        }
    }
    const int steadyPoints = bed.emulator.rateLimitUsed(GitHubTestBench::user) - pointsBefore;

    for (int i = 0; i < rounds; ++i) {
        bed.emulator.writeFileDirect(org, repo, QStringLiteral("notes/round-%1.md").arg(i),
                                     QByteArray::number(i));
        if (!timeCheck(ok, &unrelated)) {
            std::fprintf(stderr, "bench_health: an unrelated commit raised an alert\n");
            return 1;
        }
    }

    // Each round rewrites the deny-list, times the check that reports it, and
    // puts the approved text back (untimed) so every round starts clean.
    for (int i = 0; i < rounds; ++i) {
        bed.emulator.writeFileDirect(org, repo, settingsPath,
                                     QByteArrayLiteral("{\"round\": ") + QByteArray::number(i) +
                                         '}');
        if (!timeCheck(MachineStatusState::tamperAlert, &changed)) {
            std::fprintf(stderr, "bench_health: a changed governance file went unreported\n");
            return 1;
        }
        bed.emulator.writeFileDirect(org, repo, settingsPath, *approvedSettings);
        if (!timeCheck(ok, nullptr)) {
            std::fprintf(stderr, "bench_health: the restored file still raised an alert\n");
            return 1;
        }
    }

    const double run = median(runTimes);
    std::printf("latency L = %d ms, median of %d rounds\n", latency, rounds);
    std::printf(
        "protection run: %7.1f ms = %5.2f L   (%d sequential requests; goal <= %.1f L)  %s\n", run,
        run / latency, requests, 1.1 * requests, run <= 1.1 * requests * latency ? "ok" : "MISSED");
    const struct {
        const char *name;
        const QList<Timed> &times;
        double goal; // in L; 0 = none
    } checks[] = {
        {"first after the run", first, 0},
        {"with nothing changed", steady, 1.2},
        {"after an unrelated commit", unrelated, 2.2},
        {"reporting a changed governance file", changed, 4.2},
    };
    for (const auto &check : checks) {
        QList<double> ms, bytes;
        for (const Timed &t : check.times) {
            ms << t.ms;
            bytes << double(t.bytes);
        }
        const double m = median(ms);
        std::printf("check %s: %.1f ms = %.2f L; %.0f bytes received", check.name, m, m / latency,
                    median(bytes));
        // Round by round: a check's cost may grow with the commits since
        // the baseline.
        std::printf("; rounds");
        for (double each : ms)
            std::printf(" %.2f", each / latency);
        if (check.goal > 0)
            std::printf(" L  (goal <= %.1f L)  %s", check.goal,
                        m <= check.goal * latency ? "ok" : "MISSED");
        else
            std::printf(" L");
        std::printf("\n");
    }
    // The heartbeat checks once a minute.
    std::printf("rate limit: %d points over %d steady-state checks = %.0f points per hour of "
                "heartbeat  (goal 0)  %s\n",
                steadyPoints, rounds, steadyPoints * 60.0 / rounds,
                steadyPoints == 0 ? "ok" : "MISSED");
    return 0;
}
