#pragma once

#include "Style.h"

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>

class QBoxLayout;
class QCheckBox;
class QPainter;
class QTimer;
class QUrl;
class QVBoxLayout;

// The one widget kit the wizard and the dashboard share: symbols, labels,
// buttons, boxes, status rows and the layout helpers that make each screen
// read like its description. User data is shown as plain text; markup is
// opt-in through richText(), which escapes what it is given.
namespace Widgets {

// A symbol drawn at a fixed size in one colour. The symbol name stays
// readable as a property so tests and accessibility tools can tell a green
// check from a grey cross.
class SymbolView : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString symbolName READ symbolName)
    Q_PROPERTY(QColor symbolColor READ symbolColor)

public:
    SymbolView(const QString &symbolName, const QColor &color, int pixelSize,
               QWidget *parent = nullptr);
    void setSymbol(const QString &symbolName, const QColor &color);
    QString symbolName() const { return m_symbolName; }
    QColor symbolColor() const { return m_color; }

private:
    QString m_symbolName;
    QColor m_color;
    int m_pixelSize;
};

// A filled circle, e.g. the status dot.
class Dot : public QWidget {
    Q_OBJECT

public:
    Dot(const QColor &color, int diameter, QWidget *parent = nullptr);
    void setColor(const QColor &color);
    QColor color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};

// The small indeterminate progress indicator.
class Spinner : public QWidget {
    Q_OBJECT

public:
    explicit Spinner(int diameter = 16, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer *m_timer;
    int m_angle = 0;
};

// A filled rounded rectangle behind its children; a negative radius draws a
// capsule (radius = half the height).
class RoundedBox : public QFrame {
    Q_OBJECT

public:
    RoundedBox(const QColor &fill, qreal radius, QWidget *parent = nullptr);
    QColor fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    qreal m_radius;
};

// A plain-text label on a capsule of its colour at low opacity (role
// badges, event kinds, the organisation's "admin" mark).
class CapsuleLabel : public QLabel {
    Q_OBJECT

public:
    CapsuleLabel(const QString &text, const QColor &textColor, const QColor &fill,
                 QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
};

// A titled box: the title above a rounded, lightly filled frame. Unlike
// QGroupBox it takes any widget as its title (the Danger Zone's symbol).
class GroupBox : public QWidget {
    Q_OBJECT

public:
    explicit GroupBox(QWidget *title, QWidget *parent = nullptr);
    QVBoxLayout *contentLayout() const { return m_content; }

private:
    QVBoxLayout *m_content;
};

// A status line: symbol, a fixed-width label and a value. A screen reader
// hears the label as the name and the value with its verdict as the
// description.
class StatusRow : public QWidget {
    Q_OBJECT

public:
    enum class ValueColoring { byOk, alwaysSecondary };

    StatusRow(const QString &label, int labelWidth, Style::TextStyle valueStyle,
              ValueColoring coloring, QWidget *parent = nullptr);

    void setState(const QString &value, bool ok);
    bool isOk() const { return m_ok; }
    QString value() const;
    SymbolView *symbol() const { return m_symbol; }
    QLabel *valueLabel() const { return m_value; }

private:
    SymbolView *m_symbol;
    QLabel *m_value;
    ValueColoring m_coloring;
    bool m_ok = false;
};

// A button whose whole area is a custom row (flat, the default) or card
// (not flat: the button's own look stays). It shows keyboard focus as a
// ring in the accent colour and answers Space, Enter and Return, which a
// plain QPushButton outside a dialog ignores.
class ClickableRow : public QPushButton {
    Q_OBJECT

public:
    explicit ClickableRow(QWidget *parent = nullptr);
    bool showsFocusRing() const { return m_focusRing; }

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    // Drawn under the children; the default draws nothing.
    virtual void paintBackground(QPainter &painter);

private:
    bool m_focusRing = false;
};

// Whether focus that arrived for `reason` should show a ring: focus from
// the keyboard or handed on by code does; a click or an activated window
// does not, so a screen does not open with a ring on its first row.
bool showsFocusRing(Qt::FocusReason reason);
// Paints the keyboard focus ring just inside `widget`'s rectangle.
void paintFocusRing(QPainter &painter, const QWidget *widget, qreal radius = 6);

// "symbol  text" in one row; the text label is named `objectName`.
struct IconLabel {
    QWidget *widget = nullptr;
    SymbolView *symbol = nullptr;
    QLabel *text = nullptr;
};
IconLabel iconLabel(const QString &symbolName, const QColor &symbolColor, const QString &text,
                    Style::TextStyle style, QWidget *parent = nullptr, int spacing = 6);
// A symbol followed by a text, both in one colour, keeping its natural width.
// The text label is named `objectName` when one is given.
QWidget *symbolText(const QString &symbol, const QString &text, Style::TextStyle style,
                    const QColor &color, const QString &objectName = {}, QWidget *parent = nullptr);

// A plain-text label in a text style and colour, optionally wrapped and
// capped in width.
QLabel *text(const QString &text, Style::TextStyle style, Style::Color color = Style::Color::label,
             QWidget *parent = nullptr);
QLabel *wrappedText(const QString &text, Style::TextStyle style, Style::Color color,
                    int maximumWidth, Qt::Alignment alignment, QWidget *parent = nullptr);
// A rich-text label: `markup` is ours; each %1, %2 ... is replaced in one
// pass by the matching value, HTML-escaped, so user data never becomes markup.
QLabel *richText(const QString &markup, const QStringList &values, Style::TextStyle style,
                 Style::Color color = Style::Color::label, QWidget *parent = nullptr);
QString fillEscaped(const QString &markup, const QStringList &values);

// A screen title: title2, semibold.
QLabel *title(const QString &text, QWidget *parent = nullptr);
// A section heading in the headline style.
QLabel *heading(const QString &text, bool secondary, QWidget *parent = nullptr);
QFrame *divider(QWidget *parent = nullptr);

// A bordered button in a text style and colour that keeps its natural width.
QPushButton *button(const QString &text, const QString &objectName, Style::TextStyle style,
                    Style::Color color = Style::Color::label, QWidget *parent = nullptr);
// A bordered button at the small control size, optionally with a symbol.
QPushButton *smallButton(const QString &text, const QString &objectName, const QString &symbol = {},
                         QWidget *parent = nullptr);
// An on/off setting: the platform's check box with its label in a text
// style, keeping its natural width.
QCheckBox *checkBox(const QString &text, const QString &objectName, Style::TextStyle style,
                    QWidget *parent = nullptr);
// A button that reads and behaves as a link.
QPushButton *link(const QString &text, const QString &objectName, Style::TextStyle style,
                  QWidget *parent = nullptr);

// Symbol size that matches a text style, as a symbol set beside text would.
int symbolSize(Style::TextStyle style);

// The page frame of the dashboard: a leading-aligned vertical stack with
// padding 24.
QVBoxLayout *pageLayout(QWidget *page, int spacing = 24);

// Takes a widget out of its layout and parent at once (so lookups no longer
// find it) and deletes it once control returns to the event loop, which is
// safe even from inside one of its own signals.
void retire(QWidget *widget);
// Removes and deletes every item of `layout`, widgets included.
void clearLayout(QBoxLayout *layout);

// Adds `widget` to `layout` centred horizontally.
void addCentred(QBoxLayout *layout, QWidget *widget);
// Adds `widget` centred, as wide as the space allows up to `maximumWidth`
// ("at most N wide" in the screens' descriptions).
void addCapped(QBoxLayout *layout, QWidget *widget, int maximumWidth);

// Opens a web address in the default browser; a failure is logged.
void openInBrowser(const QUrl &url);

// A question with Cancel and one button that goes ahead, asked modally.
struct Question {
    QString title;
    QString text;
    QString informative;
    QString details; // shown behind "Show Details…" when not empty
    QString goText;  // the button that goes ahead ("Restore", "Disconnect")
    // Forgets or removes something: a warning, and Cancel is the default.
    bool destructive = false;
};
// True when the user chose `goText`. A `parent` destroyed while the question
// is open (its window closed by a notification, say) reads as Cancel; the
// caller must still check that it is alive itself.
bool ask(QWidget *parent, const Question &question);

} // namespace Widgets
