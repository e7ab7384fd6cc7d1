#include "MapPrinter.h"

#include "JpegRoundTrip.h"
#include "OutputFile.h"
#include "PdfPage.h"
#include "PrintError.h"
#include "PrintSpooler.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QPageSize>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <algorithm>
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
#ifdef Q_OS_WIN
// Fine enough for the title and footer text; a printer with more dots gets
// each sheet pixel stretched.
constexpr int kSheetDotsPerInch = 300;
#endif

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
#ifdef Q_OS_WIN
    // Windows printers take the page in their driver's own language, drawn
    // through GDI. The page is drawn first, in memory, so that a failure
    // while drawing reaches no spooler; the job then sends it whole, and
    // every step the spooler or the driver refuses is seen (Qt's own print
    // engine on Windows ignores a refused end of the job and cannot cancel
    // one).
    const QString printerName = destination;
    if (!queue.found)
        throw PrintError("Printer selected is not valid");
    const spooler::PageGeometry geometry = cups.pageGeometry(destination);
    if (!geometry.isValid())
        throw PrintError("Printer selected is not valid");
#else
    // The scheduler has just answered, so Qt's own questions about the
    // queue (its page sizes and margins) find it answering too.
    const QPrinterInfo info = queue.found ? QPrinterInfo::printerInfo(destination) : QPrinterInfo();
    if (info.isNull())
        throw PrintError("Printer selected is not valid");
    QPrinter printer(info, QPrinter::HighResolution);
    if (!printer.isValid())
        throw PrintError("Printer selected is not valid");
    const QString printerName = info.printerName();
#endif
    // A stopped queue would keep the job without printing it; say so now
    // rather than leave the user waiting for a page that does not come.
    if (queue.stopped)
        throw PrintError("The printer " + quoted(printerName) + " is stopped, so nothing was printed");
    if (!queue.accepting)
        throw PrintError("The printer " + quoted(printerName) + " is not accepting jobs, so nothing was printed");

#ifdef Q_OS_WIN
    // The driver's page already runs the way its default orientation turns
    // the paper. The sheet has square pixels at no more than kSheetDotsPerInch,
    // which keeps it to a few tens of megabytes; the job stretches it over
    // the printable area.
    const int sheetDpi = std::min({kSheetDotsPerInch, geometry.dotsPerInchX, geometry.dotsPerInchY});
    QImage sheet(MulDiv(geometry.width, sheetDpi, geometry.dotsPerInchX),
                 MulDiv(geometry.height, sheetDpi, geometry.dotsPerInchY), QImage::Format_RGB32);
    if (sheet.isNull())
        throw PrintError("The page cannot be prepared for the printer: not enough memory");
    sheet.fill(Qt::white);
    {
        QPainter painter(&sheet);
        composePage(painter, sheet.width(), sheet.height(), sheetDpi, page, printBitmap,
                    separatorsOf(QLocale::system()));
    }
    cups.allow(kSubmitPatience);
    const spooler::Submission job = cups.submit(destination, sheet);
#else
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
    // Qt gives no temporary folder at all when TMPDIR names one that is not
    // there; the spool file would then go to the root folder (or fail there
    // with a reason that names no folder).
    const QString tempFolder = QDir::tempPath();
    if (tempFolder.isEmpty() || !QFileInfo(tempFolder).isDir())
        throw PrintError("The page cannot be prepared for the printer: the temporary folder " +
                         quoted(qEnvironmentVariable("TMPDIR", tempFolder)) + " is missing");
    QTemporaryFile spool(tempFolder + QStringLiteral("/terralume-page-XXXXXX.job"));
    if (!spool.open())
        throw PrintError("The page cannot be prepared for the printer: " + spool.errorString().toStdString());
    QString written;
    if (!writeFileAtomically(encodeFileName(spool.fileName()), pageBytes, written))
        throw PrintError("The page cannot be prepared for the printer: " + written.toStdString());

    cups.allow(kSubmitPatience);
    const spooler::Submission job = cups.submit(printerName, spool.fileName());
#endif
    if (const std::string failure = job.failure(printerName); !failure.empty())
        throw PrintError(failure);
}

std::string spooler::Submission::failure(const QString &printer) const
{
    if (job == 0) {
        switch (lost) {
        case Loss::Queue:
            return "The printer " + quoted(printer) + " went away while the page was being sent to it, so nothing "
                   "was printed";
        case Loss::Service:
            return "The print service went away while the page was being sent to the printer " + quoted(printer) +
                   ", so nothing was printed";
        case Loss::None:
            break;
        }
        return "The printer " + quoted(printer) + " refused the job: " + error.toStdString();
    }
    switch (fate) {
    case Fate::QueueStopped:
        return "The printer " + quoted(printer) + " is stopped, so the job waits in its queue";
    case Fate::Held:
        return "The printer " + quoted(printer) + " holds the job, so it waits in its queue";
    case Fate::Printing:
        break;
    }
    return std::string();
}

void PrintMap(const QImage &view, const PageDescription &page, QImage &printBitmap)
{
    printBitmap = ReJigPallete(view);
    printPage(printBitmap, page);
}

} // namespace terralume::print
