#include "WelcomeStepView.h"

#include "AppState.h"
#include "Icons.h"
#include "Style.h"
#include "Widgets.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A bordered button whose label is a title over a wrapping description; it
// sizes itself from its text so the description is never cut off.
class RoleCard : public Widgets::ClickableRow {
public:
    static constexpr int labelWidth = 400;
    static constexpr int padding = 12;

    RoleCard(const QString &title, const QString &description, QWidget *parent)
        : Widgets::ClickableRow(parent) {
        setAccessibleName(title);
        setAccessibleDescription(description);
        setFlat(false);
        // The label is laid out by the card, so the card look has no padding.
        Style::styleButton(this, Style::ButtonStyle::card, Style::ControlSize::large);

        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(padding, padding, padding, padding);
        column->setSpacing(4);
        m_title = Widgets::text(title, Style::TextStyle::headline);
        m_title->setObjectName(QStringLiteral("roleCardTitle"));
        m_description =
            Widgets::text(description, Style::TextStyle::caption, Style::Color::secondaryLabel);
        m_description->setObjectName(QStringLiteral("roleCardDescription"));
        m_description->setWordWrap(true);
        for (QLabel *label : {m_title, m_description}) {
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            label->setParent(this);
            column->addWidget(label);
        }
        setFixedWidth(labelWidth + 2 * padding);
        setFixedHeight(heightForLabel());
    }

private:
    int heightForLabel() const {
        return 2 * padding + m_title->sizeHint().height() + 4 +
               m_description->heightForWidth(labelWidth);
    }

    QLabel *m_title;
    QLabel *m_description;
};

} // namespace

WelcomeStepView::WelcomeStepView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName(QStringLiteral("welcomeStep"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(32);
    column->addStretch(1);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("welcomeAppIcon"));
    icon->setFixedSize(80, 80);
    icon->setPixmap(Icons::appIcon(80, 18));
    Widgets::addCentred(column, icon);

    auto *wordmark = new QLabel(QStringLiteral("keelmark"), this);
    wordmark->setObjectName(QStringLiteral("welcomeWordmark"));
    wordmark->setFont(Style::wordmarkFont(32));
    Widgets::addCentred(column, wordmark);

    Widgets::addCentred(column,
                        Widgets::text(QStringLiteral("Governance for AI-powered teams."),
                                      Style::TextStyle::body, Style::Color::secondaryLabel, this));

    struct Role {
        QString name;
        QString title;
        QString description;
        SetupRole role;
        bool setupMode;
    };
    const Role roles[] = {
        {QStringLiteral("roleForMyselfCard"), QStringLiteral("I run the organisation"),
         QStringLiteral("You'll control how AI is used across your team — what's allowed, who "
                        "has access, and what gets enforced."),
         SetupRole::forMyself, false},
        {QStringLiteral("roleForSomeoneElseCard"),
         QStringLiteral("I'm setting this up on behalf of someone else"),
         QStringLiteral("You'll configure everything and then transfer control to the person who "
                        "will manage it. You have 30 days to complete the handover."),
         SetupRole::forSomeoneElse, true},
    };
    auto *cards = new QVBoxLayout;
    cards->setSpacing(12);
    for (const Role &role : roles) {
        auto *card = new RoleCard(role.title, role.description, this);
        card->setObjectName(role.name);
        connect(card, &QPushButton::clicked, this, [this, role = role.role, mode = role.setupMode] {
            AppState *state = m_context.appState;
            if (!state)
                return;
            state->setSetupRole(role);
            state->setIsSetupMode(mode);
            state->setCurrentSetupStep(SetupStep::connectGitHub);
        });
        cards->addWidget(card, 0, Qt::AlignHCenter);
    }
    column->addLayout(cards);
    column->addStretch(1);
}
