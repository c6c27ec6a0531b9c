#include "Records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

namespace JsonField {

std::optional<QString> string(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<bool> boolean(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

std::optional<qint64> integer(const QJsonObject &object, const QString &key) {
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    // toInteger() falls back to its default for fractions and for numbers
    // outside 64 bits; two different defaults tell that apart from a real 0.
    const qint64 result = value.toInteger(0);
    if (result == 0 && value.toInteger(1) != 0)
        return std::nullopt;
    return result;
}

std::optional<QJsonObject> fileObject(const QByteArray &bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    if (utf8.hasError())
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace JsonField

namespace {

// Optional text keys: missing and null both read as absent; any other type
// fails the whole record.
bool optionalString(const QJsonObject &object, const QString &key, std::optional<QString> *out) {
    const QJsonValue value = object.value(key);
    out->reset();
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    *out = value.toString();
    return true;
}

} // namespace

std::optional<GitHubUser> GitHubUser::fromJson(const QJsonValue &json) {
    if (!json.isObject())
        return std::nullopt;
    const QJsonObject object = json.toObject();
    const auto login = JsonField::string(object, QStringLiteral("login"));
    const auto id = JsonField::integer(object, QStringLiteral("id"));
    if (!login || !id)
        return std::nullopt;
    GitHubUser user{*login, *id, std::nullopt};
    if (!optionalString(object, QStringLiteral("avatar_url"), &user.avatarUrl))
        return std::nullopt;
    return user;
}

QJsonObject GitHubUser::toJson() const {
    QJsonObject object{{QStringLiteral("login"), login}, {QStringLiteral("id"), id}};
    if (avatarUrl)
        object.insert(QStringLiteral("avatar_url"), *avatarUrl);
    return object;
}

std::optional<GitHubOrgResponse> GitHubOrgResponse::fromJson(const QJsonValue &json) {
    if (!json.isObject())
        return std::nullopt;
    const QJsonObject object = json.toObject();
    const auto id = JsonField::integer(object, QStringLiteral("id"));
    const auto login = JsonField::string(object, QStringLiteral("login"));
    if (!id || !login)
        return std::nullopt;
    return GitHubOrgResponse{*id, *login};
}

QJsonObject GitHubOrgResponse::toJson() const {
    return QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("login"), login}};
}

std::optional<GitHubMembership> GitHubMembership::fromJson(const QJsonValue &json) {
    if (!json.isObject())
        return std::nullopt;
    const auto role = JsonField::string(json.toObject(), QStringLiteral("role"));
    if (!role)
        return std::nullopt;
    return GitHubMembership{*role};
}

QJsonObject GitHubMembership::toJson() const {
    return QJsonObject{{QStringLiteral("role"), role}};
}

QString toText(MachineRole role) {
    switch (role) {
    case MachineRole::ceo:
        return QStringLiteral("ceo");
    case MachineRole::cto:
        return QStringLiteral("cto");
    case MachineRole::staff:
        return QStringLiteral("staff");
    case MachineRole::freelancer:
        return QStringLiteral("freelancer");
    }
    return {};
}

std::optional<MachineRole> machineRoleFromText(const QString &text) {
    for (MachineRole role :
         {MachineRole::ceo, MachineRole::cto, MachineRole::staff, MachineRole::freelancer}) {
        if (text == toText(role))
            return role;
    }
    return std::nullopt;
}

std::optional<TeamMember> TeamMember::fromJson(const QJsonValue &json) {
    if (!json.isObject())
        return std::nullopt;
    const QJsonObject object = json.toObject();
    const auto username = JsonField::string(object, QStringLiteral("gitHubUsername"));
    const auto roleText = JsonField::string(object, QStringLiteral("role"));
    const auto isOnline = JsonField::boolean(object, QStringLiteral("isOnline"));
    if (!username || !roleText || !isOnline)
        return std::nullopt;
    const auto role = machineRoleFromText(*roleText);
    if (!role)
        return std::nullopt;

    TeamMember member;
    member.gitHubUsername = *username;
    member.role = *role;
    member.isOnline = *isOnline;

    const QJsonValue scopes = object.value(QStringLiteral("scopes"));
    if (scopes.isArray()) {
        QStringList list;
        for (const QJsonValue &scope : scopes.toArray()) {
            if (!scope.isString())
                return std::nullopt;
            list.append(scope.toString());
        }
        member.scopes = list;
    } else if (!scopes.isUndefined() && !scopes.isNull()) {
        return std::nullopt;
    }

    // Timestamps travel as ISO 8601 text in UTC.
    const QJsonValue lastSeen = object.value(QStringLiteral("lastSeen"));
    if (lastSeen.isString()) {
        const QDateTime when = QDateTime::fromString(lastSeen.toString(), Qt::ISODateWithMs);
        if (!when.isValid())
            return std::nullopt;
        member.lastSeen = when;
    } else if (!lastSeen.isUndefined() && !lastSeen.isNull()) {
        return std::nullopt;
    }

    if (!optionalString(object, QStringLiteral("machineName"), &member.machineName))
        return std::nullopt;
    return member;
}

QJsonObject TeamMember::toJson() const {
    QJsonObject object{{QStringLiteral("gitHubUsername"), gitHubUsername},
                       {QStringLiteral("role"), toText(role)},
                       {QStringLiteral("isOnline"), isOnline}};
    if (scopes)
        object.insert(QStringLiteral("scopes"), QJsonArray::fromStringList(*scopes));
    if (lastSeen)
        object.insert(QStringLiteral("lastSeen"), lastSeen->toUTC().toString(Qt::ISODateWithMs));
    if (machineName)
        object.insert(QStringLiteral("machineName"), *machineName);
    return object;
}
