#include "PersistedState.h"
#include "Records.h"

#include <QJsonDocument>
#include <QJsonObject>

QByteArray PersistedState::encode() const {
    // QJsonObject keeps its keys sorted, so the file comes out in key order.
    QJsonObject object{
        {QStringLiteral("setupComplete"), setupComplete},
        {QStringLiteral("gitHubUsername"), gitHubUsername},
        {QStringLiteral("repoName"), repoName},
        {QStringLiteral("isSetupMode"), isSetupMode},
        {QStringLiteral("gitHubConnected"), gitHubConnected},
        {QStringLiteral("orgIsAdmin"), orgIsAdmin},
    };
    if (setupRole)
        object.insert(QStringLiteral("setupRole"), *setupRole);
    if (orgId)
        object.insert(QStringLiteral("orgId"), *orgId);
    if (orgLogin)
        object.insert(QStringLiteral("orgLogin"), *orgLogin);
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

namespace {

// Missing and null read as absent; a value of another type fails.
template <typename T, typename Getter>
bool readOptional(const QJsonObject &object, const QString &key, Getter get,
                  std::optional<T> *out) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    *out = get(object, key);
    return out->has_value();
}

} // namespace

std::optional<PersistedState> PersistedState::decode(const QByteArray &bytes) {
    const std::optional<QJsonObject> file = JsonField::fileObject(bytes);
    if (!file)
        return std::nullopt;
    const QJsonObject &object = *file;

    const auto setupComplete = JsonField::boolean(object, QStringLiteral("setupComplete"));
    const auto gitHubUsername = JsonField::string(object, QStringLiteral("gitHubUsername"));
    const auto repoName = JsonField::string(object, QStringLiteral("repoName"));
    const auto isSetupMode = JsonField::boolean(object, QStringLiteral("isSetupMode"));
    const auto gitHubConnected = JsonField::boolean(object, QStringLiteral("gitHubConnected"));
    const auto orgIsAdmin = JsonField::boolean(object, QStringLiteral("orgIsAdmin"));
    if (!setupComplete || !gitHubUsername || !repoName || !isSetupMode || !gitHubConnected ||
        !orgIsAdmin)
        return std::nullopt;

    PersistedState state;
    state.setupComplete = *setupComplete;
    state.gitHubUsername = *gitHubUsername;
    state.repoName = *repoName;
    state.isSetupMode = *isSetupMode;
    state.gitHubConnected = *gitHubConnected;
    state.orgIsAdmin = *orgIsAdmin;
    if (!readOptional(object, QStringLiteral("setupRole"), &JsonField::string, &state.setupRole) ||
        !readOptional(object, QStringLiteral("orgId"), &JsonField::integer, &state.orgId) ||
        !readOptional(object, QStringLiteral("orgLogin"), &JsonField::string, &state.orgLogin))
        return std::nullopt;
    return state;
}
