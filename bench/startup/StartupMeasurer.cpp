// Measures a tray application from outside its process, so that the floor and
// KeelMark are held to the same rule.
//
//   keelmark-bench-startup start [--runs N] [--settle-ms MS] -- PROGRAM [ARGS...]
//     N fresh starts: time from process start until the program's icon
//     window is mapped inside the tray host, and the peak resident memory
//     (VmHWM) once the program has settled.
//   keelmark-bench-startup idle --seconds S [--settle-ms MS] -- PROGRAM [ARGS...]
//     One start: CPU time the program's threads spend over S seconds once
//     settled (threads that end within the window are not counted).
//
// Prints one JSON object on stdout. Needs an X display with a tray host
// (scripts/with-display.sh).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

struct Options {
    QString mode;
    int runs = 7;
    int settleMs = 2000;
    int seconds = 120;
    QString program;
    QStringList arguments;
};

[[noreturn]] void fail(const QString &message) {
    std::fprintf(stderr, "keelmark-bench-startup: %s\n", qPrintable(message));
    std::exit(1);
}

Options parseOptions(const QStringList &args) {
    Options options;
    if (args.size() < 2)
        fail(QStringLiteral("usage: start|idle [--runs N] [--settle-ms MS] [--seconds S] -- "
                            "PROGRAM [ARGS...]"));
    options.mode = args.at(1);
    int i = 2;
    for (; i < args.size() && args.at(i) != QLatin1String("--"); ++i) {
        const QString &name = args.at(i);
        if (i + 1 >= args.size())
            fail(name + QStringLiteral(" needs a value"));
        const int value = args.at(++i).toInt();
        if (name == QLatin1String("--runs"))
            options.runs = std::max(1, value);
        else if (name == QLatin1String("--settle-ms"))
            options.settleMs = std::max(0, value);
        else if (name == QLatin1String("--seconds"))
            options.seconds = std::max(1, value);
        else
            fail(QStringLiteral("unknown option ") + name);
    }
    if (i + 1 >= args.size())
        fail(QStringLiteral("no program given after --"));
    options.program = args.at(i + 1);
    options.arguments = args.mid(i + 2);
    if (options.mode != QLatin1String("start") && options.mode != QLatin1String("idle"))
        fail(QStringLiteral("unknown mode ") + options.mode);
    return options;
}

// Finds whether a window of the given process is mapped below a window other
// than the root, which is where the tray host puts an icon it has docked.
class DockWatcher {
public:
    DockWatcher() {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            fail(QStringLiteral("cannot connect to the X display (is DISPLAY set?)"));
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const char name[] = "_NET_WM_PID";
        auto *reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, sizeof(name) - 1, name), nullptr);
        if (!reply)
            fail(QStringLiteral("cannot intern _NET_WM_PID"));
        m_pidAtom = reply->atom;
        std::free(reply);
    }
    ~DockWatcher() { xcb_disconnect(m_connection); }
    DockWatcher(const DockWatcher &) = delete;
    DockWatcher &operator=(const DockWatcher &) = delete;

    bool isDocked(qint64 pid) { return search(m_root, pid, 0); }

private:
    bool search(xcb_window_t parent, qint64 pid, int depth) {
        const std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, parent), nullptr),
            &std::free);
        if (!tree)
            return false;
        const int count = xcb_query_tree_children_length(tree.get());
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < count; ++i) {
            if (depth > 0 && windowPid(children[i]) == pid && isViewable(children[i]))
                return true;
            if (depth < 4 && search(children[i], pid, depth + 1))
                return true;
        }
        return false;
    }

    std::optional<qint64> windowPid(xcb_window_t window) {
        auto *reply = xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        std::optional<qint64> pid;
        if (reply && xcb_get_property_value_length(reply) == 4)
            pid = *static_cast<const quint32 *>(xcb_get_property_value(reply));
        std::free(reply);
        return pid;
    }

    bool isViewable(xcb_window_t window) {
        auto *reply = xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
        const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(reply);
        return viewable;
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_pidAtom = 0;
};

// A field of /proc/<pid>/status in KiB ("VmHWM", "VmRSS").
qint64 statusKiB(qint64 pid, const char *field) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// CPU time of all the process's threads in milliseconds. The scheduler's
// nanosecond count, because the tick-based utime/stime of /proc/<pid>/stat
// (10 ms steps) cannot tell an idle minute from a busy one.
double cpuMs(qint64 pid) {
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    double nanoseconds = 0;
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (file.open(QIODevice::ReadOnly))
            nanoseconds += file.readAll().split(' ').value(0).toDouble();
    }
    return nanoseconds / 1e6;
}

class Run {
public:
    explicit Run(const Options &options) {
        m_process.setProgram(options.program);
        m_process.setArguments(options.arguments);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
    }
    ~Run() { stop(); }
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    // Milliseconds from start until the icon docked.
    double startAndWaitDocked(DockWatcher &watcher) {
        QElapsedTimer timer;
        timer.start();
        m_process.start();
        if (!m_process.waitForStarted(10000))
            fail(QStringLiteral("cannot start ") + m_process.program());
        while (!watcher.isDocked(m_process.processId())) {
            if (m_process.state() == QProcess::NotRunning)
                fail(m_process.program() + QStringLiteral(" exited before its icon showed"));
            if (timer.elapsed() > 30000)
                fail(m_process.program() + QStringLiteral(" showed no tray icon within 30 s"));
            QThread::usleep(500);
        }
        return static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }

    qint64 pid() const { return m_process.processId(); }

    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QJsonObject measureStart(const Options &options, DockWatcher &watcher) {
    QJsonArray runs;
    std::vector<double> startMs;
    std::vector<double> peakKiB;
    for (int i = 0; i < options.runs; ++i) {
        Run run(options);
        const double ms = run.startAndWaitDocked(watcher);
        QThread::msleep(options.settleMs);
        const qint64 hwm = statusKiB(run.pid(), "VmHWM");
        run.stop();
        startMs.push_back(ms);
        peakKiB.push_back(static_cast<double>(hwm));
        runs.append(QJsonObject{{"startMs", ms}, {"peakRssKiB", hwm}});
    }
    return {{"program", options.program},
            {"runs", runs},
            {"medianStartMs", median(startMs)},
            {"medianPeakRssKiB", median(peakKiB)}};
}

QJsonObject measureIdle(const Options &options, DockWatcher &watcher) {
    Run run(options);
    run.startAndWaitDocked(watcher);
    QThread::msleep(options.settleMs);
    const double before = cpuMs(run.pid());
    const qint64 rssBefore = statusKiB(run.pid(), "VmRSS");
    QThread::sleep(options.seconds);
    const double after = cpuMs(run.pid());
    const qint64 rssAfter = statusKiB(run.pid(), "VmRSS");
    run.stop();
    return {{"program", options.program},
            {"seconds", options.seconds},
            {"cpuMs", after - before},
            {"rssBeforeKiB", rssBefore},
            {"rssAfterKiB", rssAfter}};
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app.arguments());
    DockWatcher watcher;
    const QJsonObject result = options.mode == QLatin1String("start")
                                   ? measureStart(options, watcher)
                                   : measureIdle(options, watcher);
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}
