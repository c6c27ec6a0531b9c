#pragma once

#include "GitHubError.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The relay's answer to a code exchange or a refresh.
struct GitHubTokenResponse {
    QString accessToken;                 // "access_token", required
    std::optional<QString> refreshToken; // "refresh_token"
    std::optional<qint64> expiresIn;     // "expires_in", seconds

    // Throws GitHubJsonError when the body is not JSON or holds no access
    // token, and GitHubTokenRefused when GitHub reports a refused code or
    // refresh token (an error object with HTTP 200; its description is then
    // the message).
    static GitHubTokenResponse decode(const QByteArray &body);
};

// GitHub answered and declined, as opposed to a reply that could not be read.
class GitHubTokenRefused : public GitHubJsonError {
public:
    using GitHubJsonError::GitHubJsonError;
};
