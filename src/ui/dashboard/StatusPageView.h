#pragma once

#include "UiContext.h"

#include <QWidget>

class QLabel;
class QPushButton;
namespace Widgets {
class StatusRow;
class SymbolView;
} // namespace Widgets

// "Status": the machine status, the governance and local security rows, the
// team head count and the last health check, with "Check Now".
class StatusPageView : public QWidget {
    Q_OBJECT

public:
    explicit StatusPageView(const UiContext &context, QWidget *parent = nullptr);

private:
    QWidget *createTeamSection();
    QWidget *createFooter();
    void renderStatus();
    void renderGovernance();
    void renderLocalSecurity();
    void renderTeam();
    void renderLastCheck();

    UiContext m_context;
    Widgets::SymbolView *m_statusDot = nullptr;
    QLabel *m_statusLabel = nullptr;
    Widgets::StatusRow *m_gitHubRow = nullptr;
    Widgets::StatusRow *m_codeownersRow = nullptr;
    Widgets::StatusRow *m_branchProtectionRow = nullptr;
    Widgets::StatusRow *m_filesRow = nullptr;
    QLabel *m_tokensUnsavedNote = nullptr;
    Widgets::StatusRow *m_helperRow = nullptr;
    Widgets::StatusRow *m_extensionRow = nullptr;
    Widgets::StatusRow *m_signatureRow = nullptr;
    QLabel *m_noMembers = nullptr;
    QWidget *m_counts = nullptr;
    QLabel *m_adminCount = nullptr;
    QLabel *m_staffCount = nullptr;
    QWidget *m_freelancers = nullptr;
    QLabel *m_freelancerCount = nullptr;
    QLabel *m_lastCheck = nullptr;
};
