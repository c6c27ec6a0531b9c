// N code exchanges from C concurrent clients, first straight to the
// emulator's token endpoint, then through the relay, so the relay's own
// overhead is the difference. Emulator, relay and driver each get a thread.
// Exits non-zero if any request failed.

#include "RelayServer.h"

#include "GitHubEmulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QString kClientId = QStringLiteral("Iv1.benchbenchbench00");
const QString kSecret = QStringLiteral("bench-secret");

struct PhaseResult {
    std::vector<double> latenciesMs;
    int failures = 0;
    double wallSeconds = 0;

    double percentile(double p) const {
        if (latenciesMs.empty())
            return 0;
        std::vector<double> sorted = latenciesMs;
        std::sort(sorted.begin(), sorted.end());
        const size_t index = std::min(sorted.size() - 1, size_t(p * double(sorted.size())));
        return sorted[index];
    }
    double rate() const { return wallSeconds > 0 ? double(latenciesMs.size()) / wallSeconds : 0; }
};

// Runs `total` requests with `clients` connections in parallel; each client
// has its own manager and sends its next request when the last one is done.
class LoadDriver {
public:
    using Build = std::function<std::pair<QNetworkRequest, QByteArray>(int index)>;

    PhaseResult run(int total, int clients, const Build &build, int deadlineMs) {
        PhaseResult result;
        QEventLoop loop;
        int started = 0;
        int finished = 0;
        std::vector<std::unique_ptr<QNetworkAccessManager>> managers;
        std::function<void(QNetworkAccessManager *)> next = [&](QNetworkAccessManager *manager) {
            if (started >= total)
                return;
            auto [request, body] = build(started++);
            auto timer = std::make_shared<QElapsedTimer>();
            timer->start();
            QNetworkReply *reply = manager->post(request, body);
            QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply, timer, manager] {
                const double ms = double(timer->nsecsElapsed()) / 1e6;
                const int status =
                    reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                const QJsonObject object =
                    QJsonDocument::fromJson(reply->isOpen() ? reply->readAll() : QByteArray())
                        .object();
                if (status != 200 || !object.contains(QLatin1String("access_token")))
                    ++result.failures;
                result.latenciesMs.push_back(ms);
                reply->deleteLater();
                if (++finished == total)
                    loop.quit();
                else
                    next(manager);
            });
        };
        QElapsedTimer wall;
        wall.start();
        for (int i = 0; i < clients; ++i) {
            managers.push_back(std::make_unique<QNetworkAccessManager>());
            next(managers.back().get());
        }
        QTimer::singleShot(deadlineMs, &loop, &QEventLoop::quit);
        loop.exec();
        result.wallSeconds = double(wall.nsecsElapsed()) / 1e9;
        result.failures += total - finished; // unanswered by the deadline
        return result;
    }
};

// Runs `work` in `thread`'s event loop and waits for it.
void inThread(QObject *context, const std::function<void()> &work) {
    QMetaObject::invokeMethod(context, work, Qt::BlockingQueuedConnection);
}

QNetworkRequest postRequest(QUrl url, const QByteArray &contentType) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(30000);
    return request;
}

void printRow(const char *name, const PhaseResult &r) {
    std::printf("%-8s %8zu %9.0f %9.2f %9.2f %9.2f %8d\n", name, r.latenciesMs.size(), r.rate(),
                r.percentile(0.50), r.percentile(0.99), r.percentile(1.0), r.failures);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Load driver for keelmark-relay"));
    parser.addHelpOption();
    parser.addOption({{"n", "requests"}, QStringLiteral("Exchanges per phase."), "N", "10000"});
    parser.addOption({{"c", "clients"}, QStringLiteral("Concurrent clients."), "C", "16"});
    parser.process(app);
    const int total = std::max(1, parser.value("requests").toInt());
    const int clients = std::max(1, parser.value("clients").toInt());
    constexpr int kWarmup = 100;
    constexpr int kDeadlineMs = 25000; // per phase, keeps the whole run under a minute

    QThread emulatorThread;
    QThread relayThread;
    QObject emulatorContext;
    QObject relayContext;
    emulatorContext.moveToThread(&emulatorThread);
    relayContext.moveToThread(&relayThread);
    emulatorThread.start();
    relayThread.start();

    GitHubEmulator *emulator = nullptr;
    QUrl tokenUrl;
    QStringList codes;
    inThread(&emulatorContext, [&] {
        emulator = new GitHubEmulator;
        if (!emulator->start())
            return;
        emulator->addUser(QStringLiteral("octo"));
        GitHubEmulator::OAuthApp oauth;
        oauth.clientId = kClientId;
        oauth.clientSecret = kSecret;
        emulator->setOAuthApp(oauth);
        tokenUrl = emulator->webUrl();
        tokenUrl.setPath(QStringLiteral("/login/oauth/access_token"));
        for (int i = 0; i < 2 * (total + kWarmup); ++i)
            codes.append(emulator->mintAuthorizationCode(QStringLiteral("octo")));
    });
    if (tokenUrl.isEmpty()) {
        std::fprintf(stderr, "the emulator did not start\n");
        return 1;
    }

    RelayServer *relay = nullptr;
    QUrl exchangeUrl;
    inThread(&relayContext, [&] {
        RelayConfig config;
        config.port = 0;
        config.clientId = kClientId;
        config.clientSecret = kSecret;
        config.gitHubWebUrl = tokenUrl.adjusted(QUrl::RemovePath);
        relay = new RelayServer(config);
        if (relay->listen()) {
            exchangeUrl = relay->baseUrl();
            exchangeUrl.setPath(QStringLiteral("/v1/github/exchange"));
        }
    });
    if (exchangeUrl.isEmpty()) {
        std::fprintf(stderr, "the relay did not start\n");
        return 1;
    }
    // One line per request would swamp the terminal and the measurement.
    QLoggingCategory::setFilterRules(QStringLiteral("keelmark.relay.info=false"));

    int nextCode = 0;
    const LoadDriver::Build direct = [&](int) {
        const QByteArray form = "client_id=" + QUrl::toPercentEncoding(kClientId) +
                                "&client_secret=" + QUrl::toPercentEncoding(kSecret) +
                                "&code=" + QUrl::toPercentEncoding(codes[nextCode++]);
        return std::make_pair(postRequest(tokenUrl, "application/x-www-form-urlencoded"), form);
    };
    const LoadDriver::Build relayed = [&](int) {
        const QByteArray json =
            QJsonDocument(QJsonObject{{"code", codes[nextCode++]}}).toJson(QJsonDocument::Compact);
        return std::make_pair(postRequest(exchangeUrl, "application/json"), json);
    };

    LoadDriver driver;
    driver.run(kWarmup, clients, direct, kDeadlineMs);
    const PhaseResult straight = driver.run(total, clients, direct, kDeadlineMs);
    driver.run(kWarmup, clients, relayed, kDeadlineMs);
    const PhaseResult viaRelay = driver.run(total, clients, relayed, kDeadlineMs);

    std::printf("%d exchanges per phase, %d concurrent clients, %d cores\n", total, clients,
                QThread::idealThreadCount());
    std::printf("%-8s %8s %9s %9s %9s %9s %8s\n", "phase", "requests", "req/s", "p50 ms", "p99 ms",
                "max ms", "failed");
    printRow("direct", straight);
    printRow("relay", viaRelay);
    std::printf("relay overhead: p50 %+.2f ms, p99 %+.2f ms\n",
                viaRelay.percentile(0.50) - straight.percentile(0.50),
                viaRelay.percentile(0.99) - straight.percentile(0.99));

    inThread(&relayContext, [&] { delete relay; });
    inThread(&emulatorContext, [&] { delete emulator; });
    relayThread.quit();
    emulatorThread.quit();
    relayThread.wait();
    emulatorThread.wait();

    const bool ok = straight.failures == 0 && viaRelay.failures == 0;
    std::printf("%s\n", ok ? "no request failed" : "SOME REQUESTS FAILED");
    return ok ? 0 : 1;
}
