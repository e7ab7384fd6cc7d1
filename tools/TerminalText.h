#pragma once
// What the renderer lets reach the terminal.

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace terralume {

// `text` as it may be shown on a terminal: control characters and bytes that
// are not UTF-8 become \xNN, everything else is kept.
std::string printableText(std::string_view text);

// While alive, Qt's warnings and lesser messages are dropped: the picture and
// image code report failures (a null image when memory runs out) that the
// renderer then states once in its own words. Critical and fatal messages
// still reach the handler that was installed before.
// While a search runs, Ctrl+C asks it to stop instead of ending the program,
// and, when `line` goes to a terminal, one line there says how far it has
// got: redrawn at most four times a second, cleared at the end.
class SearchProgress {
public:
    SearchProgress(std::ostream &line, bool terminal, std::int64_t seeds);
    ~SearchProgress();
    SearchProgress(const SearchProgress &) = delete;
    SearchProgress &operator=(const SearchProgress &) = delete;

    std::stop_token stopToken() const { return stop_.get_token(); }
    // Whether Ctrl+C stopped the search.
    bool interrupted() const { return stop_.stop_requested(); }
    // Writes one world found, with the line out of its way; what `write` returns.
    bool writeFound(const std::function<bool()> &write);
    // Clears the line and gives Ctrl+C back, before the last words.
    void end();

    std::atomic<std::int64_t> looked{0};

private:
    void watch(std::stop_token over);
    void draw();
    void clear();

    std::ostream &line_;
    const bool terminal_;
    const std::int64_t seeds_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::atomic<std::int64_t> found_{0};
    std::stop_source stop_;
    std::mutex lineMutex_;
    std::size_t shown_ = 0; // characters of the line on the terminal
    void (*previous_)(int) = SIG_DFL;
    bool listening_ = false;
    std::jthread watcher_;
};

class QuietQtWarnings {
public:
    QuietQtWarnings();
    ~QuietQtWarnings();
    QuietQtWarnings(const QuietQtWarnings &) = delete;
    QuietQtWarnings &operator=(const QuietQtWarnings &) = delete;

private:
    static void quiet(QtMsgType type, const QMessageLogContext &context, const QString &text);
    static QtMessageHandler forwardTo;
    QtMessageHandler previous_;
};

} // namespace terralume
