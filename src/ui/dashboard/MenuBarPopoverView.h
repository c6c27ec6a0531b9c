#pragma once

#include "UiContext.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
namespace Widgets {
class Dot;
}

// The content of the tray popover: status at a glance, the governed
// repository, and the two commands. Re-renders from AppState's signals.
class MenuBarPopoverView : public QWidget {
    Q_OBJECT

public:
    MenuBarPopoverView(const UiContext &context, std::function<void()> onOpenSettings,
                       std::function<void()> onQuit, QWidget *parent = nullptr);

    static constexpr int width = 280;
    static constexpr int height = 200;

private:
    void render();

    UiContext m_context;
    Widgets::Dot *m_dot;
    QLabel *m_statusLabel;
    QWidget *m_repoRow;
    QLabel *m_repoText;
};
