#include "GitHubTokenResponse.h"

#include "GitHubError.h"
#include "GitHubInternal.h"
#include "Records.h"

#include <QJsonObject>

GitHubTokenResponse GitHubTokenResponse::decode(const QByteArray &body) {
    const QJsonObject object = GitHubInternal::parseJson(body).object();
    const auto accessToken = JsonField::string(object, QStringLiteral("access_token"));
    if (!accessToken || accessToken->isEmpty()) {
        // GitHub answers a refused code or refresh token with an error object.
        const QString reason = object.value(QLatin1String("error_description"))
                                   .toString(object.value(QLatin1String("error")).toString());
        if (!reason.isEmpty())
            throw GitHubTokenRefused(reason);
        throw GitHubJsonError(QStringLiteral("The reply holds no access token."));
    }
    GitHubTokenResponse response;
    response.accessToken = *accessToken;
    const auto refreshToken = JsonField::string(object, QStringLiteral("refresh_token"));
    if (refreshToken && !refreshToken->isEmpty())
        response.refreshToken = refreshToken;
    response.expiresIn = JsonField::integer(object, QStringLiteral("expires_in"));
    return response;
}
