#include "GitHubService.h"

#include "GitHubError.h"
#include "GitHubInternal.h"
#include "GitHubRefreshFlight.h"
#include "GitHubTokenResponse.h"
#include "KeychainService.h"

#include <QNetworkAccessManager>

Q_LOGGING_CATEGORY(lcGitHub, "keelmark.github", QtInfoMsg)

GitHubService::GitHubService(GitHubEndpoints endpoints, DiagnosticLog log, QObject *parent)
    : QObject(parent)
    , m_endpoints(std::move(endpoints))
    , m_log(std::move(log))
    , m_network(new QNetworkAccessManager(this))
    // The application's own items; tests pick their own with setCredentialService.
    , m_credentialService(QString::fromLatin1(KeychainService::serviceName))
    , m_writeCredential(&KeychainService::save) {
    // Trailing slashes would double up with the paths that all begin with "/".
    for (QString *base :
         {&m_endpoints.apiBaseUrl, &m_endpoints.webBaseUrl, &m_endpoints.relayBaseUrl}) {
        while (base->endsWith(QLatin1Char('/')))
            base->chop(1);
    }
}

GitHubService::~GitHubService() = default;

GitHubService &GitHubService::shared() {
    // Never released: requests may still be finishing while the process exits.
    static GitHubService *instance = new GitHubService(GitHubEndpoints::fromBuildConfig(),
                                                       DiagnosticLog::inTemporaryDirectory());
    return *instance;
}

QUrl GitHubService::newOrganizationPageUrl() const {
    return QUrl(m_endpoints.webBaseUrl + QStringLiteral("/account/organizations/new"));
}

QUrl GitHubService::repositoryAccessPageUrl(const QString &org, const QString &repo) const {
    try {
        return QUrl(m_endpoints.webBaseUrl + QLatin1Char('/') + GitHubInternal::pathSegment(org) +
                        QLatin1Char('/') + GitHubInternal::pathSegment(repo) +
                        QStringLiteral("/settings/access"),
                    QUrl::StrictMode);
    } catch (const GitHubFailure &) {
        return {};
    }
}
