#include "Icons.h"
#include "Style.h"
#include "Widgets.h"

#include <QFontMetrics>
#include <QPainter>
#include <QtTest>

namespace {

// Symbol names the screens ask for; each must come from the bundled set,
// not the placeholder.
const QStringList usedSymbols =
    QString("checkmark.circle checkmark.circle.fill xmark.circle xmark.circle.fill circle "
            "circle.fill exclamationmark.triangle exclamationmark.triangle.fill shield "
            "shield.checkered shield.fill shield.lefthalf.filled lock.shield link hand.wave "
            "externaldrive puzzlepiece.extension checkmark.seal clock gear power "
            "questionmark.circle 1.circle 2.circle 3.circle 4.circle person.badge.clock person.2 "
            "person.3 person.fill doc.text.magnifyingglass square.and.arrow.up arrow.clockwise")
        .split(' ');

int countPixels(const QImage &image, const std::function<bool(QColor)> &match) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += match(image.pixelColor(x, y)) ? 1 : 0;
    return count;
}

int inkOf(const QString &text, const QFont &font) {
    QImage image(200, 60, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, text);
    return countPixels(image, [](QColor c) { return c.value() < 128; });
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
        const auto red = [](QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };
        QVERIFY2(countPixels(image, [&](QColor c) { return c.alpha() > 128 && red(c); }) > 10,
                 "the icon is not drawn in the asked colour");
        QCOMPARE(countPixels(image, [&](QColor c) { return c.alpha() > 128 && !red(c); }), 0);
    }

    // User data never becomes markup: plain labels take it as typed, and
    // rich text escapes every value in one pass (a value holding "%2" must
    // not pick up the next one).
    void userDataStaysText_data() {
        QTest::addColumn<QString>("markup");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("shown");
        QTest::newRow("markup in a value")
            << "Only <b>%1</b>" << QStringList{"<i>x</i>"} << "Only <b>&lt;i&gt;x&lt;/i&gt;</b>";
        QTest::newRow("placeholder in a value")
            << "%1 and %2" << QStringList{"%2", "y"} << "%2 and y";
        QTest::newRow("ampersand and quote") << "%1" << QStringList{"a&b\"c"} << "a&amp;b&quot;c";
        QTest::newRow("no value for a placeholder") << "%1 %3" << QStringList{"a"} << "a %3";
    }
    void userDataStaysText() {
        QFETCH(QString, markup);
        QFETCH(QStringList, values);
        QFETCH(QString, shown);
        std::unique_ptr<QLabel> rich(Widgets::richText(markup, values, Style::TextStyle::body));
        QCOMPARE(rich->text(), shown);
        QCOMPARE(rich->textFormat(), Qt::RichText);
        std::unique_ptr<QLabel> plain(Widgets::text(values.first(), Style::TextStyle::body));
        QCOMPARE(plain->textFormat(), Qt::PlainText);
    }

    // Offscreen, a missing font still "draws" boxes, so compare real glyph
    // shapes: narrow and wide letters must differ.
    void wordmarkFontRendersRealGlyphs() {
        QVERIFY(Style::wordmarkFontLoaded());
        const QFont font = Style::wordmarkFont(32);
        QCOMPARE(QFontInfo(font).family(), QString("Cormorant Garamond"));
        for (QChar c : QString("keelmark"))
            QVERIFY(QFontMetrics(font).inFont(c));
        const int narrow = inkOf("iiii", font);
        QVERIFY(narrow > 0);
        QVERIFY2(inkOf("WWWW", font) > narrow * 2, "glyphs look like boxes");
    }
};

QTEST_MAIN(TestUiCommon)
#include "TestUiCommon.moc"
