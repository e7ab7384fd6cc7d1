#pragma once
// The headless renderer's whole command: parse the arguments, generate the
// map through the same core the windows use, write the requested files.
// Returns the process exit code: 0 done, 1 a file could not be written,
// 2 a bad command line (unknown option, bad value, rejected seed), 130 a
// search stopped by Ctrl+C. A search shows how far it has got on `err` when
// that is a terminal.

#include <iosfwd>

namespace terralume {

int runRender(int argc, const char *const *argv, std::ostream &out, std::ostream &err, bool errIsTerminal = false);

} // namespace terralume
