// Releases: published directly by tests and seeds, read over REST as
// GitHub's "latest release".
#include "EmulatorBackend.h"
#include "GitHubEmulator.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace ghemu {

HttpReply EmulatorBackend::getLatestRelease(const RepoCall &call) {
    const EmuRepo &r = call.repo;
    // GitHub's latest is the newest release that is neither a draft nor a
    // pre-release; a repository with only those has none.
    for (auto it = r.releases.crbegin(); it != r.releases.crend(); ++it) {
        if (it->draft || it->prerelease)
            continue;
        const QString date = it->createdAt.toUTC().toString(Qt::ISODate);
        const QString tagPath = QStringLiteral("/releases/tag/") + it->tagName;
        return json(
            200,
            QJsonDocument(QJsonObject{
                {"id", it->id},
                {"url", repoApiUrl(r) + QStringLiteral("/releases/") + QString::number(it->id)},
                {"html_url", webBase + QLatin1Char('/') + r.fullName() + tagPath},
                {"tag_name", it->tagName},
                {"target_commitish", "main"},
                {"name", it->name},
                {"body", it->body},
                {"draft", false},
                {"prerelease", false},
                {"created_at", date},
                {"published_at", date},
                {"assets", QJsonArray{}},
                {"tarball_url", repoApiUrl(r) + QStringLiteral("/tarball/") + it->tagName},
                {"zipball_url", repoApiUrl(r) + QStringLiteral("/zipball/") + it->tagName}}));
    }
    return notFound(QStringLiteral("rest/releases/releases#get-the-latest-release"));
}

} // namespace ghemu

bool GitHubEmulator::addRelease(const QString &org, const QString &repo, const QString &tag,
                                const ReleaseOptions &options) {
    ghemu::EmuRepo *r = m_backend->repo(org, repo);
    if (!r)
        return false;
    ghemu::EmuRelease release;
    release.id = ++m_backend->nextId;
    release.tagName = tag;
    release.name = options.name.isEmpty() ? tag : options.name;
    release.body = options.body;
    release.draft = options.draft;
    release.prerelease = options.prerelease;
    release.createdAt = QDateTime::currentDateTimeUtc();
    r->releases.append(release);
    return true;
}
