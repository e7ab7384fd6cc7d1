#pragma once
// The private scheduler that the print tests' set-up starts (see
// scripts/cups-test-env.sh), and the one way the tests wait for a printed
// page: by the job's own id, until the scheduler has finished it and the
// queue's PDF of that job is whole.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>
#include <QtTest>

#include <algorithm>

#include <cups/cups.h>

namespace terralume::print::testing {

struct Scheduler {
    QString server, queue, out, script, state;

    bool isSetUp() const { return !server.isEmpty() && !queue.isEmpty() && QDir(out).exists(); }

    // libcups takes the server from the environment; the queue is its
    // default printer, with nothing of the caller's own choosing another.
    void use() const
    {
        qputenv("CUPS_SERVER", server.toLocal8Bit());
        qunsetenv("PRINTER");
        qunsetenv("LPDEST");
        cupsSetServer(nullptr);
    }
};

// From the set-up's state file named by TERRALUME_CUPS_STATE.
inline Scheduler privateScheduler()
{
    Scheduler s;
    s.state = qEnvironmentVariable("TERRALUME_CUPS_STATE");
    s.script = qEnvironmentVariable("TERRALUME_CUPS_SCRIPT");
    QFile file(s.state);
    if (!file.open(QIODevice::ReadOnly))
        return s;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString text = QString::fromLocal8Bit(line);
        const QString key = text.section(u'=', 0, 0), value = text.section(u'=', 1);
        if (key == QLatin1String("CUPS_SERVER"))
            s.server = value;
        else if (key == QLatin1String("TERRALUME_CUPS_QUEUE"))
            s.queue = value;
        else if (key == QLatin1String("TERRALUME_CUPS_OUT"))
            s.out = value;
    }
    return s;
}

struct JobState {
    int id = 0;
    ipp_jstate_t state = IPP_JSTATE_PENDING;
};

// The jobs the scheduler knows on `queue` (finished ones too, by default).
inline QList<JobState> jobsOn(const QString &queue, int which = CUPS_WHICHJOBS_ALL)
{
    cups_job_t *jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.toLocal8Bit().constData(), 0, which);
    QList<JobState> result;
    for (int i = 0; i < count; ++i)
        result.append(JobState{jobs[i].id, jobs[i].state});
    cupsFreeJobs(count, jobs);
    return result;
}

inline int lastJobOn(const QString &queue)
{
    int last = 0;
    for (const JobState &job : jobsOn(queue))
        last = std::max(last, job.id);
    return last;
}

// Polls `done` until it holds or a generous bound runs out; the bound only
// turns a lost job into a failure instead of a hang.
template <typename Condition> bool waitUntil(Condition done, int boundMs = 120000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > boundMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

// The file of the one job put on the queue after `jobBefore` (lastJobOn
// before printing), once the scheduler has completed that job and the
// queue has written the file to its end. Empty, with `why` set, when there was not
// exactly one such job or it did not complete.
inline QString printedPage(const Scheduler &cups, int jobBefore, QString *why = nullptr)
{
    const auto fail = [why](const QString &reason) {
        if (why != nullptr)
            *why = reason;
        return QString();
    };
    QList<JobState> ours;
    for (const JobState &job : jobsOn(cups.queue))
        if (job.id > jobBefore)
            ours.append(job);
    if (ours.size() != 1)
        return fail(QStringLiteral("%1 new jobs on the queue instead of one").arg(ours.size()));
    const int id = ours.front().id;
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    waitUntil([&] {
        for (const JobState &job : jobsOn(cups.queue))
            if (job.id == id)
                state = job.state;
        return state >= IPP_JSTATE_CANCELED;
    });
    if (state != IPP_JSTATE_COMPLETED)
        return fail(QStringLiteral("job %1 ended in state %2").arg(id).arg(int(state)));
    // The queue names every file after its job and renames it into place
    // once written; that it ends as a PDF ends is checked all the same.
    const QString path = QDir(cups.out).filePath(QStringLiteral("job_%1.pdf").arg(id));
    const bool whole = waitUntil([&] {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() < 16)
            return false;
        file.seek(file.size() - 16);
        return file.read(16).contains("%%EOF");
    });
    return whole ? path : fail(QStringLiteral("no whole file of job %1 in %2").arg(id).arg(cups.out));
}

} // namespace terralume::print::testing
