// Measures, with the emulator holding every reply back by L milliseconds:
//  - one health check: its four sub-checks overlap, so the goal is 1.2 L;
//  - one protection run: its requests are sequential, so the goal is
//    1.1 x (number of requests) x L.
// Usage: bench_health [L in ms, default 100] [rounds, default 5]

#include "GitHubTestBench.h"
#include "HealthCheckService.h"
#include "ProtectionRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

    HealthCheckService health(bed.gitHub.get(), bed.tempLog());
    QList<double> checkTimes;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        AsyncTest::waitFor(health.performHealthCheck(bed.appState.get()), std::chrono::minutes(2));
        checkTimes << clock.nsecsElapsed() / 1e6;
        if (bed.appState->machineStatus() != MachineStatusState::protected_) {
            std::fprintf(stderr, "bench_health: health check did not see a protected repository\n");
            return 1;
        }
    }

    const double check = median(checkTimes);
    const double run = median(runTimes);
    std::printf("latency L = %d ms, median of %d rounds\n", latency, rounds);
    std::printf("health check:   %7.1f ms = %5.2f L   (goal <= 1.20 L)  %s\n", check,
                check / latency, check <= 1.2 * latency ? "ok" : "MISSED");
    std::printf(
        "protection run: %7.1f ms = %5.2f L   (%d sequential requests; goal <= %.1f L)  %s\n", run,
        run / latency, requests, 1.1 * requests, run <= 1.1 * requests * latency ? "ok" : "MISSED");
    return 0;
}
