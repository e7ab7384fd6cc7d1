#pragma once
// How the program words an error for the user: the message as raised, with a
// full stop added when it ends in a character above '.' (a letter or digit,
// not a full stop, blank, '!' or ')').

#include <string>

namespace terralume {

inline std::string withFullStop(std::string message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        message.push_back('.');
    return message;
}

} // namespace terralume
