#include "PopoverWindow.h"

#include "Style.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace {
constexpr int gap = 4;
constexpr qint64 toggleWindowMs = 400;
} // namespace

PopoverWindow::PopoverWindow(QWidget *content)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("popover"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Fixed to what the content asks for, so it grows with a notice that
    // appears while it is open.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    content->setParent(this);
    layout->addWidget(content);
}

QPoint PopoverWindow::placement(const QRect &anchor, const QSize &size, const QRect &screen) {
    int x = anchor.center().x() - size.width() / 2;
    int y = anchor.bottom() + 1 + gap;
    // A tray at the bottom of the screen: open upwards instead.
    if (screen.isValid() && y + size.height() > screen.bottom() + 1)
        y = anchor.top() - gap - size.height();
    if (screen.isValid()) {
        x = qBound(screen.left(), x, qMax(screen.left(), screen.right() + 1 - size.width()));
        y = qBound(screen.top(), y, qMax(screen.top(), screen.bottom() + 1 - size.height()));
    }
    return {x, y};
}

void PopoverWindow::showAnchoredTo(const QRect &anchor) {
    QScreen *screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    move(placement(anchor, size(), available));
    show();
    raise();
    activateWindow();
}

bool PopoverWindow::justClosedBy(const QRect &anchor) const {
    return m_closedAt.isValid() && m_closedAt.elapsed() < toggleWindowMs &&
           anchor.contains(m_closedCursor);
}

void PopoverWindow::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    // Only a click outside closes it with a button held; a hide by the
    // toggle itself must not swallow the next toggle.
    if (QGuiApplication::mouseButtons() != Qt::NoButton) {
        m_closedAt.start();
        m_closedCursor = QCursor::pos();
    } else {
        m_closedAt.invalidate();
    }
}

void PopoverWindow::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), Style::color(Style::Color::windowBackground));
    painter.setPen(Style::color(Style::Color::separator, 2.0));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
