#include "Icons.h"

#include "Style.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

namespace {

QString resourcePath(const QString &symbolName) {
    return QStringLiteral(":/icons/%1.svg").arg(symbolName);
}

qreal devicePixelRatio() {
    return qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
}

// The bundled set draws with "currentColor"; substituting the colour in the
// source keeps strokes and fills crisp instead of recolouring pixels.
QByteArray tintedSvg(const QString &symbolName, const QColor &color) {
    QFile file(resourcePath(symbolName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray svg = file.readAll();
    const QByteArray rgb = color.name(QColor::HexRgb).toLatin1();
    svg.replace("currentColor", rgb);
    if (color.alpha() < 255) {
        const QByteArray opacity = QByteArray::number(color.alphaF(), 'f', 3);
        svg.replace("<svg", "<svg opacity=\"" + opacity + "\"");
    }
    return svg;
}

QPixmap placeholder(const QColor &color, int pixelSize, qreal dpr) {
    QPixmap pixmap(QSize(pixelSize, pixelSize) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, qMax(1.0, pixelSize / 12.0), Qt::DashLine);
    painter.setPen(pen);
    const qreal inset = pixelSize / 8.0;
    painter.drawEllipse(QRectF(inset, inset, pixelSize - 2 * inset, pixelSize - 2 * inset));
    return pixmap;
}

QPixmap renderSvg(const QByteArray &svg, int pixelSize, qreal dpr) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(QSize(pixelSize, pixelSize) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixelSize, pixelSize));
    return pixmap;
}

} // namespace

namespace Icons {

bool has(const QString &symbolName) {
    return !symbolName.isEmpty() && QFile::exists(resourcePath(symbolName));
}

QPixmap pixmap(const QString &symbolName, const QColor &color, int pixelSize) {
    pixelSize = qMax(1, pixelSize);
    const qreal dpr = devicePixelRatio();
    // Screens redraw often; the same symbol in the same colour is rendered once.
    // Images, not pixmaps: the cache outlives the application object.
    static QHash<QString, QImage> cache;
    const QString key = QStringLiteral("%1|%2|%3|%4")
                            .arg(symbolName, color.name(QColor::HexArgb))
                            .arg(pixelSize)
                            .arg(dpr);
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return QPixmap::fromImage(*it);

    QPixmap result;
    if (has(symbolName))
        result = renderSvg(tintedSvg(symbolName, color), pixelSize, dpr);
    if (result.isNull())
        result = placeholder(color, pixelSize, dpr);
    cache.insert(key, result.toImage());
    return result;
}

QIcon icon(const QString &symbolName, const QColor &color, int pixelSize) {
    QIcon result;
    result.addPixmap(pixmap(symbolName, color, pixelSize));
    return result;
}

QStringList symbolNames() {
    QStringList names;
    const QStringList files = QDir(QStringLiteral(":/icons")).entryList({QStringLiteral("*.svg")});
    for (const QString &file : files)
        names.append(file.chopped(4));
    return names;
}

QPixmap appIcon(int pixelSize, qreal cornerRadius) {
    pixelSize = qMax(1, pixelSize);
    const qreal dpr = devicePixelRatio();
    QFile file(QStringLiteral(":/app/AppIcon.svg"));
    if (!file.open(QIODevice::ReadOnly))
        return placeholder(Style::color(Style::Color::gray), pixelSize, dpr);
    QPixmap rendered = renderSvg(file.readAll(), pixelSize, dpr);
    if (cornerRadius <= 0 || rendered.isNull())
        return rendered;

    QPixmap rounded(rendered.size());
    rounded.setDevicePixelRatio(dpr);
    rounded.fill(Qt::transparent);
    QPainter painter(&rounded);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, pixelSize, pixelSize), cornerRadius, cornerRadius);
    painter.setClipPath(clip);
    painter.drawPixmap(0, 0, rendered);
    return rounded;
}

QIcon menuBarIcon() {
    const QString path = QStringLiteral(":/app/MenuBarIcon.svg");
    if (!QFile::exists(path))
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray svg = file.readAll();
    QIcon result;
    // Tray hosts pick the size they draw; offer the usual ones.
    for (int size : {16, 18, 22, 24, 32, 36, 48})
        result.addPixmap(renderSvg(svg, size, 1.0));
    return result;
}

} // namespace Icons
