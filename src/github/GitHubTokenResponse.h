#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The relay's answer to a code exchange or a refresh.
struct GitHubTokenResponse {
    QString accessToken;                 // "access_token", required
    std::optional<QString> refreshToken; // "refresh_token"
    std::optional<qint64> expiresIn;     // "expires_in", seconds

    // Throws GitHubJsonError when the body is not JSON or holds no access
    // token (GitHub reports refused codes as an error object with HTTP 200;
    // its description is then the message).
    static GitHubTokenResponse decode(const QByteArray &body);
};
