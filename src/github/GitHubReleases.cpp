#include "GitHubService.h"

#include "GitHubError.h"
#include "GitHubInternal.h"

#include <QJsonObject>
#include <QNetworkRequest>

using namespace GitHubInternal;

namespace {

// Outside the coroutine: g++ 12 miscompiles braced initialisers in them.
GitHubRelease releaseOf(const QJsonObject &object, const QUrl &fallbackPage) {
    GitHubRelease release;
    release.tagName = object.value(QLatin1String("tag_name")).toString();
    release.name = object.value(QLatin1String("name")).toString();
    release.prerelease = object.value(QLatin1String("prerelease")).toBool();
    release.draft = object.value(QLatin1String("draft")).toBool();
    // The page is opened in the browser: only a web address is taken.
    const QUrl page(object.value(QLatin1String("html_url")).toString(), QUrl::StrictMode);
    const bool web =
        page.isValid() && !page.host().isEmpty() &&
        (page.scheme() == QLatin1String("https") || page.scheme() == QLatin1String("http"));
    release.htmlUrl = web ? page : fallbackPage;
    return release;
}

} // namespace

QCoro::Task<std::optional<GitHubRelease>> GitHubService::latestRelease(QString owner,
                                                                       QString repo) {
    const QString path = repoPath(owner, repo);
    // Without the user's token: a public repository's releases are anyone's
    // to read, and the question may come before sign-in or after sign-out.
    QNetworkRequest request = baseRequest(apiUrl(path + QStringLiteral("/releases/latest")));
    request.setRawHeader("Accept", "application/vnd.github+json");
    request.setRawHeader("X-GitHub-Api-Version", "2022-11-28");
    const Reply reply = co_await transfer(QByteArrayLiteral("GET"), request, QByteArray());
    requireAnswer(reply);
    if (reply.status == 404)
        co_return std::nullopt;
    const QUrl fallback(m_endpoints.webBaseUrl + path.mid(QStringLiteral("/repos").size()) +
                        QStringLiteral("/releases/latest"));
    co_return releaseOf(parseJson(reply.body).object(), fallback);
}
