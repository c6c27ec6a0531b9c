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
        const QUrl url(argument, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty() && !url.isRelative())
            options.urls.append(argument);
    }
    return options;
}
