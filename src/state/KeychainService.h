#pragma once

#include <QCoroTask>
#include <QString>

#include <optional>

// GitHub credentials in the platform's credential store (the Secret Service
// on Linux). Awaitable because the store's jobs are asynchronous; every job
// has a 10-second time-out. There is never a plain-text fallback.
namespace KeychainService {

inline constexpr const char *serviceName = "io.keelmark.app";
inline constexpr const char *accessTokenKey = "github-oauth";
inline constexpr const char *refreshTokenKey = "github-refresh-token";
inline constexpr const char *tokenExpiryKey = "github-token-expiry";

// The stored value, or nullopt when absent or when the store is unreachable.
QCoro::Task<std::optional<QString>> load(QString key, QString service = serviceName);

// Overwrites in one step, so a refused save leaves the previous value.
QCoro::Task<bool> save(QString key, QString value, QString service = serviceName);

// Deletes the item; true when it is gone (also when it was never there).
QCoro::Task<bool> remove(QString key, QString service = serviceName);

} // namespace KeychainService
