#include "Widgets.h"

#include "Icons.h"

#include <QBoxLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>

namespace Widgets {

SymbolView::SymbolView(const QString &symbolName, const QColor &color, int pixelSize,
                       QWidget *parent)
    : QLabel(parent)
    , m_pixelSize(pixelSize) {
    setFixedSize(pixelSize, pixelSize);
    setAlignment(Qt::AlignCenter);
    setSymbol(symbolName, color);
}

void SymbolView::setSymbol(const QString &symbolName, const QColor &color) {
    m_symbolName = symbolName;
    m_color = color;
    setPixmap(Icons::pixmap(symbolName, color, m_pixelSize));
    setAccessibleName(symbolName);
}

Dot::Dot(const QColor &color, int diameter, QWidget *parent)
    : QWidget(parent)
    , m_color(color) {
    setFixedSize(diameter, diameter);
}

void Dot::setColor(const QColor &color) {
    m_color = color;
    update();
}

void Dot::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(rect());
}

Spinner::Spinner(int diameter, QWidget *parent)
    : QWidget(parent)
    , m_timer(new QTimer(this)) {
    setFixedSize(diameter, diameter);
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const qreal outer = width() / 2.0 - 1;
    const qreal inner = outer * 0.45;
    painter.translate(centre);
    painter.rotate(m_angle);
    // Twelve spokes fading behind the leading one.
    for (int i = 0; i < 12; ++i) {
        QColor c = Style::color(Style::Color::label);
        c.setAlphaF(float(0.15 + 0.75 * (i / 11.0)));
        QPen pen(c, qMax(1.5, width() / 9.0), Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer));
        painter.rotate(30);
    }
}

void Spinner::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_timer->start();
}

void Spinner::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    m_timer->stop();
}

int symbolSize(Style::TextStyle style) {
    return Style::font(style).pixelSize() + 3;
}

IconLabel iconLabel(const QString &symbolName, const QColor &symbolColor, const QString &text,
                    Style::TextStyle style, QWidget *parent, int spacing) {
    IconLabel result;
    result.widget = new QWidget(parent);
    auto *row = new QHBoxLayout(result.widget);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    result.symbol = new SymbolView(symbolName, symbolColor, symbolSize(style), result.widget);
    result.text = new QLabel(text, result.widget);
    result.text->setFont(Style::font(style));
    row->addWidget(result.symbol, 0, Qt::AlignVCenter);
    row->addWidget(result.text, 1, Qt::AlignVCenter);
    return result;
}

QLabel *text(const QString &string, Style::TextStyle style, Style::Color color, QWidget *parent) {
    auto *label = new QLabel(string, parent);
    label->setFont(Style::font(style));
    if (color != Style::Color::label)
        Style::applyColor(label, color);
    return label;
}

QLabel *wrappedText(const QString &string, Style::TextStyle style, Style::Color color,
                    int maximumWidth, Qt::Alignment alignment, QWidget *parent) {
    QLabel *label = text(string, style, color, parent);
    label->setWordWrap(true);
    label->setAlignment(alignment);
    // A wrapping label inside centred stacks is otherwise given the width
    // and height of its first line only, and the rest of the text is lost.
    // A wizard screen at the smallest window, with its scroll bar showing,
    // has 440 points inside its padding; wider would not fit.
    const int width = qMin(maximumWidth, 440);
    label->setFixedWidth(width);
    label->setMinimumHeight(label->heightForWidth(width));
    return label;
}

QLabel *title(const QString &string, QWidget *parent) {
    auto *label = new QLabel(string, parent);
    label->setFont(Style::font(Style::TextStyle::title2, QFont::DemiBold));
    label->setObjectName(QStringLiteral("screenTitle"));
    return label;
}

void retire(QWidget *widget) {
    if (!widget)
        return;
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

void addCentred(QBoxLayout *layout, QWidget *widget) {
    layout->addWidget(widget, 0, Qt::AlignHCenter);
}

void addCapped(QBoxLayout *layout, QWidget *widget, int maximumWidth) {
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    widget->setMaximumWidth(maximumWidth);
    widget->setSizePolicy(QSizePolicy::Expanding, widget->sizePolicy().verticalPolicy());
    // The widget's large stretch takes the room up to its maximum; the
    // spacers share what is left, which centres it.
    row->addStretch(1);
    row->addWidget(widget, 1000);
    row->addStretch(1);
    layout->addLayout(row);
}

} // namespace Widgets
