#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// What the app may ask of /v1/github/exchange: redeem an authorisation code
// (optionally with its PKCE verifier) or rotate a refresh token.
struct ExchangeRequest {
    enum class Kind { Code, Refresh };
    Kind kind = Kind::Code;
    QString code;
    QString codeVerifier; // empty when the app did not use PKCE
    QString refreshToken;
};

// Accepts exactly {"code", "code_verifier"?} or {"grant_type": "refresh_token",
// "refresh_token"}; anything else gets nothing back and a reason in *error
// that is safe to show the caller (it never echoes a value).
std::optional<ExchangeRequest> parseExchangeRequest(const QByteArray &body, QString *error);

// The form body for GitHub's token endpoint, with the relay's credentials.
QByteArray tokenEndpointForm(const ExchangeRequest &request, const QString &clientId,
                             const QString &clientSecret);

// What the app may ask of /v1/github/revoke: exactly {"access_token"}, a
// non-empty string; gives the token back, or nothing and a reason in *error
// that never echoes a value.
std::optional<QString> parseRevokeRequest(const QByteArray &body, QString *error);
