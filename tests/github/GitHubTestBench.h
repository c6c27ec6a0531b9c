#pragma once

// The emulator, the relay in-process in front of its token endpoint, and a
// GitHubService pointed at both, with its own credential-store service and
// an AppState in a private directory.

#include "AppState.h"
#include "AsyncTest.h"
#include "GitHubEmulator.h"
#include "GitHubService.h"
#include "KeychainService.h"
#include "PersistenceService.h"
#include "RelayServer.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <memory>

class GitHubTestBench {
public:
    static inline const QString user = QStringLiteral("alice");
    static inline const QString org = QStringLiteral("acme");

    GitHubEmulator emulator;
    std::unique_ptr<RelayServer> relay;
    QTemporaryDir stateDir;
    std::unique_ptr<PersistenceService> persistence;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<GitHubService> gitHub;
    // Unique per bench, so tests never read each other's tokens.
    QString credentialService = QStringLiteral("io.keelmark.test.github.%1.%2")
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(++s_benches);

    bool setUp(QString *error) {
        if (!emulator.start()) {
            *error = QStringLiteral("emulator did not start");
            return false;
        }
        emulator.addUser(user);
        emulator.addOrg(org);
        emulator.setMembership(org, user, QStringLiteral("admin"));
        emulator.setAuthorizingUser(user);

        RelayConfig config;
        config.port = 0;
        config.clientId = emulator.oauthApp().clientId;
        config.clientSecret = emulator.oauthApp().clientSecret;
        config.gitHubWebUrl = emulator.webUrl();
        relay = std::make_unique<RelayServer>(config);
        if (!relay->listen()) {
            *error = QStringLiteral("relay did not start");
            return false;
        }

        persistence = std::make_unique<PersistenceService>(stateDir.path());
        appState = std::make_unique<AppState>(persistence.get());
        gitHub = makeService();
        gitHub->setApprovedOrg(org);
        return true;
    }

    GitHubEndpoints endpoints() const {
        GitHubEndpoints endpoints;
        endpoints.apiBaseUrl = emulator.apiUrl().toString();
        endpoints.webBaseUrl = emulator.webUrl().toString();
        endpoints.relayBaseUrl = relay->baseUrl().toString();
        endpoints.oauthClientId = emulator.oauthApp().clientId;
        return endpoints;
    }

    std::unique_ptr<GitHubService> makeService() const {
        auto service = std::make_unique<GitHubService>(endpoints());
        service->setCredentialService(credentialService);
        return service;
    }

    // The keelmark:// callback the relay hands the browser on to.
    static QUrl callbackUrl(const QList<QPair<QString, QString>> &items) {
        QUrl url(QStringLiteral("keelmark://github"));
        QUrlQuery query;
        query.setQueryItems(items);
        url.setQuery(query);
        return url;
    }

    // A sign-in as after the browser step: a code the emulator issued for
    // the pending sign-in's PKCE challenge, delivered through handleCallback.
    bool signIn() {
        const QUrlQuery query(gitHub->makeAuthorizationUrl());
        const QString code = emulator.mintAuthorizationCode(
            user, query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
            query.queryItemValue(QStringLiteral("code_challenge")));
        AsyncTest::waitFor(gitHub->handleCallback(
            callbackUrl({{QStringLiteral("code"), code},
                         {QStringLiteral("state"), query.queryItemValue(QStringLiteral("state"))}}),
            appState.get()));
        return gitHub->oauthToken().has_value();
    }

    // Puts tokens into the credential store and lets the service restore
    // them, as at launch. Empty texts read as absent.
    bool restore(const QString &token, const QString &refresh = {}, const QString &expiry = {}) {
        using namespace KeychainService;
        const bool saved = AsyncTest::waitFor(save(QString::fromLatin1(accessTokenKey), token,
                                                   credentialService)) &&
                           AsyncTest::waitFor(save(QString::fromLatin1(refreshTokenKey), refresh,
                                                   credentialService)) &&
                           AsyncTest::waitFor(save(QString::fromLatin1(tokenExpiryKey), expiry,
                                                   credentialService));
        AsyncTest::waitFor(gitHub->restoreFromKeychain());
        return saved && gitHub->oauthToken() == token;
    }

    // A token for `user` straight from the emulator, restored as at launch.
    bool signInDirect(bool appUserToken = true) {
        GitHubEmulator::TokenOptions options;
        options.expiresIn = 0;
        options.appUserToken = appUserToken;
        return restore(emulator.issueToken(user, options));
    }

    QList<GitHubEmulator::RecordedRequest> requests(GitHubEmulator::Host host) const {
        QList<GitHubEmulator::RecordedRequest> matching;
        for (const auto &request : emulator.requests()) {
            if (request.host == host)
                matching << request;
        }
        return matching;
    }

    // Token-endpoint calls that reached GitHub through the relay.
    QList<GitHubEmulator::RecordedRequest> tokenRequests() const {
        return emulator.requests("POST", QStringLiteral("/login/oauth/access_token"));
    }

    // "METHOD rawPath" of every REST call.
    QStringList apiCalls() const {
        QStringList calls;
        for (const auto &request : requests(GitHubEmulator::Host::Api))
            calls << QString::fromLatin1(request.method) + u' ' + request.rawPath;
        return calls;
    }

private:
    static inline int s_benches = 0;
};
