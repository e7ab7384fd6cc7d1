#pragma once
// The failures of printing. The message is what the error box shows, word for
// word; nothing here catches them.

#include <QString>

#include <stdexcept>
#include <string>

namespace terralume::print {

class PrintError : public std::runtime_error {
public:
    explicit PrintError(const std::string &message) : std::runtime_error(message) {}
};

// A job given up at the caller's request before it was printed: nothing of it
// is left with the spooler. Not a failure to show anyone.
class PrintAbandoned : public PrintError {
public:
    PrintAbandoned() : PrintError("Printing was abandoned") {}
};

// Built by appending: GCC 12 at -O3 sees an overlap that is not there in
// "\"" + text + "\"" and, with warnings as errors, stops the Windows build.
inline std::string quoted(const QString &name)
{
    std::string text(1, '"');
    text.append(name.toStdString());
    text.push_back('"');
    return text;
}

} // namespace terralume::print
