#pragma once
// The little the Print command asks of the system's print spooler directly:
// which queue is the default, whether it will take a job now, and the
// hand-over of the page with the spooler's answer. Each system has its own
// implementation (CUPS, the Windows spooler); what a queue takes, a print
// file or a drawn sheet, is made behind this interface from the same page.

#include "PageComposer.h"

#include <QImage>
#include <QPageSize>
#include <QString>

#include <chrono>
#include <memory>
#include <stop_token>
#include <string>

namespace terralume::print::spooler {

struct QueueState {
    bool found = false;
    bool stopped = false;   // disabled: jobs would wait, nothing comes out
    bool accepting = true;  // rejecting: jobs are refused outright
    bool landscape = false; // the destination's pages run across the paper by default
    QPageSize paper;        // of the destination's default settings, when known
};

struct Submission {
    int job = 0;   // 0 when the spooler refused the job
    QString error; // the spooler's reason for a refusal
    // What became of an accepted job: it may sit in the queue instead of
    // printing, because the queue was stopped meanwhile or holds its jobs.
    enum class Fate { Printing, QueueStopped, Held } fate = Fate::Printing;
    // A job not taken because something went away after the queue was
    // looked up: the queue itself, or the whole print service. The
    // spooler's own last words then say nothing useful (a system error of
    // the broken connection, or "not found").
    enum class Loss { None, Queue, Service } lost = Loss::None;

    // What the user is told of the job on `printer`, word for word; empty
    // when it went to print.
    std::string failure(const QString &printer) const;
};

// One connection to the spooler, on which every wait is bounded by one
// deadline, `patience` from its making and moved on by `submit`. A spooler
// that does not answer by then, or a `stop` requested meanwhile, ends the
// call under way within a fraction of a second: it throws PrintError ("The
// print service did not answer...") or PrintAbandoned, and a job the spooler
// may already have taken is cancelled as soon as it answers again. Making
// the connection throws PrintError when no print service is running.
class Connection {
public:
    explicit Connection(std::chrono::milliseconds patience, std::stop_token stop = {});
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // The default destination; empty when there is none or no spooler
    // answers.
    QString defaultDestination();

    QueueState queueState(const QString &destination);

    // Readies `destination`, as queueState found it, for a page with its
    // default settings. The name the user knows the printer by, or empty
    // when the queue cannot take a page.
    QString open(const QString &destination, const QueueState &queue);

    // Lays out `page` for the queue opened last and draws it in memory, so
    // that a failure while drawing reaches no spooler (the PrintError goes
    // on); a page that cannot be prepared throws PrintError. Then hands it
    // over as a one-page job with an empty title, waiting `patience` at most.
    Submission submit(const QImage &printBitmap, const PageDescription &page, std::chrono::milliseconds patience);

    // What became of `job`, which submit handed over, within the same patience.
    Submission::Fate fate(int job);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace terralume::print::spooler
