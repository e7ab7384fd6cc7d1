#include "PrintSpooler.h"

#include "PrintError.h"
#include "WindowsError.h"

#include <QImage>
#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>
#include <winspool.h>

namespace terralume::print::spooler {

namespace {

// Fine enough for the title and footer text; a printer with more dots gets
// each sheet pixel stretched.
constexpr int kSheetDotsPerInch = 300;

QString systemMessage(DWORD code)
{
    if (code == 0)
        return QStringLiteral("the printer driver gave no reason");
    QString message = windowsErrorText(code);
    if (message.endsWith(u'.'))
        message.chop(1);
    return message.isEmpty() ? QStringLiteral("error %1").arg(code) : message;
}

// The queue deleted, or the spooler service stopped, after the queue was
// looked up: the codes that say so, as opposed to a driver's refusal.
Submission::Loss lossOf(DWORD code)
{
    switch (code) {
    case ERROR_INVALID_PRINTER_NAME:
    case ERROR_PRINTER_DELETED:
        return Submission::Loss::Queue;
    case RPC_S_SERVER_UNAVAILABLE:
    case RPC_S_CALL_FAILED:
    case ERROR_SERVICE_NOT_ACTIVE:
        return Submission::Loss::Service;
    default:
        return Submission::Loss::None;
    }
}

Submission refusal(Submission result, DWORD code)
{
    result.error = systemMessage(code);
    result.lost = lossOf(code);
    return result;
}

class Printer {
public:
    explicit Printer(const QString &name) : name_(name.toStdWString())
    {
        if (!OpenPrinterW(name_.data(), &handle_, nullptr))
            handle_ = nullptr;
    }
    ~Printer()
    {
        if (handle_)
            ClosePrinter(handle_);
    }
    Printer(const Printer &) = delete;
    Printer &operator=(const Printer &) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE handle() const { return handle_; }
    wchar_t *name() { return name_.data(); }

    // GetPrinterW and GetJobW answer into a buffer sized by a first call.
    template <typename Info, typename Call> std::vector<BYTE> query(Call call) const
    {
        DWORD needed = 0;
        call(nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed >= sizeof(Info) ? needed : 0);
        if (buffer.empty() || !call(buffer.data(), needed, &needed))
            buffer.clear();
        return buffer;
    }

    std::vector<BYTE> info2() const
    {
        return query<PRINTER_INFO_2W>(
            [this](BYTE *buffer, DWORD size, DWORD *needed) { return GetPrinterW(handle_, 2, buffer, size, needed); });
    }

    // The user's default settings for this queue, merged by the driver; the
    // job is made with them, as a program that shows no dialog does.
    std::vector<BYTE> defaultDevMode()
    {
        const LONG size = DocumentPropertiesW(nullptr, handle_, name_.data(), nullptr, nullptr, 0);
        std::vector<BYTE> buffer(size >= LONG(sizeof(DEVMODEW)) ? size_t(size) : 0);
        if (buffer.empty() ||
            DocumentPropertiesW(nullptr, handle_, name_.data(), reinterpret_cast<DEVMODEW *>(buffer.data()), nullptr,
                                DM_OUT_BUFFER) != IDOK)
            buffer.clear();
        return buffer;
    }

private:
    std::wstring name_;
    HANDLE handle_ = nullptr;
};

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using DeviceContext = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

DeviceContext deviceFor(Printer &printer)
{
    std::vector<BYTE> devMode = printer.defaultDevMode();
    return DeviceContext(CreateDCW(nullptr, printer.name(), nullptr,
                                   devMode.empty() ? nullptr : reinterpret_cast<const DEVMODEW *>(devMode.data())));
}

bool isStopped(const PRINTER_INFO_2W &info)
{
    return (info.Status & PRINTER_STATUS_PAUSED) != 0 || (info.Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE) != 0;
}

// Prints `sheet`, the whole printable area already drawn, as a one-page job
// with an empty document name, stretched over the printable area. Every step
// of the job is checked: a step the spooler or the driver refuses cancels the
// job, and its reason comes back. Then asks what became of the job.
Submission submitSheet(const QString &destination, const QImage &sheet)
{
    Submission result;
    Printer printer(destination);
    if (!printer)
        return refusal(result, GetLastError());
    const DeviceContext dc = deviceFor(printer);
    if (!dc)
        return refusal(result, GetLastError());
    const QImage pixels = sheet.convertToFormat(QImage::Format_RGB32);

    DOCINFOW document{};
    document.cbSize = sizeof document;
    document.lpszDocName = L"";
    const int job = StartDocW(dc.get(), &document);
    if (job <= 0)
        return refusal(result, GetLastError());
    // Any step refused from here on cancels what the spooler has so far, so
    // that no part of the page comes out.
    auto refuse = [&] {
        const DWORD code = GetLastError();
        AbortDoc(dc.get());
        return refusal(result, code);
    };
    if (StartPage(dc.get()) <= 0)
        return refuse();

    // QImage's 32-bit pixels are a top-down device-independent bitmap.
    BITMAPINFO bitmap{};
    bitmap.bmiHeader.biSize = sizeof bitmap.bmiHeader;
    bitmap.bmiHeader.biWidth = pixels.width();
    bitmap.bmiHeader.biHeight = -pixels.height();
    bitmap.bmiHeader.biPlanes = 1;
    bitmap.bmiHeader.biBitCount = 32;
    bitmap.bmiHeader.biCompression = BI_RGB;
    SetStretchBltMode(dc.get(), COLORONCOLOR);
    const int rows =
        StretchDIBits(dc.get(), 0, 0, GetDeviceCaps(dc.get(), HORZRES), GetDeviceCaps(dc.get(), VERTRES), 0, 0,
                      pixels.width(), pixels.height(), pixels.constBits(), &bitmap, DIB_RGB_COLORS, SRCCOPY);
    if (rows == 0 || rows == int(GDI_ERROR))
        return refuse();
    if (EndPage(dc.get()) <= 0)
        return refuse();
    if (EndDoc(dc.get()) <= 0)
        return refusal(result, GetLastError());
    result.job = job;

    // The queue may have been paused while the page was drawn, or it may
    // hold its jobs: the job then waits instead of printing.
    const std::vector<BYTE> jobInfo = printer.query<JOB_INFO_1W>([&](BYTE *buffer, DWORD size, DWORD *needed) {
        return GetJobW(printer.handle(), DWORD(job), 1, buffer, size, needed);
    });
    const std::vector<BYTE> queue = printer.info2();
    if (!jobInfo.empty() && (reinterpret_cast<const JOB_INFO_1W *>(jobInfo.data())->Status & JOB_STATUS_PAUSED))
        result.fate = Submission::Fate::Held;
    else if (!queue.empty() && isStopped(*reinterpret_cast<const PRINTER_INFO_2W *>(queue.data())))
        result.fate = Submission::Fate::QueueStopped;
    return result;
}

} // namespace

// Windows printers take the page in their driver's own language, drawn
// through GDI; every step the spooler or the driver refuses is seen (Qt's own
// print engine on Windows ignores a refused end of the job and cannot cancel
// one). Its calls answer from the local spooler service, which forwards to
// remote queues itself, so there is no connection and no wait to bound.
struct Connection::Private {
    // Checked between the steps; the spooler's own calls cannot be cut short.
    void go() const
    {
        if (stop.stop_requested())
            throw PrintAbandoned();
    }
    std::stop_token stop;
    Submission::Fate fate = Submission::Fate::Printing;
    QString destination;
    // The printable area of the queue's page with its default settings
    // (paper, orientation, resolution), as its driver reports it.
    int width = 0;  // device pixels
    int height = 0; // device pixels
    int dotsPerInchX = 0;
    int dotsPerInchY = 0;
};

Connection::Connection(std::chrono::milliseconds, std::stop_token stop) : d_(std::make_unique<Private>())
{
    d_->stop = stop;
}

Connection::~Connection() = default;

QString Connection::defaultDestination()
{
    d_->go();
    DWORD size = 0;
    GetDefaultPrinterW(nullptr, &size);
    if (size == 0)
        return QString();
    std::wstring name(size, L'\0');
    if (!GetDefaultPrinterW(name.data(), &size))
        return QString();
    return QString::fromWCharArray(name.c_str());
}

// Paused or offline counts as stopped, a queue being deleted as not
// accepting; the orientation is that of the queue's default settings.
QueueState Connection::queueState(const QString &destination)
{
    d_->go();
    QueueState state;
    Printer printer(destination);
    if (!printer)
        return state;
    const std::vector<BYTE> buffer = printer.info2();
    if (buffer.empty())
        return state;
    const auto &info = *reinterpret_cast<const PRINTER_INFO_2W *>(buffer.data());
    state.found = true;
    state.stopped = isStopped(info);
    state.accepting = (info.Status & PRINTER_STATUS_PENDING_DELETION) == 0;
    const DEVMODEW *mode = info.pDevMode;
    state.landscape = mode != nullptr && (mode->dmFields & DM_ORIENTATION) && mode->dmOrientation == DMORIENT_LANDSCAPE;
    if (mode != nullptr && (mode->dmFields & DM_PAPERSIZE))
        state.paper = QPageSize(QPageSize::id(int(mode->dmPaperSize)));
    return state;
}

// A queue for which no device context can be made takes no page.
QString Connection::open(const QString &destination, const QueueState &queue)
{
    d_->go();
    if (!queue.found)
        return QString();
    Printer printer(destination);
    const DeviceContext dc = printer ? deviceFor(printer) : DeviceContext();
    if (!dc)
        return QString();
    Private &d = *d_;
    d.width = GetDeviceCaps(dc.get(), HORZRES);
    d.height = GetDeviceCaps(dc.get(), VERTRES);
    d.dotsPerInchX = GetDeviceCaps(dc.get(), LOGPIXELSX);
    d.dotsPerInchY = GetDeviceCaps(dc.get(), LOGPIXELSY);
    if (d.width <= 0 || d.height <= 0 || d.dotsPerInchX <= 0 || d.dotsPerInchY <= 0)
        return QString();
    d.destination = destination;
    return destination;
}

Submission Connection::submit(const QImage &printBitmap, const PageDescription &page, std::chrono::milliseconds)
{
    // The driver's page already runs the way its default orientation turns
    // the paper. The sheet has square pixels at no more than kSheetDotsPerInch,
    // which keeps it to a few tens of megabytes; the job stretches it over
    // the printable area.
    d_->go();
    const Private &d = *d_;
    const int sheetDpi = (std::min)({kSheetDotsPerInch, d.dotsPerInchX, d.dotsPerInchY});
    QImage sheet(print::MulDiv(d.width, sheetDpi, d.dotsPerInchX), print::MulDiv(d.height, sheetDpi, d.dotsPerInchY),
                 QImage::Format_RGB32);
    if (sheet.isNull())
        throw PrintError("The page cannot be prepared for the printer: not enough memory");
    sheet.fill(Qt::white);
    {
        QPainter painter(&sheet);
        composePage(painter, sheet.width(), sheet.height(), sheetDpi, page, printBitmap,
                    separatorsOf(QLocale::system()));
    }
    d_->go();
    const Submission result = submitSheet(d.destination, sheet);
    d_->fate = result.fate;
    return result;
}

// Asked as the job was handed over: the spooler answers that at once.
Submission::Fate Connection::fate(int) { return d_->fate; }

} // namespace terralume::print::spooler
