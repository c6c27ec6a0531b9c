#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the process was started with. The application has no command line
// of its own: the desktop passes the URL it opens, and only builds with
// KEELMARK_TEST_HOOKS accept the test options below.
struct LaunchOptions {
    // Arguments that are absolute URLs (keelmark://github?... from the
    // desktop); anything else is ignored.
    QStringList urls;

    // Test builds only: run against loopback services with all state under
    // one private folder.
    struct TestHooks {
        QString root;             // --test-root DIR: state/, lock, socket and the temp log
        QString apiUrl;           // --test-api URL
        QString webUrl;           // --test-web URL
        QString relayUrl;         // --test-relay URL
        QString clientId;         // --test-client-id ID
        int heartbeatMs = 0;      // --test-heartbeat-ms N (0 = the normal minute)
        bool noTray = false;      // --test-no-tray: behave as on a desktop without a tray
        QString automationSocket; // --test-automation PATH: see AutomationServer
    };
    std::optional<TestHooks> testHooks;

    static LaunchOptions parse(const QStringList &arguments);
    static bool testHooksCompiled();
};
