#include "Style.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QLoggingCategory>
#include <QPalette>
#include <QWidget>

Q_LOGGING_CATEGORY(lcStyle, "keelmark.ui")

namespace {

const QString wordmarkFamily = QStringLiteral("Cormorant Garamond");
const QString wordmarkResource = QStringLiteral(":/fonts/CormorantGaramond_600SemiBold.ttf");

bool g_initialized = false;
bool g_wordmarkLoaded = false;

struct TextMetrics {
    int pixelSize;
    QFont::Weight weight;
};

// The desktop text styles in logical pixels, so a screen laid out in the
// description's points keeps its proportions on every display.
TextMetrics metrics(Style::TextStyle style) {
    using Style::TextStyle;
    switch (style) {
    case TextStyle::largeTitle:
        return {26, QFont::Normal};
    case TextStyle::title:
        return {22, QFont::Normal};
    case TextStyle::title2:
        return {17, QFont::Normal};
    case TextStyle::title3:
        return {15, QFont::Normal};
    case TextStyle::headline:
        return {13, QFont::DemiBold};
    case TextStyle::body:
        return {13, QFont::Normal};
    case TextStyle::callout:
        return {12, QFont::Normal};
    case TextStyle::subheadline:
        return {11, QFont::Normal};
    case TextStyle::footnote:
        return {10, QFont::Normal};
    case TextStyle::caption:
        return {11, QFont::Normal};
    case TextStyle::caption2:
        return {10, QFont::Normal};
    case TextStyle::monospacedCaption:
        return {11, QFont::Normal};
    }
    return {13, QFont::Normal};
}

QFont baseFont() {
    return qApp ? QApplication::font() : QFont();
}

QColor paletteColor(QPalette::ColorRole role, const QColor &fallback) {
    return qApp ? QApplication::palette().color(role) : fallback;
}

QString rgba(const QColor &color) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF(), 0, 'f', 3);
}

} // namespace

namespace Style {

QFont font(TextStyle style) {
    const TextMetrics m = metrics(style);
    QFont result = baseFont();
    if (style == TextStyle::monospacedCaption)
        result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPixelSize(m.pixelSize);
    result.setWeight(m.weight);
    return result;
}

QFont font(TextStyle style, QFont::Weight weight) {
    QFont result = font(style);
    result.setWeight(weight);
    return result;
}

QColor color(Color which, qreal opacity) {
    QColor result;
    switch (which) {
    case Color::green:
        result = QColor(0x34, 0xc7, 0x59);
        break;
    case Color::orange:
        result = QColor(0xff, 0x95, 0x00);
        break;
    case Color::red:
        result = QColor(0xff, 0x3b, 0x30);
        break;
    case Color::gray:
        result = QColor(0x8e, 0x8e, 0x93);
        break;
    case Color::blue:
        result = QColor(0x00, 0x7a, 0xff);
        break;
    case Color::yellow:
        result = QColor(0xff, 0xcc, 0x00);
        break;
    case Color::label:
        result = paletteColor(QPalette::WindowText, Qt::black);
        break;
    case Color::secondaryLabel: {
        // Secondary text is the primary colour at half strength, which reads
        // on light and dark palettes alike.
        result = paletteColor(QPalette::WindowText, Qt::black);
        result.setAlphaF(0.55f);
        break;
    }
    case Color::separator:
        result = paletteColor(QPalette::WindowText, Qt::black);
        result.setAlphaF(0.12f);
        break;
    case Color::onAccent:
        result = Qt::white;
        break;
    case Color::controlBackground:
        result = paletteColor(QPalette::Base, Qt::white);
        break;
    case Color::windowBackground:
        result = paletteColor(QPalette::Window, QColor(0xec, 0xec, 0xec));
        break;
    }
    result.setAlphaF(float(result.alphaF() * qBound(0.0, opacity, 1.0)));
    return result;
}

QColor statusColor(StatusTone tone) {
    switch (tone) {
    case StatusTone::ok:
        return color(Color::green);
    case StatusTone::attention:
        return color(Color::orange);
    case StatusTone::neutral:
        return color(Color::gray);
    case StatusTone::alert:
        return color(Color::red);
    }
    return color(Color::gray);
}

QColor accentColor() {
    return color(Color::blue);
}

QColor focusRingColor() {
    return color(Color::blue, 0.85);
}

void apply(QWidget *widget, TextStyle style) {
    if (widget)
        widget->setFont(font(style));
}

void applyColor(QWidget *widget, Color which, qreal opacity) {
    if (!widget)
        return;
    applyColor(widget, color(which, opacity));
}

void applyColor(QWidget *widget, const QColor &c) {
    if (!widget)
        return;
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, c);
    palette.setColor(QPalette::Text, c);
    palette.setColor(QPalette::ButtonText, c);
    widget->setPalette(palette);
}

QLabel *label(const QString &text, TextStyle style, QWidget *parent) {
    auto *result = new QLabel(text, parent);
    result->setFont(font(style));
    return result;
}

void styleButton(QAbstractButton *button, ButtonStyle style, ControlSize size) {
    if (!button)
        return;
    int vertical = 4;
    int horizontal = 12;
    TextStyle text = TextStyle::body;
    switch (size) {
    case ControlSize::small:
        vertical = 2;
        horizontal = 8;
        text = TextStyle::caption;
        break;
    case ControlSize::regular:
        break;
    case ControlSize::large:
        vertical = 7;
        horizontal = 16;
        break;
    }
    // A font the caller chose (caption, headline ...) wins over the size default.
    if (!button->testAttribute(Qt::WA_SetFont))
        button->setFont(font(text));

    const QString padding = QStringLiteral("padding: %1px %2px;").arg(vertical).arg(horizontal);
    const QColor accent = accentColor();
    QString sheet;
    switch (style) {
    case ButtonStyle::prominent:
        sheet = QStringLiteral("QAbstractButton { background: %1; color: white; border: none;"
                               " border-radius: 6px; %2 }"
                               "QAbstractButton:hover { background: %3; }"
                               "QAbstractButton:pressed { background: %4; }"
                               "QAbstractButton:disabled { background: %5; color: %6; }")
                    .arg(rgba(accent), padding, rgba(accent.lighter(112)), rgba(accent.darker(115)),
                         rgba(color(Color::gray, 0.3)), rgba(color(Color::secondaryLabel)));
        break;
    case ButtonStyle::bordered:
        sheet =
            QStringLiteral("QAbstractButton { background: %1; color: %2;"
                           " border: 1px solid %3; border-radius: 6px; %4 }"
                           "QAbstractButton:hover { background: %5; }"
                           "QAbstractButton:pressed { background: %6; }"
                           "QAbstractButton:disabled { color: %7; }")
                .arg(rgba(color(Color::controlBackground)), rgba(color(Color::label)),
                     rgba(color(Color::separator, 2.0)), padding, rgba(color(Color::gray, 0.12)),
                     rgba(color(Color::gray, 0.25)), rgba(color(Color::secondaryLabel)));
        break;
    case ButtonStyle::card:
        sheet = QStringLiteral("QAbstractButton { background: %1; border: 1px solid %2;"
                               " border-radius: 6px; padding: 0px; text-align: left; }"
                               "QAbstractButton:hover { background: %3; }"
                               "QAbstractButton:pressed { background: %4; }")
                    .arg(rgba(color(Color::controlBackground)), rgba(color(Color::separator, 2.0)),
                         rgba(color(Color::gray, 0.12)), rgba(color(Color::gray, 0.25)));
        break;
    case ButtonStyle::plain:
        sheet = QStringLiteral("QAbstractButton { background: transparent; border: none;"
                               " padding: 2px 0px; text-align: left; }");
        button->setCursor(Qt::ArrowCursor);
        break;
    case ButtonStyle::link:
        sheet = QStringLiteral("QAbstractButton { background: transparent; border: none;"
                               " padding: 0px; color: %1; text-align: left; }"
                               "QAbstractButton:hover { text-decoration: underline; }")
                    .arg(rgba(accent));
        button->setCursor(Qt::PointingHandCursor);
        break;
    }
    button->setStyleSheet(sheet);
}

void setButtonTextColor(QAbstractButton *button, Color which) {
    if (!button)
        return;
    applyColor(button, which);
    // A later rule of the same selector wins over the look's own colour.
    button->setStyleSheet(button->styleSheet() +
                          QStringLiteral("QAbstractButton { color: %1; }").arg(rgba(color(which))));
}

void styleSidebar(QListWidget *sidebar) {
    if (!sidebar)
        return;
    sidebar->setStyleSheet(
        QStringLiteral("QListWidget#sidebar { background: %1; border: none; padding: 8px;"
                       " outline: 0; }"
                       "QListWidget#sidebar::item { color: %2; padding: 3px 4px;"
                       " margin-bottom: 2px; border: 2px solid transparent; border-radius: 6px; }"
                       "QListWidget#sidebar::item:selected { background: %3; color: white; }"
                       "QListWidget#sidebar::item:focus { border-color: %4; }"
                       "QListWidget#sidebar::item:selected:focus { border-color: %5; }")
            .arg(rgba(color(Color::gray, 0.10)), rgba(color(Color::label)), rgba(accentColor()),
                 rgba(focusRingColor()), rgba(accentColor().darker(200))));
}

QFrame *divider(Qt::Orientation orientation, QWidget *parent) {
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::NoFrame);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, color(Color::separator, 1.5));
    line->setPalette(palette);
    if (orientation == Qt::Horizontal) {
        line->setFixedHeight(1);
        line->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        line->setFixedWidth(1);
        line->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
    return line;
}

QFont wordmarkFont(qreal pointSize) {
    initialize();
    QFont result;
    if (g_wordmarkLoaded) {
        result = QFont(wordmarkFamily);
    } else {
        result = QFont(QStringLiteral("serif"));
        result.setStyleHint(QFont::Serif);
    }
    result.setPixelSize(qMax(1, qRound(pointSize)));
    result.setWeight(QFont::DemiBold);
    return result;
}

bool wordmarkFontLoaded() {
    initialize();
    return g_wordmarkLoaded;
}

void initialize() {
    if (g_initialized || !qApp)
        return;
    g_initialized = true;
    const int id = QFontDatabase::addApplicationFont(wordmarkResource);
    g_wordmarkLoaded =
        id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(wordmarkFamily);
    if (!g_wordmarkLoaded)
        qCWarning(lcStyle) << "wordmark font did not load; using a serif fallback";
}

} // namespace Style
