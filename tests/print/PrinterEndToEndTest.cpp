// File > Print against a real scheduler: a private CUPS whose default queue
// is a PDF printer writing into a folder of the test set-up's own.
#include "JpegRoundTrip.h"
#include "PrintJob.h"
#include "PageComposer.h"
#include "PrintError.h"
#include "PrintSpooler.h"
#include "PrivateScheduler.h"
#include "TestMaps.h"
#include "ToolRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

#include <unistd.h>

using namespace terralume;
using namespace terralume::print;

namespace {

// Every job the scheduler knows of on the queue, finished ones included.
int jobCount(const QString &queue) { return int(testing::jobsOn(queue).size()); }

QString failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const PrintError &e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("(no failure)");
}

struct Word {
    QString text;
    QRectF box; // points, from the page's top-left corner
};

// The words of a one-page PDF with their boxes, in reading order.
QList<Word> words(const QString &pdf)
{
    bool ok = false;
    const QString html = QString::fromUtf8(
        tools::run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")}, &ok));
    QList<Word> result;
    static const QRegularExpression word(QStringLiteral(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>"));
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        result.append(Word{m.captured(5), QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                                 QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()))});
    }
    return result;
}

QString joined(const QList<Word> &list)
{
    QStringList texts;
    for (const Word &w : list)
        texts.append(w.text);
    return texts.join(u' ');
}

// The moments of a hand-over at which the scheduler may stop answering.
enum class Moment { BeforeLookUp, QueueFound, Transfer, BeforeFate };

// The hand-over as printPage makes it, step by step, with `silence` called
// just before `moment`. The message it ends with.
QString handOver(spooler::Connection &spool, Moment moment, std::chrono::milliseconds patience,
                 const QImage &printBitmap, const PageDescription &page, const std::function<void()> &silence)
{
    const auto at = [&](Moment step) {
        if (step == moment)
            silence();
    };
    try {
        at(Moment::BeforeLookUp);
        const QString destination = spool.defaultDestination();
        at(Moment::QueueFound);
        const spooler::QueueState state = spool.queueState(destination);
        if (spool.open(destination, state).isEmpty())
            return QStringLiteral("(not opened)");
        at(Moment::Transfer);
        spooler::Submission job = spool.submit(printBitmap, page, patience);
        at(Moment::BeforeFate);
        job.fate = spool.fate(job.job);
        return QString::fromStdString(job.failure(destination));
    } catch (const PrintAbandoned &) {
        return QStringLiteral("(abandoned)");
    } catch (const PrintError &e) {
        return QString::fromUtf8(e.what());
    }
}

// Whether thread `tid` of this process sits in poll(); with `timeoutMs`, in
// one that waits that long (the spooler's own waits are the short ones).
bool inPoll(pid_t tid, int timeoutMs = -1)
{
    QFile file(QStringLiteral("/proc/self/task/%1/syscall").arg(tid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() > 3 && fields[0] == "7" && (timeoutMs < 0 || fields[3].toInt(nullptr, 16) == timeoutMs);
}

PageDescription page()
{
    PageDescription printed = pageFor(QStringLiteral("Printed Isles"), QStringLiteral("Medium"), -5, 10);
    printed.printedAt = QDateTime(QDate(2026, 3, 7), QTime(9, 5));
    return printed;
}

} // namespace

Q_DECLARE_METATYPE(Moment)

class PrinterEndToEnd : public QObject {
    Q_OBJECT

private:
    testing::Scheduler cups;
    QImage view;
    QImage largeBitmap;

    bool admin(const QString &program, const QStringList &arguments)
    {
        bool ok = false;
        tools::run(program, arguments, &ok);
        return ok;
    }
    bool script(const QString &action)
    {
        bool ok = false;
        tools::run(QStringLiteral("sh"), {cups.script, action, cups.state}, &ok);
        return ok;
    }
    // The page of the one job printed since `lastJob`, written whole.
    QString pageAfter(int lastJob)
    {
        QString why;
        const QString pdf = testing::printedPage(cups, lastJob, &why);
        if (pdf.isEmpty())
            qWarning("%s", qPrintable(why));
        return pdf;
    }
    int lastJob() const { return testing::lastJobOn(cups.queue); }
    // Once the scheduler answers again, no job after `before` is left in the
    // queue. One that `mayPrint` was whole with the scheduler before it went
    // silent, and may have printed meanwhile; any other was cancelled, or none
    // was made.
    bool nothingLeftAfter(int before, bool mayPrint) const
    {
        QList<testing::JobState> ours;
        testing::waitUntil([&] {
            ours.clear();
            for (const testing::JobState &job : testing::jobsOn(cups.queue))
                if (job.id > before)
                    ours.append(job);
            return std::all_of(ours.begin(), ours.end(),
                               [](const auto &job) { return job.state >= IPP_JSTATE_CANCELED; });
        });
        return std::all_of(ours.begin(), ours.end(), [&](const auto &job) {
            return job.state == IPP_JSTATE_CANCELED || (mayPrint && job.state == IPP_JSTATE_COMPLETED);
        });
    }
    void printsAgain()
    {
        const int before = lastJob();
        QImage printBitmap;
        QCOMPARE(failureOf([&] { PrintMap(view, page(), printBitmap); }), QStringLiteral("(no failure)"));
        QVERIFY(!pageAfter(before).isEmpty());
    }
    // The hand-over on a thread of its own, the scheduler frozen just before
    // `moment`. Returns once the job waits on the frozen scheduler (in the
    // spooler's own writes, half-way through the page, for the transfer), or
    // has ended; `done` and `failure` then tell how it ended.
    std::thread frozenHandOver(Moment moment, std::chrono::milliseconds patience, std::stop_token stop,
                               std::atomic<bool> &done, QString &failure)
    {
        auto worker = std::make_shared<std::atomic<pid_t>>(0);
        std::thread job([=, this, &done, &failure] {
            spooler::Connection spool(patience, stop);
            failure = handOver(spool, moment, patience, largeBitmap, page(), [&] {
                script(QStringLiteral("freeze"));
                *worker = gettid();
            });
            done = true;
        });
        testing::waitUntil(
            [&] { return done || (*worker != 0 && inPoll(*worker, moment == Moment::Transfer ? 100 : -1)); });
        return job;
    }
    static void moments();
    bool queueIsIdle() const { return testing::jobsOn(cups.queue, CUPS_WHICHJOBS_ACTIVE).isEmpty(); }

private slots:
    void initTestCase();
    void printsTitleMapAndFooterOnTheDefaultPrinter();
    void noDefaultPrinterIsReportedAndNothingIsQueued();
    void refusingQueueIsReportedThenPrintsAgain_data();
    void refusingQueueIsReportedThenPrintsAgain();
    void silentSchedulerIsReportedSoonThenPrintsAgain_data();
    void silentSchedulerIsReportedSoonThenPrintsAgain();
    void silenceAtEachMomentEndsWithinThePatience_data() { moments(); }
    void silenceAtEachMomentEndsWithinThePatience();
    void stopAtEachMomentEndsTheJobAtOnce_data() { moments(); }
    void stopAtEachMomentEndsTheJobAtOnce();
    void heldJobIsReported();
    void queueStoppedBeforeSubmissionIsSeen();
    void printerGoneWhileSendingIsNamed_data();
    void printerGoneWhileSendingIsNamed();
    void missingTempFolderIsNamed();
    void failureWhileDrawingDropsTheJob();
    void secondPrintWhileOneIsOpenIsRefused();
    void userPrinterOptionsStillPrint_data();
    void userPrinterOptionsStillPrint();
    void landscapeDefaultLaysThePageAcross();
};

void PrinterEndToEnd::initTestCase()
{
    cups = testing::privateScheduler();
    QVERIFY2(cups.isSetUp(), "the private scheduler is not set up (TERRALUME_CUPS_STATE)");
    cups.use();
    view = maps::mapView("Medium", -5, 10);
    // A page of a few megabytes, far more than a socket holds, so that a
    // silent scheduler stops its transfer half-way.
    largeBitmap = ReJigPallete(maps::mapView("Large", 0, 0, 2));
}

void PrinterEndToEnd::printsTitleMapAndFooterOnTheDefaultPrinter()
{
    const int before = lastJob();
    const int jobs = jobCount(cups.queue);
    QImage printBitmap;
    PrintMap(view, page(), printBitmap);
    QCOMPARE(jobCount(cups.queue), jobs + 1); // one job, handed over once
    QCOMPARE(printBitmap.format(), QImage::Format_Indexed8);
    QCOMPARE(printBitmap.size(), view.size());

    const QString pdf = pageAfter(before);
    QVERIFY2(!pdf.isEmpty(), "no PDF came out of the queue");

    // The printed words: the spooler's filters turn the page into PostScript
    // and back, which keeps every word's place but not its letters. So the
    // same page is also made by QPrinter straight into a PDF (its text
    // readable), and the two must have the same words in the same places.
    QTemporaryDir dir;
    const QString reference = dir.filePath(QStringLiteral("reference.pdf"));
    PageLayout layout;
    int printerDpi = 0;
    {
        QPrinter printer(QPrinterInfo::defaultPrinter(), QPrinter::HighResolution);
        printer.setOutputFileName(reference);
        QPainter painter(&printer);
        layout = composePage(painter, printer.width(), printer.height(), printer.logicalDpiY(), page(), printBitmap,
                             separatorsOf(QLocale::system()));
        printerDpi = printer.logicalDpiX();
        // The printable area is where the printer puts it on the paper.
        layout.picture.translate(printer.pageLayout().paintRectPixels(printerDpi).topLeft());
    }
    const QList<Word> printed = words(pdf), wanted = words(reference);
    QVERIFY(wanted.size() > 15);
    QCOMPARE(printed.size(), wanted.size());
    // Without the letters' metrics the boxes' heights and first edges are
    // guessed differently; where each word ends and its middle line are not.
    for (qsizetype i = 0; i < wanted.size(); ++i)
        QVERIFY2(std::abs(printed[i].box.right() - wanted[i].box.right()) < 1.5 &&
                     std::abs(printed[i].box.center().y() - wanted[i].box.center().y()) < 3.0,
                 qPrintable(wanted[i].text));
    const QString text = joined(wanted);
    QVERIFY2(text.startsWith(page().caption + QStringLiteral(" Size - Medium, Water Level - -5, Heat Level - 10 ")),
             qPrintable(text));
    QVERIFY(text.contains(kFooterNotice));
    // Title centred near the top; footer from a tenth of the width at the bottom.
    bool ok = false;
    const QString info = QString::fromUtf8(tools::run(QStringLiteral("pdfinfo"), {pdf}, &ok));
    const auto size = QRegularExpression(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+)")).match(info);
    QVERIFY2(size.hasMatch(), qPrintable(info));
    const double width = size.captured(1).toDouble(), height = size.captured(2).toDouble();
    const QRectF titleStart = printed[0].box, titleEnd = printed[3].box, footerStart = printed[4].box;
    QVERIFY(std::abs((titleStart.left() + titleEnd.right()) / 2 - width / 2) < 0.02 * width);
    QVERIFY(titleStart.top() < 0.08 * height);
    QVERIFY(std::abs(footerStart.left() - 0.1 * width) < 0.02 * width);
    QVERIFY(footerStart.bottom() > 0.95 * height);

    // The map: rasterised, the rectangle under the title shows PrintBitmap.
    const int dpi = 100;
    tools::run(QStringLiteral("pdftoppm"),
               {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf,
                dir.filePath(QStringLiteral("page"))},
               &ok);
    QVERIFY(ok);
    const QImage raster = QImage(dir.filePath(QStringLiteral("page.png"))).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!raster.isNull());
    const double scale = double(dpi) / printerDpi;
    const double left = layout.picture.left() * scale, top = layout.picture.top() * scale;
    const double side = layout.picture.width() * scale;
    int matched = 0, samples = 0;
    for (int sy = 2; sy < printBitmap.height() - 2; sy += 9)
        for (int sx = 2; sx < printBitmap.width() - 2; sx += 9) {
            const int x = int(left + (sx + 0.5) * side / printBitmap.width());
            const int y = int(top + (sy + 0.5) * side / printBitmap.height());
            const QRgb shown = raster.pixel(x, y);
            bool near = false;
            for (int dy = -2; dy <= 2 && !near; ++dy)
                for (int dx = -2; dx <= 2 && !near; ++dx) {
                    const QRgb want = printBitmap.pixel(sx + dx, sy + dy);
                    near = std::abs(qRed(want) - qRed(shown)) <= 24 && std::abs(qGreen(want) - qGreen(shown)) <= 24 &&
                           std::abs(qBlue(want) - qBlue(shown)) <= 24;
                }
            matched += near;
            ++samples;
        }
    QVERIFY2(matched >= samples * 95 / 100,
             qPrintable(QStringLiteral("%1 of %2 samples match").arg(matched).arg(samples)));
    // White paper left and right of the picture.
    QCOMPARE(raster.pixel(int(left * 0.5), int(top + side / 2)), qRgb(255, 255, 255));
    QCOMPARE(raster.pixel(int(left + side + left * 0.5), int(top + side / 2)), qRgb(255, 255, 255));
}

void PrinterEndToEnd::noDefaultPrinterIsReportedAndNothingIsQueued()
{
    // A default that is then deleted leaves the scheduler with none.
    const QString spare = cups.queue + QStringLiteral("-spare");
    QVERIFY(admin(QStringLiteral("lpadmin"),
                  {QStringLiteral("-p"), spare, QStringLiteral("-v"), QStringLiteral("file:///dev/null")}));
    QVERIFY(admin(QStringLiteral("lpadmin"), {QStringLiteral("-d"), spare}));
    QVERIFY(admin(QStringLiteral("lpadmin"), {QStringLiteral("-x"), spare}));
    const int jobs = jobCount(cups.queue);
    QImage printBitmap;
    const QString failure = failureOf([&] { PrintMap(view, page(), printBitmap); });
    QVERIFY(admin(QStringLiteral("lpadmin"), {QStringLiteral("-d"), cups.queue}));
    QCOMPARE(failure, QStringLiteral("There is no default printer currently selected"));
    QCOMPARE(jobCount(cups.queue), jobs);
    // The conversion ran before the printer was looked for.
    QCOMPARE(printBitmap.format(), QImage::Format_Indexed8);
}

using Commands = QList<QStringList>; // program and arguments; %1 is the queue

void PrinterEndToEnd::refusingQueueIsReportedThenPrintsAgain_data()
{
    QTest::addColumn<Commands>("refuse");
    QTest::addColumn<Commands>("restore");
    QTest::addColumn<QString>("failure");
    QTest::newRow("disabled") << Commands{{"cupsdisable", "%1"}} << Commands{{"cupsenable", "%1"}}
                              << "The printer \"%1\" is stopped, so nothing was printed";
    QTest::newRow("rejecting") << Commands{{"cupsreject", "%1"}} << Commands{{"cupsaccept", "%1"}}
                               << "The printer \"%1\" is not accepting jobs, so nothing was printed";
    // The queue looks ready, and the scheduler turns the finished job down:
    // one small job fills a quota of one kilobyte.
    QTest::newRow("over quota") << Commands{{"lp", "-d", "%1", "-t", "", "-o", "raw", "%2"},
                                            {"lpadmin", "-p", "%1", "-o", "job-quota-period=604800", "-o",
                                             "job-k-limit=1"}}
                                << Commands{{"lpadmin", "-p", "%1", "-o", "job-quota-period=0", "-o", "job-k-limit=0"}}
                                << "The printer \"%1\" refused the job: Quota limit reached.";
}

void PrinterEndToEnd::refusingQueueIsReportedThenPrintsAgain()
{
    QFETCH(Commands, refuse);
    QFETCH(Commands, restore);
    QFETCH(QString, failure);
    QTemporaryDir dir;
    QFile small(dir.filePath(QStringLiteral("small.txt")));
    QVERIFY(small.open(QIODevice::WriteOnly) && small.write("a small job\n") > 0);
    small.close();
    auto runAll = [&](const Commands &commands) {
        for (QStringList command : commands) {
            command.replaceInStrings(QStringLiteral("%1"), cups.queue);
            command.replaceInStrings(QStringLiteral("%2"), small.fileName());
            if (!admin(command.takeFirst(), command))
                return false;
        }
        return true;
    };
    QVERIFY(runAll(refuse));
    QVERIFY(testing::waitUntil([&] { return queueIsIdle(); }));
    const int jobs = jobCount(cups.queue);
    QImage printBitmap;
    const QString reported = failureOf([&] { PrintMap(view, page(), printBitmap); });
    QVERIFY(runAll(restore));
    QCOMPARE(reported, failure.arg(cups.queue));
    QCOMPARE(jobCount(cups.queue), jobs);
    printsAgain();
}

// A scheduler that is gone refuses the connection; a hung one takes it and
// answers nothing, and must not hold the window for the library's minutes.
void PrinterEndToEnd::silentSchedulerIsReportedSoonThenPrintsAgain_data()
{
    QTest::addColumn<QString>("silence");
    QTest::addColumn<QString>("recover");
    QTest::addColumn<QString>("failure");
    // The queue stays the configured default all the while.
    QTest::newRow("gone") << "halt"
                          << "resume"
                          << "The print service is not running, so nothing was printed";
    QTest::newRow("hung") << "freeze"
                          << "thaw"
                          << "The print service did not answer, so nothing was printed";
}

void PrinterEndToEnd::silentSchedulerIsReportedSoonThenPrintsAgain()
{
    QFETCH(QString, silence);
    QFETCH(QString, recover);
    QFETCH(QString, failure);
    QVERIFY(script(silence));
    QImage printBitmap;
    QElapsedTimer clock;
    clock.start();
    const QString reported = failureOf([&] { PrintMap(view, page(), printBitmap); });
    const qint64 waited = clock.elapsed();
    QVERIFY(script(recover));
    QCOMPARE(reported, failure);
    QVERIFY2(waited < 10000, qPrintable(QStringLiteral("Print took %1 ms to give up").arg(waited)));
    printsAgain();
}

void PrinterEndToEnd::moments()
{
    QTest::addColumn<Moment>("moment");
    QTest::newRow("before the look-up") << Moment::BeforeLookUp;
    QTest::newRow("after the queue was found") << Moment::QueueFound;
    QTest::newRow("during the transfer") << Moment::Transfer;
    QTest::newRow("before the fate query") << Moment::BeforeFate;
}

// The scheduler hangs at one moment of the hand-over: the job ends within
// its patience (two seconds here, and a second the library waits for a
// "100 Continue"), saying so, and nothing prints once it answers again.
void PrinterEndToEnd::silenceAtEachMomentEndsWithinThePatience()
{
    QFETCH(Moment, moment);
    const int before = lastJob();
    std::atomic<bool> done{false};
    QString failure;
    std::thread job = frozenHandOver(moment, std::chrono::seconds(2), {}, done, failure);
    QElapsedTimer clock;
    clock.start();
    testing::waitUntil([&] { return done.load(); });
    const qint64 waited = clock.elapsed();
    job.join();
    QVERIFY(script(QStringLiteral("thaw")));
    QCOMPARE(failure, QStringLiteral("The print service did not answer, so nothing was printed"));
    QVERIFY2(waited < 3200, qPrintable(QStringLiteral("gave up after %1 ms").arg(waited)));
    QVERIFY(nothingLeftAfter(before, moment == Moment::BeforeFate));
    printsAgain();
}

// Stop is requested while the job waits on a hung scheduler: it ends at once,
// and nothing of it is left in the queue once the scheduler answers again.
void PrinterEndToEnd::stopAtEachMomentEndsTheJobAtOnce()
{
    QFETCH(Moment, moment);
    const int before = lastJob();
    std::stop_source stop;
    std::atomic<bool> done{false};
    QString failure;
    std::thread job = frozenHandOver(moment, std::chrono::seconds(60), stop.get_token(), done, failure);
    const bool waiting = !done;
    QElapsedTimer clock;
    clock.start();
    stop.request_stop();
    testing::waitUntil([&] { return done.load(); });
    const qint64 waited = clock.elapsed();
    job.join();
    QVERIFY(script(QStringLiteral("thaw")));
    QVERIFY2(waiting, qPrintable(failure));
    QCOMPARE(failure, QStringLiteral("(abandoned)"));
    QVERIFY2(waited < 1000, qPrintable(QStringLiteral("stopped after %1 ms").arg(waited)));
    QVERIFY(nothingLeftAfter(before, moment == Moment::BeforeFate));
    printsAgain();
}

// An administrator's queue that holds every job until it is released: the
// job is taken but nothing comes out, and the user is told where it is.
void PrinterEndToEnd::heldJobIsReported()
{
    const auto holdUntil = [&](const char *when) {
        return admin(QStringLiteral("lpadmin"), {QStringLiteral("-p"), cups.queue, QStringLiteral("-o"),
                                                 QStringLiteral("job-hold-until-default=") + QLatin1String(when)});
    };
    QVERIFY(holdUntil("indefinite"));
    const int jobs = jobCount(cups.queue);
    QImage printBitmap;
    const QString failure = failureOf([&] { PrintMap(view, page(), printBitmap); });
    const bool restored = holdUntil("no-hold") && admin(QStringLiteral("cancel"), {QStringLiteral("-a"), cups.queue});
    QCOMPARE(failure, QStringLiteral("The printer \"%1\" holds the job, so it waits in its queue").arg(cups.queue));
    QCOMPARE(jobCount(cups.queue), jobs + 1);
    QVERIFY(restored);
}

// The queue looked ready, and was disabled while the page was composed.
void PrinterEndToEnd::queueStoppedBeforeSubmissionIsSeen()
{
    spooler::Connection spool(std::chrono::seconds(5));
    const spooler::QueueState state = spool.queueState(cups.queue);
    QVERIFY(!state.stopped);
    QCOMPARE(spool.open(cups.queue, state), cups.queue);
    QVERIFY(admin(QStringLiteral("cupsdisable"), {cups.queue}));
    spooler::Submission job = spool.submit(ReJigPallete(view), page(), std::chrono::seconds(5));
    job.fate = spool.fate(job.job);
    const bool restored = admin(QStringLiteral("cancel"), {QStringLiteral("-a"), cups.queue}) &&
                          admin(QStringLiteral("cupsenable"), {cups.queue});
    QVERIFY2(job.job != 0, qPrintable(job.error));
    QCOMPARE(int(job.fate), int(spooler::Submission::Fate::QueueStopped));
    QVERIFY(restored);
}

// The queue was looked up and found ready; while the page was composed, the
// scheduler was stopped or the queue removed. The job is never taken, and
// the user learns what went away, not the library's last system error.
void PrinterEndToEnd::printerGoneWhileSendingIsNamed_data()
{
    QTest::addColumn<QString>("queue"); // %1 is the test's queue
    QTest::addColumn<Commands>("remove");
    QTest::addColumn<Commands>("restore");
    QTest::addColumn<QString>("failure");
    QTest::newRow("scheduler killed") << "%1" << Commands{{"sh", "%s", "halt", "%t"}}
                                      << Commands{{"sh", "%s", "resume", "%t"}}
                                      << "The print service went away while the page was being sent to the "
                                         "printer \"%1\", so nothing was printed";
    QTest::newRow("queue deleted") << "%1-gone" << Commands{{"lpadmin", "-x", "%1-gone"}} << Commands{}
                                   << "The printer \"%1-gone\" went away while the page was being sent to it, so "
                                      "nothing was printed";
}

void PrinterEndToEnd::printerGoneWhileSendingIsNamed()
{
    QFETCH(QString, queue);
    QFETCH(Commands, remove);
    QFETCH(Commands, restore);
    QFETCH(QString, failure);
    queue = queue.arg(cups.queue);
    if (queue != cups.queue)
        QVERIFY(admin(QStringLiteral("lpadmin"), {QStringLiteral("-p"), queue, QStringLiteral("-E"),
                                                  QStringLiteral("-v"), QStringLiteral("file:///dev/null")}));
    auto runAll = [&](const Commands &commands) {
        for (QStringList command : commands) {
            command.replaceInStrings(QStringLiteral("%1"), cups.queue);
            command.replaceInStrings(QStringLiteral("%s"), cups.script);
            command.replaceInStrings(QStringLiteral("%t"), cups.state);
            if (!admin(command.takeFirst(), command))
                return false;
        }
        return true;
    };
    const QImage printBitmap = ReJigPallete(view);
    const int jobs = jobCount(cups.queue);
    spooler::Submission job;
    {
        spooler::Connection spool(std::chrono::seconds(5));
        QCOMPARE(spool.open(queue, spool.queueState(queue)), queue);
        QVERIFY(runAll(remove));
        job = spool.submit(printBitmap, page(), std::chrono::seconds(5));
    }
    QVERIFY(runAll(restore));
    QCOMPARE(QString::fromStdString(job.failure(queue)), failure.arg(cups.queue));
    QCOMPARE(jobCount(cups.queue), jobs);
}

// TMPDIR names a folder that is not there: nothing is sent, and the folder
// is named, since the system's reason names none.
void PrinterEndToEnd::missingTempFolderIsNamed()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone"));
    const QByteArray tmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(missing));
    const int jobs = jobCount(cups.queue);
    QImage printBitmap;
    const QString failure = failureOf([&] { PrintMap(view, page(), printBitmap); });
    tmpdir.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmpdir);
    QCOMPARE(failure,
             QStringLiteral("The page cannot be prepared for the printer: the temporary folder \"%1\" is missing")
                 .arg(missing));
    QCOMPARE(jobCount(cups.queue), jobs);
}

void PrinterEndToEnd::failureWhileDrawingDropsTheJob()
{
    const int jobs = jobCount(cups.queue);
    // A picture that was never converted fails inside the open job.
    const QString failure = failureOf([&] { printPage(view, page()); });
    QCOMPARE(failure, QStringLiteral("There is no converted picture to print"));
    QCOMPARE(jobCount(cups.queue), jobs);

    // The printer is not left busy: the next Print goes through.
    printsAgain();
}

void PrinterEndToEnd::secondPrintWhileOneIsOpenIsRefused()
{
    const int jobs = jobCount(cups.queue);
    QString failure;
    {
        PrinterBusy open;
        QImage printBitmap;
        failure = failureOf([&] { PrintMap(view, page(), printBitmap); });
    }
    QCOMPARE(failure, QStringLiteral("Printing in progress"));
    QCOMPARE(jobCount(cups.queue), jobs);
}

// The user's own option file (what lpoptions writes): naming the queue with
// options but no default, or making a saved instance of it the default. lp
// prints in both cases, and so must File > Print.
void PrinterEndToEnd::userPrinterOptionsStillPrint_data()
{
    QTest::addColumn<QString>("options");
    QTest::newRow("queue named, no default") << QStringLiteral("Dest %1 sides=one-sided\n");
    QTest::newRow("an instance as the default")
        << QStringLiteral("Dest %1/single sides=one-sided\nDefault %1/single\n");
}

void PrinterEndToEnd::userPrinterOptionsStillPrint()
{
    QFETCH(QString, options);
    // The test runs with a home folder of its own (see its CMake entry).
    const QDir home(QDir::homePath());
    QVERIFY(home.mkpath(QStringLiteral(".cups")));
    QFile file(home.filePath(QStringLiteral(".cups/lpoptions")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(options.arg(cups.queue).toLocal8Bit());
    file.close();
    struct RemoveAfter {
        QFile &file;
        ~RemoveAfter() { file.remove(); }
    } removeAfter{file};

    const int before = lastJob();
    const int jobs = jobCount(cups.queue);
    QImage printBitmap;
    const QString failure = failureOf([&] { PrintMap(view, page(), printBitmap); });
    QCOMPARE(failure, QStringLiteral("(no failure)"));
    QCOMPARE(jobCount(cups.queue), jobs + 1);
    QVERIFY(!pageAfter(before).isEmpty());
}

// A queue whose pages run across the paper by default gets the page laid out
// that way: on the portrait sheet that comes out, the title runs up the left
// edge (its word boxes are taller than wide), not upside down at the foot.
void PrinterEndToEnd::landscapeDefaultLaysThePageAcross()
{
    const auto orientation = [&](const char *code) {
        return admin(QStringLiteral("lpadmin"),
                     {QStringLiteral("-p"), cups.queue, QStringLiteral("-o"),
                      QStringLiteral("orientation-requested-default=") + QLatin1String(code)});
    };
    QVERIFY(orientation("4"));
    struct Restore {
        std::function<bool(const char *)> set;
        ~Restore() { set("3"); }
    } restore{orientation};

    const int before = lastJob();
    QImage printBitmap;
    PrintMap(view, page(), printBitmap);
    const QString pdf = pageAfter(before);
    QVERIFY(!pdf.isEmpty());
    // The filters keep the words' places, not their letters: judge by the boxes.
    const QList<Word> printed = words(pdf);
    QVERIFY(printed.size() > 10);
    qsizetype upright = 0;
    double leftmost = 1e9;
    for (const Word &word : printed) {
        upright += word.box.height() > word.box.width();
        leftmost = std::min(leftmost, word.box.center().x());
    }
    QVERIFY2(upright * 10 >= printed.size() * 8, "the lines of text should run up the sheet");
    bool ok = false;
    const QString info = QString::fromUtf8(tools::run(QStringLiteral("pdfinfo"), {pdf}, &ok));
    const auto size = QRegularExpression(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+)")).match(info);
    QVERIFY2(size.hasMatch(), qPrintable(info));
    // The title, at the top of the page laid across, is at the sheet's left.
    QVERIFY(leftmost < 0.25 * size.captured(1).toDouble());
}

QTEST_MAIN(PrinterEndToEnd)
#include "PrinterEndToEndTest.moc"
