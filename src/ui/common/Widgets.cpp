#include "Widgets.h"

#include "Icons.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcWidgets, "keelmark.ui")

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
    setAccessibleName(QStringLiteral("In progress"));
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
    setTextFormat(Qt::PlainText);
    Style::applyColor(this, textColor);
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

GroupBox::GroupBox(QWidget *title, QWidget *parent)
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
    setAccessibleName(label);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    m_symbol = new SymbolView("xmark.circle", Style::color(Style::Color::secondaryLabel),
                              symbolSize(Style::TextStyle::body), this);
    row->addWidget(m_symbol);

    auto *name = text(label, Style::TextStyle::body, Style::Color::label, this);
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
    Style::applyColor(m_value, primary ? Style::Color::label : Style::Color::secondaryLabel);
    // The symbol's colour carries the verdict, which a screen reader cannot see.
    const QString verdict = ok ? QStringLiteral("OK") : QStringLiteral("Not OK");
    setAccessibleDescription(value.isEmpty() ? verdict : verdict + QStringLiteral(": ") + value);
}

QString StatusRow::value() const {
    return m_value->text();
}

ClickableRow::ClickableRow(QWidget *parent)
    : QPushButton(parent) {
    setFlat(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void ClickableRow::focusInEvent(QFocusEvent *event) {
    m_focusRing = Widgets::showsFocusRing(event->reason());
    QPushButton::focusInEvent(event);
}

void ClickableRow::focusOutEvent(QFocusEvent *event) {
    m_focusRing = false;
    QPushButton::focusOutEvent(event);
}

void ClickableRow::keyPressEvent(QKeyEvent *event) {
    // Focus that came silently (an activated window) shows once the
    // keyboard is in use.
    if (!m_focusRing) {
        m_focusRing = true;
        update();
    }
    // Space is QAbstractButton's own (press, then click on release).
    if (!event->isAutoRepeat() &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void ClickableRow::paintEvent(QPaintEvent *event) {
    // A bordered card keeps its button look; a flat row draws only its own.
    if (!isFlat())
        QPushButton::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintBackground(painter);
    if (hasFocus() && m_focusRing)
        paintFocusRing(painter, this);
}

void ClickableRow::paintBackground(QPainter &) {}

bool showsFocusRing(Qt::FocusReason reason) {
    return reason != Qt::MouseFocusReason && reason != Qt::ActiveWindowFocusReason &&
           reason != Qt::PopupFocusReason;
}

void paintFocusRing(QPainter &painter, const QWidget *widget, qreal radius) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Style::focusRingColor(), 2));
    painter.drawRoundedRect(QRectF(widget->rect()).adjusted(1, 1, -1, -1), radius, radius);
    painter.restore();
}

int symbolSize(Style::TextStyle style) {
    return Style::font(style).pixelSize() + 3;
}

IconLabel iconLabel(const QString &symbolName, const QColor &symbolColor, const QString &string,
                    Style::TextStyle style, QWidget *parent, int spacing) {
    IconLabel result;
    result.widget = new QWidget(parent);
    auto *row = new QHBoxLayout(result.widget);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    result.symbol = new SymbolView(symbolName, symbolColor, symbolSize(style), result.widget);
    result.text = text(string, style, Style::Color::label, result.widget);
    row->addWidget(result.symbol, 0, Qt::AlignVCenter);
    row->addWidget(result.text, 1, Qt::AlignVCenter);
    return result;
}

QWidget *symbolText(const QString &symbol, const QString &string, Style::TextStyle style,
                    const QColor &color, const QString &objectName, QWidget *parent) {
    IconLabel label = iconLabel(symbol, color, string, style, parent, 5);
    Style::applyColor(label.text, color);
    if (!objectName.isEmpty())
        label.text->setObjectName(objectName);
    label.widget->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    return label.widget;
}

QLabel *text(const QString &string, Style::TextStyle style, Style::Color color, QWidget *parent) {
    auto *label = new QLabel(string, parent);
    // Logins and repository names are shown as typed, never as markup.
    label->setTextFormat(Qt::PlainText);
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

QString fillEscaped(const QString &markup, const QStringList &values) {
    QString result;
    result.reserve(markup.size());
    for (qsizetype i = 0; i < markup.size(); ++i) {
        const QChar c = markup.at(i);
        if (c == QLatin1Char('%') && i + 1 < markup.size() && markup.at(i + 1).isDigit()) {
            const int index = markup.at(i + 1).digitValue() - 1;
            if (index >= 0 && index < values.size()) {
                result += values.at(index).toHtmlEscaped();
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}

QLabel *richText(const QString &markup, const QStringList &values, Style::TextStyle style,
                 Style::Color color, QWidget *parent) {
    QLabel *label = text(QString(), style, color, parent);
    label->setTextFormat(Qt::RichText);
    label->setText(fillEscaped(markup, values));
    return label;
}

QLabel *title(const QString &string, QWidget *parent) {
    QLabel *label = text(string, Style::TextStyle::title2, Style::Color::label, parent);
    label->setFont(Style::font(Style::TextStyle::title2, QFont::DemiBold));
    label->setObjectName(QStringLiteral("screenTitle"));
    return label;
}

QLabel *heading(const QString &string, bool secondary, QWidget *parent) {
    return text(string, Style::TextStyle::headline,
                secondary ? Style::Color::secondaryLabel : Style::Color::label, parent);
}

QFrame *divider(QWidget *parent) {
    return Style::divider(Qt::Horizontal, parent);
}

QPushButton *button(const QString &string, const QString &objectName, Style::TextStyle style,
                    Style::Color color, QWidget *parent) {
    auto *button = new QPushButton(string, parent);
    button->setObjectName(objectName);
    button->setFont(Style::font(style));
    Style::styleButton(button, Style::ButtonStyle::bordered);
    if (color != Style::Color::label)
        Style::setButtonTextColor(button, color);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

QCheckBox *checkBox(const QString &string, const QString &objectName, Style::TextStyle style,
                    QWidget *parent) {
    auto *box = new QCheckBox(string, parent);
    box->setObjectName(objectName);
    box->setFont(Style::font(style));
    box->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return box;
}

QPushButton *smallButton(const QString &string, const QString &objectName, const QString &symbol,
                         QWidget *parent) {
    auto *button = new QPushButton(string, parent);
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

QPushButton *link(const QString &string, const QString &objectName, Style::TextStyle style,
                  QWidget *parent) {
    auto *button = new QPushButton(string, parent);
    button->setObjectName(objectName);
    button->setFont(Style::font(style));
    Style::styleButton(button, Style::ButtonStyle::link);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

QVBoxLayout *pageLayout(QWidget *page, int spacing) {
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(spacing);
    return layout;
}

void retire(QWidget *widget) {
    if (!widget)
        return;
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
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

void openInBrowser(const QUrl &url) {
    if (!url.isValid() || !QDesktopServices::openUrl(url))
        qCWarning(lcWidgets) << "could not open" << url.toString();
}

bool ask(QWidget *parent, const Question &question) {
    // On the heap: the parent deletes its children when it goes, and a box
    // on the stack would then be deleted twice.
    QPointer<QMessageBox> box =
        new QMessageBox(question.destructive ? QMessageBox::Warning : QMessageBox::Question,
                        question.title, question.text, QMessageBox::Cancel, parent);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(question.informative);
    if (!question.details.isEmpty())
        box->setDetailedText(question.details);
    QPushButton *go =
        box->addButton(question.goText, question.destructive ? QMessageBox::DestructiveRole
                                                             : QMessageBox::AcceptRole);
    box->setDefaultButton(
        question.destructive ? qobject_cast<QPushButton *>(box->button(QMessageBox::Cancel)) : go);
    box->exec();
    if (!box)
        return false;
    const bool yes = box->clickedButton() == go;
    delete box;
    return yes;
}

} // namespace Widgets
