#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The nine-key record kept in state.json.
struct PersistedState {
    bool setupComplete = false;
    QString gitHubUsername;
    QString repoName;
    bool isSetupMode = false;
    bool gitHubConnected = false;
    std::optional<QString> setupRole;
    std::optional<qint64> orgId;
    std::optional<QString> orgLogin;
    bool orgIsAdmin = false;

    // Pretty-printed, keys sorted, absent optionals left out.
    QByteArray encode() const;
    // All or nothing: any missing or mistyped required key gives nullopt.
    static std::optional<PersistedState> decode(const QByteArray &bytes);

    friend bool operator==(const PersistedState &, const PersistedState &) = default;
};
