#pragma once

// The emulator, the relay in-process in front of its token endpoint, and a
// GitHubService pointed at both, with its own credential-store service and
// an AppState in a private directory. User `alice` administers `acme`.

#include "AppState.h"
#include "AsyncTest.h"
#include "DiagnosticLog.h"
#include "GitHubEmulator.h"
#include "GitHubError.h"
#include "GitHubService.h"
#include "PersistenceService.h"
#include "RelayServer.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class GitHubTestBench {
public:
    static inline const QString user = QStringLiteral("alice");
    static inline const QString org = QStringLiteral("acme");
    static inline const QString repo = QStringLiteral("ops");

    GitHubEmulator emulator;
    std::unique_ptr<RelayServer> relay;
    QTemporaryDir stateDir;
    std::unique_ptr<PersistenceService> persistence;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<GitHubService> gitHub;
    // Unique per bench, so tests never read each other's tokens.
    const QString credentialService;

    GitHubTestBench();
    ~GitHubTestBench();

    // False, with the reason in *error, when a server cannot listen.
    bool setUp(QString *error);
    // setUp, then a token restored from the credential store as at launch,
    // the app state pointing at acme/ops, and an empty request log: where
    // the protection run and the health check start.
    bool setUpSignedIn(QString *error);

    GitHubEndpoints endpoints() const;
    // The temporary-directory trace, kept in stateDir.
    DiagnosticLog tempLog() const { return DiagnosticLog(stateDir.path()); }
    std::unique_ptr<GitHubService> makeService() const;

    // The keelmark:// callback the relay hands the browser on to.
    static QUrl callbackUrl(const QList<QPair<QString, QString>> &items);
    // A sign-in as after the browser step: a code the emulator issued for
    // the pending sign-in's PKCE challenge, delivered through handleCallback.
    bool signIn();
    // Puts tokens into the credential store and lets the service restore
    // them, as at launch. Empty texts read as absent.
    bool restore(const QString &token, const QString &refresh = {}, const QString &expiry = {});
    // A token for `user` straight from the emulator, restored as at launch.
    bool signInDirect(bool appUserToken = true);

    // acme/ops as a protection run leaves it, plus the collaborator bob;
    // the request log is cleared afterwards.
    bool provision(const QList<FileEntry> &files);

    QList<GitHubEmulator::RecordedRequest> requests(GitHubEmulator::Host host) const;
    // Token-endpoint calls that reached GitHub through the relay.
    QList<GitHubEmulator::RecordedRequest> tokenRequests() const;
    // "METHOD rawPath" of every REST call.
    QStringList apiCalls() const;

    // The rule set the client must send to protect main.
    static QJsonObject protectionRules();

    // The four writes the organisation guard stands in front of.
    enum Write { createRepo, writeFiles, enableProtection, disableProtection };
    // Runs one write (writeFiles puts one file at `path`); the GitHubError
    // it ends with, or nothing when it succeeds.
    std::optional<GitHubError> write(Write write, const QString &org, const QString &repo,
                                     const QString &path = QStringLiteral("a.md"));

    // The GitHubError a task ends with, or nothing when it succeeds.
    template <typename T> static std::optional<GitHubError> errorOf(QCoro::Task<T> task) {
        try {
            AsyncTest::waitFor(std::move(task));
        } catch (const GitHubError &error) {
            return error;
        }
        return std::nullopt;
    }
    template <typename T> static int kindOf(QCoro::Task<T> task) {
        const auto error = errorOf(std::move(task));
        return error ? int(error->kind()) : -1;
    }
};
