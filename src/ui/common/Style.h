#pragma once

#include "AppStateTypes.h"

#include <QColor>
#include <QFont>
#include <QString>

class QAbstractButton;
class QFrame;
class QLabel;
class QListWidget;
class QWidget;

// The platform's named text styles and system colours in one place, so views
// never scatter point sizes or hex colours.
namespace Style {

enum class TextStyle {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    body,
    callout,
    subheadline,
    footnote,
    caption,
    caption2,
    monospacedCaption,
};

enum class Color {
    green,
    orange,
    red,
    gray,
    blue,
    yellow,
    label,          // primary text
    secondaryLabel, // secondary text
    separator,
    onAccent, // text and symbols on an accent fill
    controlBackground,
    windowBackground,
};

QFont font(TextStyle style);
// Bold/semibold variants of a style (e.g. `.headline` is already semibold).
QFont font(TextStyle style, QFont::Weight weight);
QColor color(Color color, qreal opacity = 1.0);
// The colour of a status role the state layer names (the status dot).
QColor statusColor(StatusTone tone);

void apply(QWidget *widget, TextStyle style);
void applyColor(QWidget *widget, Color color, qreal opacity = 1.0);
void applyColor(QWidget *widget, const QColor &color);
QLabel *label(const QString &text, TextStyle style, QWidget *parent = nullptr);

// The accent colour of active markers and selections.
QColor accentColor();
// The ring that marks keyboard focus on custom controls.
QColor focusRingColor();

// The platform's button looks: filled accent ("bordered prominent"), a
// light bordered button, a borderless plain one, a link, and a bordered
// card whose content lays itself out (no padding, leading-aligned).
enum class ButtonStyle { prominent, bordered, plain, link, card };
enum class ControlSize { small, regular, large };
void styleButton(QAbstractButton *button, ButtonStyle style,
                 ControlSize size = ControlSize::regular);
// Text colour of a styled button; its style sheet would override the palette.
void setButtonTextColor(QAbstractButton *button, Color color);

// The dashboard's sidebar: a panel a shade off the page, rounded accent
// selection, and a focus ring on the current row while the list has focus.
void styleSidebar(QListWidget *sidebar);

// A one-pixel separator line.
QFrame *divider(Qt::Orientation orientation, QWidget *parent = nullptr);

// The lower-case wordmark family, bundled as a resource; a serif fallback
// only if loading it failed.
// Sizes throughout are the description's points, i.e. logical pixels.
QFont wordmarkFont(qreal pointSize);
bool wordmarkFontLoaded();

// Loads bundled fonts; call once after QApplication exists (idempotent).
void initialize();

} // namespace Style
