#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>

// Small value records shared by several subsystems. Decoding returns
// std::nullopt when a required key is missing or has the wrong JSON type;
// keys that are not listed are ignored.

// An organisation the user can choose. Built in memory only (no JSON coding).
struct GitHubOrg {
    qint64 id = 0;
    QString login;
    bool isAdmin = false;
};

// GET /user
struct GitHubUser {
    QString login;
    qint64 id = 0;
    std::optional<QString> avatarUrl; // "avatar_url"

    static std::optional<GitHubUser> fromJson(const QJsonValue &json);
    QJsonObject toJson() const;
};

// One organisation as GitHub lists it.
struct GitHubOrgResponse {
    qint64 id = 0;
    QString login;

    static std::optional<GitHubOrgResponse> fromJson(const QJsonValue &json);
    QJsonObject toJson() const;
};

// GET /orgs/{org}/memberships/{username}
struct GitHubMembership {
    QString role;

    static std::optional<GitHubMembership> fromJson(const QJsonValue &json);
    QJsonObject toJson() const;
};

enum class MachineRole { ceo, cto, staff, freelancer };

QString toText(MachineRole role);
std::optional<MachineRole> machineRoleFromText(const QString &text);

// One person on the team page; identity is gitHubUsername.
struct TeamMember {
    QString gitHubUsername;
    MachineRole role = MachineRole::staff;
    std::optional<QStringList> scopes;
    std::optional<QDateTime> lastSeen;
    bool isOnline = false;
    std::optional<QString> machineName;

    static std::optional<TeamMember> fromJson(const QJsonValue &json);
    QJsonObject toJson() const;
};

// One file of a commit: a repository-relative path with "/" separators and
// no leading slash, and the whole file text.
struct FileEntry {
    QString path;
    QString content;

    friend bool operator==(const FileEntry &, const FileEntry &) = default;
};

// Strict JSON helpers shared by the decoders of this project: a value of the
// wrong type is a failure, never a silent default.
namespace JsonField {
std::optional<QString> string(const QJsonObject &object, const QString &key);
std::optional<bool> boolean(const QJsonObject &object, const QString &key);
// Accepts only JSON numbers that are whole and fit in 64 bits.
std::optional<qint64> integer(const QJsonObject &object, const QString &key);
// The top-level object of a file of ours; nothing for broken UTF-8 (which
// Qt's parser would quietly substitute), malformed JSON or a non-object.
std::optional<QJsonObject> fileObject(const QByteArray &bytes);
} // namespace JsonField
