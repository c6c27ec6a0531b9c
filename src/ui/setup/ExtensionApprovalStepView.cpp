#include "ExtensionApprovalStepView.h"

#include "AppState.h"
#include "Style.h"
#include "Widgets.h"

#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

class InstructionBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Style::color(Style::Color::secondaryLabel, 0.1));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

} // namespace

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
    Widgets::addCentred(
        column, Widgets::wrappedText(QStringLiteral("macOS requires your approval to activate the "
                                                    "file protection system."),
                                     Style::TextStyle::body, Style::Color::secondaryLabel, 450,
                                     Qt::AlignHCenter, this));

    auto *box = new InstructionBox(this);
    box->setObjectName(QStringLiteral("extensionInstructions"));
    box->setMaximumWidth(400);
    auto *steps = new QVBoxLayout(box);
    steps->setContentsMargins(12, 12, 12, 12);
    steps->setSpacing(8);
    const std::pair<const char *, const char *> instructions[] = {
        {"1.circle", "A system dialog will appear"},
        {"2.circle", "Click \"Open System Settings\""},
        {"3.circle", "Go to Privacy & Security"},
        {"4.circle", "Scroll to \"KeelMark\" and click Allow"},
    };
    for (const auto &[symbol, text] : instructions) {
        Widgets::IconLabel line =
            Widgets::iconLabel(QString::fromUtf8(symbol), Style::color(Style::Color::label),
                               QString::fromUtf8(text), Style::TextStyle::body, box);
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
    Style::applyColor(skip, Style::Color::secondaryLabel);
    connect(skip, &QPushButton::clicked, this, [this] {
        if (m_context.appState)
            m_context.appState->setCurrentSetupStep(SetupStep::complete);
    });
    Widgets::addCentred(column, skip);
    column->addStretch(1);
}
