#include "ExchangeRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QUrl>

namespace {

std::nullopt_t reject(QString *error, const QString &reason) {
    if (error)
        *error = reason;
    return std::nullopt;
}

std::optional<QJsonObject> parseObject(const QByteArray &body, QString *error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return reject(error, QStringLiteral("The body is not valid JSON."));
    if (!document.isObject())
        return reject(error, QStringLiteral("The body must be a JSON object."));
    return document.object();
}

// A field the relay forwards must be a non-empty string.
bool takeString(const QJsonObject &object, const QString &key, QString *out, QString *error) {
    const QJsonValue value = object.value(key);
    if (!value.isString() || value.toString().isEmpty()) {
        *error = QStringLiteral("\"%1\" must be a non-empty string.").arg(key);
        return false;
    }
    *out = value.toString();
    return true;
}

QString firstUnknownKey(const QJsonObject &object, std::initializer_list<const char *> allowed) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const char *name : allowed)
            known = known || it.key() == QLatin1String(name);
        if (!known)
            return it.key();
    }
    return {};
}

QString unknownFieldMessage(const QString &key) {
    // The name is the caller's own text; cap it so the reply stays small.
    return QStringLiteral("Unknown field \"%1\".").arg(key.left(64));
}

} // namespace

std::optional<ExchangeRequest> parseExchangeRequest(const QByteArray &body, QString *error) {
    const std::optional<QJsonObject> parsed = parseObject(body, error);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;

    ExchangeRequest request;
    QString reason;
    if (object.contains(QLatin1String("grant_type"))) {
        if (const QString key = firstUnknownKey(object, {"grant_type", "refresh_token"});
            !key.isEmpty())
            return reject(error, unknownFieldMessage(key));
        if (object.value(QLatin1String("grant_type")) !=
            QJsonValue(QStringLiteral("refresh_token")))
            return reject(error, QStringLiteral("\"grant_type\" must be \"refresh_token\"."));
        if (!object.contains(QLatin1String("refresh_token")))
            return reject(error, QStringLiteral("\"refresh_token\" is missing."));
        if (!takeString(object, QStringLiteral("refresh_token"), &request.refreshToken, &reason))
            return reject(error, reason);
        request.kind = ExchangeRequest::Kind::Refresh;
        return request;
    }

    if (const QString key = firstUnknownKey(object, {"code", "code_verifier"}); !key.isEmpty())
        return reject(error, unknownFieldMessage(key));
    if (!object.contains(QLatin1String("code")))
        return reject(error, QStringLiteral("\"code\" is missing."));
    if (!takeString(object, QStringLiteral("code"), &request.code, &reason))
        return reject(error, reason);
    if (object.contains(QLatin1String("code_verifier")) &&
        !takeString(object, QStringLiteral("code_verifier"), &request.codeVerifier, &reason))
        return reject(error, reason);
    request.kind = ExchangeRequest::Kind::Code;
    return request;
}

std::optional<QString> parseRevokeRequest(const QByteArray &body, QString *error) {
    const std::optional<QJsonObject> object = parseObject(body, error);
    if (!object)
        return std::nullopt;
    if (const QString key = firstUnknownKey(*object, {"access_token"}); !key.isEmpty())
        return reject(error, unknownFieldMessage(key));
    if (!object->contains(QLatin1String("access_token")))
        return reject(error, QStringLiteral("\"access_token\" is missing."));
    QString token;
    QString reason;
    if (!takeString(*object, QStringLiteral("access_token"), &token, &reason))
        return reject(error, reason);
    return token;
}

QByteArray tokenEndpointForm(const ExchangeRequest &request, const QString &clientId,
                             const QString &clientSecret) {
    QList<QPair<QByteArray, QString>> fields{{"client_id", clientId},
                                             {"client_secret", clientSecret}};
    if (request.kind == ExchangeRequest::Kind::Refresh) {
        fields.append({"grant_type", QStringLiteral("refresh_token")});
        fields.append({"refresh_token", request.refreshToken});
    } else {
        fields.append({"code", request.code});
        if (!request.codeVerifier.isEmpty())
            fields.append({"code_verifier", request.codeVerifier});
    }
    // toPercentEncoding leaves only unreserved characters bare, so "+", "&"
    // and "=" inside a value cannot change the form's meaning.
    QByteArray form;
    for (const auto &[name, value] : fields) {
        if (!form.isEmpty())
            form += '&';
        form += name + '=' + QUrl::toPercentEncoding(value);
    }
    return form;
}
