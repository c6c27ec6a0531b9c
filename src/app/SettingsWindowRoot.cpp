#include "SettingsWindowRoot.h"

#include "AppState.h"
#include "MainWindowView.h"
#include "SetupWizardView.h"
#include "Widgets.h"

#include <QVBoxLayout>

SettingsWindowRoot::SettingsWindowRoot(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName(QStringLiteral("settingsWindowRoot"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (context.appState)
        connect(context.appState, &AppState::setupCompleteChanged, this,
                &SettingsWindowRoot::render);
    render();
}

void SettingsWindowRoot::render() {
    const bool dashboard = m_context.appState && m_context.appState->setupComplete();
    if (m_content && dashboard == m_showsDashboard)
        return;
    m_showsDashboard = dashboard;
    QWidget *next = dashboard ? static_cast<QWidget *>(new MainWindowView(m_context, this))
                              : new SetupWizardView(m_context, this);
    if (m_content)
        Widgets::retire(m_content);
    m_content = next;
    layout()->addWidget(m_content);
    m_content->show();
    emit contentChanged();
}
