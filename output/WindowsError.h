#pragma once
// The Windows system's own words for an error code, without their
// surrounding blanks; empty when it has none. For Windows files only.

#include <QString>

#include <qt_windows.h>

namespace terralume {

inline QString windowsErrorText(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = length ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    LocalFree(text);
    return message;
}

} // namespace terralume
