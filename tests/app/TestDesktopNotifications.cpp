// Desktop notifications: the policy over sequences of checks, the notifier
// against a notification service on the test session bus, and the shell
// turning status changes into exactly one message and a click into the
// Status page.

#include "AppDelegate.h"
#include "AppState.h"
#include "MainWindowView.h"
#include "NotificationPolicy.h"
#include "NotificationServer.h"
#include "PersistenceService.h"
#include "SettingsWindow.h"
#include "SettingsWindowRoot.h"
#include "StatusNotifications.h"
#include "Style.h"

#include <QDBusConnection>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;
using Route = DesktopNotifier::Route;

namespace {

const QString kRepo = QStringLiteral("acme/ops");
const QString kWeakened = QStringLiteral("Branch protection weakened: force pushes allowed");
const QString kPushed =
    QStringLiteral(".claude/settings.json changed \u2014 pushed directly by @eve");
const QString kRestored = QStringLiteral("Governance restored");

// One check's snapshot and the body it must produce (empty: no message).
struct Step {
    StatusSnapshot snapshot;
    QString body;
};

Step step(MachineStatusState status, QStringList reasons, QString body, int minutesUnreachable = 0,
          bool refused = false) {
    return {
        StatusSnapshot{status, reasons, kRepo, refused, std::chrono::minutes(minutesUnreachable)},
        body};
}

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

// Records what the shell would send, for the parts that are about timing.
class RecordingNotifier : public DesktopNotifier {
public:
    QList<DesktopNotification> sent;
    void notify(const DesktopNotification &notification) override { sent.append(notification); }
};

class TestDesktopNotifications : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<PersistenceService> m_persistence;
    std::unique_ptr<AppState> m_state;

private slots:
    void initTestCase() {
        Style::initialize();
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs the test session bus");
    }

    void init() {
        m_persistence = std::make_unique<PersistenceService>(m_dir.path());
        m_state = std::make_unique<AppState>(m_persistence.get());
        m_state->setSetupComplete(true);
        m_state->setSelectedOrg(GitHubOrg{1, QStringLiteral("acme"), true});
        m_state->setRepoName(QStringLiteral("ops"));
    }

    void cleanup() {
        m_state.reset();
        m_persistence.reset();
    }

    void policy_data() {
        using S = MachineStatusState;
        const QString outage = "Checks have not reached GitHub for 5 minutes. Showing the last "
                               "known status.";
        QTest::addColumn<QList<Step>>("steps");
        QTest::newRow("protected from the start is quiet")
            << QList<Step>{step(S::setupMode, {}, {}), step(S::protected_, {}, {})};
        QTest::newRow("an alert is told once, however many checks see it") << QList<Step>{
            step(S::protected_, {}, {}), step(S::tamperAlert, {kWeakened}, kWeakened),
            step(S::tamperAlert, {kWeakened}, {}), step(S::tamperAlert, {kWeakened}, {})};
        QTest::newRow("restored once, then quiet")
            << QList<Step>{step(S::tamperAlert, {kWeakened}, kWeakened),
                           step(S::protected_, {}, kRestored), step(S::protected_, {}, {})};
        QTest::newRow("a new finding tells only itself; one that comes back is new")
            << QList<Step>{step(S::tamperAlert, {kWeakened}, kWeakened),
                           step(S::tamperAlert, {kWeakened, kPushed}, kPushed),
                           step(S::tamperAlert, {kPushed}, {}),
                           step(S::tamperAlert, {kWeakened, kPushed}, kWeakened)};
        QTest::newRow("two findings at once share one message")
            << QList<Step>{step(S::tamperAlert, {kWeakened, kPushed}, kWeakened + "\n" + kPushed)};
        QTest::newRow("an alert without findings says the label")
            << QList<Step>{step(S::tamperAlert, {}, "Alert \u2014 check dashboard")};
        QTest::newRow("one lost check is quiet") << QList<Step>{
            step(S::protected_, {}, {}), step(S::offline, {}, {}, 1), step(S::protected_, {}, {})};
        QTest::newRow("five minutes unreachable is told once, then restored")
            << QList<Step>{step(S::offline, {}, {}, 0), step(S::offline, {}, {}, 4),
                           step(S::offline, {}, outage, 5), step(S::offline, {}, {}, 6),
                           step(S::protected_, {}, kRestored)};
        QTest::newRow("an alert is not repeated across a short outage")
            << QList<Step>{step(S::tamperAlert, {kWeakened}, kWeakened),
                           step(S::offline, {}, {}, 1), step(S::tamperAlert, {kWeakened}, {})};
        QTest::newRow("an alert is told again after a long outage") << QList<Step>{
            step(S::tamperAlert, {kWeakened}, kWeakened), step(S::offline, {}, outage, 5),
            step(S::tamperAlert, {kWeakened}, kWeakened)};
        QTest::newRow("a refused sign-in is told once and not as an outage")
            << QList<Step>{step(S::offline, {},
                                "GitHub no longer accepts KeelMark's sign-in. Open "
                                "KeelMark and reconnect GitHub to keep checking.",
                                0, true),
                           step(S::offline, {}, {}, 9, true), step(S::protected_, {}, kRestored)};
        QTest::newRow("setup mode forgets: nothing to restore, the next alert is news")
            << QList<Step>{step(S::tamperAlert, {kWeakened}, kWeakened), step(S::setupMode, {}, {}),
                           step(S::protected_, {}, {}),
                           step(S::tamperAlert, {kWeakened}, kWeakened)};
    }
    void policy() {
        QFETCH(QList<Step>, steps);
        NotificationPolicy policy;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const std::optional<DesktopNotification> sent = policy.next(steps[i].snapshot);
            const QString where = QStringLiteral("step %1").arg(i);
            QVERIFY2(sent.has_value() == !steps[i].body.isEmpty(), qPrintable(where));
            if (sent) {
                QCOMPARE(sent->title, kRepo);
                QCOMPARE(sent->body, steps[i].body);
            }
        }
    }

    // Through the service: what it is told, and only a click on our own
    // notification opens anything.
    void serviceDelivers() {
        NotificationServer server;
        QVERIFY(server.start());
        std::unique_ptr<DesktopNotifier> notifier = createDesktopNotifier(nullptr, 5s);
        QSignalSpy delivered(notifier.get(), &DesktopNotifier::delivered);
        QSignalSpy activated(notifier.get(), &DesktopNotifier::activated);
        notifier->notify({kRepo, kWeakened});
        QVERIFY(delivered.wait(5000));
        QCOMPARE(delivered.first().first().value<Route>(), Route::service);
        QCOMPARE(server.calls.size(), 1);
        const NotificationServer::Call call = server.calls.first();
        QCOMPARE(call.appName, "KeelMark");
        QCOMPARE(call.icon, "keelmark");
        QCOMPARE(call.summary, kRepo);
        QCOMPARE(call.body, kWeakened);
        QVERIFY(call.actions.contains("default"));

        server.click(99); // another application's notification
        server.click(1);
        QVERIFY(activated.wait(5000));
        QTest::qWait(100);
        QCOMPARE(activated.size(), 1);
    }

    // No service, or one that never answers: notify() returns at once and
    // the message ends in the log within the reply timeout.
    void withoutService_data() {
        QTest::addColumn<bool>("serverUp");
        QTest::newRow("name not owned") << false;
        QTest::newRow("service never answers") << true;
    }
    void withoutService() {
        QFETCH(bool, serverUp);
        NotificationServer server;
        server.silent = true;
        if (serverUp)
            QVERIFY(server.start());
        std::unique_ptr<DesktopNotifier> notifier = createDesktopNotifier(nullptr, 400ms);
        QSignalSpy delivered(notifier.get(), &DesktopNotifier::delivered);
        QElapsedTimer clock;
        clock.start();
        notifier->notify({kRepo, kWeakened});
        QVERIFY(clock.elapsed() < 100);
        QVERIFY(delivered.wait(3000));
        QCOMPARE(delivered.first().first().value<Route>(), Route::logOnly);
        QCOMPARE(server.calls.size(), serverUp ? 1 : 0);
    }

    void shellNotifiesOnceAndClickOpensStatus() {
        NotificationServer server;
        QVERIFY(server.start());
        AppDelegate::Options options;
        options.trayAvailable = [] { return false; };
        AppDelegate delegate({m_state.get(), nullptr, nullptr}, DiagnosticLog(m_dir.path()),
                             options);
        delegate.applicationDidFinishLaunching();
        m_state->setMachineStatus(MachineStatusState::protected_);
        m_state->setStatusReasons({kWeakened}); // a check writes its reasons first
        m_state->setMachineStatus(MachineStatusState::tamperAlert);
        QTRY_COMPARE_WITH_TIMEOUT(server.calls.size(), 1, 5000);
        QCOMPARE(server.calls.first().summary, kRepo);
        QCOMPARE(delegate.statusItem()->toolTip(), "KeelMark: Alert \u2014 check dashboard");
        m_state->setLastHeartbeat(QDateTime::currentDateTimeUtc()); // the next check, same state

        auto *dashboard = qobject_cast<MainWindowView *>(delegate.settingsWindowRoot()->content());
        QVERIFY(dashboard);
        dashboard->setSelectedItem(SidebarItem::audit);
        delegate.settingsWindow()->hide();
        server.click(1);
        QTRY_VERIFY_WITH_TIMEOUT(delegate.settingsWindow()->isVisible(), 5000);
        QCOMPARE(dashboard->selectedItem(), SidebarItem::status);

        // Reasons cleared under the old alert are not an alert of their own.
        m_state->setStatusReasons({});
        m_state->setLastHeartbeat(QDateTime::currentDateTimeUtc());
        m_state->setMachineStatus(MachineStatusState::protected_);
        QTRY_COMPARE_WITH_TIMEOUT(server.calls.size(), 2, 5000);
        QCOMPARE(server.calls.last().body, kRestored);
        QCOMPARE(delegate.statusItem()->toolTip(), "KeelMark: Protected");
    }

    // The outage clock runs from the first failed check, fires once at the
    // threshold and starts over after an answer.
    void outageToldAtThreshold() {
        auto *recorder = new RecordingNotifier;
        StatusNotifications notifications(m_state.get(), std::unique_ptr<DesktopNotifier>(recorder),
                                          NotificationPolicy(300ms));
        m_state->setMachineStatus(MachineStatusState::offline);
        m_state->setLastHeartbeat(QDateTime::currentDateTimeUtc());
        QCOMPARE(recorder->sent.size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(recorder->sent.size(), 1, 3000);
        QVERIFY(recorder->sent.first().body.startsWith("Checks have not reached GitHub"));
        m_state->setMachineStatus(MachineStatusState::protected_);
        m_state->setMachineStatus(MachineStatusState::offline);
        QTest::qWait(100);
        QCOMPARE(recorder->sent.size(), 2); // restored; the new outage is not yet due
        QTRY_COMPARE_WITH_TIMEOUT(recorder->sent.size(), 3, 3000);
    }
};

QTEST_MAIN(TestDesktopNotifications)
#include "TestDesktopNotifications.moc"
