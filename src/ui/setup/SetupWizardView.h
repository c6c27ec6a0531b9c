#pragma once

#include "AppStateTypes.h"
#include "UiContext.h"

#include <QWidget>

class QHBoxLayout;
class QScrollArea;
class SetupBannerView;
class SetupStepIndicator;

// The first-run wizard: the setup banner (in setup mode), the step
// indicator, and the screen of the current step, which every step screen
// advances by writing currentSetupStep.
class SetupWizardView : public QWidget {
    Q_OBJECT

public:
    explicit SetupWizardView(const UiContext &context, QWidget *parent = nullptr);

    QWidget *currentScreen() const { return m_screen; }
    SetupStep shownStep() const { return m_shownStep; }

    // The screen for a step, built afresh (screens keep local state).
    static QWidget *stepContent(SetupStep step, const UiContext &context, QWidget *parent);

private:
    void showStep();
    void updateBanner();

    UiContext m_context;
    SetupBannerView *m_banner;
    SetupStepIndicator *m_indicator;
    QHBoxLayout *m_body;
    QScrollArea *m_scroll;
    QWidget *m_screen = nullptr;
    SetupStep m_shownStep = SetupStep::welcome;
};
