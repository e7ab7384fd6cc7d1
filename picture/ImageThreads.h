#pragma once
// Qt's image code without its one way of hanging.
//
// Qt converts a large picture, and fills a large area when painting, by
// handing bands of the work to its global thread pool and waiting for all of
// them. When the pool cannot start a thread (a limit on processes, or an
// address space too full for another stack) the band is never done and the
// wait never ends. The renderer converts without the pool; the program gives
// the pool, once at its start, every thread it will ever use.

#include <QImage>

#include <string>

class QThreadPool;

namespace terralume {

// The bands are made small enough here that Qt converts each one on the
// thread that asks, and they are spread over threads of our own; a band no
// thread could be started for is converted by the calling thread. The
// pixels are those QImage::convertToFormat gives.

// `picture` in `format`; a null image when the memory for it cannot be had.
QImage convertedImage(const QImage &picture, QImage::Format format);

// How many more threads, up to `wanted`, the system lets this process run at
// once now; when fewer, `reason` says why.
int startableThreads(int wanted, std::string &reason);

// Starts as many of `pool`'s threads as the system allows now, up to its
// maximum, and keeps them for good: the pool never needs to start another.
// Returns how many it holds; with none, every use of the pool would hang,
// and `reason` says why no thread could be started.
int reserveThreads(QThreadPool &pool, std::string &reason);

} // namespace terralume
