#pragma once

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

// The frameless popup that hangs under the tray icon and closes on any
// click outside it.
class PopoverWindow : public QWidget {
    Q_OBJECT

public:
    explicit PopoverWindow(QWidget *content);

    // Opens below `anchor` (the tray icon's rectangle in global
    // coordinates), or above it when there is no room below, kept on screen.
    void showAnchoredTo(const QRect &anchor);

    // A click on the tray icon closes the popup (it is outside it) before the
    // icon reports the same click; the toggle must then not reopen it.
    bool justClosedBy(const QRect &anchor) const;

    static QPoint placement(const QRect &anchor, const QSize &size, const QRect &screen);

protected:
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QElapsedTimer m_closedAt;
    QPoint m_closedCursor;
};
