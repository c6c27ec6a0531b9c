#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

// Where the operating system hands the application its keelmark:// URLs and
// how it keeps one instance per user. Each platform has one implementation,
// picked by the build; the rest of the application sees only this.
class PlatformIntegration : public QObject {
    Q_OBJECT

public:
    enum class Role {
        primary,   // this process is the application
        forwarded, // another instance runs and took our URLs; exit now
        failed,    // another instance holds the role but could not be reached
    };

    // Runs before the QApplication exists. `urls` are the URLs this process
    // was started with; a secondary process forwards them (or, with none, a
    // request to show the window).
    virtual Role claimInstance(const QStringList &urls) = 0;

    // Runs once the QApplication exists: from then on urlReceived and
    // activationRequested are emitted on the main thread.
    virtual void startReceiving() = 0;

    // What went wrong when claimInstance answered `failed`.
    virtual QString lastError() const = 0;

    // The `status` command, from a process that never became the
    // application: what the running instance reports (UTF-8 JSON, one
    // line). Platforms without a socket to ask see no instance.
    struct StatusAnswer {
        enum class Outcome { answered, notRunning, noAnswer };
        Outcome outcome = Outcome::notRunning;
        QByteArray status;
        QString error; // why a running instance gave no answer
    };
    virtual StatusAnswer queryStatus() { return {}; }

    // What the running instance answers a status query with; called on the
    // main thread. Read-only by design: the query changes nothing.
    void setStatusProvider(std::function<QByteArray()> provider) {
        m_statusProvider = std::move(provider);
    }

signals:
    void urlReceived(const QUrl &url);
    // Started again with nothing to open: bring the window forward.
    void activationRequested();

protected:
    using QObject::QObject;

    std::function<QByteArray()> m_statusProvider;
};

// `runtimeDirectory` holds the instance lock and socket; empty means the
// per-user default.
std::unique_ptr<PlatformIntegration> createPlatformIntegration(const QString &runtimeDirectory);
