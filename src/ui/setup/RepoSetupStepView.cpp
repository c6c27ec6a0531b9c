#include "RepoSetupStepView.h"

#include "AppState.h"
#include "Style.h"
#include "Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// One of the two radio-like choices; the mark is turned on by render().
QPushButton *choiceRow(const QString &text, const QString &name, Widgets::SymbolView **mark,
                       QWidget *parent) {
    auto *button = new Widgets::ClickableRow(parent);
    button->setObjectName(name);
    button->setAccessibleName(text);
    auto *row = new QHBoxLayout(button);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(6);
    *mark = new Widgets::SymbolView(QStringLiteral("circle"), Style::color(Style::Color::label),
                                    Widgets::symbolSize(Style::TextStyle::caption), button);
    row->addWidget(*mark, 0, Qt::AlignVCenter);
    auto *label = Widgets::text(text, Style::TextStyle::body, Style::Color::label, button);
    row->addWidget(label, 0, Qt::AlignVCenter);
    row->addStretch(1);
    (*mark)->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    button->setMinimumHeight(row->sizeHint().height());
    return button;
}

QWidget *indented(QWidget *content, QWidget *parent) {
    auto *holder = new QWidget(parent);
    auto *row = new QHBoxLayout(holder);
    row->setContentsMargins(24, 0, 0, 0);
    row->setSpacing(0);
    content->setParent(holder);
    row->addWidget(content);
    row->addStretch(1);
    return holder;
}

} // namespace

RepoSetupStepView::RepoSetupStepView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName(QStringLiteral("repoSetupStep"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(24);
    column->addStretch(1);

    Widgets::addCentred(column, Widgets::title(QStringLiteral("Set up your ops repository"), this));
    Widgets::addCentred(
        column, Widgets::wrappedText(QStringLiteral("This repository will hold your AI governance "
                                                    "configuration, agents, and skills."),
                                     Style::TextStyle::body, Style::Color::secondaryLabel, 450,
                                     Qt::AlignHCenter, this));
    Widgets::addCapped(column, buildOptions(), 450);
    Widgets::addCapped(column, buildNavigation(), 500);
    column->addStretch(1);

    connect(m_repoNameInput, &QLineEdit::textChanged, this, &RepoSetupStepView::render);
    connect(m_existingRepoSearch, &QLineEdit::textChanged, this, &RepoSetupStepView::render);
    connect(m_repoNameInput, &QLineEdit::returnPressed, this,
            &RepoSetupStepView::continueToProtections);
    connect(m_existingRepoSearch, &QLineEdit::returnPressed, this,
            &RepoSetupStepView::continueToProtections);
    if (context.appState)
        connect(context.appState, &AppState::selectedOrgChanged, this, &RepoSetupStepView::render);
    render();
}

QWidget *RepoSetupStepView::buildOptions() {
    auto *options = new QWidget(this);
    options->setObjectName(QStringLiteral("repoOptions"));
    auto *optionColumn = new QVBoxLayout(options);
    optionColumn->setContentsMargins(0, 0, 0, 0);
    optionColumn->setSpacing(16);
    optionColumn->addWidget(buildOrganisationLine(options));

    QPushButton *createChoice =
        choiceRow(QStringLiteral("Create a new repository"),
                  QStringLiteral("createNewRepositoryChoice"), &m_createMark, options);
    connect(createChoice, &QPushButton::clicked, this, [this] { setCreateNew(true); });
    optionColumn->addWidget(createChoice);
    m_newRepository = indented(buildNewRepositoryFields(options), options);
    optionColumn->addWidget(m_newRepository);

    QPushButton *existingChoice =
        choiceRow(QStringLiteral("Use an existing repository"),
                  QStringLiteral("useExistingRepositoryChoice"), &m_existingMark, options);
    connect(existingChoice, &QPushButton::clicked, this, [this] { setCreateNew(false); });
    optionColumn->addWidget(existingChoice);

    m_existingRepoSearch = new QLineEdit(options);
    m_existingRepoSearch->setObjectName(QStringLiteral("existingRepoSearch"));
    m_existingRepoSearch->setPlaceholderText(QStringLiteral("Search repositories..."));
    m_existingRepoSearch->setFont(Style::font(Style::TextStyle::body));
    m_existingRepoSearch->setMinimumWidth(300);
    m_existingRepoSearch->setMaximumWidth(300);
    m_existingRepository = indented(m_existingRepoSearch, options);
    optionColumn->addWidget(m_existingRepository);

    // Only one of the two field blocks shows at a time. The block keeps the
    // height it has with the taller one, rows at its top, so switching
    // choices does not re-centre the screen under the pointer.
    const int shorter =
        qMin(m_newRepository->sizeHint().height(), m_existingRepository->sizeHint().height());
    options->setMinimumHeight(optionColumn->sizeHint().height() - shorter -
                              optionColumn->spacing());
    optionColumn->addStretch(1);
    return options;
}

QWidget *RepoSetupStepView::buildOrganisationLine(QWidget *parent) {
    m_organisationRow = new QWidget(parent);
    m_organisationRow->setObjectName(QStringLiteral("repoOrganisationRow"));
    auto *orgLine = new QHBoxLayout(m_organisationRow);
    orgLine->setContentsMargins(0, 0, 0, 0);
    orgLine->addWidget(Widgets::text(QStringLiteral("Organisation:"), Style::TextStyle::body,
                                     Style::Color::secondaryLabel, m_organisationRow));
    m_organisationLogin =
        Widgets::text(QString(), Style::TextStyle::body, Style::Color::label, m_organisationRow);
    m_organisationLogin->setObjectName(QStringLiteral("repoOrganisationLogin"));
    m_organisationLogin->setFont(Style::font(Style::TextStyle::body, QFont::Medium));
    orgLine->addWidget(m_organisationLogin);
    orgLine->addStretch(1);
    return m_organisationRow;
}

QWidget *RepoSetupStepView::buildNewRepositoryFields(QWidget *parent) {
    auto *newRepository = new QWidget(parent);
    auto *newColumn = new QVBoxLayout(newRepository);
    newColumn->setContentsMargins(0, 0, 0, 0);
    newColumn->setSpacing(6);
    auto *nameLine = new QHBoxLayout;
    nameLine->setSpacing(6);
    m_prefix = Widgets::text(QString(), Style::TextStyle::body, Style::Color::secondaryLabel,
                             newRepository);
    m_prefix->setObjectName(QStringLiteral("repoNamePrefix"));
    m_repoNameInput = new QLineEdit(QStringLiteral("ops"), newRepository);
    m_repoNameInput->setObjectName(QStringLiteral("repoNameInput"));
    m_repoNameInput->setPlaceholderText(QStringLiteral("ops"));
    m_repoNameInput->setFont(Style::font(Style::TextStyle::body));
    m_repoNameInput->setMaximumWidth(200);
    m_repoNameInput->setMinimumWidth(200);
    nameLine->addWidget(m_prefix);
    nameLine->addWidget(m_repoNameInput);
    nameLine->addStretch(1);
    newColumn->addLayout(nameLine);
    newColumn->addWidget(Widgets::text(QStringLiteral("Visibility: Private (enforced)"),
                                       Style::TextStyle::caption, Style::Color::secondaryLabel,
                                       newRepository));
    return newRepository;
}

QWidget *RepoSetupStepView::buildNavigation() {
    auto *buttons = new QWidget(this);
    auto *buttonRow = new QHBoxLayout(buttons);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    auto *back = new QPushButton(QStringLiteral("Back"), buttons);
    back->setObjectName(QStringLiteral("repoBackButton"));
    Style::styleButton(back, Style::ButtonStyle::bordered);
    connect(back, &QPushButton::clicked, this, [this] {
        if (m_context.appState)
            m_context.appState->setCurrentSetupStep(SetupStep::connectGitHub);
    });
    m_continue = new QPushButton(buttons);
    m_continue->setObjectName(QStringLiteral("repoContinueButton"));
    Style::styleButton(m_continue, Style::ButtonStyle::prominent);
    connect(m_continue, &QPushButton::clicked, this, &RepoSetupStepView::continueToProtections);
    buttonRow->addWidget(back);
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_continue);
    return buttons;
}

void RepoSetupStepView::setCreateNew(bool createNew) {
    m_createNew = createNew;
    render();
    (createNew ? m_repoNameInput : m_existingRepoSearch)->setFocus();
}

QString RepoSetupStepView::chosenName() const {
    return m_createNew ? m_repoNameInput->text() : m_existingRepoSearch->text();
}

void RepoSetupStepView::render() {
    const std::optional<GitHubOrg> org =
        m_context.appState ? m_context.appState->selectedOrg() : std::nullopt;
    m_organisationRow->setVisible(org.has_value());
    m_organisationLogin->setText(org ? org->login : QString());
    m_prefix->setText((org ? org->login : QStringLiteral("org")) + QStringLiteral(" /"));

    const QColor label = Style::color(Style::Color::label);
    m_createMark->setSymbol(m_createNew ? QStringLiteral("circle.fill") : QStringLiteral("circle"),
                            label);
    m_existingMark->setSymbol(
        m_createNew ? QStringLiteral("circle") : QStringLiteral("circle.fill"), label);
    m_newRepository->setVisible(m_createNew);
    m_existingRepository->setVisible(!m_createNew);

    m_continue->setText(m_createNew ? QStringLiteral("Create") : QStringLiteral("Select"));
    m_continue->setEnabled(!chosenName().isEmpty());
}

void RepoSetupStepView::continueToProtections() {
    // Enter in a field must obey the same rule as the disabled button.
    const QString name = chosenName();
    if (name.isEmpty() || !m_context.appState)
        return;
    m_context.appState->setRepoName(name);
    m_context.appState->setCurrentSetupStep(SetupStep::applyingProtections);
}
