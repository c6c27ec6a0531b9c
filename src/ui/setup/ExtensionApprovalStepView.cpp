#include "ExtensionApprovalStepView.h"

#include "AppState.h"
#include "PlatformWords.h"
#include "Style.h"
#include "Widgets.h"

#include <QPushButton>
#include <QVBoxLayout>

ExtensionApprovalStepView::ExtensionApprovalStepView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName(QStringLiteral("extensionApprovalStep"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(24);
    column->addStretch(1);

    Widgets::addCentred(
        column, Widgets::title(QStringLiteral("Allow the KeelMark security extension"), this));
    QLabel *reason =
        Widgets::wrappedText(PlatformWords::extensionApprovalReason(), Style::TextStyle::body,
                             Style::Color::secondaryLabel, 450, Qt::AlignHCenter, this);
    reason->setObjectName(QStringLiteral("extensionApprovalReason"));
    Widgets::addCentred(column, reason);

    auto *box = new Widgets::RoundedBox(Style::color(Style::Color::secondaryLabel, 0.1), 8, this);
    box->setObjectName(QStringLiteral("extensionInstructions"));
    box->setMaximumWidth(400);
    auto *steps = new QVBoxLayout(box);
    steps->setContentsMargins(12, 12, 12, 12);
    steps->setSpacing(8);
    const QStringList instructions = PlatformWords::extensionApprovalSteps();
    for (qsizetype i = 0; i < instructions.size(); ++i) {
        Widgets::IconLabel line = Widgets::iconLabel(
            QString::number(i + 1) + QStringLiteral(".circle"), Style::color(Style::Color::label),
            instructions.at(i), Style::TextStyle::body, box);
        line.text->setObjectName(QStringLiteral("extensionInstruction"));
        steps->addWidget(line.widget);
    }
    Widgets::addCentred(column, box);

    // Activation needs an operating-system interface this build does not
    // link; the button is shown as the screen describes but does nothing.
    auto *activate = new QPushButton(QStringLiteral("Activate Extension →"), this);
    activate->setObjectName(QStringLiteral("activateExtensionButton"));
    Style::styleButton(activate, Style::ButtonStyle::prominent, Style::ControlSize::large);
    Widgets::addCentred(column, activate);

    auto *skip =
        new QPushButton(QStringLiteral("Skip for now (protection will be incomplete)"), this);
    skip->setObjectName(QStringLiteral("skipExtensionButton"));
    skip->setFont(Style::font(Style::TextStyle::caption));
    Style::styleButton(skip, Style::ButtonStyle::bordered, Style::ControlSize::small);
    Style::setButtonTextColor(skip, Style::Color::secondaryLabel);
    connect(skip, &QPushButton::clicked, this, [this] {
        if (m_context.appState)
            m_context.appState->setCurrentSetupStep(SetupStep::complete);
    });
    Widgets::addCentred(column, skip);
    column->addStretch(1);
}
