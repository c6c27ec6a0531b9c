#include "GitHubTestBench.h"

#include "KeychainService.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QUrlQuery>

namespace {
int s_benches = 0;
}

GitHubTestBench::GitHubTestBench()
    : credentialService(QStringLiteral("io.keelmark.test.bench.%1.%2")
                            .arg(QCoreApplication::applicationPid())
                            .arg(++s_benches)) {}

GitHubTestBench::~GitHubTestBench() = default;

bool GitHubTestBench::setUp(QString *error) {
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
    config.gitHubApiUrl = emulator.apiUrl();
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

bool GitHubTestBench::setUpSignedIn(QString *error) {
    if (!setUp(error))
        return false;
    if (!signInDirect()) {
        *error = QStringLiteral("client did not restore its token (run under "
                                "scripts/with-test-session.sh)");
        return false;
    }
    appState->setGitHubUsername(user);
    appState->setSelectedOrg(GitHubOrg{1, org, true});
    appState->setRepoName(repo);
    emulator.clearRequests();
    return true;
}

GitHubEndpoints GitHubTestBench::endpoints() const {
    GitHubEndpoints endpoints;
    endpoints.apiBaseUrl = emulator.apiUrl().toString();
    endpoints.webBaseUrl = emulator.webUrl().toString();
    endpoints.relayBaseUrl = relay->baseUrl().toString();
    endpoints.oauthClientId = emulator.oauthApp().clientId;
    return endpoints;
}

std::unique_ptr<GitHubService> GitHubTestBench::makeService() const {
    auto service = std::make_unique<GitHubService>(endpoints(), tempLog());
    service->setCredentialService(credentialService);
    return service;
}

QUrl GitHubTestBench::callbackUrl(const QList<QPair<QString, QString>> &items) {
    QUrl url(QStringLiteral("keelmark://github"));
    QUrlQuery query;
    query.setQueryItems(items);
    url.setQuery(query);
    return url;
}

bool GitHubTestBench::signIn() {
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

bool GitHubTestBench::restore(const QString &token, const QString &refresh, const QString &expiry) {
    using namespace KeychainService;
    bool saved = true;
    for (const auto &[key, value] :
         {std::pair{accessTokenKey, token}, std::pair{refreshTokenKey, refresh},
          std::pair{tokenExpiryKey, expiry}}) {
        const bool ok =
            AsyncTest::waitFor(save(QString::fromLatin1(key), value, credentialService));
        saved = saved && ok;
    }
    AsyncTest::waitFor(gitHub->restoreFromKeychain());
    return saved && gitHub->oauthToken() == token;
}

bool GitHubTestBench::signInDirect(bool appUserToken) {
    GitHubEmulator::TokenOptions options;
    options.expiresIn = 0;
    options.appUserToken = appUserToken;
    return restore(emulator.issueToken(user, options));
}

bool GitHubTestBench::provision(const QList<FileEntry> &files) {
    if (!emulator.createRepoDirect(org, repo))
        return false;
    for (const FileEntry &file : files)
        emulator.writeFileDirect(org, repo, file.path, file.content.toUtf8());
    emulator.setProtection(org, repo, protectionRules());
    emulator.addUser(QStringLiteral("bob"));
    emulator.addCollaborator(org, repo, QStringLiteral("bob"), QStringLiteral("write"));
    emulator.clearRequests();
    return true;
}

std::optional<GitHubError> GitHubTestBench::write(Write write, const QString &org,
                                                  const QString &repo, const QString &path) {
    switch (write) {
    case createRepo:
        return errorOf(gitHub->createRepo(org, repo));
    case writeFiles:
        return errorOf(
            gitHub->writeFiles(org, repo, {{path, QStringLiteral("x")}}, QStringLiteral("m")));
    case enableProtection:
        return errorOf(gitHub->enableBranchProtection(org, repo));
    case disableProtection:
        break;
    }
    return errorOf(gitHub->disableBranchProtection(org, repo));
}

QList<GitHubEmulator::RecordedRequest> GitHubTestBench::requests(GitHubEmulator::Host host) const {
    QList<GitHubEmulator::RecordedRequest> matching;
    for (const auto &request : emulator.requests()) {
        if (request.host == host)
            matching << request;
    }
    return matching;
}

QList<GitHubEmulator::RecordedRequest> GitHubTestBench::tokenRequests() const {
    return emulator.requests("POST", QStringLiteral("/login/oauth/access_token"));
}

QStringList GitHubTestBench::apiCalls() const {
    QStringList calls;
    for (const auto &request : requests(GitHubEmulator::Host::Api))
        calls << QString::fromLatin1(request.method) + u' ' + request.rawPath;
    return calls;
}

QJsonObject GitHubTestBench::protectionRules() {
    return QJsonDocument::fromJson(R"({
        "required_status_checks": null,
        "enforce_admins": true,
        "required_pull_request_reviews": {
            "required_approving_review_count": 1,
            "require_code_owner_reviews": true,
            "dismiss_stale_reviews": true
        },
        "restrictions": null,
        "required_linear_history": true,
        "allow_force_pushes": false,
        "allow_deletions": false
    })")
        .object();
}
