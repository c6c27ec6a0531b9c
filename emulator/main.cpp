// keelmark-github-emulator: the GitHub emulator as a process, for the local
// sandbox. Prints one line with both addresses on stdout, then serves until
// SIGTERM or SIGINT, logging one line per request on stderr.
#include "GitHubEmulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QUrlQuery>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalFd[2] = {-1, -1};

// Values of these parameters are secrets or one-time codes: kept out of the log.
const QStringList kRedacted{QStringLiteral("client_secret"), QStringLiteral("code"),
                            QStringLiteral("code_verifier"), QStringLiteral("refresh_token"),
                            QStringLiteral("access_token")};

QString logLine(const GitHubEmulator::RecordedRequest &request) {
    QUrlQuery query = request.query;
    for (const QString &name : kRedacted) {
        if (query.hasQueryItem(name)) {
            query.removeAllQueryItems(name);
            query.addQueryItem(name, QStringLiteral("redacted"));
        }
    }
    const QString status =
        request.status == 0 ? QStringLiteral("dropped") : QString::number(request.status);
    const qint64 ms = request.receivedAt.msecsTo(QDateTime::currentDateTimeUtc());
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + QLatin1Char(' ') +
           (request.host == GitHubEmulator::Host::Api ? QStringLiteral("api ")
                                                      : QStringLiteral("web ")) +
           QString::fromLatin1(request.method) + QLatin1Char(' ') + request.rawPath +
           (query.isEmpty() ? QString() : QLatin1Char('?') + query.toString(QUrl::FullyEncoded)) +
           QLatin1Char(' ') + status + QLatin1Char(' ') + QString::number(ms) +
           QStringLiteral("ms");
}

void onSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: the event loop picks it up.
    [[maybe_unused]] const auto n = ::write(g_signalFd[0], &byte, 1);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("keelmark-github-emulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A loopback GitHub emulator for KeelMark."));
    parser.addHelpOption();
    QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Seed file (JSON)."),
                                  QStringLiteral("file"));
    QCommandLineOption apiPortOption(QStringLiteral("api-port"),
                                     QStringLiteral("REST API port (0 = any)."),
                                     QStringLiteral("port"), QStringLiteral("0"));
    QCommandLineOption webPortOption(QStringLiteral("web-port"),
                                     QStringLiteral("Web port (0 = any)."), QStringLiteral("port"),
                                     QStringLiteral("0"));
    QCommandLineOption autoApproveOption(QStringLiteral("auto-approve"),
                                         QStringLiteral("Approve authorisation requests at once."));
    parser.addOptions({seedOption, apiPortOption, webPortOption, autoApproveOption});
    parser.process(app);

    GitHubEmulator emulator;
    if (parser.isSet(seedOption)) {
        QFile file(parser.value(seedOption));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read seed file %s\n", qPrintable(file.fileName()));
            return 2;
        }
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &err);
        QString problem;
        if (err.error != QJsonParseError::NoError || !doc.isObject())
            problem = err.error != QJsonParseError::NoError ? err.errorString()
                                                            : QStringLiteral("not a JSON object");
        else
            emulator.loadSeed(doc.object(), &problem);
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "bad seed file %s: %s\n", qPrintable(file.fileName()),
                         qPrintable(problem));
            return 2;
        }
    }
    if (parser.isSet(autoApproveOption))
        emulator.setAutoApprove(true);

    bool apiOk = false;
    bool webOk = false;
    const uint apiPort = parser.value(apiPortOption).toUInt(&apiOk);
    const uint webPort = parser.value(webPortOption).toUInt(&webOk);
    if (!apiOk || !webOk || apiPort > 65535 || webPort > 65535) {
        std::fprintf(stderr, "ports must be numbers from 0 to 65535\n");
        return 2;
    }
    if (!emulator.start(quint16(apiPort), quint16(webPort))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }

    QObject::connect(&emulator, &GitHubEmulator::requestFinished, &emulator,
                     [&emulator](int index) {
                         if (index < 0)
                             return;
                         std::fprintf(stderr, "%s\n", qPrintable(logLine(emulator.request(index))));
                         std::fflush(stderr);
                         // A long sandbox session would otherwise keep every request.
                         if (emulator.inFlight() == 0)
                             emulator.clearRequests();
                     });

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFd) == 0) {
        auto *notifier = new QSocketNotifier(g_signalFd[1], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
            char byte;
            [[maybe_unused]] const auto n = ::read(g_signalFd[1], &byte, 1);
            QCoreApplication::quit();
        });
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }

    std::printf("api=%s web=%s\n", qPrintable(emulator.apiUrl().toString()),
                qPrintable(emulator.webUrl().toString()));
    std::fflush(stdout);
    return app.exec();
}
