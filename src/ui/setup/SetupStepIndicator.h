#pragma once

#include "AppStateTypes.h"
#include "UiContext.h"

#include <QWidget>

class QLabel;

// The fixed-width list of wizard steps on the left of the wizard, with the
// green line from the first step down to the current one. Finished steps
// are clickable and take the wizard back to them.
class SetupStepIndicator : public QWidget {
    Q_OBJECT

public:
    enum class StepStatus { completed, active, pending };

    explicit SetupStepIndicator(const UiContext &context, QWidget *parent = nullptr);

    static StepStatus status(SetupStep step, SetupStep current);
    static QString statusText(StepStatus status);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void render();

    UiContext m_context;
    QList<QWidget *> m_rows;
};
