#include "AuditPageView.h"
#include "DashboardTestSupport.h"
#include "MainWindowView.h"
#include "Style.h"

#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>

namespace {
const char *pageName(SidebarItem item) {
    switch (item) {
    case SidebarItem::status:
        return "statusPage";
    case SidebarItem::gitHub:
        return "gitHubPage";
    case SidebarItem::team:
        return "teamPage";
    case SidebarItem::security:
        return "securityPage";
    case SidebarItem::audit:
        return "auditPage";
    case SidebarItem::settings:
        return "settingsPage";
    }
    return "";
}

void clickSidebarRow(QListWidget *sidebar, int row) {
    const QRect rect = sidebar->visualItemRect(sidebar->item(row));
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, rect.center());
}
} // namespace

class TestMainWindowView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Style::initialize(); }

    void sidebarListsTheSixPagesAndStartsOnStatus() {
        DashboardState state;
        MainWindowView window(state.context());
        window.resize(800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QListWidget *sidebar = window.sidebar();
        QCOMPARE(sidebar->objectName(), QString("sidebar"));
        QStringList titles;
        for (int i = 0; i < sidebar->count(); ++i) {
            titles.append(sidebar->item(i)->text());
            QVERIFY(!sidebar->item(i)->icon().isNull());
        }
        QCOMPARE(titles,
                 QStringList({"Status", "GitHub", "Team", "Security", "Audit", "Settings"}));
        QVERIFY(sidebar->width() >= 160);
        QCOMPARE(window.selectedItem(), SidebarItem::status);
        QCOMPARE(sidebar->currentRow(), 0);
        QCOMPARE(window.currentPage()->objectName(), QString("statusPage"));
    }

    void clickingARowShowsItsPage_data() {
        QTest::addColumn<int>("row");
        for (SidebarItem item : allSidebarItems())
            QTest::newRow(qPrintable(title(item))) << static_cast<int>(item);
    }

    void clickingARowShowsItsPage() {
        QFETCH(int, row);
        const SidebarItem item = allSidebarItems().at(row);
        DashboardState state;
        MainWindowView window(state.context());
        window.resize(800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Start elsewhere so that every row, Status included, is a change.
        window.setSelectedItem(item == SidebarItem::settings ? SidebarItem::audit
                                                             : SidebarItem::settings);

        clickSidebarRow(window.sidebar(), row);
        QCOMPARE(window.selectedItem(), item);
        QCOMPARE(window.currentPage()->objectName(), QString(pageName(item)));
        QVERIFY(window.currentPage()->isVisible());
    }

    void bannerComesAndGoesWithoutChangingThePage() {
        DashboardState state;
        MainWindowView window(state.context());
        window.resize(800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget *banner = window.banner();
        QVERIFY(!banner->isVisible());

        window.setSelectedItem(SidebarItem::team);
        QWidget *page = window.currentPage();

        state.appState->setIsSetupMode(true);
        QVERIFY(banner->isVisible());
        QTRY_VERIFY(banner->height() > 0);
        // Across the top, over both columns.
        auto *split = window.findChild<QSplitter *>("dashboardSplit");
        QCOMPARE(banner->width(), window.width());
        QCOMPARE(banner->geometry().top(), 0);
        QTRY_COMPARE(split->geometry().top(), banner->geometry().bottom() + 1);

        state.appState->setIsSetupMode(false);
        QVERIFY(!banner->isVisible());
        QTRY_COMPARE(split->geometry().top(), 0);
        QCOMPARE(window.selectedItem(), SidebarItem::team);
        QCOMPARE(window.currentPage(), page);
    }

    void bannerShownWhenStartingInSetupMode() {
        DashboardState state;
        state.appState->setIsSetupMode(true);
        MainWindowView window(state.context());
        QVERIFY(window.banner()->isVisibleTo(&window));
    }

    void aNewWindowStartsOnStatus() {
        DashboardState state;
        {
            MainWindowView first(state.context());
            first.setSelectedItem(SidebarItem::security);
            QCOMPARE(first.currentPage()->objectName(), QString("securityPage"));
        }
        MainWindowView second(state.context());
        QCOMPARE(second.selectedItem(), SidebarItem::status);
        QCOMPARE(second.currentPage()->objectName(), QString("statusPage"));
    }

    void auditIsBuiltAnewEachTime() {
        DashboardState state;
        MainWindowView window(state.context());
        for (int round = 0; round < 2; ++round) {
            window.setSelectedItem(SidebarItem::audit);
            auto *audit = qobject_cast<AuditPageView *>(window.currentPage());
            QVERIFY(audit);
            QVERIFY(audit->events().isEmpty());
            QVERIFY(audit->findChild<QWidget *>("auditEmptyState"));
            window.setSelectedItem(SidebarItem::status);
        }
    }

    // A page's own button may switch the page; the page must outlive its click.
    void aPageMaySwitchAwayFromItself() {
        DashboardState state;
        MainWindowView window(state.context());
        window.resize(800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.setSelectedItem(SidebarItem::settings);
        auto *button = window.currentPage()->findChild<QPushButton *>("uninstallButton");
        QVERIFY(button);
        connect(button, &QPushButton::clicked, &window,
                [&window] { window.setSelectedItem(SidebarItem::status); });
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(window.currentPage()->objectName(), QString("statusPage"));
        QCOMPARE(window.sidebar()->currentRow(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void selectionAlwaysKeepsOneRow() {
        DashboardState state;
        MainWindowView window(state.context());
        window.resize(800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy changes(&window, &MainWindowView::selectedItemChanged);
        // A ctrl-click on the selected row would clear a plain list's selection.
        const QRect rect = window.sidebar()->visualItemRect(window.sidebar()->item(0));
        QTest::mouseClick(window.sidebar()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          rect.center());
        QCOMPARE(window.sidebar()->selectedItems().size(), 1);
        QCOMPARE(window.selectedItem(), SidebarItem::status);
        QCOMPARE(changes.count(), 0);
    }
};

QTEST_MAIN(TestMainWindowView)
#include "TestMainWindowView.moc"
