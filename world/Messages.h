#pragma once
// How the program words an error for the user: the message as raised, with a
// full stop added when it ends in a character above '.' (a letter or digit,
// not a full stop, blank, '!' or ')').

#include <string>

namespace terralume {

// The one rule, for any text type: whether a message ending in the character
// `last` gets a full stop.
constexpr bool wantsFullStop(char32_t last) { return last > U'.'; }

inline std::string withFullStop(std::string message)
{
    if (!message.empty() && wantsFullStop(static_cast<unsigned char>(message.back())))
        message.push_back('.');
    return message;
}

} // namespace terralume
