#include "Icons.h"
#include "Style.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QtTest>

namespace {

// Symbol names the screens ask for; each must come from the bundled set,
// not the placeholder.
const QStringList usedSymbols = {"checkmark.circle",
                                 "checkmark.circle.fill",
                                 "xmark.circle",
                                 "xmark.circle.fill",
                                 "circle",
                                 "circle.fill",
                                 "exclamationmark.triangle",
                                 "exclamationmark.triangle.fill",
                                 "shield",
                                 "shield.checkered",
                                 "shield.fill",
                                 "shield.lefthalf.filled",
                                 "lock.shield",
                                 "link",
                                 "hand.wave",
                                 "externaldrive",
                                 "puzzlepiece.extension",
                                 "checkmark.seal",
                                 "clock",
                                 "gear",
                                 "power",
                                 "questionmark.circle",
                                 "1.circle",
                                 "2.circle",
                                 "3.circle",
                                 "4.circle",
                                 "person.badge.clock",
                                 "person.2",
                                 "person.3",
                                 "person.fill",
                                 "doc.text.magnifyingglass",
                                 "square.and.arrow.up",
                                 "arrow.clockwise"};

int countPixels(const QImage &image, const std::function<bool(QColor)> &match) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (match(image.pixelColor(x, y)))
                ++count;
    return count;
}

QImage renderText(const QString &text, const QFont &font) {
    QImage image(200, 60, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, text);
    return image;
}

} // namespace

class TestUiCommon : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Style::initialize(); }

    void everyUsedSymbolIsBundledAndTinted_data() {
        QTest::addColumn<QString>("name");
        for (const QString &name : usedSymbols)
            QTest::newRow(qPrintable(name)) << name;
    }
    void everyUsedSymbolIsBundledAndTinted() {
        QFETCH(QString, name);
        QVERIFY(Icons::has(name));
        const QImage image = Icons::pixmap(name, Qt::red, 24).toImage();
        QCOMPARE(image.width(), 24);
        const int reddish = countPixels(image, [](QColor c) {
            return c.alpha() > 128 && c.red() > 200 && c.green() < 60 && c.blue() < 60;
        });
        const int otherInk = countPixels(image, [](QColor c) {
            return c.alpha() > 128 && !(c.red() > 200 && c.green() < 60 && c.blue() < 60);
        });
        QVERIFY2(reddish > 10, "the icon is not drawn in the asked colour");
        QCOMPARE(otherInk, 0);
    }

    void unknownSymbolGivesPlaceholder() {
        QVERIFY(!Icons::has("no.such.symbol"));
        const QImage image = Icons::pixmap("no.such.symbol", Qt::blue, 16).toImage();
        QVERIFY(!image.isNull());
        QVERIFY(countPixels(image, [](QColor c) { return c.alpha() > 0; }) > 0);
    }

    void applicationImagesAreBundled() {
        QVERIFY(!Icons::menuBarIcon().isNull());
        const QImage app = Icons::appIcon(80, 18).toImage();
        QCOMPARE(app.width(), 80);
        // Rounded corners leave the very corner transparent.
        QCOMPARE(app.pixelColor(0, 0).alpha(), 0);
        QVERIFY(app.pixelColor(40, 40).alpha() > 0);
    }

    // Offscreen, a missing font still "draws" boxes, so compare real glyph
    // shapes: narrow and wide letters must differ.
    void wordmarkFontRendersRealGlyphs() {
        QVERIFY(Style::wordmarkFontLoaded());
        const QFont font = Style::wordmarkFont(32);
        QCOMPARE(QFontInfo(font).family(), QString("Cormorant Garamond"));
        QFontMetrics metrics(font);
        for (QChar c : QString("keelmark"))
            QVERIFY(metrics.inFont(c));
        const auto ink = [](QColor c) { return c.value() < 128; };
        const int narrow = countPixels(renderText("iiii", font), ink);
        const int wide = countPixels(renderText("WWWW", font), ink);
        QVERIFY(narrow > 0);
        QVERIFY2(wide > narrow * 2, "glyphs look like boxes");
    }

    void textStylesKeepTheirOrder() {
        using Style::TextStyle;
        QVERIFY(Style::font(TextStyle::title2).pixelSize() >
                Style::font(TextStyle::body).pixelSize());
        QVERIFY(Style::font(TextStyle::body).pixelSize() >
                Style::font(TextStyle::caption).pixelSize());
        QVERIFY(Style::font(TextStyle::headline).weight() > QFont::Normal);
        QVERIFY(qAbs(Style::color(Style::Color::orange, 0.15).alphaF() - 0.15f) < 0.01f);
    }
};

QTEST_MAIN(TestUiCommon)
#include "TestUiCommon.moc"
