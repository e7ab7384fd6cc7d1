#pragma once
// The Windows system's own words for an error code, for the messages of the
// print spooler and the single-instance guard.

#include <QString>

namespace terralume {

// FormatMessage's text for `code`, without its surrounding blanks; empty when
// the system has none.
QString windowsErrorText(unsigned long code);

} // namespace terralume
