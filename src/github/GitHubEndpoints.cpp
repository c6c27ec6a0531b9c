#include "GitHubEndpoints.h"

#include <BuildConfig.h>

GitHubEndpoints GitHubEndpoints::fromBuildConfig() {
    return GitHubEndpoints{
        QString::fromUtf8(BuildConfig::gitHubApiUrl),
        QString::fromUtf8(BuildConfig::gitHubWebUrl),
        QString::fromUtf8(BuildConfig::relayUrl),
        QString::fromUtf8(BuildConfig::oauthClientId),
    };
}
