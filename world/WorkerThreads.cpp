#include "WorkerThreads.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#elif defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX // std::max below, not the macro
#endif
#include <windows.h>
#endif

namespace terralume {

namespace {

// Starts still granted while a RefusedThreadStarts lives; -1: no limit.
std::atomic<long> grantedStarts{-1};

bool startGranted()
{
    long left = grantedStarts.load();
    while (left > 0 && !grantedStarts.compare_exchange_weak(left, left - 1)) {
    }
    return left != 0;
}

} // namespace

unsigned usableCores()
{
#if defined(__linux__)
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0)
        return unsigned(std::max(1, CPU_COUNT(&cores)));
#elif defined(_WIN32)
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return unsigned(std::popcount(process));
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

std::jthread startThread(std::function<void(std::stop_token)> work)
{
    if (!startGranted())
        return {};
    try {
        return std::jthread(std::move(work));
    } catch (const std::system_error &) {
        return {};
    } catch (const std::bad_alloc &) {
        return {}; // no memory for the thread's own state: refused all the same
    }
}

void runSideBySide(unsigned count, const std::function<void(unsigned k)> &work)
{
    std::mutex mutex;
    std::exception_ptr failure;
    const auto share = [&](unsigned k) {
        try {
            work(k);
        } catch (...) {
            const std::lock_guard lock(mutex);
            if (!failure)
                failure = std::current_exception();
        }
    };
    {
        // Reserved up front: once a thread runs, nothing here may throw
        // before the calling thread has done its shares.
        std::vector<std::jthread> threads(count);
        for (unsigned k = 1; k < count; ++k) {
            try {
                threads[k] = startThread([&share, k](std::stop_token) { share(k); });
            } catch (const std::bad_alloc &) {
                // No memory to hand the work over: done here, as if refused.
            }
        }
        if (count > 0)
            share(0);
        for (unsigned k = 1; k < count; ++k)
            if (!threads[k].joinable())
                share(k);
    }
    if (failure)
        std::rethrow_exception(failure);
}

RefusedThreadStarts::RefusedThreadStarts(unsigned granted) : before_(grantedStarts.exchange(long(granted))) {}

RefusedThreadStarts::~RefusedThreadStarts() { grantedStarts.store(before_); }

} // namespace terralume
