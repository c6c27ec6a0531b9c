#include "RelayConfig.h"
#include "RelayServer.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

QLoggingCategory::CategoryFilter g_defaultFilter = nullptr;

// Qt's own debug output prints whole request URLs, query and all; the query
// carries authorisation codes, so it stays off whatever QT_LOGGING_RULES says.
void silenceQtDebug(QLoggingCategory *category) {
    if (g_defaultFilter)
        g_defaultFilter(category);
    if (qstrncmp(category->categoryName(), "qt.", 3) == 0) {
        category->setEnabled(QtDebugMsg, false);
        category->setEnabled(QtInfoMsg, false);
    }
}

void printUsage() {
    std::fputs(
        "keelmark-relay " KEELMARK_RELAY_VERSION " - OAuth relay for KeelMark\n\n"
        "Configured through the environment:\n"
        "  KEELMARK_RELAY_CLIENT_ID           GitHub App client id (required)\n"
        "  KEELMARK_RELAY_CLIENT_SECRET       GitHub App client secret, or\n"
        "  KEELMARK_RELAY_CLIENT_SECRET_FILE  a file holding it (one is required)\n"
        "  KEELMARK_RELAY_LISTEN_ADDRESS      address to listen on (default 127.0.0.1)\n"
        "  KEELMARK_RELAY_PORT                port (default 8080)\n"
        "  KEELMARK_RELAY_GITHUB_URL          GitHub web address (default https://github.com)\n"
        "  KEELMARK_RELAY_GITHUB_API_URL      GitHub REST API address (default\n"
        "                                     https://api.github.com)\n"
        "  KEELMARK_RELAY_APP_SCHEME          the app's URL scheme (default keelmark)\n"
        "  KEELMARK_RELAY_UPSTREAM_TIMEOUT_MS limit on GitHub's answer (default 10000)\n"
        "  KEELMARK_RELAY_REQUEST_TIMEOUT_MS  limit on receiving a request (default 10000)\n"
        "  KEELMARK_RELAY_IDLE_TIMEOUT_MS     idle kept-alive connections close (default 30000)\n"
        "  KEELMARK_RELAY_MAX_CONNECTIONS     open connections before 503 (default 2048)\n",
        stdout);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("keelmark-relay"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KEELMARK_RELAY_VERSION));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        printUsage();
        return 0;
    }
    if (arguments.contains(QLatin1String("--version"))) {
        std::puts("keelmark-relay " KEELMARK_RELAY_VERSION);
        return 0;
    }

    g_defaultFilter = QLoggingCategory::installFilter(silenceQtDebug);
    qSetMessagePattern(QStringLiteral("%{if-warning}warning: %{endif}%{if-critical}error: "
                                      "%{endif}%{if-fatal}fatal: %{endif}%{message}"));

    QString error;
    const std::optional<RelayConfig> config =
        relayConfigFromEnvironment(QProcessEnvironment::systemEnvironment(), &error);
    if (!config) {
        std::fprintf(stderr, "keelmark-relay: %s\nRun keelmark-relay --help for the settings.\n",
                     qPrintable(error));
        return 2;
    }

    RelayServer server(*config);
    if (!server.listen()) {
        std::fprintf(stderr, "keelmark-relay: cannot listen on %s port %u.\n",
                     qPrintable(config->listenAddress.toString()), unsigned(config->port));
        return 1;
    }
    qCInfo(lcRelay).noquote() << QStringLiteral("keelmark-relay %1 listening on %2 port %3, "
                                                "client id %4, token endpoint %5")
                                     .arg(QStringLiteral(KEELMARK_RELAY_VERSION),
                                          config->listenAddress.toString(),
                                          QString::number(server.port()), config->clientId,
                                          server.tokenEndpoint().toString());
    return app.exec();
}
