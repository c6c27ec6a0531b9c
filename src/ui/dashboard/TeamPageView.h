#pragma once

#include "Records.h"
#include "UiContext.h"

#include <QColor>
#include <QList>
#include <QWidget>

class QPushButton;
class QLabel;
class QVBoxLayout;

// "Team": the ops repository's collaborators as the last health check found
// them, with role badges, the signed-in user marked, a summary by role, and
// "Refresh". With nobody listed it explains how to add people.
class TeamPageView : public QWidget {
    Q_OBJECT

public:
    explicit TeamPageView(const UiContext &context, QWidget *parent = nullptr);

    struct RolePresentation {
        QString badge;
        QString symbol;
        QColor color;
    };
    static RolePresentation presentation(MachineRole role);
    // "3 members · 1 admin · 2 staff": managers count only in the total.
    static QString summary(const QList<TeamMember> &members);

private:
    QWidget *createEmptyState();
    QWidget *createMemberRow(const TeamMember &member, QWidget *parent);
    void render();
    void renderLink();
    void openAccessSettings();

    UiContext m_context;
    QWidget *m_emptyState = nullptr;
    QPushButton *m_manageLink = nullptr;
    QWidget *m_memberList = nullptr;
    QVBoxLayout *m_memberRows = nullptr;
};
