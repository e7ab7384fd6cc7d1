#include "TerminalText.h"

#include "WorkerThreads.h"

#include <QByteArrayView>

#ifndef Q_OS_WIN
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <ostream>

namespace terralume {

namespace {

std::atomic<bool> interruptAsked{false};

void askInterrupt(int) { interruptAsked = true; }

// The mark is left once: a second Ctrl+C ends the program as usual, the way
// out of a search held up writing to a reader that does not read. Windows
// resets a handler as it calls it anyway.
void (*listenForInterrupt())(int)
{
#ifdef Q_OS_WIN
    return std::signal(SIGINT, &askInterrupt);
#else
    struct sigaction wanted {};
    struct sigaction previous {};
    wanted.sa_handler = &askInterrupt;
    sigemptyset(&wanted.sa_mask);
    wanted.sa_flags = SA_RESTART | SA_RESETHAND;
    if (sigaction(SIGINT, &wanted, &previous) != 0)
        return SIG_ERR;
    return previous.sa_handler;
#endif
}

// A line wider than the terminal would wrap, and each redraw would then
// add a row instead of replacing one.
std::size_t terminalColumns()
{
#ifndef Q_OS_WIN
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

// h:mm:ss
std::string clockText(std::int64_t seconds)
{
    const auto two = [](std::int64_t n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    return std::to_string(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" + two(seconds % 60);
}

} // namespace

std::string printableText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t k = 0; k < text.size();) {
        const auto lead = static_cast<unsigned char>(text[k]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xe  ? 3
                                   : (lead >> 3) == 0x1e ? 4
                                                         : 0;
        const std::string_view character = text.substr(k, length);
        const bool whole = length != 0 && character.size() == length && QByteArrayView(character).isValidUtf8();
        // C0 and C1 controls (U+0080..U+009F: 0xc2 0x80..0x9f) and DEL steer
        // a terminal; bytes that are no character at all are shown as they
        // are, by number.
        const bool control = length == 1 ? lead < 0x20 || lead == 0x7f
                                         : lead == 0xc2 && static_cast<unsigned char>(character.back()) < 0xa0;
        if (whole && !control) {
            shown.append(character);
            k += length;
        } else {
            shown += "\\x";
            shown += kHex[lead >> 4];
            shown += kHex[lead & 0xf];
            ++k;
        }
    }
    return shown;
}

SearchProgress::SearchProgress(std::ostream &line, bool terminal, std::int64_t seeds)
    : line_(line), terminal_(terminal), seeds_(seeds)
{
    interruptAsked = false;
    previous_ = listenForInterrupt();
    // A search started with Ctrl+C ignored (in the background) leaves it so.
    listening_ = previous_ != SIG_IGN && previous_ != SIG_ERR;
    watcher_ = startThread([this](std::stop_token over) { watch(over); });
    if (!watcher_.joinable())
        listening_ = false; // nobody would hear it: Ctrl+C ends the program
    if (!listening_ && previous_ != SIG_ERR)
        std::signal(SIGINT, previous_);
}

SearchProgress::~SearchProgress() { end(); }

void SearchProgress::end()
{
    if (watcher_.joinable()) {
        watcher_.request_stop();
        watcher_.join();
    }
    if (listening_)
        std::signal(SIGINT, previous_);
    listening_ = false;
    const std::lock_guard lock(lineMutex_);
    clear();
}

bool SearchProgress::writeFound(const std::function<bool()> &write)
{
    ++found_;
    const std::lock_guard lock(lineMutex_);
    clear();
    return write();
}

void SearchProgress::watch(std::stop_token over)
{
    using namespace std::chrono_literals;
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    auto next = started_ + 250ms;
    while (!over.stop_requested()) {
        // A signal handler can only leave a mark; it is looked for often
        // enough that the search ends as soon as the key is pressed.
        wake.wait_for(lock, over, 40ms, [] { return false; });
        if (interruptAsked)
            stop_.request_stop();
        if (terminal_ && std::chrono::steady_clock::now() >= next) {
            draw();
            next = std::chrono::steady_clock::now() + 250ms;
        }
    }
}

void SearchProgress::draw()
{
    // A row being written (perhaps to a pipe that is full) comes first.
    const std::unique_lock lock(lineMutex_, std::try_to_lock);
    if (!lock)
        return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const std::int64_t looked = this->looked, perSecond = static_cast<std::int64_t>(looked / seconds);
    std::string text = std::to_string(looked) + " seeds looked at (" + std::to_string(perSecond) + " a second), " +
                       std::to_string(found_) + " found";
    if (perSecond > 0)
        text += ", " + clockText((seeds_ - looked) / perSecond) + " left to --limit";
    text.resize(std::min(text.size(), terminalColumns() - 1));
    const std::size_t drawn = text.size();
    if (drawn < shown_)
        text.append(shown_ - drawn, ' ');
    line_ << '\r' << text << std::flush;
    shown_ = drawn;
}

void SearchProgress::clear()
{
    if (shown_ == 0)
        return;
    line_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
    shown_ = 0;
}

QuietQtWarnings::QuietQtWarnings() : previous_(qInstallMessageHandler(&quiet))
{
    if (previous_ != &quiet)
        forwardTo = previous_;
}

QuietQtWarnings::~QuietQtWarnings() { qInstallMessageHandler(previous_); }

QtMessageHandler QuietQtWarnings::forwardTo = nullptr;

void QuietQtWarnings::quiet(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        forwardTo(type, context, text);
}

} // namespace terralume
