#include "SidebarItem.h"

QList<SidebarItem> allSidebarItems() {
    return {SidebarItem::status,   SidebarItem::gitHub, SidebarItem::team,
            SidebarItem::security, SidebarItem::audit,  SidebarItem::settings};
}

QString title(SidebarItem item) {
    switch (item) {
    case SidebarItem::status:
        return QStringLiteral("Status");
    case SidebarItem::gitHub:
        return QStringLiteral("GitHub");
    case SidebarItem::team:
        return QStringLiteral("Team");
    case SidebarItem::security:
        return QStringLiteral("Security");
    case SidebarItem::audit:
        return QStringLiteral("Audit");
    case SidebarItem::settings:
        return QStringLiteral("Settings");
    }
    return {};
}

QString symbolName(SidebarItem item) {
    switch (item) {
    case SidebarItem::status:
        return QStringLiteral("circle.fill");
    case SidebarItem::gitHub:
        return QStringLiteral("lock.shield");
    case SidebarItem::team:
        return QStringLiteral("person.3");
    case SidebarItem::security:
        return QStringLiteral("shield.checkered");
    case SidebarItem::audit:
        return QStringLiteral("doc.text.magnifyingglass");
    case SidebarItem::settings:
        return QStringLiteral("gear");
    }
    return {};
}
