#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

// Bundled SVG icons keyed by the symbol names the screens use
// ("checkmark.circle.fill", "shield.checkered", ...). Unknown names give a
// neutral placeholder, never an empty icon.
namespace Icons {

bool has(const QString &symbolName);
// Renders the symbol tinted with `color` at `pixelSize` (device-pixel aware).
QPixmap pixmap(const QString &symbolName, const QColor &color, int pixelSize);
QIcon icon(const QString &symbolName, const QColor &color, int pixelSize = 16);

// Every symbol name that has a bundled icon.
QStringList symbolNames();

// The application's own images, drawn in their own colours.
QPixmap appIcon(int pixelSize, qreal cornerRadius = 0);
// The tray image; null when the resource is missing (callers fall back to
// the "shield.checkered" symbol).
QIcon menuBarIcon();

} // namespace Icons
