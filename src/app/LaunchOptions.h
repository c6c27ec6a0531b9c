#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the process was started with: the URL the desktop passes, or one of
// the read-only commands below. Only builds with KEELMARK_TEST_HOOKS accept
// the test options.
struct LaunchOptions {
    enum class Command {
        run,     // the application itself
        help,    // --help, -h
        version, // --version
        status,  // status [--json]: ask the running instance, or the disk
    };
    Command command = Command::run;
    bool json = false; // status --json
    // --background: as started at login, the tray icon and no window.
    bool background = false;
    // Set when the command line cannot be followed; the process says so
    // and exits without starting anything.
    QString usageError;

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
