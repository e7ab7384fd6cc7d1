#pragma once
// Qt's image code without its one way of hanging.
//
// Qt converts a large picture, and fills a large area when painting, by
// handing bands of the work to its global thread pool and waiting for all of
// them. When the pool cannot start a thread (a limit on processes, or an
// address space too full for another stack) the band is never done and the
// wait never ends. The program gives the pool, once at its start, every
// thread it will ever use.

#include <string>

class QThreadPool;

namespace terralume {

// How many more threads, up to `wanted`, the system lets this process run at
// once now; when fewer, `reason` says why.
int startableThreads(int wanted, std::string &reason);

// Starts as many of `pool`'s threads as the system allows now, one for each
// core this process may use, and keeps them for good: the pool never needs
// to start another. Returns how many it holds; with none, every use of the
// pool would hang, and `reason` says why no thread could be started.
int reserveThreads(QThreadPool &pool, std::string &reason);

} // namespace terralume
