#pragma once

#include "AppStateTypes.h"
#include "UiContext.h"

#include <QWidget>

class QHBoxLayout;

// The last wizard screen: a summary and the button that finishes setup,
// sets the first machine status and starts the heartbeat.
class SetupCompleteStepView : public QWidget {
    Q_OBJECT

public:
    explicit SetupCompleteStepView(const UiContext &context, QWidget *parent = nullptr);

private:
    void render();
    QWidget *buildContent();
    QWidget *buildHeading(QWidget *parent);
    QWidget *buildSummary(QWidget *parent);
    QHBoxLayout *buildButtons(QWidget *parent);
    void finish(MachineStatusState status);

    UiContext m_context;
    QWidget *m_content = nullptr;
};
