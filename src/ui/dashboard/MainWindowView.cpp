#include "MainWindowView.h"

#include "AppState.h"
#include "AuditPageView.h"
#include "GitHubPageView.h"
#include "Icons.h"
#include "SecurityPageView.h"
#include "SettingsPageView.h"
#include "SetupBannerView.h"
#include "StatusPageView.h"
#include "Style.h"
#include "TeamPageView.h"

#include <QListWidget>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

namespace {
constexpr int sidebarMinimumWidth = 160;
constexpr int sidebarInitialWidth = 190;

// Accent symbols that turn white on the selected row.
QIcon sidebarIcon(SidebarItem item) {
    QIcon icon;
    icon.addPixmap(Icons::pixmap(symbolName(item), Style::accentColor(), 16), QIcon::Normal);
    icon.addPixmap(Icons::pixmap(symbolName(item), Style::color(Style::Color::onAccent), 16),
                   QIcon::Selected);
    return icon;
}
} // namespace

MainWindowView::MainWindowView(const UiContext &context, QWidget *parent)
    : QWidget(parent)
    , m_context(context) {
    setObjectName("mainWindowView");
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    m_banner = createBanner();
    stack->addWidget(m_banner);

    auto *split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName("dashboardSplit");
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);

    m_sidebar = new QListWidget(split);
    m_sidebar->setObjectName("sidebar");
    m_sidebar->setAccessibleName("Dashboard pages");
    m_sidebar->setMinimumWidth(sidebarMinimumWidth);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sidebar->setIconSize(QSize(16, 16));
    Style::apply(m_sidebar, Style::TextStyle::body);
    Style::styleSidebar(m_sidebar);
    for (SidebarItem item : allSidebarItems()) {
        auto *row = new QListWidgetItem(sidebarIcon(item), title(item));
        row->setData(Qt::UserRole, static_cast<int>(item));
        m_sidebar->addItem(row);
    }

    m_detail = new QScrollArea(split);
    m_detail->setObjectName("dashboardDetail");
    m_detail->setFrameShape(QFrame::NoFrame);
    m_detail->setWidgetResizable(true);

    split->addWidget(m_sidebar);
    split->addWidget(m_detail);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({sidebarInitialWidth, 10000});
    stack->addWidget(split, 1);

    m_sidebar->setCurrentRow(static_cast<int>(m_selectedItem));
    connect(m_sidebar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < allSidebarItems().size())
            setSelectedItem(allSidebarItems().at(row));
    });
    // A sidebar always has one page selected; a ctrl-click must not clear it.
    connect(m_sidebar, &QListWidget::itemSelectionChanged, this, [this] {
        if (m_sidebar->selectedItems().isEmpty())
            m_sidebar->item(static_cast<int>(m_selectedItem))->setSelected(true);
    });

    connect(m_context.appState, &AppState::isSetupModeChanged, this, &MainWindowView::updateBanner);
    updateBanner();
    showSelectedPage();
}

void MainWindowView::setSelectedItem(SidebarItem item) {
    if (item == m_selectedItem)
        return;
    m_selectedItem = item;
    const int row = static_cast<int>(item);
    if (m_sidebar->currentRow() != row)
        m_sidebar->setCurrentRow(row);
    showSelectedPage();
    emit selectedItemChanged(item);
}

QWidget *MainWindowView::currentPage() const {
    return m_detail->widget();
}

QWidget *MainWindowView::createBanner() {
    return new SetupBannerView(m_context, this);
}

QWidget *MainWindowView::createPage(SidebarItem item) {
    switch (item) {
    case SidebarItem::status:
        return new StatusPageView(m_context);
    case SidebarItem::gitHub:
        return new GitHubPageView(m_context);
    case SidebarItem::team:
        return new TeamPageView(m_context);
    case SidebarItem::security:
        return new SecurityPageView(m_context);
    case SidebarItem::audit:
        return new AuditPageView(m_context);
    case SidebarItem::settings:
        return new SettingsPageView(m_context);
    }
    return new QWidget;
}

void MainWindowView::updateBanner() {
    m_banner->setVisible(m_context.appState->isSetupMode());
}

void MainWindowView::showSelectedPage() {
    // The old page goes later, not now: a page may one day be the sender of
    // the signal that changed the selection.
    if (QWidget *old = m_detail->takeWidget())
        old->deleteLater();
    m_detail->setWidget(createPage(m_selectedItem));
}
