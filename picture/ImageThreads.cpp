#include "ImageThreads.h"

#include "WorkerThreads.h"

#include <QSemaphore>
#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

namespace terralume {

int startableThreads(int wanted, std::string &reason)
{
    // Each probe waits until the probes are let go, all at once, so none
    // ends early and lets a later one reuse its room.
    std::mutex mutex;
    std::condition_variable_any idle;
    std::vector<std::jthread> probes;
    probes.reserve(std::size_t(std::max(0, wanted)));
    while (int(probes.size()) < wanted) {
        std::jthread probe = startThread([&](std::stop_token stop) {
            std::unique_lock lock(mutex);
            idle.wait(lock, stop, [] { return false; });
        });
        if (!probe.joinable()) {
            reason = std::make_error_code(std::errc::resource_unavailable_try_again).message();
            break;
        }
        probes.push_back(std::move(probe));
    }
    return int(probes.size());
}

int reserveThreads(QThreadPool &pool, std::string &reason)
{
    const int count = startableThreads(int(usableCores()), reason);
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
