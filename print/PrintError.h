#pragma once
// The failures of printing. The message is what the error box shows, word for
// word; nothing here catches them.

#include <stdexcept>
#include <string>

namespace terralume::print {

class PrintError : public std::runtime_error {
public:
    explicit PrintError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace terralume::print
