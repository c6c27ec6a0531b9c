#include "GitHubService.h"

#include "AppState.h"
#include "GitHubError.h"
#include "GitHubInternal.h"

#include <QJsonArray>
#include <QJsonObject>

using namespace GitHubInternal;

namespace {

// The organisations of /user/installations (not yet known to be
// administered), or nullopt when the first page is not an installations list
// (the token may not list installations: fall back). A later page of another
// shape fails the whole list rather than cut it short. Personal accounts and
// installations without an account are no place to create a repository.
template <typename Pages> std::optional<QList<GitHubOrg>> installationOrgs(const Pages &pages) {
    QList<GitHubOrg> orgs;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const QJsonDocument document = parseJson(pages.at(i).body);
        const QJsonValue list = document.object().value(QLatin1String("installations"));
        bool listOfObjects = document.isObject() && list.isArray();
        for (const QJsonValue &entry : list.toArray())
            listOfObjects = listOfObjects && entry.isObject();
        if (!listOfObjects) {
            if (i == 0)
                return std::nullopt;
            throw GitHubJsonError(
                QStringLiteral("Page %1 of the installations is not a list.").arg(i + 1));
        }
        for (const QJsonValue &entry : list.toArray()) {
            const QJsonObject account = entry.toObject().value(QLatin1String("account")).toObject();
            const auto login = JsonField::string(account, QStringLiteral("login"));
            const auto id = JsonField::integer(account, QStringLiteral("id"));
            const auto type = JsonField::string(account, QStringLiteral("type"));
            if (login && id && type == QLatin1String("Organization"))
                orgs.append(GitHubOrg{*id, *login, false});
        }
    }
    return orgs;
}

template <typename Pages> QList<GitHubOrgResponse> organisations(const Pages &pages) {
    QList<GitHubOrgResponse> orgs;
    for (const auto &page : pages) {
        const QJsonDocument document = parseJson(page.body);
        if (!document.isArray()) {
            const QString message = gitHubMessage(page.body);
            throw GitHubJsonError(
                QStringLiteral("The reply is not a list of organisations") +
                (message.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + message));
        }
        for (const QJsonValue &entry : document.array()) {
            const auto org = GitHubOrgResponse::fromJson(entry);
            if (!org)
                throw GitHubJsonError(
                    QStringLiteral("An organisation in the reply has no login or id."));
            orgs.append(*org);
        }
    }
    return orgs;
}

} // namespace

QCoro::Task<GitHubUser> GitHubService::fetchUser(QString token) {
    const Reply reply = co_await apiGet(QStringLiteral("/user"), token);
    const QJsonDocument document = parseJson(reply.body);
    const auto user = GitHubUser::fromJson(document.object());
    if (!document.isObject() || !user) {
        const QString message = gitHubMessage(reply.body);
        throw GitHubJsonError(
            QStringLiteral("The reply is not a GitHub user") +
            (message.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + message));
    }
    co_return *user;
}

QCoro::Task<bool> GitHubService::fetchOrgs(AppState *appState) {
    QPointer<AppState> state(appState);
    const QString errorPrefix = QStringLiteral("Failed to fetch installations: ");
    QString token;
    std::optional<QList<GitHubOrg>> orgs;
    try {
        token = co_await ensureValidToken();
        const QList<Reply> pages =
            co_await apiGetPages(QStringLiteral("/user/installations"), token);
        // 403 is how GitHub refuses the list to a token that may not read
        // it (the fallback's case); any other error status is a failure.
        const int status = pages.constFirst().status;
        if (status >= 400 && status != 403) {
            const QString message = gitHubMessage(pages.constFirst().body);
            throw GitHubJsonError(
                message.isEmpty() ? QStringLiteral("GitHub answered with status %1.").arg(status)
                                  : message);
        }
        orgs = installationOrgs(pages);
    } catch (const std::exception &error) {
        printLine(errorPrefix + describe(error));
        reportSignInProblem(state.data(), SignInStep::organisations, error);
        co_return false;
    }
    if (!orgs)
        co_return co_await fetchOrgsViaOAuthFallback(state, token);
    // One look-up per organisation, all in flight at once (tasks start
    // eagerly); each answers for itself, so one failure costs one mark.
    std::vector<QCoro::Task<bool>> lookups;
    lookups.reserve(orgs->size());
    for (const GitHubOrg &org : *orgs)
        lookups.push_back(administersOrg(org.login, token));
    for (qsizetype i = 0; i < orgs->size(); ++i)
        (*orgs)[i].isAdmin = co_await std::move(lookups[size_t(i)]);
    if (state) {
        state->setGitHubOrgs(*orgs);
        state->setGitHubSignInProblem({});
    }
    co_return true;
}

QCoro::Task<bool> GitHubService::administersOrg(QString org, QString token) {
    try {
        const Reply reply =
            co_await apiGet(QStringLiteral("/user/memberships/orgs/") + pathSegment(org), token);
        const QJsonObject object = parseJson(reply.body).object();
        const auto membership = GitHubMembership::fromJson(object);
        // An invitation not yet accepted grants nothing.
        co_return membership && membership->role == QLatin1String("admin") &&
            object.value(QLatin1String("state")).toString() != QLatin1String("pending");
    } catch (const std::exception &) {
        // A look-up that fails only means "not known to be an admin".
        co_return false;
    }
}

QCoro::Task<bool> GitHubService::fetchOrgsViaOAuthFallback(QPointer<AppState> appState,
                                                           QString token) {
    QList<GitHubOrgResponse> responses;
    try {
        const QList<Reply> pages = co_await apiGetPages(QStringLiteral("/user/orgs"), token);
        responses = organisations(pages);
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Failed to fetch orgs: ") + describe(error));
        reportSignInProblem(appState.data(), SignInStep::organisations, error);
        co_return false;
    }

    std::vector<QCoro::Task<bool>> lookups;
    lookups.reserve(responses.size());
    for (const GitHubOrgResponse &org : responses)
        lookups.push_back(administersOrg(org.login, token));
    QList<GitHubOrg> orgs;
    for (qsizetype i = 0; i < responses.size(); ++i) {
        // Awaited into a named local: g++ 12 miscompiles a co_await inside
        // a braced initialiser (the frame was corrupted once Reply grew).
        const bool isAdmin = co_await std::move(lookups[size_t(i)]);
        const GitHubOrgResponse &org = responses.at(i);
        GitHubOrg entry;
        entry.id = org.id;
        entry.login = org.login;
        entry.isAdmin = isAdmin;
        orgs.append(entry);
    }
    if (appState) {
        appState->setGitHubOrgs(orgs);
        appState->setGitHubSignInProblem({});
    }
    co_return true;
}
