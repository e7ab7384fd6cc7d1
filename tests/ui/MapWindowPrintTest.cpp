// File > Print from the map window, on the private scheduler's default
// PDF queue: the page comes out, PrintBitmap is the converted view at the
// current zoom, and the cursor is back to normal.
#include "JpegRoundTrip.h"
#include "PrivateScheduler.h"
#include "ToolRun.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QtTest>

using namespace terralume;
using namespace terralume::ui;
using namespace terralume::ui::testing;
using terralume::print::testing::Scheduler;

class MapWindowPrint : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        cups_ = print::testing::privateScheduler();
        QVERIFY2(cups_.isSetUp(), "the private scheduler is not set up");
        cups_.use();
    }

    void printPrintsTheShownZoom()
    {
        Program program;
        find<QComboBox>(program.World1, "lstSize")->setCurrentText(QStringLiteral("Small"));
        find<QLineEdit>(program.World1, "edTitle")->setText(QStringLiteral("Printed From The Window"));

        const int lastJob = print::testing::lastJobOn(cups_.queue);
        ErrorBoxWatcher boxes;
        QImage shown, printed;
        const bool ran = withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &window) {
            QVERIFY(window.printBitmap().isNull());
            find<QAction>(window, "X21")->trigger();
            find<QAction>(window, "PrintMap1")->trigger();
            shown = window.viewImage().copy();
            printed = window.printBitmap();
        });
        QVERIFY(ran);
        QVERIFY2(boxes.boxes().isEmpty(), qPrintable(boxes.boxes().value(0).text));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

        // What was printed is the zoomed view (512 pixels for Small at x 2),
        // through the JPEG round trip.
        QCOMPARE(shown.size(), QSize(512, 512));
        QCOMPARE(printed.format(), QImage::Format_Indexed8);
        QCOMPARE(printed.size(), shown.size());
        QCOMPARE(printed, print::ReJigPallete(shown));

        // Its own job's page, once it has been written whole.
        QString why;
        const QString pdf = print::testing::printedPage(cups_, lastJob, &why);
        QVERIFY2(!pdf.isEmpty(), qPrintable(why));
        bool ok = false;
        const QByteArray info = print::tools::run(QStringLiteral("pdfinfo"), {pdf}, &ok);
        QVERIFY2(ok && QRegularExpression(QStringLiteral("Pages:\\s+1\\n")).match(QString::fromUtf8(info)).hasMatch(),
                 info.constData());
    }

private:
    Scheduler cups_;
};

QTEST_MAIN(MapWindowPrint)
#include "MapWindowPrintTest.moc"
