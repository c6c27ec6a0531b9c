#include "ProtectionProgressStepView.h"

#include "AppState.h"
#include "ProtectionRun.h"
#include "Style.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using Status = ProtectionStep::StepStatus;

// The rows' column, and the gap between a status symbol and its label.
constexpr int kRowWidth = 400;
constexpr int kGap = 12;

QString statusName(Status status) {
    switch (status) {
    case Status::completed:
        return QStringLiteral("completed");
    case Status::inProgress:
        return QStringLiteral("inProgress");
    case Status::failed:
        return QStringLiteral("failed");
    case Status::pending:
        break;
    }
    return QStringLiteral("pending");
}

QWidget *buildStatusSymbol(Status status, int size, QWidget *parent) {
    QWidget *symbol = nullptr;
    switch (status) {
    case Status::completed:
        symbol = new Widgets::SymbolView(QStringLiteral("checkmark.circle.fill"),
                                         Style::color(Style::Color::green), size, parent);
        break;
    case Status::inProgress:
        symbol = new Widgets::Spinner(size, parent);
        break;
    case Status::failed:
        symbol = new Widgets::SymbolView(QStringLiteral("xmark.circle.fill"),
                                         Style::color(Style::Color::red), size, parent);
        break;
    case Status::pending:
        symbol = new Widgets::SymbolView(QStringLiteral("circle"),
                                         Style::color(Style::Color::secondaryLabel), size, parent);
        break;
    }
    symbol->setObjectName(QStringLiteral("protectionStepStatus"));
    return symbol;
}

// The status symbol and the step's label on one line.
QHBoxLayout *buildHeadline(const ProtectionStep &step, int symbolSize, QWidget *row) {
    auto *line = new QHBoxLayout;
    line->setSpacing(kGap);
    line->addWidget(buildStatusSymbol(step.status, symbolSize, row), 0, Qt::AlignVCenter);
    auto *label = Widgets::text(step.label, Style::TextStyle::body, Style::Color::label, row);
    label->setObjectName(QStringLiteral("protectionStepLabel"));
    line->addWidget(label, 0, Qt::AlignVCenter);
    line->addStretch(1);
    return line;
}

// A caption line under the label, wrapping over the rest of the row's width
// so a long error is read whole rather than squeezed beside the label.
QLabel *buildCaption(const QString &text, Style::Color color, const QString &name, int indent,
                     QWidget *row) {
    auto *caption = Widgets::wrappedText(text, Style::TextStyle::caption, color, kRowWidth - indent,
                                         Qt::AlignLeft, row);
    caption->setObjectName(name);
    caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return caption;
}

// Under a failed step's label: our words for what failed, then GitHub's own
// (a missing permission, a plan without protection), which say what to do.
QVBoxLayout *buildFailureCaptions(const ProtectionStep &step, int indent, QWidget *row) {
    auto *captions = new QVBoxLayout;
    captions->setContentsMargins(indent, 0, 0, 0);
    captions->setSpacing(2);
    captions->addWidget(buildCaption(step.message, Style::Color::red,
                                     QStringLiteral("protectionStepMessage"), indent, row));
    if (!step.detail.isEmpty())
        captions->addWidget(buildCaption(step.detail, Style::Color::secondaryLabel,
                                         QStringLiteral("protectionStepDetail"), indent, row));
    return captions;
}

QWidget *buildStepRow(const ProtectionStep &step, int index, QWidget *parent) {
    auto *row = new QWidget(parent);
    row->setObjectName(QStringLiteral("protectionStepRow%1").arg(index));
    row->setProperty("stepStatus", statusName(step.status));
    auto *column = new QVBoxLayout(row);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    const int symbolSize = Widgets::symbolSize(Style::TextStyle::body);
    column->addLayout(buildHeadline(step, symbolSize, row));
    if (step.status == Status::failed)
        column->addLayout(buildFailureCaptions(step, symbolSize + kGap, row));
    return row;
}

} // namespace

ProtectionProgressStepView::ProtectionProgressStepView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_run(new ProtectionRun(context.appState, context.gitHub, this)) {
    setObjectName(QStringLiteral("protectionProgressStep"));
    m_run->setAuditRecorder(context.audit);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(24);
    column->addStretch(1);

    Widgets::addCentred(column,
                        Widgets::title(QStringLiteral("Setting up governance protections"), this));

    auto *list = new QWidget(this);
    list->setObjectName(QStringLiteral("protectionSteps"));
    list->setFixedWidth(kRowWidth);
    m_stepSlot = new QVBoxLayout(list);
    m_stepSlot->setContentsMargins(0, 0, 0, 0);
    Widgets::addCentred(column, list);

    m_continue = new QPushButton(QStringLiteral("Continue →"), this);
    m_continue->setObjectName(QStringLiteral("protectionContinueButton"));
    Style::styleButton(m_continue, Style::ButtonStyle::prominent);
    connect(m_continue, &QPushButton::clicked, this, [this] {
        if (m_context.appState)
            m_context.appState->setCurrentSetupStep(SetupStep::complete);
    });
    Widgets::addCentred(column, m_continue);

    m_retry = new QPushButton(QStringLiteral("Retry"), this);
    m_retry->setObjectName(QStringLiteral("protectionRetryButton"));
    Style::styleButton(m_retry, Style::ButtonStyle::bordered);
    connect(m_retry, &QPushButton::clicked, m_run, &ProtectionRun::retry);
    Widgets::addCentred(column, m_retry);
    // No flexible space below the buttons: the block rests on the bottom
    // padding and grows upwards when a button appears.

    connect(m_run, &ProtectionRun::stepsChanged, this, &ProtectionProgressStepView::renderSteps);
    connect(m_run, &ProtectionRun::allCompleteChanged, this,
            &ProtectionProgressStepView::renderButtons);
    connect(m_run, &ProtectionRun::hasFailedChanged, this,
            &ProtectionProgressStepView::renderButtons);
    connect(m_run, &ProtectionRun::finished, this, &ProtectionProgressStepView::renderButtons);
    renderSteps();
    renderButtons();
}

void ProtectionProgressStepView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!m_started) {
        m_started = true;
        m_run->start();
    }
}

void ProtectionProgressStepView::renderSteps() {
    auto *rows = new QWidget(this);
    auto *column = new QVBoxLayout(rows);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    const QList<ProtectionStep> steps = m_run->steps();
    for (int i = 0; i < steps.size(); ++i)
        column->addWidget(buildStepRow(steps.at(i), i, rows));
    if (m_steps)
        Widgets::retire(m_steps);
    m_steps = rows;
    m_stepSlot->addWidget(m_steps);
    m_steps->show();
}

void ProtectionProgressStepView::renderButtons() {
    const bool running = m_run->isRunning();
    m_continue->setVisible(m_run->allComplete() && !running);
    m_retry->setVisible(m_run->hasFailed() && !running);
}
