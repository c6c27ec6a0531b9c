#pragma once

#include "SidebarItem.h"
#include "UiContext.h"

#include <QWidget>

class QListWidget;
class QScrollArea;

// The dashboard: the setup banner across the top while in setup mode, the
// sidebar of the six pages, and the selected page beside it. The selection
// belongs to this view only, so a new instance starts on Status again.
class MainWindowView : public QWidget {
    Q_OBJECT

public:
    explicit MainWindowView(const UiContext &context, QWidget *parent = nullptr);

    SidebarItem selectedItem() const { return m_selectedItem; }
    void setSelectedItem(SidebarItem item);

    // The page on screen; rebuilt on every selection, like a fresh page.
    QWidget *currentPage() const;
    QWidget *banner() const { return m_banner; }
    QListWidget *sidebar() const { return m_sidebar; }

signals:
    void selectedItemChanged(SidebarItem item);

private:
    QWidget *createBanner();
    QWidget *createPage(SidebarItem item);
    void updateBanner();
    void showSelectedPage();

    UiContext m_context;
    SidebarItem m_selectedItem = SidebarItem::status;
    QWidget *m_banner = nullptr;
    QListWidget *m_sidebar = nullptr;
    QScrollArea *m_detail = nullptr;
};
