#pragma once

#include <QRect>

#include <optional>

struct xcb_connection_t;

// Looks at the X server from outside the application: where its tray icon
// is once the tray host has docked it (a window of that process mapped
// below a window other than the root).
class TrayProbe {
public:
    TrayProbe();
    ~TrayProbe();
    TrayProbe(const TrayProbe &) = delete;
    TrayProbe &operator=(const TrayProbe &) = delete;

    bool isConnected() const;
    // Screen geometry of the docked icon of process `pid`, if there is one.
    std::optional<QRect> dockedIcon(qint64 pid);

private:
    std::optional<QRect> search(quint32 parent, qint64 pid, int depth);
    std::optional<qint64> windowPid(quint32 window);
    bool isViewable(quint32 window);
    QRect screenGeometry(quint32 window);

    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    quint32 m_pidAtom = 0;
};
