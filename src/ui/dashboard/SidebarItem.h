#pragma once

#include <QList>
#include <QString>

// The dashboard's pages in sidebar order. The title is the text form.
enum class SidebarItem { status, gitHub, team, security, audit, settings };

QList<SidebarItem> allSidebarItems();
QString title(SidebarItem item);      // "Status", "GitHub", ...
QString symbolName(SidebarItem item); // "circle.fill", "lock.shield", ...
