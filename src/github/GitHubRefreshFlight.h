#pragma once

#include <QObject>
#include <QString>

#include <exception>

// One token refresh in flight. GitHub rotates the refresh token on every use,
// so concurrent callers must share a single refresh rather than each spend
// the same refresh token; they await settled() and read the outcome here.
class GitHubRefreshFlight : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    bool done = false;
    QString accessToken;
    std::exception_ptr error;

signals:
    void settled();
};
