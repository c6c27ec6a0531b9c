#pragma once

#include "UiContext.h"

#include <QWidget>

class QLabel;

// "Settings": the connected account, the version, and the administrative
// commands. None of the commands has a behaviour yet; they stay inert.
class SettingsPageView : public QWidget {
    Q_OBJECT

public:
    explicit SettingsPageView(const UiContext &context, QWidget *parent = nullptr);

private:
    QWidget *createGitHubBox();
    void render();

    UiContext m_context;
    QLabel *m_account = nullptr;
};
