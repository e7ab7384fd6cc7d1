#pragma once
// The headless renderer's whole command: parse the arguments, generate the
// map through the same core the windows use, write the requested files.
// Returns the process exit code: 0 done, 1 a file could not be written,
// 2 a bad command line (unknown option, bad value, rejected seed).

#include <iosfwd>

namespace terralume {

int runRender(int argc, const char *const *argv, std::ostream &out, std::ostream &err);

} // namespace terralume
