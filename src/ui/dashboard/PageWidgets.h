#pragma once

#include "Style.h"
#include "Widgets.h"

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

class QBoxLayout;
class QHBoxLayout;
class QVBoxLayout;
struct UiContext;

// Small building blocks shared by the dashboard pages, so that each page
// reads like its layout: stacks, dividers, status rows, group boxes.

using SymbolLabel = Widgets::SymbolView;

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

// A text on a capsule of its colour at low opacity (role badges, event kinds).
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
class DashboardGroupBox : public QWidget {
    Q_OBJECT

public:
    explicit DashboardGroupBox(QWidget *title, QWidget *parent = nullptr);
    QVBoxLayout *contentLayout() const { return m_content; }

private:
    QVBoxLayout *m_content;
};

// A status line: symbol, a fixed-width label and a value.
class StatusRow : public QWidget {
    Q_OBJECT

public:
    enum class ValueColoring { byOk, alwaysSecondary };

    StatusRow(const QString &label, int labelWidth, Style::TextStyle valueStyle,
              ValueColoring coloring, QWidget *parent = nullptr);

    void setState(const QString &value, bool ok);
    bool isOk() const { return m_ok; }
    QString value() const;
    SymbolLabel *symbol() const { return m_symbol; }
    QLabel *valueLabel() const { return m_value; }

private:
    SymbolLabel *m_symbol;
    QLabel *m_value;
    ValueColoring m_coloring;
    bool m_ok = false;
};

namespace PageWidgets {

// The page frame shared by every page: a leading-aligned vertical stack with
// spacing 24 and padding 24.
QVBoxLayout *pageLayout(QWidget *page, int spacing = 24);

QLabel *title(const QString &text, QWidget *parent = nullptr);
QLabel *heading(const QString &text, bool secondary, QWidget *parent = nullptr);
QLabel *text(const QString &text, Style::TextStyle style, Style::Color color,
             QWidget *parent = nullptr);
QFrame *divider(QWidget *parent = nullptr);

// A symbol followed by a text, in one style and colour. The text label is
// named `objectName` when one is given.
QWidget *symbolText(const QString &symbol, const QString &text, Style::TextStyle style,
                    const QColor &color, const QString &objectName = {}, QWidget *parent = nullptr);

// A bordered button in a text style and colour that keeps its natural width.
QPushButton *button(const QString &text, const QString &objectName, Style::TextStyle style,
                    Style::Color color = Style::Color::label, QWidget *parent = nullptr);

// A bordered button at the small control size, optionally with a symbol.
QPushButton *smallButton(const QString &text, const QString &objectName, const QString &symbol = {},
                         QWidget *parent = nullptr);

// A button that reads and behaves as a link.
QPushButton *link(const QString &text, const QString &objectName, Style::TextStyle style,
                  QWidget *parent = nullptr);

void setTextColor(QWidget *widget, const QColor &color);
// Symbols follow the text size of the style they sit in.
int symbolSize(Style::TextStyle style);

// Removes and deletes every item of `layout`, widgets included.
void clearLayout(QBoxLayout *layout);

// Starts one health check on the context's services; fire and forget, the
// page follows the result through AppState.
void startHealthCheck(const UiContext &context);

// Opens a web address in the default browser.
void openInBrowser(const QUrl &url);

} // namespace PageWidgets
