#pragma once

#include "UiContext.h"

#include <QWidget>

// The content of the one window: the setup wizard until setup is complete,
// the dashboard from then on, switching the moment setupComplete changes.
class SettingsWindowRoot : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindowRoot(const UiContext &context, QWidget *parent = nullptr);

    QWidget *content() const { return m_content; }
    bool showsDashboard() const { return m_showsDashboard; }

signals:
    void contentChanged();

private:
    void render();

    UiContext m_context;
    QWidget *m_content = nullptr;
    bool m_showsDashboard = false;
};
