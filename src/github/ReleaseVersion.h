#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// A release as GitHub's "latest release" describes it.
struct GitHubRelease {
    QString tagName;
    QString name;
    QUrl htmlUrl; // the release page
    bool prerelease = false;
    bool draft = false;
};

// Whether a release tag is an update over the running version. Tags read
// "v1.2.0" or "1.2.0", numeric per component (missing ones count as 0),
// with optional "-pre.release" and "+build" parts.
namespace ReleaseVersion {

enum class Verdict {
    newer,    // an update the user can install
    notNewer, // the same version, an older one, or a pre-release
    unknown,  // the tag (or the running version) is no version number
};

Verdict compare(const QString &latestTag, const QString &currentVersion);

} // namespace ReleaseVersion
