#pragma once

#include "UiContext.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class UpdateCheckDialog;

// "Settings": the connected account, starting at login, the version with
// its update check, and the administrative commands.
class SettingsPageView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsPageView(const UiContext &context, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *createGitHubBox();
    QWidget *createStartupBox();
    void render();
    void setStartsAtLogin(bool on);
    void checkForUpdates();

    UiContext m_context;
    QLabel *m_account = nullptr;
    QCheckBox *m_startAtLogin = nullptr;
    QLabel *m_startAtLoginError = nullptr;
    QPointer<UpdateCheckDialog> m_updateDialog;
};
