#include "SingleInstanceIntegration.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

Q_LOGGING_CATEGORY(lcInstance, "keelmark.app.instance")

namespace {

constexpr auto idleClientTimeout = std::chrono::seconds(5);

QByteArray encode(const QStringList &urls) {
    QByteArray message;
    for (const QString &url : urls)
        message += "open " + url.toUtf8() + '\n';
    if (urls.isEmpty())
        message += "activate\n";
    message += "done\n";
    return message;
}

} // namespace

std::unique_ptr<PlatformIntegration> createPlatformIntegration(const QString &runtimeDirectory) {
    return std::make_unique<SingleInstanceIntegration>(runtimeDirectory);
}

SingleInstanceIntegration::SingleInstanceIntegration(QString runtimeDirectory,
                                                     std::chrono::milliseconds forwardTimeout)
    : m_directory(runtimeDirectory.isEmpty() ? defaultRuntimeDirectory()
                                             : std::move(runtimeDirectory))
    , m_forwardTimeout(forwardTimeout) {}

SingleInstanceIntegration::~SingleInstanceIntegration() {
    if (m_server)
        m_server->close();
}

QString SingleInstanceIntegration::defaultRuntimeDirectory() {
    // $XDG_RUNTIME_DIR where the session has one; Qt otherwise makes a
    // private 0700 folder in the temporary directory.
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    return directory;
}

QString SingleInstanceIntegration::socketPath() const {
#if defined(Q_OS_WIN)
    // Named pipes live in their own namespace, per user by name.
    return QStringLiteral("keelmark-") + QDir::home().dirName();
#else
    return QDir(m_directory).filePath(QStringLiteral("keelmark.sock"));
#endif
}

QString SingleInstanceIntegration::lockPath() const {
    return QDir(m_directory).filePath(QStringLiteral("keelmark.lock"));
}

PlatformIntegration::Role SingleInstanceIntegration::claimInstance(const QStringList &urls) {
    QDir().mkpath(m_directory);
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Only a dead holder makes the lock stale, never its age: a first
    // instance may run for weeks.
    m_lock->setStaleLockTime(0);

    // Either we take the lock, or whoever holds it must answer on the
    // socket. A holder that is still starting up (simultaneous launches) is
    // not listening yet, and one that dies meanwhile frees the lock: keep
    // trying both until the deadline.
    QDeadlineTimer deadline(m_forwardTimeout);
    do {
        if (m_lock->tryLock(0))
            return Role::primary;
        if (m_lock->error() == QLockFile::PermissionError ||
            m_lock->error() == QLockFile::UnknownError) {
            // Better a second instance than no application at all: the
            // user still gets a window and a tray icon.
            qCWarning(lcInstance) << "cannot create the instance lock" << lockPath()
                                  << "; running without single-instance hand-over";
            m_lock.reset();
            return Role::primary;
        }
        if (forward(urls))
            return Role::forwarded;
        QThread::msleep(25);
    } while (!deadline.hasExpired());

    if (m_lastError.isEmpty())
        m_lastError = QStringLiteral("the running instance did not answer");
    return Role::failed;
}

bool SingleInstanceIntegration::forward(const QStringList &urls) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(500)) {
        m_lastError = socket.errorString();
        return false;
    }
    socket.write(encode(urls));
    if (!socket.waitForBytesWritten(2000)) {
        m_lastError = socket.errorString();
        return false;
    }
    QByteArray answer;
    QDeadlineTimer deadline(std::chrono::seconds(3));
    while (!answer.contains('\n') && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        answer += socket.readAll();
    }
    if (!answer.startsWith("ok\n")) {
        m_lastError = QStringLiteral("the running instance did not acknowledge");
        return false;
    }
    return true;
}

PlatformIntegration::StatusAnswer SingleInstanceIntegration::queryStatus() {
    StatusAnswer result;
    // An instance that is still starting holds the lock before it listens:
    // give it a moment rather than calling it absent.
    QDeadlineTimer deadline(std::chrono::seconds(3));
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(500))
            break;
        QLockFile probe(lockPath());
        probe.setStaleLockTime(0);
        if (probe.tryLock(0) || probe.error() != QLockFile::LockFailedError)
            return result; // nobody holds the role
        if (deadline.hasExpired()) {
            result.outcome = StatusAnswer::Outcome::noAnswer;
            result.error = socket.errorString();
            return result;
        }
        QThread::msleep(50);
    }

    result.outcome = StatusAnswer::Outcome::noAnswer;
    socket.write("status\ndone\n");
    if (!socket.waitForBytesWritten(2000)) {
        result.error = socket.errorString();
        return result;
    }
    QByteArray answer;
    while (!answer.contains('\n') && !deadline.hasExpired() && answer.size() <= maxMessageBytes) {
        if (!socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        answer += socket.readAll();
    }
    if (!answer.startsWith("status ") || !answer.endsWith('\n')) {
        result.error = QStringLiteral("the running instance did not answer the status query");
        return result;
    }
    result.outcome = StatusAnswer::Outcome::answered;
    result.status = answer.mid(7).trimmed();
    return result;
}

void SingleInstanceIntegration::startReceiving() {
    if (m_server)
        return;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left behind by a crashed instance would refuse the listen;
    // holding the lock means nobody else is using it.
    QLocalServer::removeServer(socketPath());
    if (!m_server->listen(socketPath())) {
        qCWarning(lcInstance) << "cannot listen for other instances on" << socketPath() << ":"
                              << m_server->errorString();
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this,
            &SingleInstanceIntegration::acceptConnection);
}

void SingleInstanceIntegration::acceptConnection() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        // A client that connects and never finishes must not hold a socket
        // for the rest of the run.
        QTimer::singleShot(idleClientTimeout, socket, [socket] { socket->abort(); });
        readFrom(socket);
    }
}

void SingleInstanceIntegration::readFrom(QLocalSocket *socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    if (buffer.size() > maxMessageBytes) {
        qCWarning(lcInstance) << "dropping an oversized message from another instance";
        socket->abort();
        return;
    }
    if (!buffer.endsWith("done\n")) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("buffer", QByteArray());

    const QList<QByteArray> lines = buffer.split('\n');
    if (lines.contains("status")) {
        const QByteArray status = m_statusProvider ? m_statusProvider() : QByteArray("{}");
        socket->write("status " + status + '\n');
        socket->flush();
        socket->disconnectFromServer();
        return;
    }

    QList<QUrl> urls;
    bool activate = false;
    for (const QByteArray &line : lines) {
        if (line.startsWith("open "))
            urls.append(QUrl(QString::fromUtf8(line.mid(5)), QUrl::StrictMode));
        else if (line == "activate")
            activate = true;
    }
    socket->write("ok\n");
    socket->flush();
    socket->disconnectFromServer();

    for (const QUrl &url : std::as_const(urls))
        emit urlReceived(url);
    if (activate)
        emit activationRequested();
}
