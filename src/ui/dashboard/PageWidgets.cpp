#include "PageWidgets.h"

#include "AppState.h"
#include "HealthCheckService.h"
#include "Icons.h"
#include "UiContext.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLoggingCategory>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcDashboard, "keelmark.dashboard")

RoundedBox::RoundedBox(const QColor &fill, qreal radius, QWidget *parent)
    : QFrame(parent)
    , m_fill(fill)
    , m_radius(radius) {}

void RoundedBox::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_fill);
    const QRectF area = QRectF(rect());
    const qreal radius = m_radius < 0 ? area.height() / 2 : m_radius;
    painter.drawRoundedRect(area, radius, radius);
}

CapsuleLabel::CapsuleLabel(const QString &text, const QColor &textColor, const QColor &fill,
                           QWidget *parent)
    : QLabel(text, parent)
    , m_fill(fill) {
    PageWidgets::setTextColor(this, textColor);
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CapsuleLabel::paintEvent(QPaintEvent *event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_fill);
        const QRectF area = QRectF(rect());
        painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
    }
    QLabel::paintEvent(event);
}

DashboardGroupBox::DashboardGroupBox(QWidget *title, QWidget *parent)
    : QWidget(parent) {
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(6);
    title->setParent(this);
    outer->addWidget(title);

    auto *box = new RoundedBox(Style::color(Style::Color::secondaryLabel, 0.08), 6, this);
    box->setObjectName("groupBoxFrame");
    m_content = new QVBoxLayout(box);
    m_content->setContentsMargins(10, 10, 10, 10);
    m_content->setSpacing(8);
    outer->addWidget(box);
}

StatusRow::StatusRow(const QString &label, int labelWidth, Style::TextStyle valueStyle,
                     ValueColoring coloring, QWidget *parent)
    : QWidget(parent)
    , m_coloring(coloring) {
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    m_symbol = new SymbolLabel("xmark.circle", Style::color(Style::Color::secondaryLabel),
                               PageWidgets::symbolSize(Style::TextStyle::body), this);
    row->addWidget(m_symbol);

    auto *name = PageWidgets::text(label, Style::TextStyle::body, Style::Color::label, this);
    name->setObjectName("statusRowLabel");
    name->setFixedWidth(labelWidth);
    row->addWidget(name);

    m_value = new QLabel(this);
    m_value->setObjectName("statusRowValue");
    m_value->setTextFormat(Qt::PlainText);
    Style::apply(m_value, valueStyle);
    row->addWidget(m_value);
    row->addStretch(1);

    setState(QString(), false);
}

void StatusRow::setState(const QString &value, bool ok) {
    m_ok = ok;
    m_symbol->setSymbol(ok ? "checkmark.circle.fill" : "xmark.circle",
                        Style::color(ok ? Style::Color::green : Style::Color::secondaryLabel));
    m_value->setText(value);
    const bool primary = ok && m_coloring == ValueColoring::byOk;
    PageWidgets::setTextColor(
        m_value, Style::color(primary ? Style::Color::label : Style::Color::secondaryLabel));
}

QString StatusRow::value() const {
    return m_value->text();
}

namespace PageWidgets {

QVBoxLayout *pageLayout(QWidget *page, int spacing) {
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(spacing);
    return layout;
}

QLabel *title(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setFont(Style::font(Style::TextStyle::title2, QFont::DemiBold));
    return label;
}

QLabel *heading(const QString &text, bool secondary, QWidget *parent) {
    return PageWidgets::text(text, Style::TextStyle::headline,
                             secondary ? Style::Color::secondaryLabel : Style::Color::label,
                             parent);
}

QLabel *text(const QString &text, Style::TextStyle style, Style::Color color, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    // Logins and repository names are shown as typed, never as markup.
    label->setTextFormat(Qt::PlainText);
    Style::apply(label, style);
    setTextColor(label, Style::color(color));
    return label;
}

QFrame *divider(QWidget *parent) {
    return Style::divider(Qt::Horizontal, parent);
}

QWidget *symbolText(const QString &symbol, const QString &text, Style::TextStyle style,
                    const QColor &color, const QString &objectName, QWidget *parent) {
    auto *widget = new QWidget(parent);
    auto *row = new QHBoxLayout(widget);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    row->addWidget(new SymbolLabel(symbol, color, symbolSize(style), widget));
    auto *label = new QLabel(text, widget);
    Style::apply(label, style);
    setTextColor(label, color);
    if (!objectName.isEmpty())
        label->setObjectName(objectName);
    row->addWidget(label);
    widget->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    return widget;
}

QPushButton *button(const QString &text, const QString &objectName, Style::TextStyle style,
                    Style::Color color, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setFont(Style::font(style));
    Style::styleButton(button, Style::ButtonStyle::bordered);
    if (color != Style::Color::label) {
        // The bordered look sets its text colour in a style sheet; a later
        // rule of the same selector wins.
        button->setStyleSheet(button->styleSheet() +
                              QStringLiteral("QAbstractButton { color: %1; }")
                                  .arg(Style::color(color).name(QColor::HexArgb)));
    }
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

QPushButton *smallButton(const QString &text, const QString &objectName, const QString &symbol,
                         QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    Style::styleButton(button, Style::ButtonStyle::bordered, Style::ControlSize::small);
    if (!symbol.isEmpty()) {
        const int size = symbolSize(Style::TextStyle::caption);
        button->setIcon(Icons::icon(symbol, Style::color(Style::Color::label), size));
        button->setIconSize(QSize(size, size));
    }
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

QPushButton *link(const QString &text, const QString &objectName, Style::TextStyle style,
                  QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setFont(Style::font(style));
    Style::styleButton(button, Style::ButtonStyle::link);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

void setTextColor(QWidget *widget, const QColor &color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

int symbolSize(Style::TextStyle style) {
    return QFontMetrics(Style::font(style)).height();
}

void clearLayout(QBoxLayout *layout) {
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *widget = item->widget())
            delete widget;
        else if (auto *child = qobject_cast<QBoxLayout *>(item->layout()))
            clearLayout(child);
        delete item;
    }
}

void startHealthCheck(const UiContext &context) {
    if (!context.health || !context.appState) {
        qCWarning(lcDashboard) << "health check requested without a health service";
        return;
    }
    // The task outlives this call and the page; it only touches the services
    // and AppState, which live for the whole run.
    auto task = context.health->performHealthCheck(context.appState);
    Q_UNUSED(task);
}

void openInBrowser(const QUrl &url) {
    if (!url.isValid() || !QDesktopServices::openUrl(url))
        qCWarning(lcDashboard) << "could not open" << url.toString();
}

} // namespace PageWidgets
