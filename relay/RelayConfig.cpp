#include "RelayConfig.h"

#include <QFile>
#include <QRegularExpression>

namespace {

QString value(const QProcessEnvironment &env, const char *name) {
    return env.value(QString::fromLatin1(name)).trimmed();
}

bool fail(QString *error, const QString &message) {
    if (error)
        *error = message;
    return false;
}

bool readSecret(const QProcessEnvironment &env, RelayConfig &config, QString *error) {
    const QString inline_ = value(env, RelayEnv::clientSecret);
    const QString path = value(env, RelayEnv::clientSecretFile);
    if (!inline_.isEmpty() && !path.isEmpty())
        return fail(error, QStringLiteral("Set either %1 or %2, not both.")
                               .arg(RelayEnv::clientSecret, RelayEnv::clientSecretFile));
    if (!inline_.isEmpty()) {
        config.clientSecret = inline_;
        return true;
    }
    if (path.isEmpty())
        return fail(error, QStringLiteral("The GitHub App's client secret is missing: set %1 "
                                          "or %2 (a file holding it).")
                               .arg(RelayEnv::clientSecret, RelayEnv::clientSecretFile));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("Cannot read the client secret file %1 (%2): %3")
                               .arg(path, RelayEnv::clientSecretFile, file.errorString()));
    // Files written by editors or `echo` end in a newline that is not part
    // of the secret.
    config.clientSecret = QString::fromUtf8(file.read(64 * 1024)).trimmed();
    if (config.clientSecret.isEmpty())
        return fail(error, QStringLiteral("The client secret file %1 (%2) is empty.")
                               .arg(path, RelayEnv::clientSecretFile));
    return true;
}

// Leaves `out` alone when the variable is not set.
bool readPositive(const QProcessEnvironment &env, const char *name, int &out, QString *error) {
    const QString text = value(env, name);
    if (text.isEmpty())
        return true;
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number <= 0)
        return fail(error, QStringLiteral("%1 must be a positive whole number, not %2")
                               .arg(QString::fromLatin1(name), text));
    out = number;
    return true;
}

// Leaves `out` alone when the variable is not set.
bool readBaseUrl(const QProcessEnvironment &env, const char *name, const QString &example,
                 QUrl &out, QString *error) {
    const QString url = value(env, name);
    if (url.isEmpty())
        return true;
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty() ||
        (parsed.scheme() != QLatin1String("https") && parsed.scheme() != QLatin1String("http")) ||
        parsed.hasQuery() || parsed.hasFragment())
        return fail(error, QStringLiteral("%1 must be an http(s) base address such as %2, not %3")
                               .arg(QString::fromLatin1(name), example, url));
    out = parsed;
    return true;
}

} // namespace

std::optional<RelayConfig> relayConfigFromEnvironment(const QProcessEnvironment &env,
                                                      QString *error) {
    RelayConfig config;

    config.clientId = value(env, RelayEnv::clientId);
    if (config.clientId.isEmpty()) {
        fail(error, QStringLiteral("The GitHub App's client id is missing: set %1.")
                        .arg(RelayEnv::clientId));
        return std::nullopt;
    }
    if (!readSecret(env, config, error))
        return std::nullopt;

    if (const QString address = value(env, RelayEnv::listenAddress); !address.isEmpty()) {
        if (!config.listenAddress.setAddress(address)) {
            fail(error, QStringLiteral("%1 is not an IP address: %2")
                            .arg(RelayEnv::listenAddress, address));
            return std::nullopt;
        }
    }
    if (const QString port = value(env, RelayEnv::port); !port.isEmpty()) {
        bool ok = false;
        const uint number = port.toUInt(&ok);
        if (!ok || number == 0 || number > 65535) {
            fail(error, QStringLiteral("%1 must be a port number from 1 to 65535, not %2")
                            .arg(RelayEnv::port, port));
            return std::nullopt;
        }
        config.port = quint16(number);
    }
    if (!readBaseUrl(env, RelayEnv::gitHubUrl, QStringLiteral("https://github.com"),
                     config.gitHubWebUrl, error) ||
        !readBaseUrl(env, RelayEnv::gitHubApiUrl, QStringLiteral("https://api.github.com"),
                     config.gitHubApiUrl, error))
        return std::nullopt;
    if (const QString scheme = value(env, RelayEnv::appScheme); !scheme.isEmpty()) {
        static const QRegularExpression valid(QStringLiteral("^[a-z][a-z0-9+.-]*$"));
        if (!valid.match(scheme).hasMatch()) {
            fail(error,
                 QStringLiteral("%1 is not a URL scheme: %2").arg(RelayEnv::appScheme, scheme));
            return std::nullopt;
        }
        config.appScheme = scheme;
    }
    int upstreamMs = int(config.upstreamTimeout.count());
    int requestMs = int(config.requestTimeout.count());
    int idleMs = int(config.idleTimeout.count());
    if (!readPositive(env, RelayEnv::upstreamTimeoutMs, upstreamMs, error) ||
        !readPositive(env, RelayEnv::requestTimeoutMs, requestMs, error) ||
        !readPositive(env, RelayEnv::idleTimeoutMs, idleMs, error) ||
        !readPositive(env, RelayEnv::maxConnections, config.maxConnections, error))
        return std::nullopt;
    config.upstreamTimeout = std::chrono::milliseconds(upstreamMs);
    config.requestTimeout = std::chrono::milliseconds(requestMs);
    config.idleTimeout = std::chrono::milliseconds(idleMs);
    return config;
}
