#include "MapPrinter.h"

#include "JpegRoundTrip.h"
#include "PrintError.h"
#include "PrintSpooler.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <atomic>
#include <chrono>

namespace terralume::print {

namespace {

std::atomic<bool> printerBusy{false};

// The hourglass for the job; afterwards the default cursor, not whatever was
// shown before, so a stacked override cannot outlive a failed job.
class WaitCursor {
public:
    WaitCursor()
    {
        if (qGuiApp != nullptr)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }
    ~WaitCursor()
    {
        if (qGuiApp == nullptr)
            return;
        while (QGuiApplication::overrideCursor() != nullptr)
            QGuiApplication::restoreOverrideCursor();
    }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

// Long enough for a loaded machine's scheduler to answer, short enough that
// a hung one does not freeze the window.
constexpr std::chrono::milliseconds kLookUpPatience{5000};
// Handing over a large page may take a while, but not without end.
constexpr std::chrono::milliseconds kSubmitPatience{30000};

std::string quoted(const QString &name)
{
    return "\"" + name.toStdString() + "\"";
}

} // namespace

PrinterBusy::PrinterBusy()
{
    if (printerBusy.exchange(true))
        throw PrintError("Printing in progress");
}

PrinterBusy::~PrinterBusy()
{
    printerBusy = false;
}

void printPage(const QImage &printBitmap, const PageDescription &page)
{
    WaitCursor cursor;
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
        throw PrintError("The printer " + quoted(info.printerName()) + " is not accepting jobs, so nothing was printed");

    // Qt's print engine writes the page into this file instead of handing it
    // to the spooler itself: it would not tell us when the spooler refuses the
    // job, and it cannot take back a page once drawing has failed.
    QTemporaryFile spool(QDir::tempPath() + QStringLiteral("/terralume-page-XXXXXX.job"));
    if (!spool.open())
        throw PrintError("The page cannot be prepared for the printer: " + spool.errorString().toStdString());
    // The page is laid out the way the printer's defaults turn the paper.
    if (queue.landscape)
        printer.setPageOrientation(QPageLayout::Landscape);
    printer.setOutputFileName(spool.fileName());
    printer.setDocName(QString());

    QPainter painter;
    if (!painter.begin(&printer))
        throw PrintError("Printer selected is not valid");
    try {
        composePage(painter, printer.width(), printer.height(), printer.logicalDpiY(), page, printBitmap,
                    separatorsOf(QLocale::system()));
    } catch (...) {
        painter.end(); // the half-drawn page goes with the temporary file
        throw;
    }
    if (!painter.end() || QFileInfo(spool.fileName()).size() == 0)
        throw PrintError("The page cannot be prepared for the printer");

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

QImage composePdf(QIODevice &device, const QImage &view, const PageDescription &page, const PdfOptions &options)
{
    QImage printBitmap = ReJigPallete(view);
    QPdfWriter writer(&device);
    writer.setCreator(QStringLiteral("Terralume"));
    writer.setResolution(kPdfDotsPerInch);
    const QMarginsF margins(kPdfMarginMillimetres, kPdfMarginMillimetres, kPdfMarginMillimetres,
                            kPdfMarginMillimetres);
    writer.setPageLayout(QPageLayout(QPageSize(options.paper == Paper::A4 ? QPageSize::A4 : QPageSize::Letter),
                                     options.landscape ? QPageLayout::Landscape : QPageLayout::Portrait, margins,
                                     QPageLayout::Millimeter));
    QPainter painter;
    if (!painter.begin(&writer))
        throw PrintError("Cannot write the PDF page");
    composePage(painter, writer.width(), writer.height(), writer.logicalDpiY(), page, printBitmap,
                separatorsOf(QLocale::system()));
    painter.end();
    return printBitmap;
}

QImage composePdf(const QString &fileName, const QImage &view, const PageDescription &page,
                  const PdfOptions &options)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw PrintError("Cannot write the PDF file " + quoted(fileName) + ": " + file.errorString().toStdString());
    QImage printBitmap = composePdf(file, view, page, options);
    if (!file.flush() || file.error() != QFileDevice::NoError)
        throw PrintError("Cannot write the PDF file " + quoted(fileName) + ": " + file.errorString().toStdString());
    return printBitmap;
}

} // namespace terralume::print
