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

QWidget *stepRow(const ProtectionStep &step, int index, QWidget *parent) {
    using Status = ProtectionStep::StepStatus;
    auto *row = new QWidget(parent);
    row->setObjectName(QStringLiteral("protectionStepRow%1").arg(index));
    auto *column = new QVBoxLayout(row);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto *line = new QHBoxLayout;
    line->setSpacing(12);

    const int size = Widgets::symbolSize(Style::TextStyle::body);
    QWidget *leading = nullptr;
    QString statusText;
    switch (step.status) {
    case Status::completed:
        leading = new Widgets::SymbolView(QStringLiteral("checkmark.circle.fill"),
                                          Style::color(Style::Color::green), size, row);
        statusText = QStringLiteral("completed");
        break;
    case Status::inProgress:
        leading = new Widgets::Spinner(size, row);
        statusText = QStringLiteral("inProgress");
        break;
    case Status::failed:
        leading = new Widgets::SymbolView(QStringLiteral("xmark.circle.fill"),
                                          Style::color(Style::Color::red), size, row);
        statusText = QStringLiteral("failed");
        break;
    case Status::pending:
        leading = new Widgets::SymbolView(QStringLiteral("circle"),
                                          Style::color(Style::Color::secondaryLabel), size, row);
        statusText = QStringLiteral("pending");
        break;
    }
    leading->setObjectName(QStringLiteral("protectionStepStatus"));
    row->setProperty("stepStatus", statusText);
    line->addWidget(leading, 0, Qt::AlignVCenter);
    auto *label = Widgets::text(step.label, Style::TextStyle::body, Style::Color::label, row);
    label->setObjectName(QStringLiteral("protectionStepLabel"));
    line->addWidget(label, 0, Qt::AlignVCenter);
    if (step.status == Status::failed) {
        auto *message = Widgets::text(QStringLiteral("— ") + step.message,
                                      Style::TextStyle::caption, Style::Color::red, row);
        message->setObjectName(QStringLiteral("protectionStepMessage"));
        // A long error wraps in what is left of the 400-point column
        // instead of being cut.
        const int room = qMax(120, 400 - size - 2 * 12 - label->sizeHint().width());
        message->setWordWrap(true);
        message->setFixedWidth(room);
        message->setMinimumHeight(message->heightForWidth(room));
        line->addWidget(message, 0, Qt::AlignVCenter);
    }
    line->addStretch(1);
    column->addLayout(line);

    // GitHub's own words say what to do next (e.g. a plan without
    // protection for private repositories); they wrap under the label.
    if (step.status == Status::failed && !step.detail.isEmpty()) {
        auto *detail = Widgets::wrappedText(step.detail, Style::TextStyle::caption,
                                            Style::Color::secondaryLabel, 400, Qt::AlignLeft, row);
        detail->setObjectName(QStringLiteral("protectionStepDetail"));
        detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // Indented under the label, past the status symbol.
        detail->setContentsMargins(size + 12, 0, 0, 0);
        detail->setMinimumHeight(detail->heightForWidth(400));
        column->addWidget(detail);
    }
    return row;
}

} // namespace

ProtectionProgressStepView::ProtectionProgressStepView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_run(new ProtectionRun(context.appState, context.gitHub, this)) {
    setObjectName(QStringLiteral("protectionProgressStep"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(24);
    column->addStretch(1);

    Widgets::addCentred(column,
                        Widgets::title(QStringLiteral("Setting up governance protections"), this));

    auto *list = new QWidget(this);
    list->setObjectName(QStringLiteral("protectionSteps"));
    list->setFixedWidth(400);
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
        column->addWidget(stepRow(steps.at(i), i, rows));
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
