#include "PrintSpooler.h"

#include "MapPrinter.h"
#include "OutputFile.h"
#include "PrintError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <algorithm>

#include <cups/cups.h>

namespace terralume::print::spooler {

namespace {

// How often a silent wait asks whether the deadline has passed.
constexpr double kPollSeconds = 0.25;

// A destination named "queue/instance" is the queue with a saved set of
// options; the spooler knows the two parts apart.
cups_dest_t *findDestination(http_t *http, const QString &destination)
{
    const QByteArray queue = destination.section(u'/', 0, 0).toLocal8Bit();
    const QByteArray instance = destination.section(u'/', 1).toLocal8Bit();
    return cupsGetNamedDest(http, queue.constData(), instance.isEmpty() ? nullptr : instance.constData());
}

Submission::Fate fateOf(http_t *http, int job, bool queueStopped)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/jobs/%d", job);
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char *const wanted[] = {"job-state", "job-state-reasons"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, wanted);
    ipp_t *response = cupsDoRequest(http, request, "/");
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

} // namespace

// The connection the library would use (CUPS_SERVER, the client
// configuration, the local socket). The library's own connection waits a
// minute for each request when the scheduler takes the connection and never
// answers (a hung scheduler); here the connection and every request share
// the deadline.
struct Connection::Private {
    ~Private() { httpClose(http_); }
    // After a failed hand-over: whether the queue or the spooler is gone.
    Submission::Loss whatWentAway(const QString &destination);
    // Sends a finished print file to `destination` with its default settings
    // and an empty title, then asks what became of the job.
    Submission submitFile(const QString &destination, const QString &fileName);

    http_t *http_ = nullptr;
    std::chrono::steady_clock::time_point deadline_;
    std::unique_ptr<QPrinter> printer_;
};

Connection::Connection(std::chrono::milliseconds patience) : d_(std::make_unique<Private>())
{
    d_->deadline_ = std::chrono::steady_clock::now() + patience;
    const int connectMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(patience.count(), 1));
    d_->http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, connectMs, nullptr);
    if (d_->http_ != nullptr)
        httpSetTimeout(
            d_->http_, kPollSeconds,
            [](http_t *, void *self) {
                return std::chrono::steady_clock::now() < static_cast<Private *>(self)->deadline_ ? 1 : 0;
            },
            d_.get());
}

Connection::~Connection() = default;

Submission::Loss Connection::Private::whatWentAway(const QString &destination)
{
    // Once the patience is spent, a hung scheduler would look like a gone
    // queue; its refusal is then reported as it came.
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    if (http_ == nullptr || left.count() <= 0)
        return Submission::Loss::None;
    // A scheduler that was stopped leaves its socket unanswered, so the
    // connection cannot be made again; one that answers is asked for the queue.
    if (httpReconnect2(http_, static_cast<int>(left.count()), nullptr) != 0)
        return Submission::Loss::Service;
    if (cups_dest_t *dest = findDestination(http_, destination)) {
        cupsFreeDests(1, dest);
        return Submission::Loss::None;
    }
    return cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND ? Submission::Loss::Queue : Submission::Loss::None;
}

// As lp uses it: "queue", or "queue/instance" for a saved set of options.
// It also counts when the user's option file names no default of its own.
QString Connection::defaultDestination()
{
    http_t *http = d_->http_;
    if (http == nullptr)
        return QString();
    cups_dest_t *dest = cupsGetNamedDest(http, nullptr, nullptr);
    if (dest == nullptr)
        return QString();
    QString name = QString::fromLocal8Bit(dest->name);
    if (dest->instance != nullptr)
        name += u'/' + QString::fromLocal8Bit(dest->instance);
    cupsFreeDests(1, dest);
    return name;
}

QueueState Connection::queueState(const QString &destination)
{
    http_t *http = d_->http_;
    QueueState state;
    cups_dest_t *dest = http != nullptr ? findDestination(http, destination) : nullptr;
    if (dest == nullptr)
        return state;
    state.found = true;
    if (const char *s = cupsGetOption("printer-state", dest->num_options, dest->options))
        state.stopped = qstrcmp(s, "5") == 0; // IPP_PSTATE_STOPPED
    if (const char *s = cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options))
        state.accepting = qstricmp(s, "false") != 0;
    // The user's saved choice first, then the queue's own default.
    const char *orientation = cupsGetOption("orientation-requested", dest->num_options, dest->options);
    cups_dinfo_t *info = orientation ? nullptr : cupsCopyDestInfo(http, dest);
    if (info != nullptr) {
        if (ipp_attribute_t *value = cupsFindDestDefault(http, dest, info, "orientation-requested")) {
            const int code = ippGetInteger(value, 0);
            state.landscape = code == IPP_ORIENT_LANDSCAPE || code == IPP_ORIENT_REVERSE_LANDSCAPE;
        }
        cupsFreeDestInfo(info);
    } else if (orientation != nullptr) {
        state.landscape = qstrcmp(orientation, "4") == 0 || qstrcmp(orientation, "5") == 0;
    }
    cupsFreeDests(1, dest);
    return state;
}

QString Connection::open(const QString &destination, const QueueState &queue)
{
    // The scheduler has just answered, so Qt's own questions about the
    // queue (its page sizes and margins) find it answering too.
    const QPrinterInfo info = queue.found ? QPrinterInfo::printerInfo(destination) : QPrinterInfo();
    if (info.isNull())
        return QString();
    d_->printer_ = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    if (!d_->printer_->isValid())
        return QString();
    // The page is laid out the way the printer's defaults turn the paper.
    if (queue.landscape)
        d_->printer_->setPageOrientation(QPageLayout::Landscape);
    return info.printerName();
}

Submission Connection::submit(const QImage &printBitmap, const PageDescription &page,
                              std::chrono::milliseconds patience)
{
    // The page is composed in memory, where a page cut short shows, and the
    // spool file then written all or nothing: Qt's print engine would stop
    // quietly on a full disk and hand the spooler a truncated job. The job
    // goes through a file rather than Qt's own spooling, which would not tell
    // us when the spooler refuses it.
    const QPrinter &printer = *d_->printer_;
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

    d_->deadline_ = std::chrono::steady_clock::now() + patience;
    return d_->submitFile(printer.printerName(), spool.fileName());
}

Submission Connection::Private::submitFile(const QString &destination, const QString &fileName)
{
    Submission result;
    const QByteArray file = QFile::encodeName(fileName);
    cups_dest_t *dest = http_ != nullptr ? findDestination(http_, destination) : nullptr;
    if (dest == nullptr) {
        result.error = QString::fromUtf8(cupsLastErrorString());
        result.lost = whatWentAway(destination);
        return result;
    }
    // The destination's own options (an instance's, the user's saved ones)
    // go with the job, as they do with lp.
    result.job = cupsPrintFile2(http_, dest->name, file.constData(), "", dest->num_options, dest->options);
    if (result.job == 0) {
        result.error = QString::fromUtf8(cupsLastErrorString());
        result.lost = whatWentAway(destination);
    } else {
        // The queue may have been stopped since it was looked at, while the
        // page was being composed: the job is then taken, and waits.
        cupsFreeDests(1, dest);
        dest = findDestination(http_, destination);
        const char *state = dest ? cupsGetOption("printer-state", dest->num_options, dest->options) : nullptr;
        result.fate = fateOf(http_, result.job, qstrcmp(state, "5") == 0);
    }
    cupsFreeDests(dest ? 1 : 0, dest);
    return result;
}

} // namespace terralume::print::spooler
