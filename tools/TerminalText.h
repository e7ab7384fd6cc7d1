#pragma once
// What the renderer lets reach the terminal.

#include <QtGlobal>

#include <string>
#include <string_view>

namespace terralume {

// `text` as it may be shown on a terminal: control characters and bytes that
// are not UTF-8 become \xNN, everything else is kept.
std::string printableText(std::string_view text);

// While alive, Qt's warnings and lesser messages are dropped: the picture and
// image code report failures (a null image when memory runs out) that the
// renderer then states once in its own words. Critical and fatal messages
// still reach the handler that was installed before.
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
