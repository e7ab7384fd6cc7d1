// The view's pixel memory is kept from zoom to zoom, yet never written over
// while a copy of an earlier view still uses it; and every view, of every
// map, fits the 256 colours of a palette PNG.
#include "Generator.h"
#include "MapPicture.h"
#include "SeededRandom.h"

#include <QTest>

#include <bitset>
#include <memory>

using namespace terralume;

namespace {

QImage smallMap(const char *seed)
{
    World world;
    SeededRandom random;
    random.LoadSeed(seed);
    GenerateHeights(world, "Small", 0, random);
    return drawMapPicture(world, Tint{});
}

// The distinct 5-6-5 colours of `picture`.
std::size_t coloursOf(const QImage &picture)
{
    const auto seen = std::make_unique<std::bitset<65536>>();
    for (int y = 0; y < picture.height(); ++y) {
        const auto *row = reinterpret_cast<const quint16 *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            seen->set(row[x]);
    }
    return seen->count();
}

} // namespace

class MapViewTest : public QObject {
    Q_OBJECT
private slots:
    void keptViewIsNeverWrittenOver_data()
    {
        QTest::addColumn<bool>("showBetween");
        QTest::newRow("zoom after zoom") << false;
        QTest::newRow("zoom after a show") << true;
    }
    void keptViewIsNeverWrittenOver()
    {
        QFETCH(bool, showBetween);
        const QImage first = smallMap("42861244");
        const QImage second = smallMap("7");
        MapView view;
        view.zoom(first, 3);
        const QImage kept = view.image();
        const QImage expected = kept.copy();
        if (showBetween)
            view.show(second);
        view.zoom(second, 2);
        QCOMPARE(kept, expected);
        QCOMPARE(view.image().pixel(10, 10), second.pixel(5, 5));
    }

    void freeMemoryIsUsedAgain()
    {
        int allocations = 0;
        MapView view([&allocations](std::size_t count) {
            ++allocations;
            return std::shared_ptr<std::uint16_t[]>(new std::uint16_t[count]);
        });
        const QImage base = smallMap("42861244");
        for (int factor : {5, 1, 2, 5}) {
            view.zoom(base, factor);
            if (factor == 1)
                view.show(base);
        }
        QCOMPARE(allocations, 1);
    }

    // A saved picture is always a palette PNG: the map as first shown and
    // at every zoom has at most 256 colours, at any size and at the ends of
    // the water and heat ranges.
    void everyViewFitsAPalette_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("water");
        QTest::addColumn<int>("heat");
        for (const char *size : {"Small", "Medium", "Large"})
            for (const int water : {-40, 40})
                for (const int heat : {-40, 40})
                    QTest::addRow("%s, water %d, heat %d", size, water, heat)
                        << QString::fromLatin1(size) << water << heat;
    }

    void everyViewFitsAPalette()
    {
        QFETCH(QString, size);
        QFETCH(int, water);
        QFETCH(int, heat);
        World world;
        SeededRandom random;
        random.LoadSeed("42861244");
        GenerateHeights(world, size.toStdString(), water, random);
        const QImage base = drawMapPicture(world, tintFromHeatPosition(heat));
        MapView view;
        view.show(base);
        for (int factor = 0; factor <= 5; ++factor) {
            if (factor > 0)
                view.zoom(base, factor);
            QCOMPARE(view.image().format(), QImage::Format_RGB16);
            QVERIFY2(coloursOf(view.image()) <= 256, qPrintable(QStringLiteral("zoom %1").arg(factor)));
        }
        // Sea, coast and land at least: a picture left blank would pass above.
        QVERIFY(coloursOf(base) >= 3);
    }
};

QTEST_GUILESS_MAIN(MapViewTest)
#include "MapViewTest.moc"
