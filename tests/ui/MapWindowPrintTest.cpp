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
#include <QSignalSpy>
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
        QSignalSpy ended(&program.WorldScr, &TWorldScr::jobEnded);
        QImage shown, printed;
        const bool ran = withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &window) {
            QVERIFY(window.printBitmap().isNull());
            find<QAction>(window, "X21")->trigger();
            find<QAction>(window, "PrintMap1")->trigger();
            QVERIFY(!ended.isEmpty() || ended.wait());
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

    // The window answers while the largest view is printed; a second Print
    // meanwhile is refused and leaves the first one's page and PrintBitmap.
    void windowAnswersDuringALargePrint()
    {
        Program program;
        find<QComboBox>(program.World1, "lstSize")->setCurrentText(QStringLiteral("Large"));
        const int lastJob = print::testing::lastJobOn(cups_.queue);
        ErrorBoxWatcher boxes;
        QSignalSpy ended(&program.WorldScr, &TWorldScr::jobEnded);
        int turnsDuringJob = 0;
        QImage printed, shown;
        Qt::CursorShape cursorBefore = Qt::ArrowCursor;
        const bool ran = withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &window) {
            find<QAction>(window, "X51")->trigger();
            shown = window.viewImage();
            QTimer turn;
            turn.setInterval(0);
            QObject::connect(&turn, &QTimer::timeout, [&] { turnsDuringJob += window.jobRunning() ? 1 : 0; });
            turn.start();
            find<QAction>(window, "PrintMap1")->trigger();
            cursorBefore =
                QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape() : Qt::ArrowCursor;
            find<QAction>(window, "PrintMap1")->trigger();
            // A zoom meanwhile changes what is shown, not what is printed.
            find<QAction>(window, "x11")->trigger();
            QVERIFY(!ended.isEmpty() || ended.wait(120000));
            printed = window.printBitmap();
        });
        QVERIFY(ran);
        QVERIFY2(turnsDuringJob > 0, "the event loop never ran while the page was printed");
        // The normal cursor during the conversion.
        QCOMPARE(cursorBefore, Qt::ArrowCursor);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].text, QStringLiteral("Printing in progress."));
        QCOMPARE(printed.size(), QSize(5120, 5120));
        QCOMPARE(printed, print::ReJigPallete(shown));
        QString why;
        QVERIFY2(!print::testing::printedPage(cups_, lastJob, &why).isEmpty(), qPrintable(why));
    }

private:
    Scheduler cups_;
};

QTEST_MAIN(MapWindowPrint)
#include "MapWindowPrintTest.moc"
