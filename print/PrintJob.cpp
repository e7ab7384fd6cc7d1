#include "MapPrinter.h"

#include "JpegRoundTrip.h"
#include "OutputFile.h"
#include "PdfPage.h"
#include "PrintError.h"
#include "PrintSpooler.h"

#include <QDir>
#include <QPrinter>
#include <QPageSize>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <atomic>
#include <chrono>

namespace terralume::print {

namespace {

std::atomic<bool> printerBusy{false};

// Long enough for a loaded machine's scheduler to answer, short enough that
// a hung one does not freeze the window.
constexpr std::chrono::milliseconds kLookUpPatience{5000};
// Handing over a large page may take a while, but not without end.
constexpr std::chrono::milliseconds kSubmitPatience{30000};

} // namespace

PrinterBusy::PrinterBusy()
{
    if (printerBusy.exchange(true))
        throw PrintError("Printing in progress");
}

PrinterBusy::~PrinterBusy() { printerBusy = false; }

std::optional<Paper> defaultPrinterPaper()
{
    spooler::Connection cups(kLookUpPatience);
    const QString destination = cups.defaultDestination();
    if (destination.isEmpty() || !cups.queueState(destination).found)
        return std::nullopt;
    switch (QPrinterInfo::printerInfo(destination).defaultPageSize().id()) {
    case QPageSize::A4:
        return Paper::A4;
    case QPageSize::Letter:
        return Paper::Letter;
    default:
        return std::nullopt;
    }
}

void printPage(const QImage &printBitmap, const PageDescription &page)
{
    PrinterBusy busy;

    // One look-up on a connection whose waits are bounded: a scheduler that
    // takes the connection and never answers costs seconds, not minutes.
    spooler::Connection cups(kLookUpPatience);
    const QString destination = cups.defaultDestination();
    // Whether no queue is the default or no spooler answers at all, no
    // default printer can be found, and the user is told so in those words.
    if (destination.isEmpty())
        throw PrintError("There is no default printer currently selected");
    const spooler::QueueState queue = cups.queueState(destination);
    // The scheduler has just answered, so Qt's own questions about the
    // queue (its page sizes and margins) find it answering too.
    const QPrinterInfo info = queue.found ? QPrinterInfo::printerInfo(destination) : QPrinterInfo();
    if (info.isNull())
        throw PrintError("Printer selected is not valid");
    QPrinter printer(info, QPrinter::HighResolution);
    if (!printer.isValid())
        throw PrintError("Printer selected is not valid");
    // A stopped queue would keep the job without printing it; say so now
    // rather than leave the user waiting for a page that does not come.
    if (queue.stopped)
        throw PrintError("The printer " + quoted(info.printerName()) + " is stopped, so nothing was printed");
    if (!queue.accepting)
        throw PrintError("The printer " + quoted(info.printerName()) +
                         " is not accepting jobs, so nothing was printed");

    // The page is laid out the way the printer's defaults turn the paper.
    if (queue.landscape)
        printer.setPageOrientation(QPageLayout::Landscape);
    // The page is composed in memory, where a page cut short shows, and the
    // spool file then written all or nothing: Qt's print engine would stop
    // quietly on a full disk and hand the spooler a truncated job. The job
    // goes through a file rather than Qt's own spooling, which would not tell
    // us when the spooler refuses it.
    const QByteArray pageBytes = pdfPage(printBitmap, page, printer.pageLayout(), printer.resolution(), QString());
    if (pageBytes.isEmpty())
        throw PrintError("The page cannot be prepared for the printer");
    QTemporaryFile spool(QDir::tempPath() + QStringLiteral("/terralume-page-XXXXXX.job"));
    if (!spool.open())
        throw PrintError("The page cannot be prepared for the printer: " + spool.errorString().toStdString());
    QString written;
    if (!writeFileAtomically(encodeFileName(spool.fileName()), pageBytes, written))
        throw PrintError("The page cannot be prepared for the printer: " + written.toStdString());

    cups.allow(kSubmitPatience);
    const spooler::Submission job = cups.submit(info.printerName(), spool.fileName());
    if (job.job == 0)
        throw PrintError("The printer " + quoted(info.printerName()) + " refused the job: " + job.error.toStdString());
    if (job.fate == spooler::Submission::Fate::QueueStopped)
        throw PrintError("The printer " + quoted(info.printerName()) + " is stopped, so the job waits in its queue");
    if (job.fate == spooler::Submission::Fate::Held)
        throw PrintError("The printer " + quoted(info.printerName()) + " holds the job, so it waits in its queue");
}

void PrintMap(const QImage &view, const PageDescription &page, QImage &printBitmap)
{
    printBitmap = ReJigPallete(view);
    printPage(printBitmap, page);
}

} // namespace terralume::print
