#include "GitHubConnectStepView.h"

#include "AppState.h"
#include "GitHubService.h"
#include "Icons.h"
#include "Style.h"
#include "Widgets.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// One organisation: a row whose whole area selects it. Rows of
// organisations the user does not administer are disabled and faded. Its
// height does not depend on the selection, so choosing a row moves nothing.
class OrganisationRow : public Widgets::ClickableRow {
public:
    OrganisationRow(const GitHubOrg &org, bool selected, QWidget *parent)
        : Widgets::ClickableRow(parent)
        , m_selected(selected) {
        setObjectName(QStringLiteral("orgRow_") + org.login);
        setAccessibleName(org.login);
        setAccessibleDescription(
            selected      ? QStringLiteral("Selected organisation")
            : org.isAdmin ? QStringLiteral("Organisation you administer; press to select it")
                          : QStringLiteral("Admin access required; cannot be selected"));
        setProperty("selected", selected);

        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(10, 6, 10, 6);
        row->setSpacing(10);
        const int size = Widgets::symbolSize(Style::TextStyle::body);
        auto *mark = new Widgets::SymbolView(selected ? QStringLiteral("checkmark.circle.fill")
                                                      : QStringLiteral("circle"),
                                             selected ? Style::color(Style::Color::blue)
                                                      : Style::color(Style::Color::secondaryLabel),
                                             size, this);
        mark->setObjectName(QStringLiteral("orgRowMark"));
        row->addWidget(mark, 0, Qt::AlignVCenter);
        auto *login = Widgets::text(org.login, Style::TextStyle::body, Style::Color::label, this);
        row->addWidget(login, 0, Qt::AlignVCenter);
        row->addStretch(1);

        QLabel *badge;
        if (org.isAdmin) {
            badge = new Widgets::CapsuleLabel(QStringLiteral("admin"),
                                              Style::color(Style::Color::green),
                                              Style::color(Style::Color::green, 0.15), this);
            badge->setFont(Style::font(Style::TextStyle::caption2));
            badge->setContentsMargins(6, 2, 6, 2);
        } else {
            badge = Widgets::text(QStringLiteral("admin access required"),
                                  Style::TextStyle::caption2, Style::Color::orange, this);
        }
        badge->setObjectName(QStringLiteral("orgRowBadge"));
        row->addWidget(badge, 0, Qt::AlignVCenter);
        for (QWidget *child : findChildren<QWidget *>())
            child->setAttribute(Qt::WA_TransparentForMouseEvents);

        if (!org.isAdmin) {
            setEnabled(false);
            unsetCursor();
            auto *fade = new QGraphicsOpacityEffect(this);
            fade->setOpacity(0.5);
            setGraphicsEffect(fade);
        }
        setMinimumHeight(row->sizeHint().height());
    }

    QSize sizeHint() const override { return layout()->sizeHint(); }
    QSize minimumSizeHint() const override { return layout()->minimumSize(); }

protected:
    void paintBackground(QPainter &painter) override {
        if (!m_selected)
            return;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Style::color(Style::Color::blue, 0.08));
        painter.drawRoundedRect(QRectF(rect()), 6, 6);
    }

private:
    bool m_selected;
};

QCoro::Task<> refreshOrganisationsTask(QPointer<GitHubService> gitHub, QPointer<AppState> state) {
    if (gitHub && state)
        co_await gitHub->fetchOrgs(state.data());
}

} // namespace

GitHubConnectStepView::GitHubConnectStepView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName(QStringLiteral("gitHubConnectStep"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(24);
    column->addStretch(1);

    Widgets::addCentred(column,
                        Widgets::title(QStringLiteral("Connect your GitHub account"), this));

    Widgets::addCentred(
        column,
        Widgets::wrappedText(
            QStringLiteral("KeelMark uses GitHub to protect your AI governance "
                           "configuration. This is the foundation of the security model."),
            Style::TextStyle::body, Style::Color::secondaryLabel, 450, Qt::AlignHCenter, this));

    auto *checklist = new QWidget(this);
    auto *items = new QVBoxLayout(checklist);
    items->setContentsMargins(0, 0, 0, 0);
    items->setSpacing(8);
    for (const char *text :
         {"Create or connect to an ops repository", "Set up CODEOWNERS to require your approval",
          "Enable branch protection"}) {
        Widgets::IconLabel item = Widgets::iconLabel(
            QStringLiteral("checkmark.circle"), Style::color(Style::Color::secondaryLabel),
            QString::fromUtf8(text), Style::TextStyle::body, checklist);
        Style::applyColor(item.text, Style::Color::secondaryLabel);
        items->addWidget(item.widget);
    }
    Widgets::addCentred(column, checklist);

    m_blockSlot = new QHBoxLayout;
    m_blockSlot->setContentsMargins(0, 0, 0, 0);
    m_blockSlot->addStretch(1);
    m_blockSlot->addStretch(1);
    column->addLayout(m_blockSlot);
    column->addStretch(1);

    auto *navigationWidget = new QWidget(this);
    auto *navigation = new QHBoxLayout(navigationWidget);
    navigation->setContentsMargins(0, 0, 0, 0);
    auto *back = new QPushButton(QStringLiteral("Back"), navigationWidget);
    back->setObjectName(QStringLiteral("gitHubBackButton"));
    Style::styleButton(back, Style::ButtonStyle::bordered);
    connect(back, &QPushButton::clicked, this, [this] {
        if (m_context.appState)
            m_context.appState->setCurrentSetupStep(SetupStep::welcome);
    });
    m_continue = new QPushButton(QStringLiteral("Continue →"), navigationWidget);
    m_continue->setObjectName(QStringLiteral("gitHubContinueButton"));
    Style::styleButton(m_continue, Style::ButtonStyle::prominent);
    connect(m_continue, &QPushButton::clicked, this, &GitHubConnectStepView::continueToRepository);
    navigation->addWidget(back);
    navigation->addStretch(1);
    navigation->addWidget(m_continue);
    Widgets::addCapped(column, navigationWidget, 500);

    if (AppState *state = context.appState) {
        connect(state, &AppState::gitHubConnectedChanged, this, &GitHubConnectStepView::render);
        connect(state, &AppState::gitHubUsernameChanged, this, &GitHubConnectStepView::render);
        connect(state, &AppState::gitHubOrgsChanged, this, &GitHubConnectStepView::render);
        connect(state, &AppState::selectedOrgChanged, this, &GitHubConnectStepView::render);
        connect(state, &AppState::gitHubSignInPhaseChanged, this, &GitHubConnectStepView::render);
        connect(state, &AppState::gitHubSignInProblemChanged, this, &GitHubConnectStepView::render);
    }
    render();
}

void GitHubConnectStepView::render() {
    AppState *state = m_context.appState;
    if (!state)
        return;
    QWidget *next = buildConnectionBlock();
    if (m_block)
        Widgets::retire(m_block);
    m_block = next;
    // Between the two spacers: as wide as allowed, centred.
    m_blockSlot->insertWidget(1, m_block, 1000);
    // Shown now rather than on the next turn of the loop, so the screen is
    // never caught without its block.
    m_block->show();
    // Absent rather than disabled until there is something to continue with.
    m_continue->setVisible(state->gitHubConnected() && state->selectedOrg().has_value());
}

QWidget *GitHubConnectStepView::buildConnectionBlock() {
    AppState *state = m_context.appState;
    auto *block = new QWidget(this);
    block->setObjectName(QStringLiteral("connectionBlock"));
    auto *column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);

    if (!state->gitHubConnected()) {
        column->addWidget(buildSignInBlock(block), 0, Qt::AlignHCenter);
        return block;
    }

    block->setMaximumWidth(450);
    block->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    column->setSpacing(16);
    Widgets::IconLabel connected = Widgets::iconLabel(
        QStringLiteral("checkmark.circle.fill"), Style::color(Style::Color::green),
        QStringLiteral("Connected as @") + state->gitHubUsername(), Style::TextStyle::headline,
        block);
    connected.text->setObjectName(QStringLiteral("connectedAsLabel"));
    Style::applyColor(connected.text, Style::Color::green);
    column->addWidget(connected.widget, 0, Qt::AlignHCenter);

    // A failed look-up is no evidence that there is no organisation.
    if (state->gitHubOrgs().isEmpty() && !state->gitHubSignInProblem().isEmpty())
        column->addWidget(buildProblemBlock(block, QStringLiteral("retryOrganisationsButton")), 0,
                          Qt::AlignHCenter);
    else if (state->gitHubOrgs().isEmpty())
        column->addWidget(buildNoOrganisationBlock(block), 0, Qt::AlignHCenter);
    else
        column->addWidget(buildOrganisationList(block));
    return block;
}

QWidget *GitHubConnectStepView::buildSignInBlock(QWidget *parent) {
    const GitHubSignInPhase phase = m_context.appState->gitHubSignInPhase();
    if (phase == GitHubSignInPhase::idle && !m_context.appState->gitHubSignInProblem().isEmpty())
        return buildProblemBlock(parent, QStringLiteral("connectGitHubButton"));

    auto *block = new QWidget(parent);
    auto *column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    if (phase == GitHubSignInPhase::idle) {
        auto *connectButton = new QPushButton(QStringLiteral("Connect GitHub"), block);
        connectButton->setObjectName(QStringLiteral("connectGitHubButton"));
        const int size = Widgets::symbolSize(Style::TextStyle::body);
        connectButton->setIcon(Icons::icon(QStringLiteral("link"), Qt::white, size));
        connectButton->setIconSize(QSize(size, size));
        Style::styleButton(connectButton, Style::ButtonStyle::prominent, Style::ControlSize::large);
        connect(connectButton, &QPushButton::clicked, this, &GitHubConnectStepView::startSignIn);
        column->addWidget(connectButton, 0, Qt::AlignHCenter);
        return block;
    }

    auto *line = new QHBoxLayout;
    line->setSpacing(8);
    line->addWidget(new Widgets::Spinner(16, block), 0, Qt::AlignVCenter);
    auto *waiting = Widgets::text(phase == GitHubSignInPhase::waitingForBrowser
                                      ? QStringLiteral("Waiting for you to sign in to GitHub in "
                                                       "your browser…")
                                      : QStringLiteral("Finishing the sign-in with GitHub…"),
                                  Style::TextStyle::body, Style::Color::secondaryLabel, block);
    waiting->setObjectName(QStringLiteral("signInProgressText"));
    line->addWidget(waiting, 0, Qt::AlignVCenter);
    column->addLayout(line);
    // Once the callback is in, the sign-in finishes by itself within the
    // request time-out; only the browser step can be abandoned.
    if (phase == GitHubSignInPhase::waitingForBrowser) {
        auto *cancel = new QPushButton(QStringLiteral("Cancel"), block);
        cancel->setObjectName(QStringLiteral("cancelSignInButton"));
        Style::styleButton(cancel, Style::ButtonStyle::bordered, Style::ControlSize::small);
        connect(cancel, &QPushButton::clicked, this, &GitHubConnectStepView::cancelSignIn);
        column->addWidget(cancel, 0, Qt::AlignHCenter);
    }
    return block;
}

// What went wrong and a button that tries again: the sign-in before the
// account is connected, the organisation look-up after.
QWidget *GitHubConnectStepView::buildProblemBlock(QWidget *parent, const QString &retryName) {
    auto *block = new QWidget(parent);
    block->setObjectName(QStringLiteral("signInProblemBlock"));
    auto *column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    Widgets::IconLabel heading = Widgets::iconLabel(
        QStringLiteral("exclamationmark.triangle"), Style::color(Style::Color::orange),
        QStringLiteral("Couldn't connect to GitHub"), Style::TextStyle::headline, block);
    Style::applyColor(heading.text, Style::Color::orange);
    column->addWidget(heading.widget, 0, Qt::AlignHCenter);
    // GitHub's own words are in it: plain text, never markup.
    auto *problem =
        Widgets::wrappedText(m_context.appState->gitHubSignInProblem(), Style::TextStyle::body,
                             Style::Color::secondaryLabel, 450, Qt::AlignHCenter, block);
    problem->setTextFormat(Qt::PlainText);
    problem->setObjectName(QStringLiteral("signInProblemText"));
    column->addWidget(problem, 0, Qt::AlignHCenter);

    const bool organisations = retryName != QLatin1String("connectGitHubButton");
    auto *retry = new QPushButton(QStringLiteral("Try Again"), block);
    retry->setObjectName(retryName);
    Style::styleButton(retry, Style::ButtonStyle::prominent);
    retry->setEnabled(!m_refreshing);
    if (organisations)
        connect(retry, &QPushButton::clicked, this, &GitHubConnectStepView::refreshOrganisations);
    else
        connect(retry, &QPushButton::clicked, this, &GitHubConnectStepView::startSignIn);
    column->addWidget(retry, 0, Qt::AlignHCenter);
    return block;
}

void GitHubConnectStepView::startSignIn() {
    AppState *state = m_context.appState;
    if (!state || !m_context.gitHub)
        return;
    if (!m_context.gitHub->startOAuth()) {
        state->setGitHubSignInProblem(QStringLiteral(
            "KeelMark couldn't open your web browser for the GitHub sign-in. Make sure a "
            "default browser is set, then try again."));
        return;
    }
    state->setGitHubSignInProblem({});
    state->setGitHubSignInPhase(GitHubSignInPhase::waitingForBrowser);
}

void GitHubConnectStepView::cancelSignIn() {
    if (m_context.gitHub)
        m_context.gitHub->cancelSignIn();
    if (m_context.appState)
        m_context.appState->setGitHubSignInPhase(GitHubSignInPhase::idle);
}

QWidget *GitHubConnectStepView::buildNoOrganisationBlock(QWidget *parent) {
    auto *block = new QWidget(parent);
    block->setObjectName(QStringLiteral("noOrganisationBlock"));
    auto *column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    Widgets::IconLabel none = Widgets::iconLabel(
        QStringLiteral("exclamationmark.triangle"), Style::color(Style::Color::orange),
        QStringLiteral("No GitHub Organisation found."), Style::TextStyle::body, block);
    Style::applyColor(none.text, Style::Color::orange);
    column->addWidget(none.widget, 0, Qt::AlignHCenter);
    column->addWidget(
        Widgets::wrappedText(
            QStringLiteral("KeelMark requires a GitHub Organisation to enforce governance."),
            Style::TextStyle::caption, Style::Color::secondaryLabel, 450, Qt::AlignHCenter, block),
        0, Qt::AlignHCenter);

    auto *actions = new QHBoxLayout;
    actions->setSpacing(12);
    auto *create = new QPushButton(QStringLiteral("Create a GitHub Organisation →"), block);
    create->setObjectName(QStringLiteral("createOrganisationLink"));
    create->setFont(Style::font(Style::TextStyle::caption));
    Style::styleButton(create, Style::ButtonStyle::link);
    connect(create, &QPushButton::clicked, this, [this] {
        if (m_context.gitHub)
            QDesktopServices::openUrl(m_context.gitHub->newOrganizationPageUrl());
    });
    auto *refresh = new QPushButton(QStringLiteral("I've created one — refresh"), block);
    refresh->setObjectName(QStringLiteral("refreshOrganisationsButton"));
    refresh->setFont(Style::font(Style::TextStyle::caption));
    Style::styleButton(refresh, Style::ButtonStyle::bordered, Style::ControlSize::small);
    // One discovery at a time: a second click while one runs would only race it.
    refresh->setEnabled(!m_refreshing);
    connect(refresh, &QPushButton::clicked, this, &GitHubConnectStepView::refreshOrganisations);
    actions->addWidget(create);
    actions->addWidget(refresh);
    column->addLayout(actions);
    return block;
}

QWidget *GitHubConnectStepView::buildOrganisationList(QWidget *parent) {
    AppState *state = m_context.appState;
    auto *list = new QWidget(parent);
    list->setObjectName(QStringLiteral("organisationList"));
    auto *column = new QVBoxLayout(list);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    auto *prompt =
        new QLabel(QStringLiteral("Select the organisation KeelMark will govern:"), list);
    prompt->setFont(Style::font(Style::TextStyle::callout, QFont::Medium));
    column->addWidget(prompt);
    column->addWidget(Widgets::wrappedText(
        QStringLiteral("KeelMark will only access the organisation you select. No other "
                       "organisations or repositories will be touched."),
        Style::TextStyle::caption, Style::Color::secondaryLabel, 450, Qt::AlignLeft, list));

    const std::optional<GitHubOrg> selected = state->selectedOrg();
    // The list is rebuilt on every selection; keyboard focus goes back to
    // the row that had it, or a Space press would leave focus nowhere.
    const auto *focused = qobject_cast<const Widgets::ClickableRow *>(QApplication::focusWidget());
    const QString focusedRow = focused && isAncestorOf(focused) ? focused->objectName() : QString();
    const Qt::FocusReason focusReason =
        focused && focused->showsFocusRing() ? Qt::TabFocusReason : Qt::MouseFocusReason;
    QString longestLogin;
    auto *rows = new QVBoxLayout;
    rows->setSpacing(4);
    for (const GitHubOrg &org : state->gitHubOrgs()) {
        if (org.login.size() > longestLogin.size())
            longestLogin = org.login;
        const bool isSelected = selected && selected->id == org.id;
        auto *row = new OrganisationRow(org, isSelected, list);
        connect(row, &QPushButton::clicked, this, [this, org] {
            // Only administered organisations are offered; a disabled row
            // cannot click, but the rule holds even if it did.
            if (org.isAdmin && m_context.appState)
                m_context.appState->setSelectedOrg(org);
        });
        if (row->objectName() == focusedRow)
            QTimer::singleShot(0, row, [row, focusReason] { row->setFocus(focusReason); });
        rows->addWidget(row);
    }
    column->addLayout(rows);

    // The note is always laid out and only hidden while nothing is
    // selected, with the longest login standing in so it wraps as it will
    // when shown: the first selection does not push the rows up.
    auto *lock = new QWidget(list);
    lock->setObjectName(QStringLiteral("selectedOrganisationNote"));
    auto *line = new QHBoxLayout(lock);
    line->setContentsMargins(0, 4, 0, 0);
    line->setSpacing(4);
    line->addWidget(new Widgets::SymbolView(QStringLiteral("lock.shield"),
                                            Style::color(Style::Color::green),
                                            Widgets::symbolSize(Style::TextStyle::caption), lock),
                    0, Qt::AlignVCenter);
    auto *note = Widgets::richText(
        QStringLiteral("Only <b>%1</b> will be accessed. All other organisations are untouched."),
        {selected ? selected->login : longestLogin}, Style::TextStyle::caption,
        Style::Color::secondaryLabel, lock);
    note->setObjectName(QStringLiteral("selectedOrganisationText"));
    note->setWordWrap(true);
    line->addWidget(note, 1, Qt::AlignVCenter);
    QSizePolicy keep = lock->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    lock->setSizePolicy(keep);
    lock->setVisible(selected.has_value());
    column->addWidget(lock);
    return list;
}

void GitHubConnectStepView::refreshOrganisations() {
    if (m_refreshing || !m_context.gitHub || !m_context.appState)
        return;
    m_refreshing = true;
    render();
    QCoro::connect(refreshOrganisationsTask(m_context.gitHub, m_context.appState), this, [this] {
        m_refreshing = false;
        render();
    });
}

void GitHubConnectStepView::continueToRepository() {
    AppState *state = m_context.appState;
    if (!state || !state->gitHubConnected() || !state->selectedOrg())
        return;
    if (m_context.gitHub)
        m_context.gitHub->setApprovedOrg(state->selectedOrg()->login);
    state->setCurrentSetupStep(SetupStep::setupRepo);
}
