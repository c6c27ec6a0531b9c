#include "KeychainService.h"

#include "AsyncTest.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <cstdio>
#include <cstring>

using namespace std::chrono_literals;

namespace {

// Each test uses its own key: the session keyring lives for the whole run.
QString freshKey() {
    return QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

std::optional<QString> load(const QString &key,
                            const QString &service = KeychainService::serviceName) {
    return AsyncTest::waitFor(KeychainService::load(key, service));
}

bool save(const QString &key, const QString &value,
          const QString &service = KeychainService::serviceName) {
    return AsyncTest::waitFor(KeychainService::save(key, value, service));
}

// Counts the store's items for (service, key) from outside the process.
int itemCount(const QString &service, const QString &key) {
    QProcess tool;
    tool.start("secret-tool", {"search", "--all", "--unlock", "server", service, "user", key});
    if (!tool.waitForFinished(30'000))
        return -1;
    const QByteArray out = tool.readAllStandardOutput() + tool.readAllStandardError();
    return int(out.count("\nlabel = ") + (out.startsWith("label = ") ? 1 : 0));
}

// A Secret Service that takes every call and answers it only after the
// client's own time-out, the way a store stuck behind an unlock prompt does.
class SilentSecretService : public QDBusVirtualObject {
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override {
        ++pending;
        QTimer::singleShot(std::chrono::seconds(11), this, [this, message, bus] {
            QDBusConnection(bus).send(message.createErrorReply(QDBusError::Failed, "too late"));
            --pending;
        });
        return true;
    }
    int pending = 0;
};

// The child process: with --silent-store it serves the silent store on the
// bus it was given first. One load is enough for the time-out (save shares
// it), and the late answers must then land harmlessly on the abandoned job.
int runChild(int argc, char **argv, bool silent) {
    QCoreApplication app(argc, argv);
    SilentSecretService service;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (silent && (!bus.registerVirtualObject("/org/freedesktop/secrets", &service,
                                              QDBusConnection::SubPath) ||
                   !bus.registerService("org.freedesktop.secrets")))
        return 3;
    const auto loaded = AsyncTest::waitFor(KeychainService::load("github-oauth"), 60s);
    std::printf("load=%s", loaded ? "value" : "absent");
    if (!silent)
        std::printf(" save=%s", AsyncTest::waitFor(KeychainService::save("github-oauth", "s"), 60s)
                                    ? "true"
                                    : "false");
    std::fflush(stdout);
    const QDeadlineTimer deadline(60s);
    while (service.pending > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return service.pending == 0 ? 0 : 4;
}

// Runs this executable as the child against the given bus; returns its
// output, with the store's error reported once on stderr.
QByteArray runChildOn(const QString &busAddress, bool silent) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {silent ? "--silent-store" : "--no-store"});
    if (!child.waitForFinished(90'000) || child.exitStatus() != QProcess::NormalExit)
        return "crashed or hung";
    const QByteArray errors = child.readAllStandardError();
    return child.readAllStandardOutput() + " exit=" + QByteArray::number(child.exitCode()) +
           " reported=" + QByteArray::number(errors.count("credential store unavailable"));
}

} // namespace

class TestKeychainService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A first round trip tells a missing test session apart from a bug.
        if (!save(freshKey(), "probe"))
            QFAIL("no writable Secret Service: run through scripts/with-test-session.sh");
    }

    void roundTrip() {
        for (const QString &value : {QStringLiteral("pässwörd-日本語-😀"), QString()}) {
            const QString key = freshKey();
            QVERIFY(save(key, value));
            QCOMPARE(load(key), std::optional<QString>(value));
        }
    }

    void overwriteKeepsOneItemAndOtherServicesAreUntouched() {
        const QString key = freshKey();
        const QString other = QStringLiteral("io.keelmark.other");
        QVERIFY(save(key, "theirs", other));
        QCOMPARE(load(key), std::nullopt);
        QVERIFY(save(key, "first"));
        QVERIFY(save(key, "second"));
        QCOMPARE(load(key), std::optional<QString>("second"));
        QCOMPARE(load(key, other), std::optional<QString>("theirs"));
        QCOMPARE(itemCount(KeychainService::serviceName, key), 1);
        QCOMPARE(itemCount(other, key), 1);
    }

    void noSecretServiceReachable() {
        QTemporaryDir dir;
        QCOMPARE(runChildOn("unix:path=" + dir.filePath("no-bus"), false),
                 QByteArray("load=absent save=false exit=0 reported=1"));
    }

    void storeThatNeverAnswers() {
        // A bus of our own with nothing that could be activated on it, so
        // the silent service is the only Secret Service there is.
        QTemporaryDir dir;
        QFile config(dir.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(R"(<busconfig><type>session</type><listen>unix:dir=)" +
                     QFile::encodeName(dir.path()) +
                     R"(</listen><policy context="default"><allow send_destination="*"/>)"
                     R"(<allow receive_sender="*"/><allow own="*"/></policy></busconfig>)");
        config.close();
        QProcess daemon;
        daemon.start("dbus-daemon",
                     {"--nofork", "--print-address=1", "--config-file=" + config.fileName()});
        auto stopDaemon = qScopeGuard([&] {
            daemon.kill();
            daemon.waitForFinished();
        });
        while (!daemon.canReadLine())
            QVERIFY(daemon.waitForReadyRead(30'000));
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        QCOMPARE(runChildOn(address, true), QByteArray("load=absent exit=0 reported=1"));
    }
};

int main(int argc, char **argv) {
    for (const bool silent : {false, true})
        if (argc > 1 && std::strcmp(argv[1], silent ? "--silent-store" : "--no-store") == 0)
            return runChild(argc, argv, silent);
    QCoreApplication app(argc, argv);
    TestKeychainService test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestKeychainService.moc"
