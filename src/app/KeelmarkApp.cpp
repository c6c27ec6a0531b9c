#include "KeelmarkApp.h"

#include "AppDelegate.h"
#include "AppState.h"
#include "AuditRecorder.h"
#include "CommandLine.h"
#include "DesktopShell.h"
#include "DiagnosticLog.h"
#include "GitHubService.h"
#include "HealthCheckService.h"
#include "LaunchOptions.h"
#include "PersistenceService.h"
#include "Style.h"
#include "platform/PlatformIntegration.h"
#ifdef KEELMARK_TEST_HOOKS
#include "AutomationServer.h"
#endif

#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

QStringList argumentList(int argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// Test builds report milestones on standard output, so a test driving the
// real binary can wait on them instead of on time.
void report(const LaunchOptions &options, const QString &line) {
    if (!options.testHooks)
        return;
    std::fprintf(stdout, "keelmark-test: %s\n", qPrintable(line));
    std::fflush(stdout);
}

GitHubEndpoints endpointsFor(const LaunchOptions &options) {
    GitHubEndpoints endpoints = GitHubEndpoints::fromBuildConfig();
    if (const auto &hooks = options.testHooks) {
        if (!hooks->apiUrl.isEmpty())
            endpoints.apiBaseUrl = hooks->apiUrl;
        if (!hooks->webUrl.isEmpty())
            endpoints.webBaseUrl = hooks->webUrl;
        if (!hooks->relayUrl.isEmpty())
            endpoints.relayBaseUrl = hooks->relayUrl;
        if (!hooks->clientId.isEmpty())
            endpoints.oauthClientId = hooks->clientId;
    }
    return endpoints;
}

} // namespace

int KeelmarkApp::run(int argc, char **argv) {
    const LaunchOptions options = LaunchOptions::parse(argumentList(argc, argv));
    const QString testRoot = options.testHooks ? options.testHooks->root : QString();

    // Before any QApplication: a second process must hand over its URL and
    // leave without ever touching the display.
    if (!options.usageError.isEmpty()) {
        std::fprintf(stderr, "keelmark: %s\nTry 'keelmark --help'.\n",
                     qPrintable(options.usageError));
        return 64; // EX_USAGE: apart from the status codes a script tests for
    }
    std::unique_ptr<PlatformIntegration> platform = createPlatformIntegration(testRoot);
    if (options.command != LaunchOptions::Command::run)
        return CommandLine::run(options, *platform,
                                testRoot.isEmpty() ? PersistenceService::defaultDirectory()
                                                   : QDir(testRoot).filePath("state"));
    // Started at login while KeelMark already runs (a second autostart, a
    // restored session): nothing to hand over and no window to bring forward.
    if (options.background && options.urls.isEmpty() &&
        platform->queryStatus().outcome != PlatformIntegration::StatusAnswer::Outcome::notRunning)
        return 0;
    switch (platform->claimInstance(options.urls)) {
    case PlatformIntegration::Role::forwarded:
        return 0;
    case PlatformIntegration::Role::failed:
        std::fprintf(stderr, "keelmark: another instance is running but did not respond (%s)\n",
                     qPrintable(platform->lastError()));
        return 1;
    case PlatformIntegration::Role::primary:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KeelMark"));
    QApplication::setDesktopFileName(QStringLiteral("keelmark"));
    // A menu-bar application: closing its window leaves it running.
    QApplication::setQuitOnLastWindowClosed(false);
    Style::initialize();
    platform->startReceiving();

    // The shared services, or private ones on loopback in a test build.
    std::unique_ptr<PersistenceService> testPersistence;
    std::unique_ptr<GitHubService> testGitHub;
    std::unique_ptr<HealthCheckService> testHealth;
    PersistenceService *persistence = &PersistenceService::shared();
    DiagnosticLog tempLog = DiagnosticLog::inTemporaryDirectory();
    GitHubService *gitHub = nullptr;
    HealthCheckService *health = nullptr;
    if (options.testHooks) {
        if (!testRoot.isEmpty()) {
            testPersistence =
                std::make_unique<PersistenceService>(QDir(testRoot).filePath("state"));
            persistence = testPersistence.get();
            tempLog = DiagnosticLog(testRoot);
        }
        testGitHub = std::make_unique<GitHubService>(endpointsFor(options), tempLog);
        const auto interval = options.testHooks->heartbeatMs > 0
                                  ? std::chrono::milliseconds(options.testHooks->heartbeatMs)
                                  : std::chrono::milliseconds(std::chrono::seconds(60));
        testHealth = std::make_unique<HealthCheckService>(testGitHub.get(), tempLog, interval);
        gitHub = testGitHub.get();
        health = testHealth.get();
    } else {
        gitHub = &GitHubService::shared();
        health = &HealthCheckService::shared();
    }

    AppState appState(persistence);
    platform->setStatusProvider([&appState] {
        return QJsonDocument(CommandLine::statusOf(appState)).toJson(QJsonDocument::Compact);
    });
    // Beside state.json, so a test build's private root holds its own trail.
    AuditRecorder audit(persistence->directory());
    AppDelegate::Options delegateOptions;
    if (options.testHooks && options.testHooks->noTray)
        delegateOptions.trayAvailable = [] { return false; };
    delegateOptions.background = options.background;
    // A test build's private root keeps its desktop entries to itself too.
    const bool privateDesktop = options.testHooks && !testRoot.isEmpty();
    DesktopShell::Places places;
    places.configHome =
        privateDesktop ? QDir(testRoot).filePath("config")
                       : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (privateDesktop) {
        places.applicationsDir = QDir(testRoot).filePath("applications");
        places.packageDatabase = QDir(testRoot).filePath("dpkg");
    }
    DesktopShell shell(places);
    AppDelegate delegate(UiContext{&appState, gitHub, health, &audit, &shell}, tempLog,
                         delegateOptions);

    QObject::connect(platform.get(), &PlatformIntegration::urlReceived, &delegate,
                     [&](const QUrl &url) {
                         report(options, QStringLiteral("url ") + url.toString());
                         delegate.handleUrl(url);
                     });
    QObject::connect(platform.get(), &PlatformIntegration::activationRequested, &delegate, [&] {
        report(options, QStringLiteral("activate"));
        delegate.handleReopen();
    });
    QObject::connect(&delegate, &AppDelegate::launchFinished, &delegate, [&] {
        report(options,
               QStringLiteral("launched tray=%1")
                   .arg(delegate.trayAvailable() ? QStringLiteral("yes") : QStringLiteral("no")));
    });

#ifdef KEELMARK_TEST_HOOKS
    AutomationServer automation(&delegate);
    if (options.testHooks && !options.testHooks->automationSocket.isEmpty() &&
        !automation.listen(options.testHooks->automationSocket))
        report(options, QStringLiteral("automation socket failed"));
#endif

    delegate.applicationDidFinishLaunching();
    // The URL this process was started with is handled once launch is done.
    for (const QString &url : options.urls) {
        QTimer::singleShot(0, &delegate, [&, url = QUrl(url)] {
            report(options, QStringLiteral("url ") + url.toString());
            delegate.handleUrl(url);
        });
    }
    const int status = app.exec();
    // Top-level windows go before the application object does.
    return status;
}
