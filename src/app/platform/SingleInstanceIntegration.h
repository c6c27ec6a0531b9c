#pragma once

#include "PlatformIntegration.h"

#include <QLockFile>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;
class QLocalSocket;

// Linux and Windows: the desktop starts `keelmark <url>` for every link, so
// the first process per user takes a lock file and listens on a local
// socket; later processes hand their URL over that socket and exit.
//
// Wire format (UTF-8 lines): "open <url>" or "activate", then "done"; the
// first instance answers "ok" once it has taken them. A message holding
// "status" is a query only: the answer is "status <json>" and nothing else
// in that message is acted on.
class SingleInstanceIntegration : public PlatformIntegration {
    Q_OBJECT

public:
    explicit SingleInstanceIntegration(
        QString runtimeDirectory,
        std::chrono::milliseconds forwardTimeout = std::chrono::seconds(10));
    ~SingleInstanceIntegration() override;

    Role claimInstance(const QStringList &urls) override;
    void startReceiving() override;
    QString lastError() const override { return m_lastError; }
    StatusAnswer queryStatus() override;

    QString socketPath() const;
    QString lockPath() const;

    // The per-user directory for the lock and the socket.
    static QString defaultRuntimeDirectory();

    static constexpr qsizetype maxMessageBytes = 64 * 1024;

private:
    bool forward(const QStringList &urls);
    void acceptConnection();
    void readFrom(QLocalSocket *socket);

    QString m_directory;
    std::chrono::milliseconds m_forwardTimeout;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
    QString m_lastError;
};
