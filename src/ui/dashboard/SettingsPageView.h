#pragma once

#include "UiContext.h"

#include <QPointer>
#include <QWidget>

class AccountActions;
class QCheckBox;
class QLabel;
class UpdateCheckDialog;

// "Settings": the connected account, starting at login, the version with
// its update check, and the administrative commands: Disconnect and
// Uninstall (AccountActions); the transfer of authority stays inert.
class SettingsPageView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsPageView(const UiContext &context, QWidget *parent = nullptr);

    // Where tests answer the commands' dialogs.
    AccountActions *accountActions() const { return m_accountActions; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *createGitHubBox();
    QWidget *createStartupBox();
    QWidget *createUninstall();
    void render();
    void setStartsAtLogin(bool on);
    void checkForUpdates();

    UiContext m_context;
    AccountActions *m_accountActions;
    QLabel *m_account = nullptr;
    QCheckBox *m_startAtLogin = nullptr;
    QLabel *m_startAtLoginError = nullptr;
    QPointer<UpdateCheckDialog> m_updateDialog;
};
