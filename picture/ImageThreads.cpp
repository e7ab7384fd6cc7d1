#include "ImageThreads.h"

#include <QSemaphore>
#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace terralume {

namespace {

// Qt keeps a conversion of fewer pixels than this on the calling thread.
constexpr qsizetype kBandPixels = qsizetype{1} << 16;

struct Target {
    uchar *bits;
    qsizetype bytesPerLine;
    qsizetype rowBytes;
    QImage::Format format;
};

// Rows [first, end) in bands of `bandRows`; false when a band's memory
// could not be had.
bool convertRows(const QImage &picture, const Target &target, int first, int end, int bandRows)
{
    for (int y = first; y < end; y += bandRows) {
        const int rows = std::min(bandRows, end - y);
        // A view of the rows, not a copy: the constructor taking constant
        // bits never writes to them.
        QImage band(picture.constScanLine(y), picture.width(), rows, picture.bytesPerLine(), picture.format());
        band.setColorTable(picture.colorTable());
        const QImage done = band.convertToFormat(target.format);
        if (done.isNull())
            return false;
        for (int row = 0; row < rows; ++row)
            std::memcpy(target.bits + (y + row) * target.bytesPerLine, done.constScanLine(row),
                        std::size_t(target.rowBytes));
    }
    return true;
}

} // namespace

QImage convertedImage(const QImage &picture, QImage::Format format)
{
    if (picture.isNull() || picture.format() == format)
        return picture;
    QImage converted(picture.size(), format);
    if (converted.isNull())
        return {};
    converted.setDotsPerMeterX(picture.dotsPerMeterX());
    converted.setDotsPerMeterY(picture.dotsPerMeterY());
    converted.setOffset(picture.offset());
    for (const QString &key : picture.textKeys())
        converted.setText(key, picture.text(key));
    const Target target{converted.bits(), converted.bytesPerLine(),
                        std::min(converted.bytesPerLine(), (qsizetype(converted.width()) * converted.depth() + 7) / 8),
                        format};

    const int height = picture.height();
    const int bandRows = int(std::clamp<qsizetype>(kBandPixels / picture.width(), 1, height));
    const int bands = (height + bandRows - 1) / bandRows;
    const int workers = std::clamp(int(std::thread::hardware_concurrency()), 1, bands);
    // Whole bands to each worker; the calling thread takes the first share
    // and every share no thread could be started for.
    const int rowsEach = (bands + workers - 1) / workers * bandRows;
    const auto first = [&](int worker) { return std::min(height, worker * rowsEach); };
    const auto done = std::make_unique<bool[]>(std::size_t(workers));
    std::vector<std::thread> threads;
    std::vector<int> leftOver;
    for (int worker = 1; worker < workers; ++worker) {
        try {
            threads.emplace_back([&, worker] {
                done[std::size_t(worker)] = convertRows(picture, target, first(worker), first(worker + 1), bandRows);
            });
        } catch (const std::system_error &) {
            leftOver.push_back(worker);
        }
    }
    done[0] = convertRows(picture, target, 0, first(1), bandRows);
    for (const int worker : leftOver)
        done[std::size_t(worker)] = convertRows(picture, target, first(worker), first(worker + 1), bandRows);
    for (std::thread &thread : threads)
        thread.join();
    if (!std::all_of(done.get(), done.get() + workers, [](bool ok) { return ok; }))
        return {};
    return converted;
}

int startableThreads(int wanted, std::string &reason)
{
    // Each probe waits until all have been tried, so none ends early and
    // lets a later one reuse its room.
    std::mutex mutex;
    std::condition_variable tried;
    bool allTried = false;
    std::vector<std::thread> probes;
    probes.reserve(std::size_t(std::max(0, wanted)));
    for (int k = 0; k < wanted; ++k) {
        try {
            probes.emplace_back([&] {
                std::unique_lock lock(mutex);
                tried.wait(lock, [&] { return allTried; });
            });
        } catch (const std::system_error &error) {
            reason = error.code().message();
            break;
        }
    }
    {
        const std::lock_guard lock(mutex);
        allTried = true;
    }
    tried.notify_all();
    for (std::thread &probe : probes)
        probe.join();
    return int(probes.size());
}

int reserveThreads(QThreadPool &pool, std::string &reason)
{
    const int count = startableThreads(pool.maxThreadCount(), reason);
    if (count == 0)
        return 0;
    pool.setExpiryTimeout(-1);
    pool.setMaxThreadCount(count);
    // Each task holds its thread until every task was handed out, so the
    // pool starts a thread for each. Should one fail to start after all, it
    // still counts as busy for good, and the pool never starts another.
    const auto gate = std::make_shared<QSemaphore>();
    for (int k = 0; k < count; ++k)
        pool.start([gate] { gate->acquire(); });
    gate->release(count);
    return count;
}

} // namespace terralume
