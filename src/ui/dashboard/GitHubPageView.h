#pragma once

#include "UiContext.h"

#include <QList>
#include <QWidget>

class AccountActions;
class QLabel;

// "GitHub": the governed account, organisation and repository, the ownership
// rules the governance files put in place, and the protection read-out.
class GitHubPageView : public QWidget {
    Q_OBJECT

public:
    explicit GitHubPageView(const UiContext &context, QWidget *parent = nullptr);

    static QStringList governedPaths();

    // Where tests answer the disconnect confirmation.
    AccountActions *accountActions() const { return m_accountActions; }

private:
    QWidget *createConnectionBlock();
    QWidget *createOwnershipBlock();
    QWidget *createProtectionBlock();
    void renderConnection();
    void renderOwners();
    void renderProtection();

    UiContext m_context;
    AccountActions *m_accountActions;
    QLabel *m_account = nullptr;
    QWidget *m_orgLine = nullptr;
    QLabel *m_org = nullptr;
    QWidget *m_repoLine = nullptr;
    QLabel *m_repo = nullptr;
    QList<QLabel *> m_owners;
    QWidget *m_protected = nullptr;
    QWidget *m_notProtected = nullptr;
    QLabel *m_findings = nullptr;
};
