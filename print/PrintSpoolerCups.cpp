#include "PrintSpooler.h"

#include "MapPrinter.h"
#include "OutputFile.h"
#include "PrintError.h"
#include "WorkerThreads.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QTemporaryFile>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include <cups/cups.h>
#include <sys/socket.h>
#include <unistd.h>

namespace terralume::print::spooler {

namespace {

using Clock = std::chrono::steady_clock;

// How often a silent wait asks whether the deadline has passed or the job was
// given up.
constexpr double kPollSeconds = 0.1;
// The page is laid out as Qt lays out a printer's page at high resolution,
// with Qt's margins unless the paper's printable area is smaller.
constexpr int kDotsPerInch = 1200;
constexpr double kMarginPoints = 10;
// How long a job given up after the spooler may have taken it is watched, so
// that it is cancelled once the spooler answers again.
constexpr std::chrono::minutes kCancelPatience{10};

// A destination named "queue/instance" is the queue with a saved set of
// options; the spooler knows the two parts apart.
cups_dest_t *findDestination(http_t *http, const QString &destination)
{
    const QByteArray queue = destination.section(u'/', 0, 0).toLocal8Bit();
    const QByteArray instance = destination.section(u'/', 1).toLocal8Bit();
    return cupsGetNamedDest(http, queue.constData(), instance.isEmpty() ? nullptr : instance.constData());
}

// A request about the queue `name`, as "printers/name", or the job `number`, as "jobs/number".
ipp_t *newRequest(ipp_op_t operation, const char *kind, const char *name)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/%s/%s", kind,
                     name);
    ipp_t *request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, kind[0] == 'j' ? "job-uri" : "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

// As lp names it: "queue", or "queue/instance" for a saved set of options.
QString nameOf(const cups_dest_t *dest)
{
    QString name = QString::fromLocal8Bit(dest->name);
    if (dest->instance != nullptr)
        name += u'/' + QString::fromLocal8Bit(dest->instance);
    return name;
}

ipp_t *jobRequest(ipp_op_t operation, int job)
{
    return newRequest(operation, "jobs", QByteArray::number(job).constData());
}

int patiently(http_t *, void *until) { return Clock::now() < *static_cast<Clock::time_point *>(until) ? 1 : 0; }

// Takes over `http`, on which the spooler may still announce `job` (0: the
// job whose creation it has not answered yet), and cancels that job once the
// spooler answers again, on a thread of its own so that nobody waits for it.
// With no thread to be had the job is left to the spooler: waiting here for
// a spooler that may not answer for minutes is what the caller gave up.
void cancelOnceAnswered(http_t *http, int job)
{
    std::jthread canceller = startThread([http, job](std::stop_token) mutable {
        Clock::time_point giveUp = Clock::now() + kCancelPatience;
        httpSetTimeout(http, 1.0, patiently, &giveUp);
        if (job == 0) {
            ipp_t *response = cupsGetResponse(http, "/");
            job = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
            ippDelete(response);
        }
        // A fresh connection each time: the old one may hold half a request,
        // and a spooler that went away may come back.
        while (job != 0 && Clock::now() < giveUp) {
            if (httpReconnect2(http, 1000, nullptr) == 0) {
                if (ipp_t *response = cupsDoRequest(http, jobRequest(IPP_OP_CANCEL_JOB, job), "/jobs/")) {
                    ippDelete(response);
                    break;
                }
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        httpClose(http);
    });
    if (canceller.joinable())
        canceller.detach();
    else
        httpClose(http);
}

} // namespace

// The connection the library would use (CUPS_SERVER, the client
// configuration, the local socket). The library's own connection waits a
// minute for each request when the scheduler takes the connection and never
// answers (a hung scheduler), and Qt's printer classes ask on it; here the
// connection and every request share the deadline, and nothing else asks.
struct Connection::Private {
    ~Private()
    {
        if (!server_.isEmpty())
            cupsSetServer(server_.constData());
        stopWatch_.reset();
        if (socket_ >= 0)
            close(socket_);
        if (http_ != nullptr)
            httpClose(http_);
        cupsFreeDests(dest_ ? 1 : 0, dest_);
    }
    bool silent() const { return stop_.stop_requested() || Clock::now() >= deadline_; }
    // After a call that came to nothing, or before one: a wait that was ended
    // is reported as such, not as whatever the library last said.
    [[noreturn]] void throwSilence() const
    {
        if (stop_.stop_requested())
            throw PrintAbandoned();
        throw PrintError("The print service did not answer, so nothing was printed");
    }
    void throwIfSilent() const
    {
        if (silent())
            throwSilence();
    }
    // Shut on a stop, the connection ends even the library's fixed waits (a
    // second for "100 Continue") at once; it is not while it carries the
    // answer that tells whether a job was made. A second descriptor of its
    // socket is shut, since the library may close and reuse its own.
    void shutOnStop(bool shut)
    {
        const std::lock_guard lock(socketMutex_);
        if (socket_ >= 0)
            close(socket_);
        socket_ = shut && http_ != nullptr ? dup(httpGetFd(http_)) : -1;
    }
    // A job the spooler took, or may yet take, whose end nobody waits for.
    [[noreturn]] void giveUp(int job)
    {
        cancelOnceAnswered(http_, job);
        http_ = nullptr;
        throwSilence();
    }
    // After a failed hand-over: whether the queue or the spooler is gone.
    Submission::Loss whatWentAway(const QString &destination);

    http_t *http_ = nullptr;
    Clock::time_point deadline_;
    std::stop_token stop_;
    std::mutex socketMutex_;
    int socket_ = -1;
    std::optional<std::stop_callback<std::function<void()>>> stopWatch_;
    // The thread's own server while this connection lives: the library falls
    // back on it, with its minute-long waits, when a queue is not found here.
    QByteArray server_;
    cups_dest_t *dest_ = nullptr; // the queue queueState found, with its options
    QPageLayout layout_;
};

Connection::Connection(std::chrono::milliseconds patience, std::stop_token stop) : d_(std::make_unique<Private>())
{
    d_->deadline_ = Clock::now() + patience;
    d_->stop_ = stop;
    d_->throwIfSilent();
    const int connectMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(patience.count(), 1));
    d_->http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, connectMs, nullptr);
    if (d_->http_ == nullptr) {
        d_->throwIfSilent();
        throw PrintError("The print service is not running, so nothing was printed");
    }
    d_->server_ = cupsServer();
    cupsSetServer("/dev/null");
    httpSetTimeout(
        d_->http_, kPollSeconds, [](http_t *, void *self) { return static_cast<Private *>(self)->silent() ? 0 : 1; },
        d_.get());
    d_->shutOnStop(true);
    d_->stopWatch_.emplace(d_->stop_, [d = d_.get()] {
        const std::lock_guard lock(d->socketMutex_);
        if (d->socket_ >= 0)
            shutdown(d->socket_, SHUT_RDWR);
    });
}

Connection::~Connection() = default;

Submission::Loss Connection::Private::whatWentAway(const QString &destination)
{
    throwIfSilent();
    // A scheduler that was stopped leaves its socket unanswered, so the
    // connection cannot be made again; one that answers is asked for the queue.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    if (httpReconnect2(http_, static_cast<int>(left.count()), nullptr) != 0)
        return Submission::Loss::Service;
    if (cups_dest_t *dest = findDestination(http_, destination)) {
        cupsFreeDests(1, dest);
        return Submission::Loss::None;
    }
    throwIfSilent();
    return cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND ? Submission::Loss::Queue : Submission::Loss::None;
}

// As lp finds it, also when the user's option file names no default of its own.
QString Connection::defaultDestination()
{
    d_->throwIfSilent();
    cups_dest_t *dest = cupsGetNamedDest(d_->http_, nullptr, nullptr);
    if (dest == nullptr) {
        d_->throwIfSilent();
        return QString();
    }
    cupsFreeDests(d_->dest_ ? 1 : 0, d_->dest_);
    d_->dest_ = dest;
    return nameOf(dest);
}

// The queue's state, default paper, printable area and orientation, asked of
// the queue itself: the library, asked for a queue by name, falls back on
// its own connection when the scheduler does not answer.
QueueState Connection::queueState(const QString &destination)
{
    d_->throwIfSilent();
    QueueState state;
    http_t *http = d_->http_;
    if (d_->dest_ == nullptr || nameOf(d_->dest_) != destination) {
        cupsFreeDests(d_->dest_ ? 1 : 0, d_->dest_);
        d_->dest_ = findDestination(http, destination);
    }
    cups_dest_t *dest = d_->dest_;
    if (dest == nullptr) {
        d_->throwIfSilent();
        return state;
    }
    ipp_t *request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "printers", dest->name);
    static const char *const wanted[] = {"printer-state", "printer-is-accepting-jobs", "media-col-default",
                                         "orientation-requested-default"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr, wanted);
    ipp_t *response = cupsDoRequest(http, request, "/");
    if (response == nullptr)
        d_->throwIfSilent();
    state.found = ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
    state.stopped = ippGetInteger(ippFindAttribute(response, "printer-state", IPP_TAG_ENUM), 0) == IPP_PSTATE_STOPPED;
    state.accepting = ippGetBoolean(ippFindAttribute(response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN), 0) != 0;
    // The user's saved choice first, then the queue's own default.
    int orientation = ippGetInteger(ippFindAttribute(response, "orientation-requested-default", IPP_TAG_ENUM), 0);
    if (const char *saved = cupsGetOption("orientation-requested", dest->num_options, dest->options))
        orientation = atoi(saved);
    state.landscape = orientation == IPP_ORIENT_LANDSCAPE || orientation == IPP_ORIENT_REVERSE_LANDSCAPE;
    // Sizes and margins in hundredths of a millimetre.
    ipp_t *media = ippGetCollection(ippFindAttribute(response, "media-col-default", IPP_TAG_BEGIN_COLLECTION), 0);
    ipp_t *size = ippGetCollection(ippFindAttribute(media, "media-size", IPP_TAG_BEGIN_COLLECTION), 0);
    const auto points = [&](ipp_t *collection, const char *name) {
        return ippGetInteger(ippFindAttribute(collection, name, IPP_TAG_INTEGER), 0) * 72.0 / 2540.0;
    };
    const QSizeF paper(points(size, "x-dimension"), points(size, "y-dimension"));
    if (!paper.isEmpty())
        state.paper = QPageSize(paper, QPageSize::Point, QString(), QPageSize::FuzzyMatch);
    // A queue that names no paper (a raw one) gets Qt's own default.
    const auto margin = [&](const char *name) { return std::max(kMarginPoints, points(media, name)); };
    d_->layout_ = QPageLayout(state.paper.isValid() ? state.paper : QPageSize(QPageSize::A4), QPageLayout::Portrait,
                              QMarginsF(margin("media-left-margin"), margin("media-top-margin"),
                                        margin("media-right-margin"), margin("media-bottom-margin")));
    ippDelete(response);
    return state;
}

QString Connection::open(const QString &destination, const QueueState &queue)
{
    if (!queue.found || d_->dest_ == nullptr || !d_->layout_.isValid())
        return QString();
    // The page is laid out the way the printer's defaults turn the paper.
    d_->layout_.setOrientation(queue.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    return destination;
}

Submission Connection::submit(const QImage &printBitmap, const PageDescription &page,
                              std::chrono::milliseconds patience)
{
    // The page is composed in memory, where a page cut short shows, and the
    // spool file then written all or nothing.
    const QByteArray pageBytes = pdfPage(printBitmap, page, d_->layout_, kDotsPerInch, QString());
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

    d_->deadline_ = Clock::now() + patience;
    d_->throwIfSilent();
    QFile file(spool.fileName());
    if (!file.open(QIODevice::ReadOnly))
        throw PrintError("The page cannot be prepared for the printer: " + file.errorString().toStdString());

    // One Print-Job request: the spooler makes the job only once the whole
    // page has come, so a page cut short leaves nothing behind. The
    // destination's own options (an instance's, the user's saved ones) go
    // with it, as they do with lp.
    http_t *http = d_->http_;
    cups_dest_t *dest = d_->dest_;
    ipp_t *request = newRequest(IPP_OP_PRINT_JOB, "printers", dest->name);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, CUPS_FORMAT_PDF);
    cupsEncodeOptions2(request, dest->num_options, dest->options, IPP_TAG_OPERATION);
    cupsEncodeOptions2(request, dest->num_options, dest->options, IPP_TAG_JOB);
    http_status_t status = cupsSendRequest(http, request, "/", ippLength(request) + size_t(file.size()));
    ippDelete(request);
    char buffer[65536];
    for (qint64 left = file.size(); status == HTTP_STATUS_CONTINUE && left > 0;) {
        const qint64 read = file.read(buffer, sizeof buffer);
        if (read <= 0)
            break;
        left -= read;
        if (left == 0)
            d_->shutOnStop(false);
        status = cupsWriteRequestData(http, buffer, size_t(read));
    }
    Submission result;
    ipp_t *response = nullptr;
    if (status == HTTP_STATUS_CONTINUE && httpFlushWrite(http) >= 0) {
        // The whole page is with the spooler: from now on a job may exist.
        while (!httpWait(http, int(kPollSeconds * 1000)))
            if (d_->silent())
                d_->giveUp(0);
        response = cupsGetResponse(http, "/");
    } else if (status == HTTP_STATUS_OK) {
        response = cupsGetResponse(http, "/");
    }
    result.job = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
    ippDelete(response);
    // Done with the answer here, the next request waits on a socket a stop shuts.
    httpFlush(http);
    d_->shutOnStop(true);
    if (result.job == 0) {
        result.error = QString::fromUtf8(cupsLastErrorString());
        result.lost = d_->whatWentAway(QString::fromLocal8Bit(dest->name));
    }
    return result;
}

// The queue may have been stopped since it was looked at, while the page was
// being composed: the job is then taken, and waits.
Submission::Fate Connection::fate(int job)
{
    if (d_->silent())
        d_->giveUp(job);
    http_t *http = d_->http_;
    ipp_t *queue = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, "printers", d_->dest_->name);
    ippAddString(queue, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-state");
    ipp_t *answer = cupsDoRequest(http, queue, "/");
    const bool queueStopped =
        ippGetInteger(ippFindAttribute(answer, "printer-state", IPP_TAG_ENUM), 0) == IPP_PSTATE_STOPPED;
    ippDelete(answer);
    if (answer == nullptr && d_->silent())
        d_->giveUp(job);
    ipp_t *request = jobRequest(IPP_OP_GET_JOB_ATTRIBUTES, job);
    static const char *const wanted[] = {"job-state", "job-state-reasons"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
    ipp_t *response = cupsDoRequest(http, request, "/");
    if (response == nullptr && d_->silent())
        d_->giveUp(job);
    // Without an answer nothing is known against the job, which was taken.
    Submission::Fate fate = Submission::Fate::Printing;
    if (ipp_attribute_t *state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM)) {
        const int value = ippGetInteger(state, 0);
        ipp_attribute_t *reasons = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD);
        if (value == IPP_JSTATE_HELD)
            fate = Submission::Fate::Held;
        else if (value == IPP_JSTATE_STOPPED ||
                 (value == IPP_JSTATE_PENDING && (queueStopped || ippContainsString(reasons, "printer-stopped"))))
            fate = Submission::Fate::QueueStopped;
    }
    ippDelete(response);
    return fate;
}

} // namespace terralume::print::spooler
