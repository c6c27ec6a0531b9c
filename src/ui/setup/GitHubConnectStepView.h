#pragma once

#include "UiContext.h"

#include <QWidget>

class QHBoxLayout;
class QPushButton;

// Sign-in through the browser, then the choice of the one organisation the
// application will govern. Everything shown comes from AppState, which the
// sign-in callback and discovery fill in the background.
class GitHubConnectStepView : public QWidget {
    Q_OBJECT

public:
    explicit GitHubConnectStepView(const UiContext &context, QWidget *parent = nullptr);

private:
    void render();
    QWidget *buildConnectionBlock();
    QWidget *buildSignInBlock(QWidget *parent);
    QWidget *buildProblemBlock(QWidget *parent, const QString &retryName);
    void startSignIn();
    void cancelSignIn();
    QWidget *buildNoOrganisationBlock(QWidget *parent);
    QWidget *buildOrganisationList(QWidget *parent);
    void refreshOrganisations();
    void continueToRepository();

    UiContext m_context;
    QHBoxLayout *m_blockSlot;
    QWidget *m_block = nullptr;
    QPushButton *m_continue;
    bool m_refreshing = false;
};
