#pragma once
// The little the Print command asks of the print spooler directly, beyond
// what QPrinter offers: which queue is the default, whether it will take a
// job now, and the hand-over of the finished page with the spooler's answer.

#include <QString>

#include <chrono>

using http_t = struct _http_s;

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
};

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

    http_t *http_ = nullptr;
    std::chrono::steady_clock::time_point deadline_;
};

} // namespace terralume::print::spooler
