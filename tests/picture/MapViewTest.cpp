// The view's pixel memory is kept from zoom to zoom, yet never written over
// while a copy of an earlier view still uses it.
#include "Generator.h"
#include "MapPicture.h"
#include "SeededRandom.h"

#include <QTest>

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
};

QTEST_GUILESS_MAIN(MapViewTest)
#include "MapViewTest.moc"
