// File > Print from the map window, on the private scheduler's default
// cups-pdf queue: the page comes out, PrintBitmap is the converted view at the
// current zoom, and the cursor is back to normal.
#include "JpegRoundTrip.h"
#include "ToolRun.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QtTest>

#include <cups/cups.h>

using namespace terralume;
using namespace terralume::ui;
using namespace terralume::ui::testing;

namespace {

QString stateValue(const QString &key)
{
    QFile file(qEnvironmentVariable("TERRALUME_CUPS_STATE"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(key.toLocal8Bit() + '='))
            return QString::fromLocal8Bit(line.mid(key.size() + 1));
    return {};
}

int jobsOn(const QString &queue)
{
    cups_job_t *jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.toLocal8Bit().constData(), 0, CUPS_WHICHJOBS_ALL);
    cupsFreeJobs(count, jobs);
    return count;
}

} // namespace

class MapWindowPrint : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString server = stateValue(QStringLiteral("CUPS_SERVER"));
        queue_ = stateValue(QStringLiteral("TERRALUME_CUPS_QUEUE"));
        out_ = stateValue(QStringLiteral("TERRALUME_CUPS_OUT"));
        QVERIFY2(!server.isEmpty() && !queue_.isEmpty(), "the private scheduler is not set up");
        qputenv("CUPS_SERVER", server.toLocal8Bit());
        qunsetenv("PRINTER");
        qunsetenv("LPDEST");
        cupsSetServer(nullptr);
    }

    void printPrintsTheShownZoom()
    {
        SeededRandom random;
        TWorld1 settings(random);
        TWorldScr map(random);
        settings.setMapWindow(&map);
        find<QComboBox>(settings, "lstSize")->setCurrentText(QStringLiteral("Small"));
        find<QLineEdit>(settings, "edTitle")->setText(QStringLiteral("Printed From The Window"));

        const QStringList before = QDir(out_).entryList({QStringLiteral("*.pdf")}, QDir::Files);
        const int jobs = jobsOn(queue_);
        ErrorBoxWatcher boxes;
        QImage shown, printed;
        const bool ran = withMapOpen(settings, map, [&](TWorldScr &window) {
            QVERIFY(window.printBitmap().isNull());
            find<QAction>(window, "X21")->trigger();
            find<QAction>(window, "PrintMap1")->trigger();
            shown = window.viewImage().copy();
            printed = window.printBitmap();
        });
        QVERIFY(ran);
        QVERIFY2(boxes.boxes().isEmpty(), qPrintable(boxes.boxes().value(0).text));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(jobsOn(queue_), jobs + 1);

        // What was printed is the zoomed view (512 pixels for Small at x 2),
        // through the JPEG round trip.
        QCOMPARE(shown.size(), QSize(512, 512));
        QCOMPARE(printed.format(), QImage::Format_Indexed8);
        QCOMPARE(printed.size(), shown.size());
        QCOMPARE(printed, print::ReJigPallete(shown));

        QElapsedTimer clock;
        clock.start();
        QString pdf;
        while (pdf.isEmpty() && clock.elapsed() < 90000) {
            for (const QString &name : QDir(out_).entryList({QStringLiteral("*.pdf")}, QDir::Files))
                if (!before.contains(name))
                    pdf = QDir(out_).filePath(name);
            QTest::qWait(200);
        }
        QVERIFY2(!pdf.isEmpty(), "no page came out of the printer");
        bool ok = false;
        const QByteArray info = print::tools::run(QStringLiteral("pdfinfo"), {pdf}, &ok);
        QVERIFY2(ok && QRegularExpression(QStringLiteral("Pages:\\s+1\\n")).match(QString::fromUtf8(info)).hasMatch(),
                 info.constData());
    }

private:
    QString queue_, out_;
};

QTEST_MAIN(MapWindowPrint)
#include "MapWindowPrintTest.moc"
