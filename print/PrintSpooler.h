#pragma once
// The little the Print command asks of the print spooler directly, beyond
// what QPrinter offers: which queue is the default, whether it will take a
// job now, and the hand-over of the finished page with the spooler's answer.

#include <QString>
#include <QtGlobal>

#include <chrono>
#include <string>

class QImage;

#ifndef Q_OS_WIN
using http_t = struct _http_s;
#endif

namespace terralume::print::spooler {

struct QueueState {
    bool found = false;
    bool stopped = false;   // disabled: jobs would wait, nothing comes out
    bool accepting = true;  // rejecting: jobs are refused outright
    QString message;        // the spooler's own words about the queue, if any
    bool landscape = false; // the destination's pages run across the paper by default
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

#ifdef Q_OS_WIN
// The printable area of a queue's page with the queue's default settings
// (paper, orientation, resolution), as its driver reports it.
struct PageGeometry {
    int width = 0;  // device pixels
    int height = 0; // device pixels
    int dotsPerInchX = 0;
    int dotsPerInchY = 0;
    bool isValid() const { return width > 0 && height > 0 && dotsPerInchX > 0 && dotsPerInchY > 0; }
};

// The Windows print spooler. Its calls answer from the local spooler
// service, which forwards to remote queues itself, so there is no
// connection to bound: `patience` is kept for the same interface.
class Connection {
public:
    explicit Connection(std::chrono::milliseconds patience);
    void allow(std::chrono::milliseconds patience);

    // The user's default printer; empty when there is none.
    QString defaultDestination();

    // Paused or offline counts as stopped, a queue being deleted as not
    // accepting; the orientation is that of the queue's default settings.
    QueueState queueState(const QString &destination);

    // Invalid when no device context can be made for the queue.
    PageGeometry pageGeometry(const QString &destination);

    // Prints `sheet`, the whole printable area already drawn, as a one-page
    // job with an empty document name, stretched over the area
    // `pageGeometry` reported. Every step of the job is checked: a step the
    // spooler or the driver refuses cancels the job, and its reason comes
    // back. Then asks what became of the job.
    Submission submit(const QString &destination, const QImage &sheet);
};
#else
// One connection to the spooler the library would use (CUPS_SERVER, the
// client configuration, the local socket), on which every wait is bounded.
// The library's own connection waits a minute for each request when the
// scheduler takes the connection and never answers (a hung scheduler);
// here the connection and every request share one deadline, which
// `allow` moves on. Once a wait has run out, the calls fail quickly as if
// no spooler answered.
class Connection {
public:
    explicit Connection(std::chrono::milliseconds patience);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // A new deadline, `patience` from now.
    void allow(std::chrono::milliseconds patience);

    // The spooler's own default destination, as lp uses it: "queue", or
    // "queue/instance" for a saved set of options; empty when there is none
    // or no spooler answers. It also counts when the user's option file names
    // no default of its own.
    QString defaultDestination();

    QueueState queueState(const QString &destination);

    // Sends a finished print file to `destination` with its default settings
    // and an empty title, then asks what became of the job.
    Submission submit(const QString &destination, const QString &fileName);

private:
    static int keepWaiting(http_t *http, void *self);
    // After a failed hand-over: whether the queue or the spooler is gone.
    Submission::Loss whatWentAway(const QString &destination);

    http_t *http_ = nullptr;
    std::chrono::steady_clock::time_point deadline_;
};
#endif

} // namespace terralume::print::spooler
