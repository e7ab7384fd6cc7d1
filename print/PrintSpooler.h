#pragma once
// The little the Print command asks of the print spooler directly, beyond
// what QPrinter offers: whether a queue will take a job now, and the hand-over of the finished page with the spooler's answer.

#include <QString>

namespace terralume::print::spooler {

// The spooler's own default destination, as lp uses it: "queue", or
// "queue/instance" for a saved set of options; empty when there is none.
// It also counts when the user's option file names no default of its own.
QString defaultDestination();

struct QueueState {
    bool found = false;
    bool stopped = false;   // disabled: jobs would wait, nothing comes out
    bool accepting = true;  // rejecting: jobs are refused outright
    QString message;        // the spooler's own words about the queue, if any
    bool landscape = false; // the destination's pages run across the paper by default
};
QueueState queueState(const QString &queue);

// Sends a finished print file to `queue` with the queue's default settings and
// an empty title. Returns the job id, or 0 with `error` set to the spooler's
// reason when the job was refused.
int submit(const QString &queue, const QString &fileName, QString &error);

} // namespace terralume::print::spooler
