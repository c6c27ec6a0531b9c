#pragma once

#include "UiContext.h"

#include <QWidget>

class ProtectionRun;
class QPushButton;
class QVBoxLayout;

// Shows the protection run row by row; the run itself owns the rows' state.
// The run starts the first time the screen is shown.
class ProtectionProgressStepView : public QWidget {
    Q_OBJECT

public:
    explicit ProtectionProgressStepView(const UiContext &context, QWidget *parent = nullptr);

    ProtectionRun *run() const { return m_run; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void renderSteps();
    void renderButtons();

    UiContext m_context;
    ProtectionRun *m_run;
    QVBoxLayout *m_stepSlot;
    QWidget *m_steps = nullptr;
    QPushButton *m_continue;
    QPushButton *m_retry;
    bool m_started = false;
};
