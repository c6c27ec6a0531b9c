#pragma once

#include "Style.h"

#include <QColor>
#include <QLabel>
#include <QString>
#include <QWidget>

class QBoxLayout;
class QTimer;

// Small building blocks the screens share: a symbol, a label with a symbol,
// a coloured dot and the indeterminate spinner.
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

// "symbol  text" in one row; the text label is named `objectName`.
struct IconLabel {
    QWidget *widget = nullptr;
    SymbolView *symbol = nullptr;
    QLabel *text = nullptr;
};
IconLabel iconLabel(const QString &symbolName, const QColor &symbolColor, const QString &text,
                    Style::TextStyle style, QWidget *parent = nullptr, int spacing = 6);

// A label in a text style and colour, optionally wrapped and capped in width.
QLabel *text(const QString &text, Style::TextStyle style, Style::Color color = Style::Color::label,
             QWidget *parent = nullptr);
QLabel *wrappedText(const QString &text, Style::TextStyle style, Style::Color color,
                    int maximumWidth, Qt::Alignment alignment, QWidget *parent = nullptr);

// A screen title: title2, semibold.
QLabel *title(const QString &text, QWidget *parent = nullptr);

// Symbol size that matches a text style, as a symbol set beside text would.
int symbolSize(Style::TextStyle style);

// Takes a widget out of its layout and parent at once (so lookups no longer
// find it) and deletes it once control returns to the event loop, which is
// safe even from inside one of its own signals.
void retire(QWidget *widget);

// Adds `widget` to `layout` centred horizontally.
void addCentred(QBoxLayout *layout, QWidget *widget);
// Adds `widget` centred, as wide as the space allows up to `maximumWidth`
// ("at most N wide" in the screens' descriptions).
void addCapped(QBoxLayout *layout, QWidget *widget, int maximumWidth);

} // namespace Widgets
