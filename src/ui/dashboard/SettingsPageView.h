#pragma once

#include "UiContext.h"

#include <QWidget>

class AccountActions;
class QLabel;

// "Settings": the connected account, the version, and the administrative
// commands: Disconnect and Uninstall (AccountActions); the transfer of
// authority stays inert.
class SettingsPageView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsPageView(const UiContext &context, QWidget *parent = nullptr);

    // Where tests answer the commands' dialogs.
    AccountActions *accountActions() const { return m_accountActions; }

private:
    QWidget *createGitHubBox();
    QWidget *createUninstall();
    void render();

    UiContext m_context;
    AccountActions *m_accountActions;
    QLabel *m_account = nullptr;
};
