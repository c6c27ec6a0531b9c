#include "GitHubService.h"

#include "AppState.h"
#include "GitHubError.h"
#include "GitHubInternal.h"

#include <QJsonArray>
#include <QJsonObject>

using namespace GitHubInternal;

namespace {

// The accounts of /user/installations, or nullopt when the first page is not
// an installations list (the token may not list installations: fall back).
// A later page of another shape fails the whole list rather than cut it short.
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
            if (login && id)
                orgs.append(GitHubOrg{*id, *login, true});
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
    if (state) {
        state->setGitHubOrgs(*orgs);
        state->setGitHubSignInProblem({});
    }
    co_return true;
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

    QList<GitHubOrg> orgs;
    for (const GitHubOrgResponse &org : responses) {
        bool isAdmin = false;
        try {
            // Read now: the user name may have changed while earlier requests ran.
            const QString username = appState ? appState->gitHubUsername() : QString();
            const QString path = QStringLiteral("/orgs/") + pathSegment(org.login) +
                                 QStringLiteral("/memberships/") + pathSegment(username);
            const Reply reply = co_await apiGet(path, token);
            const QJsonDocument document = parseJson(reply.body);
            const auto membership =
                document.isObject() ? GitHubMembership::fromJson(document.object()) : std::nullopt;
            isAdmin = membership && membership->role == QLatin1String("admin");
        } catch (const std::exception &) {
            // An unreadable membership only means "not known to be an admin".
        }
        orgs.append(GitHubOrg{org.id, org.login, isAdmin});
    }
    if (appState) {
        appState->setGitHubOrgs(orgs);
        appState->setGitHubSignInProblem({});
    }
    co_return true;
}
