#pragma once

#include "UiContext.h"

#include <QWidget>

class QLabel;
class QPushButton;

// "Reconnect GitHub": says that GitHub no longer accepts KeelMark's sign-in
// and runs the browser sign-in again for the governing owner, without
// leaving the dashboard. Shown in the popover and on the Status page while
// the sign-in is refused or a reconnect is under way; hidden otherwise. The outcome arrives through
// the keelmark:// callback.
class ReconnectAction : public QWidget {
    Q_OBJECT

public:
    explicit ReconnectAction(const UiContext &context, QWidget *parent = nullptr);

private:
    void render();
    void start();
    void cancel();

    UiContext m_context;
    QLabel *m_lostText = nullptr;
    QPushButton *m_button = nullptr;
    QWidget *m_progress = nullptr;
    QLabel *m_progressText = nullptr;
    QPushButton *m_cancel = nullptr;
    QLabel *m_problem = nullptr;
};
