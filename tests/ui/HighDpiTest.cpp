// On a screen with two device pixels to the logical pixel, a map cell is
// still one device pixel at x1 and a 2 x 2 block at x2.

#include "MapPicture.h"
#include "TerralumeApplication.h"
#include "UiTestSupport.h"

#include <QScrollArea>
#include <QTest>

using namespace terralume;
using namespace terralume::ui;
using namespace terralume::ui::testing;

class HighDpiTest : public QObject {
    Q_OBJECT
private slots:
    void oneCellIsOneDevicePixel_data()
    {
        QTest::addColumn<int>("zoom"); // 0: as the show leaves it
        QTest::newRow("after the show") << 0;
        QTest::newRow("x 1") << 1;
        QTest::newRow("x 2") << 2;
    }
    void oneCellIsOneDevicePixel()
    {
        QFETCH(int, zoom);
        Program program;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            QCOMPARE(map.devicePixelRatioF(), 2.0);
            if (zoom > 0)
                zoomEntries(map)[zoom - 1]->trigger();
            const QImage &view = map.viewImage();
            auto *image = find<QWidget>(map, "Image1");
            // Half as many logical pixels, rounded up so no cell is lost.
            QCOMPARE(image->width(), (view.width() + 1) / 2);

            const QImage drawn = image->grab().toImage().convertToFormat(QImage::Format_RGB888);
            QCOMPARE(drawn.devicePixelRatio(), 2.0);
            const QImage shown = drawn.copy(0, 0, view.width(), view.height());
            QVERIFY(shown == view.convertToFormat(QImage::Format_RGB888));
        }));
    }
};

int main(int argc, char *argv[])
{
    TerralumeApplication application(argc, argv);
    HighDpiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "HighDpiTest.moc"
