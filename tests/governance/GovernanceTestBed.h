#pragma once

// A signed-in client against a fresh emulator, and an AppState in a private
// directory: what the run, the health check and their benchmark start from.

#include "AppState.h"
#include "AsyncTest.h"
#include "GitHubEmulator.h"
#include "GitHubService.h"
#include "KeychainService.h"
#include "PersistenceService.h"

#include <QTemporaryDir>

#include <memory>

class GovernanceTestBed {
public:
    static inline const QString owner = QStringLiteral("alice");
    static inline const QString org = QStringLiteral("acme");
    static inline const QString credentialService = QStringLiteral("io.keelmark.test.governance");

    GitHubEmulator emulator;
    QTemporaryDir stateDir;
    std::unique_ptr<PersistenceService> persistence;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<GitHubService> gitHub;
    QString token;

    // False (with the reason in *error) when the emulator cannot listen or
    // the credential store does not take the token.
    bool setUp(QString *error) {
        if (!emulator.start()) {
            *error = QStringLiteral("emulator did not start");
            return false;
        }
        emulator.addUser(owner);
        emulator.addOrg(org);
        emulator.setMembership(org, owner, QStringLiteral("admin"));
        GitHubEmulator::TokenOptions options;
        options.expiresIn = 0;
        token = emulator.issueToken(owner, options);

        persistence = std::make_unique<PersistenceService>(stateDir.path());
        appState = std::make_unique<AppState>(persistence.get());
        appState->setGitHubUsername(owner);
        appState->setSelectedOrg(GitHubOrg{1, org, true});
        appState->setRepoName(QStringLiteral("ops"));

        GitHubEndpoints endpoints;
        endpoints.apiBaseUrl = emulator.apiUrl().toString();
        endpoints.webBaseUrl = emulator.webUrl().toString();
        endpoints.relayBaseUrl = emulator.webUrl().toString();
        endpoints.oauthClientId = emulator.oauthApp().clientId;
        gitHub = std::make_unique<GitHubService>(endpoints);
        gitHub->setApprovedOrg(org);
        // Our own credential-store service, so the user's items stay untouched.
        gitHub->setCredentialService(credentialService);

        // The client takes its token the way it does at launch: from the
        // credential store.
        const bool saved = AsyncTest::waitFor(KeychainService::save(
            QString::fromLatin1(KeychainService::accessTokenKey), token, credentialService));
        if (!saved) {
            *error = QStringLiteral("credential store refused the token (run under "
                                    "scripts/with-test-session.sh)");
            return false;
        }
        AsyncTest::waitFor(gitHub->restoreFromKeychain());
        if (gitHub->oauthToken() != token) {
            *error = QStringLiteral("client did not restore the token");
            return false;
        }
        emulator.clearRequests();
        return true;
    }

    // Only the requests to the REST API, as "METHOD path".
    QStringList apiCalls() const {
        QStringList calls;
        for (const auto &request : emulator.requests()) {
            if (request.host == GitHubEmulator::Host::Api)
                calls << QString::fromLatin1(request.method) + u' ' + request.path;
        }
        return calls;
    }
};
