#pragma once

#include <QString>

// Where GitHubService sends its requests. The application uses the build-time
// settings; tests point every address at loopback servers.
struct GitHubEndpoints {
    QString apiBaseUrl;   // REST API, e.g. "https://api.github.com"
    QString webBaseUrl;   // authorisation page, organisation and repository pages
    QString relayBaseUrl; // "/v1/github/callback" and "/v1/github/exchange" live here
    QString oauthClientId;

    static GitHubEndpoints fromBuildConfig();
};
