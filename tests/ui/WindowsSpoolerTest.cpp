// File > Print through the Windows spooler, which hands its jobs to the PDF
// queue named by TERRALUME_CUPS_QUEUE; the queue writes each job into the
// folder TERRALUME_CUPS_OUT as job_ID.pdf once it is whole.
#include "PrintJob.h"
#include "PrintError.h"
#include "PrintSpooler.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QtTest>

#include <windows.h>
#include <winspool.h>

using namespace terralume;
using namespace terralume::ui;
using namespace terralume::ui::testing;

class WindowsSpooler : public QObject {
    Q_OBJECT

    QString queue_;
    QDir out_;

    QStringList pages() const { return out_.entryList({QStringLiteral("job_*.pdf")}, QDir::Files, QDir::Name); }

private slots:
    void initTestCase()
    {
        queue_ = qEnvironmentVariable("TERRALUME_CUPS_QUEUE");
        out_.setPath(qEnvironmentVariable("TERRALUME_CUPS_OUT"));
        QVERIFY2(!queue_.isEmpty() && out_.exists(), "no PDF queue given");
        // The queue is the user's default printer, whatever an earlier run
        // of this prefix left as the default.
        QVERIFY(SetDefaultPrinterW(reinterpret_cast<const wchar_t *>(queue_.utf16())));
    }

    void spoolerSeesTheQueue()
    {
        print::spooler::Connection spooler(std::chrono::seconds(5));
        QCOMPARE(spooler.defaultDestination(), queue_);
        const print::spooler::QueueState state = spooler.queueState(queue_);
        QVERIFY(state.found);
        QVERIFY(!state.stopped);
        QVERIFY(state.accepting);
        QCOMPARE(spooler.open(queue_, state), queue_);
        QVERIFY(!spooler.queueState(QStringLiteral("no such printer")).found);
        // Found a moment ago, gone now: no device context, no page.
        QVERIFY(spooler.open(QStringLiteral("no such printer"), state).isEmpty());
    }

    // A page that fails while it is drawn reaches no queue: after it, one
    // Print from the map window gives exactly one new page.
    void failedPageIsDroppedAndPrintGivesOnePage()
    {
        const QStringList before = pages();
        QImage unconverted(64, 64, QImage::Format_RGB16);
        unconverted.fill(Qt::blue);
        QString failure;
        try {
            print::printPage(unconverted, print::PageDescription{});
        } catch (const print::PrintError &error) {
            failure = QString::fromStdString(error.what());
        }
        QCOMPARE(failure, QStringLiteral("There is no converted picture to print"));

        Program program;
        find<QComboBox>(program.World1, "lstSize")->setCurrentText(QStringLiteral("Small"));
        find<QLineEdit>(program.World1, "edTitle")->setText(QStringLiteral("Printed Under Windows"));
        ErrorBoxWatcher boxes;
        // The map stays open until the job has ended: closing it gives the
        // job up.
        bool ended = false;
        const bool ran = withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &window) {
            QSignalSpy jobEnded(&window, &TWorldScr::jobEnded);
            find<QAction>(window, "PrintMap1")->trigger();
            ended = !jobEnded.isEmpty() || jobEnded.wait(120000);
        });
        QVERIFY(ended);
        QVERIFY(ran);
        QVERIFY2(boxes.boxes().isEmpty(), qPrintable(boxes.boxes().value(0).text));

        // Jobs leave the queue in order, so once a new page is whole any
        // page of the dropped job would be there as well.
        QTRY_VERIFY_WITH_TIMEOUT(pages().size() > before.size(), 120000);
        QStringList added = pages();
        for (const QString &name : before)
            added.removeOne(name);
        QCOMPARE(added.size(), 1);
        QFile pdf(out_.filePath(added.first()));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(pdf.readAll());
        QCOMPARE(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![s\\w])"))), 1);
    }

    // Run alone by the test stage while the queue rejects jobs: the spooler
    // takes the page but refuses the job at its end, and the user is told.
    void refusedJobIsReported()
    {
        if (qEnvironmentVariableIsEmpty("TERRALUME_CUPS_REJECTING"))
            QSKIP("the queue accepts jobs");
        QImage view(256, 256, QImage::Format_RGB16);
        view.fill(Qt::darkGreen);
        QImage printBitmap;
        QString failure;
        try {
            print::PrintMap(view, print::PageDescription{}, printBitmap);
        } catch (const print::PrintError &error) {
            failure = QString::fromStdString(error.what());
        }
        const QString refused = QStringLiteral("The printer \"%1\" refused the job: ").arg(queue_);
        QVERIFY2(failure.startsWith(refused) && failure.size() > refused.size(), qPrintable(failure));
    }
};

QTEST_MAIN(WindowsSpooler)
#include "WindowsSpoolerTest.moc"
