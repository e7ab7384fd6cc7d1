#include "PrintJob.h"

#include "JpegRoundTrip.h"
#include "PrintError.h"
#include "PrintSpooler.h"

#include <QPageSize>

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
    QPageSize paper;
    try {
        spooler::Connection connection(kLookUpPatience);
        const QString destination = connection.defaultDestination();
        if (!destination.isEmpty())
            paper = connection.queueState(destination).paper;
    } catch (const PrintError &) {
        return std::nullopt;
    }
    switch (paper.id()) {
    case QPageSize::A4:
        return Paper::A4;
    case QPageSize::Letter:
        return Paper::Letter;
    default:
        return std::nullopt;
    }
}

void printPage(const QImage &printBitmap, const PageDescription &page, std::stop_token stop)
{
    PrinterBusy busy;

    // One look-up on a connection whose waits are bounded: a scheduler that
    // takes the connection and never answers costs seconds, not minutes.
    spooler::Connection connection(kLookUpPatience, stop);
    const QString destination = connection.defaultDestination();
    if (destination.isEmpty())
        throw PrintError("There is no default printer currently selected");
    const spooler::QueueState queue = connection.queueState(destination);
    const QString printerName = connection.open(destination, queue);
    if (printerName.isEmpty())
        throw PrintError("Printer selected is not valid");
    // A stopped queue would keep the job without printing it; say so now
    // rather than leave the user waiting for a page that does not come.
    if (queue.stopped)
        throw PrintError("The printer " + quoted(printerName) + " is stopped, so nothing was printed");
    if (!queue.accepting)
        throw PrintError("The printer " + quoted(printerName) + " is not accepting jobs, so nothing was printed");

    spooler::Submission job = connection.submit(printBitmap, page, kSubmitPatience);
    if (job.job != 0)
        job.fate = connection.fate(job.job);
    if (const std::string failure = job.failure(printerName); !failure.empty())
        throw PrintError(failure);
}

std::string spooler::Submission::failure(const QString &printer) const
{
    if (job == 0) {
        switch (lost) {
        case Loss::Queue:
            return "The printer " + quoted(printer) +
                   " went away while the page was being sent to it, so nothing was printed";
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

void PrintMap(const QImage &view, const PageDescription &page, QImage &printBitmap,
              const std::function<void()> &jobStarts, std::stop_token stop)
{
    printBitmap = ReJigPallete(view);
    if (jobStarts)
        jobStarts();
    printPage(printBitmap, page, stop);
}

} // namespace terralume::print
