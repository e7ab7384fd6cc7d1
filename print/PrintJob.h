#pragma once
// The Print command of the map window: the job on the system's default
// printer, through the spooler of this platform (PrintSpooler.h).

#include "MapPrinter.h"
#include "PageComposer.h"

#include <QImage>

#include <functional>
#include <optional>
#include <stop_token>

namespace terralume::print {

// File > Print: converts `view` (the displayed 5-6-5 picture) into
// `printBitmap` with ReJigPallete, then prints one page on the system's
// default printer with that printer's default settings, no dialog.
//
// - A JPEG failure throws before anything else happens: `printBitmap` keeps
//   what it held.
// - Otherwise `printBitmap` is replaced and the job runs.
// - Failures throw PrintError with the message the user sees:
//   "There is no default printer currently selected", "Printer selected is
//   not valid", "Printing in progress" (another job of this process is open),
//   the queue being stopped or rejecting jobs,
//   the spooler refusing the finished job, the queue or the print service
//   going away while the page is sent, or the spooler keeping the job
//   waiting in the queue (stopped meanwhile, or holding its jobs), or the
//   page not fitting in the temporary folder (with the system's reason, or
//   naming the folder when it is missing; nothing is submitted), the print
//   service not running, or not answering in time (a few seconds for the
//   look-up, half a minute for the hand-over; nothing is printed then).
// - Once `stop` is requested, the job ends within a fraction of a second
//   with PrintAbandoned, and nothing of it is printed.
// - A failure while the page is being drawn drops the job: nothing reaches
//   the spooler, and the next Print starts afresh.
// `page.printedAt`, when not valid, becomes the local time of the footer.
// `jobStarts`, when given, is called between the conversion and the job (the
// window shows its hourglass for the job only), on the calling thread.
// Needs a QGuiApplication, but may run on any thread: the window runs it on
// one of its own, so that it keeps answering during the job. Two jobs of one
// process never run at once (see PrinterBusy).
void PrintMap(const QImage &view, const PageDescription &page, QImage &printBitmap,
              const std::function<void()> &jobStarts = {}, std::stop_token stop = {});

// The job half of PrintMap, for a PrintBitmap made already.
void printPage(const QImage &printBitmap, const PageDescription &page, std::stop_token stop = {});

// Holds this process's printer as busy while alive: a Print started meanwhile
// fails with "Printing in progress". PrintMap holds one for its job.
class PrinterBusy {
public:
    PrinterBusy();
    ~PrinterBusy();
    PrinterBusy(const PrinterBusy &) = delete;
    PrinterBusy &operator=(const PrinterBusy &) = delete;
};

// The paper of the default printer when it is A4 or Letter, found by the same
// bounded look-up as Print; nothing when no spooler answers in time, no
// queue is the default or it takes another paper.
std::optional<Paper> defaultPrinterPaper();

} // namespace terralume::print
