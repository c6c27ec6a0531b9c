#pragma once

#include "GitHubEndpoints.h"
#include "Records.h"

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class AppState;
class QNetworkAccessManager;

// The GitHub REST client: transport and organisation guard, sign-in and the
// token lifecycle, organisation discovery, repository operations and branch
// protection. Every operation is a coroutine on the main thread; failures
// are thrown as GitHubFailure subclasses (see GitHubError.h).
class GitHubService : public QObject
{
    Q_OBJECT

public:
    explicit GitHubService(GitHubEndpoints endpoints, QObject *parent = nullptr);
    ~GitHubService() override;

    // The process-wide instance on the build-time endpoints.
    static GitHubService &shared();

    const GitHubEndpoints &endpoints() const { return m_endpoints; }

    // Organisation guard: the only organisation any write may touch.
    std::optional<QString> approvedOrg() const { return m_approvedOrg; }
    void setApprovedOrg(std::optional<QString> org) { m_approvedOrg = std::move(org); }

    // --- Sign-in and tokens ---
    // Opens the authorisation page in the browser (QDesktopServices).
    void startOAuth();
    // The authorisation page address startOAuth opens; remembers its state.
    QUrl makeAuthorizationUrl();
    // Acts only on a keelmark://github URL whose state matches the pending
    // sign-in; never throws.
    QCoro::Task<> handleCallback(QUrl url, AppState *appState);
    // Loads tokens and expiry from the credential store.
    QCoro::Task<> restoreFromKeychain();

    std::optional<QString> oauthToken() const { return m_oauthToken; }
    std::optional<QString> refreshToken() const { return m_refreshToken; }
    std::optional<QDateTime> tokenExpiresAt() const { return m_tokenExpiresAt; }

    // --- Discovery ---
    QCoro::Task<> fetchOrgs(AppState *appState);

    // --- Repository operations ---
    QCoro::Task<bool> repoExists(QString org, QString name);
    QCoro::Task<> createRepo(QString org, QString name);
    QCoro::Task<> writeFiles(QString org, QString repo, QList<FileEntry> files, QString message);
    QCoro::Task<QString> getFileContent(QString org, QString repo, QString path);
    QCoro::Task<QList<TeamMember>> getCollaborators(QString org, QString repo);

    // --- Branch protection ---
    QCoro::Task<bool> hasBranchProtection(QString org, QString repo);
    QCoro::Task<> enableBranchProtection(QString org, QString repo);
    QCoro::Task<> disableBranchProtection(QString org, QString repo);

    // Web pages the screens link to.
    QUrl newOrganizationPageUrl() const;
    QUrl repositoryAccessPageUrl(const QString &org, const QString &repo) const;

signals:
    // Emitted after tokens change (sign-in, refresh, restore).
    void tokensChanged();

private:
    GitHubEndpoints m_endpoints;
    QNetworkAccessManager *m_network = nullptr;
    std::optional<QString> m_approvedOrg;
    std::optional<QString> m_oauthToken;
    std::optional<QString> m_refreshToken;
    std::optional<QDateTime> m_tokenExpiresAt;
};
