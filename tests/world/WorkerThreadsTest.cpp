// Work shared over the cores this process may use, and done all the same
// where the system refuses threads.
#include "WorkerThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

using namespace terralume;

namespace {

struct Sharing {
    const char *name;
    unsigned count;
    std::optional<unsigned> granted; // thread starts the system allows; none: no limit
    std::optional<unsigned> thrower; // the share that throws, if any
    unsigned runHere;                // shares done on the calling thread
};

void PrintTo(const Sharing &s, std::ostream *os) { *os << s.name; }

class SideBySide : public testing::TestWithParam<Sharing> {};

// Every share runs exactly once, those no thread was granted for on the
// calling thread, and a failure comes back only once all have ended.
TEST_P(SideBySide, EveryShareRunsOnceAndFailuresComeBack)
{
    const Sharing s = GetParam();
    std::optional<RefusedThreadStarts> refused;
    if (s.granted)
        refused.emplace(*s.granted);
    const std::thread::id here = std::this_thread::get_id();
    std::vector<std::atomic<int>> runs(s.count);
    std::atomic<unsigned> ranHere{0};
    std::atomic<unsigned> ended{0};
    const auto work = [&](unsigned k) {
        ++runs[k];
        if (std::this_thread::get_id() == here)
            ++ranHere;
        if (s.thrower == k)
            throw std::runtime_error(std::to_string(k));
        ++ended;
    };
    if (s.thrower) {
        try {
            runSideBySide(s.count, work);
            ADD_FAILURE() << "nothing was thrown";
        } catch (const std::runtime_error &error) {
            EXPECT_EQ(error.what(), std::to_string(*s.thrower));
        }
    } else {
        runSideBySide(s.count, work);
    }
    for (unsigned k = 0; k < s.count; ++k)
        EXPECT_EQ(runs[k].load(), 1) << "share " << k;
    EXPECT_EQ(ended.load(), s.count - (s.thrower ? 1 : 0));
    EXPECT_EQ(ranHere.load(), s.runHere);
}

INSTANTIATE_TEST_SUITE_P(
    Shares, SideBySide,
    testing::Values(Sharing{"none", 0, {}, {}, 0}, Sharing{"one", 1, {}, {}, 1}, Sharing{"four", 4, {}, {}, 1},
                    Sharing{"no thread granted", 4, 0u, {}, 4}, Sharing{"two of five granted", 6, 2u, {}, 4},
                    Sharing{"the calling thread's share throws", 3, {}, 0u, 1},
                    Sharing{"a thread's share throws", 3, {}, 2u, 1},
                    Sharing{"a refused share throws", 3, 1u, 2u, 2}),
    [](const testing::TestParamInfo<Sharing> &info) {
        std::string name = info.param.name;
        for (char &c : name)
            if (c == ' ' || c == '\'')
                c = '_';
        return name;
    });

class StartThread : public testing::TestWithParam<bool> {};

// A granted thread runs the work and is asked to stop when let go; a
// refused one runs nothing.
TEST_P(StartThread, RunsTheWorkOnlyWhenGranted)
{
    const bool granted = GetParam();
    const RefusedThreadStarts refused(granted ? 1 : 0);
    std::atomic<bool> stopped{false};
    {
        std::jthread thread = startThread([&](std::stop_token stop) {
            while (!stop.stop_requested())
                std::this_thread::yield();
            stopped = true;
        });
        EXPECT_EQ(thread.joinable(), granted);
    }
    EXPECT_EQ(stopped.load(), granted);
    // The next start is refused either way: the one granted start is used.
    EXPECT_FALSE(startThread([](std::stop_token) {}).joinable());
}

INSTANTIATE_TEST_SUITE_P(Starts, StartThread, testing::Bool());

#ifdef __linux__

class UsableCores : public testing::TestWithParam<int> {};

// A thread limited to `cores` of the cores it may use (as `taskset` limits
// a program) counts only those.
TEST_P(UsableCores, FollowTheAffinity)
{
    const int cores = GetParam();
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    if (CPU_COUNT(&allowed) < cores)
        GTEST_SKIP() << "this process may use fewer than " << cores << " cores";
    cpu_set_t fewer;
    CPU_ZERO(&fewer);
    for (int cpu = 0, kept = 0; kept < cores; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &fewer);
            ++kept;
        }
    unsigned counted = 0;
    std::thread limited([&] {
        if (sched_setaffinity(0, sizeof fewer, &fewer) == 0)
            counted = usableCores();
    });
    limited.join();
    EXPECT_EQ(counted, unsigned(cores));
}

INSTANTIATE_TEST_SUITE_P(Cores, UsableCores, testing::Values(1, 2));

#endif

} // namespace
