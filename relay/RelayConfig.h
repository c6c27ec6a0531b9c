#pragma once

#include <QHostAddress>
#include <QProcessEnvironment>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

// Everything the relay needs to run. The executable fills it from the
// environment; tests build it directly and listen on port 0.
struct RelayConfig {
    QHostAddress listenAddress = QHostAddress::LocalHost;
    quint16 port = 8080;
    QString clientId{};
    QString clientSecret{};
    // GitHub's web side; the token endpoint is /login/oauth/access_token under it.
    QUrl gitHubWebUrl = QUrl(QStringLiteral("https://github.com"));
    // GitHub's REST API; grants are revoked at /applications/{id}/grant under it.
    QUrl gitHubApiUrl = QUrl(QStringLiteral("https://api.github.com"));
    // The desktop app's URL scheme the callback hands the browser on to.
    QString appScheme = QStringLiteral("keelmark");
    std::chrono::milliseconds upstreamTimeout{10000};
    qsizetype maxBodyBytes = 16 * 1024;
    // What one client may hold: a request must be complete this long after
    // its first byte, a kept-alive connection is closed after this long
    // without one, and connections past the cap are answered 503.
    std::chrono::milliseconds requestTimeout{10000};
    std::chrono::milliseconds idleTimeout{30000};
    int maxConnections = 2048;
};

// Names of the environment variables the executable reads.
namespace RelayEnv {
inline constexpr char listenAddress[] = "KEELMARK_RELAY_LISTEN_ADDRESS";
inline constexpr char port[] = "KEELMARK_RELAY_PORT";
inline constexpr char clientId[] = "KEELMARK_RELAY_CLIENT_ID";
inline constexpr char clientSecret[] = "KEELMARK_RELAY_CLIENT_SECRET";
inline constexpr char clientSecretFile[] = "KEELMARK_RELAY_CLIENT_SECRET_FILE";
inline constexpr char gitHubUrl[] = "KEELMARK_RELAY_GITHUB_URL";
inline constexpr char gitHubApiUrl[] = "KEELMARK_RELAY_GITHUB_API_URL";
inline constexpr char appScheme[] = "KEELMARK_RELAY_APP_SCHEME";
inline constexpr char upstreamTimeoutMs[] = "KEELMARK_RELAY_UPSTREAM_TIMEOUT_MS";
inline constexpr char requestTimeoutMs[] = "KEELMARK_RELAY_REQUEST_TIMEOUT_MS";
inline constexpr char idleTimeoutMs[] = "KEELMARK_RELAY_IDLE_TIMEOUT_MS";
inline constexpr char maxConnections[] = "KEELMARK_RELAY_MAX_CONNECTIONS";
} // namespace RelayEnv

// Builds the configuration from `env`; on a missing or invalid setting
// returns nothing and explains which variable is wrong in *error (never
// quoting the secret).
std::optional<RelayConfig> relayConfigFromEnvironment(const QProcessEnvironment &env,
                                                      QString *error);
