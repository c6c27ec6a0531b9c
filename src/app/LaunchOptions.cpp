#include "LaunchOptions.h"

#include <QUrl>

bool LaunchOptions::testHooksCompiled() {
#ifdef KEELMARK_TEST_HOOKS
    return true;
#else
    return false;
#endif
}

LaunchOptions LaunchOptions::parse(const QStringList &arguments) {
    LaunchOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
#ifdef KEELMARK_TEST_HOOKS
        // Compiled only into test builds; a release binary has no options.
        if (argument.startsWith(QLatin1String("--test-"))) {
            if (!options.testHooks)
                options.testHooks.emplace();
            TestHooks &hooks = *options.testHooks;
            if (argument == QLatin1String("--test-no-tray")) {
                hooks.noTray = true;
                continue;
            }
            const QString value = i + 1 < arguments.size() ? arguments.at(++i) : QString();
            if (argument == QLatin1String("--test-root"))
                hooks.root = value;
            else if (argument == QLatin1String("--test-api"))
                hooks.apiUrl = value;
            else if (argument == QLatin1String("--test-web"))
                hooks.webUrl = value;
            else if (argument == QLatin1String("--test-relay"))
                hooks.relayUrl = value;
            else if (argument == QLatin1String("--test-client-id"))
                hooks.clientId = value;
            else if (argument == QLatin1String("--test-automation"))
                hooks.automationSocket = value;
            else if (argument == QLatin1String("--test-heartbeat-ms"))
                hooks.heartbeatMs = value.toInt();
            continue;
        }
#endif
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.command = Command::help;
            continue;
        }
        if (options.command == Command::status) {
            if (argument == QLatin1String("--json"))
                options.json = true;
            else if (options.usageError.isEmpty())
                options.usageError =
                    QStringLiteral("unexpected argument for status: %1").arg(argument);
            continue;
        }
        if (argument == QLatin1String("--version")) {
            if (options.command == Command::run)
                options.command = Command::version;
            continue;
        }
        // Only as the first word, so a URL before it still opens the app.
        if (argument == QLatin1String("status") && options.command == Command::run &&
            options.urls.isEmpty()) {
            options.command = Command::status;
            continue;
        }
        if (argument == QLatin1String("--background")) {
            options.background = true;
            continue;
        }
        if (argument == QLatin1String("--json")) {
            options.usageError = QStringLiteral("--json applies only to status");
            continue;
        }
        // Anything else may be one of Qt's own options (-platform ...).
        const QUrl url(argument, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty() && !url.isRelative())
            options.urls.append(argument);
    }
    // Help wins over everything else: a user asking how to call the
    // program is not told that the call was wrong.
    if (options.command == Command::help)
        options.usageError.clear();
    return options;
}
