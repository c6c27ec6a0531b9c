#include "SetupStepIndicator.h"

#include "AppState.h"
#include "BuildConfig.h"
#include "Icons.h"
#include "Style.h"
#include "Widgets.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int markerColumnWidth = 22;
constexpr int connectorHeight = 12;
constexpr int markerSize = 22;

// The marker of one step with the connectors above and below it.
class StepMarker : public QWidget {
public:
    StepMarker(SetupStep step, QWidget *parent)
        : QWidget(parent)
        , m_step(step) {
        setFixedSize(markerColumnWidth, connectorHeight * 2 + markerSize);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    void setCurrent(SetupStep current) {
        m_current = current;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const int step = ordinal(m_step);
        const int current = ordinal(m_current);
        const QColor green = Style::color(Style::Color::green, 0.6);
        const QColor grey = Style::color(Style::Color::secondaryLabel, 0.2);
        const qreal barX = (markerColumnWidth - 2) / 2.0;

        if (m_step != SetupStep::welcome)
            painter.fillRect(QRectF(barX, 0, 2, connectorHeight), current >= step ? green : grey);
        if (m_step != SetupStep::complete)
            painter.fillRect(QRectF(barX, connectorHeight + markerSize, 2, connectorHeight),
                             current > step ? green : grey);

        const QRectF marker(0, connectorHeight, markerSize, markerSize);
        switch (SetupStepIndicator::status(m_step, m_current)) {
        case SetupStepIndicator::StepStatus::completed: {
            const QPixmap check = Icons::pixmap(QStringLiteral("checkmark.circle.fill"),
                                                Style::color(Style::Color::green), 16);
            painter.drawPixmap(QPointF(marker.center().x() - 8, marker.center().y() - 8), check);
            break;
        }
        case SetupStepIndicator::StepStatus::active: {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Style::accentColor());
            painter.drawEllipse(marker.center(), 10, 10);
            const QPixmap icon =
                Icons::pixmap(iconName(m_step), Style::color(Style::Color::onAccent), 12);
            painter.drawPixmap(QPointF(marker.center().x() - 6, marker.center().y() - 6), icon);
            break;
        }
        case SetupStepIndicator::StepStatus::pending:
            painter.setPen(QPen(Style::color(Style::Color::secondaryLabel, 0.35), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(marker.center(), 9, 9);
            break;
        }
    }

private:
    SetupStep m_step;
    SetupStep m_current = SetupStep::welcome;
};

// One row: the whole rectangle is the hit area, and only a finished step
// answers a click, or Space/Enter once it has keyboard focus.
class StepRow : public QWidget {
public:
    StepRow(SetupStep step, AppState *appState, QWidget *parent)
        : QWidget(parent)
        , m_step(step)
        , m_appState(appState)
        , m_marker(new StepMarker(step, this))
        , m_label(new QLabel(displayName(step), this)) {
        setObjectName(QStringLiteral("stepRow_") + toText(step));
        setAccessibleName(displayName(step));
        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        row->addWidget(m_marker);
        row->addSpacing(10);
        row->addWidget(m_label, 0, Qt::AlignVCenter);
        row->addStretch(1);
    }

    void setCurrent(SetupStep current) {
        const auto status = SetupStepIndicator::status(m_step, current);
        m_completed = status == SetupStepIndicator::StepStatus::completed;
        setProperty("stepStatus", SetupStepIndicator::statusText(status));
        m_marker->setCurrent(current);

        QFont font = Style::font(Style::TextStyle::body);
        font.setPixelSize(13);
        font.setWeight(status == SetupStepIndicator::StepStatus::active ? QFont::DemiBold
                                                                        : QFont::Normal);
        m_label->setFont(font);
        if (status == SetupStepIndicator::StepStatus::pending)
            Style::applyColor(m_label, Style::Color::secondaryLabel, 0.6);
        else
            Style::applyColor(m_label, Style::Color::label);

        if (m_completed)
            setCursor(Qt::PointingHandCursor);
        else
            unsetCursor();
        // Only a step one can go back to is a stop for the Tab key.
        setFocusPolicy(m_completed ? Qt::StrongFocus : Qt::NoFocus);
        if (!m_completed && hasFocus())
            clearFocus();
        setAccessibleDescription(
            SetupStepIndicator::statusText(status) +
            (m_completed ? QStringLiteral(", press to go back to this step") : QString()));
        update();
    }

protected:
    void mousePressEvent(QMouseEvent *event) override {
        m_pressed = event->button() == Qt::LeftButton;
        event->accept();
    }

    void mouseReleaseEvent(QMouseEvent *event) override {
        const bool click = m_pressed && event->button() == Qt::LeftButton &&
                           rect().contains(event->position().toPoint());
        m_pressed = false;
        if (click)
            activate();
    }

    void keyPressEvent(QKeyEvent *event) override {
        m_focusRing = true;
        update();
        switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            activate();
            event->accept();
            return;
        default:
            QWidget::keyPressEvent(event);
        }
    }

    void paintEvent(QPaintEvent *) override {
        if (!hasFocus() || !m_focusRing)
            return;
        QPainter painter(this);
        Widgets::paintFocusRing(painter, this);
    }

    void focusInEvent(QFocusEvent *event) override {
        m_focusRing = Widgets::showsFocusRing(event->reason());
        QWidget::focusInEvent(event);
        update();
    }

    void focusOutEvent(QFocusEvent *event) override {
        QWidget::focusOutEvent(event);
        update();
    }

private:
    void activate() {
        if (m_completed && m_appState)
            m_appState->setCurrentSetupStep(m_step);
    }

    SetupStep m_step;
    AppState *m_appState;
    StepMarker *m_marker;
    QLabel *m_label;
    bool m_completed = false;
    bool m_pressed = false;
    bool m_focusRing = false;
};

} // namespace

SetupStepIndicator::SetupStepIndicator(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName(QStringLiteral("setupStepIndicator"));
    setAccessibleName(QStringLiteral("Setup steps"));
    setAccessibleDescription(QStringLiteral("Finished steps can be revisited"));
    setFixedWidth(180);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("indicatorAppIcon"));
    icon->setFixedSize(28, 28);
    icon->setPixmap(Icons::appIcon(28, 6));
    auto *wordmark = new QLabel(QStringLiteral("keelmark"), this);
    wordmark->setObjectName(QStringLiteral("indicatorWordmark"));
    wordmark->setFont(Style::wordmarkFont(20));
    header->addWidget(icon);
    header->addWidget(wordmark, 0, Qt::AlignVCenter);
    header->addStretch(1);
    column->addLayout(header);
    column->addSpacing(24);

    for (SetupStep step : allSetupSteps()) {
        auto *row = new StepRow(step, context.appState, this);
        m_rows.append(row);
        column->addWidget(row);
    }
    column->addStretch(1);

    auto *help = new QPushButton(QStringLiteral("Setup help"), this);
    help->setObjectName(QStringLiteral("setupHelpLink"));
    help->setFont(Style::font(Style::TextStyle::caption));
    const int size = Widgets::symbolSize(Style::TextStyle::caption);
    help->setIcon(Icons::icon(QStringLiteral("questionmark.circle"),
                              Style::color(Style::Color::secondaryLabel), size));
    help->setIconSize(QSize(size, size));
    Style::styleButton(help, Style::ButtonStyle::plain);
    Style::setButtonTextColor(help, Style::Color::secondaryLabel);
    help->setCursor(Qt::PointingHandCursor);
    connect(help, &QPushButton::clicked, this, [] {
        QDesktopServices::openUrl(
            QUrl(QString::fromUtf8(BuildConfig::websiteUrl) + QStringLiteral("/docs/setup")));
    });
    column->addWidget(help, 0, Qt::AlignLeft);

    if (context.appState)
        connect(context.appState, &AppState::currentSetupStepChanged, this,
                &SetupStepIndicator::render);
    render();
}

SetupStepIndicator::StepStatus SetupStepIndicator::status(SetupStep step, SetupStep current) {
    if (ordinal(step) < ordinal(current))
        return StepStatus::completed;
    if (step == current)
        return StepStatus::active;
    return StepStatus::pending;
}

QString SetupStepIndicator::statusText(StepStatus status) {
    switch (status) {
    case StepStatus::completed:
        return QStringLiteral("completed");
    case StepStatus::active:
        return QStringLiteral("active");
    case StepStatus::pending:
        return QStringLiteral("pending");
    }
    return {};
}

void SetupStepIndicator::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), Style::color(Style::Color::windowBackground));
}

void SetupStepIndicator::render() {
    const SetupStep current =
        m_context.appState ? m_context.appState->currentSetupStep() : SetupStep::welcome;
    for (QWidget *row : std::as_const(m_rows))
        static_cast<StepRow *>(row)->setCurrent(current);
}
