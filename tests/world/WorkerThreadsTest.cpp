// Work shared over the cores this process may use, and done all the same
// where the system refuses threads.
#include "WorkerThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

using namespace terralume;

namespace {

struct Sharing {
    unsigned count;
    std::optional<unsigned> granted; // thread starts the system allows; none: no limit
    std::optional<unsigned> thrower; // the share that throws
    unsigned runHere;                // shares done on the calling thread
};

class SideBySide : public testing::TestWithParam<Sharing> {};

// Every share runs once, those no thread was granted for on the calling
// thread, and a failure comes back once all have ended.
TEST_P(SideBySide, EveryShareRunsOnce)
{
    const Sharing s = GetParam();
    std::optional<RefusedThreadStarts> refused;
    if (s.granted)
        refused.emplace(*s.granted);
    const std::thread::id here = std::this_thread::get_id();
    std::vector<std::atomic<int>> runs(s.count);
    std::atomic<unsigned> ranHere{0};
    try {
        runSideBySide(s.count, [&](unsigned k) {
            ++runs[k];
            ranHere += std::this_thread::get_id() == here ? 1 : 0;
            if (s.thrower == k)
                throw std::runtime_error(std::to_string(k));
        });
        EXPECT_FALSE(s.thrower);
    } catch (const std::runtime_error &error) {
        EXPECT_EQ(error.what(), std::to_string(s.thrower.value_or(s.count)));
    }
    for (unsigned k = 0; k < s.count; ++k)
        EXPECT_EQ(runs[k].load(), 1) << "share " << k;
    EXPECT_EQ(ranHere.load(), s.runHere);
}

INSTANTIATE_TEST_SUITE_P(Shares, SideBySide,
                         testing::Values(Sharing{0, {}, {}, 0}, Sharing{1, {}, {}, 1}, Sharing{4, {}, {}, 1},
                                         Sharing{4, 0u, {}, 4}, Sharing{6, 2u, {}, 4},
                                         // The calling thread's share, a thread's, a refused one's.
                                         Sharing{3, {}, 0u, 1}, Sharing{3, {}, 2u, 1}, Sharing{3, 1u, 2u, 2}));

#ifdef __linux__

class UsableCores : public testing::TestWithParam<int> {};

// A thread limited to some of the cores it may use, as `taskset` limits a
// program, counts only those.
TEST_P(UsableCores, FollowTheAffinity)
{
    const int cores = GetParam();
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    if (CPU_COUNT(&allowed) < cores)
        GTEST_SKIP() << "this process may use fewer than " << cores << " cores";
    cpu_set_t fewer;
    CPU_ZERO(&fewer);
    for (int cpu = 0; CPU_COUNT(&fewer) < cores; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            CPU_SET(cpu, &fewer);
    unsigned counted = 0;
    std::thread([&] {
        if (sched_setaffinity(0, sizeof fewer, &fewer) == 0)
            counted = usableCores();
    }).join();
    EXPECT_EQ(counted, unsigned(cores));
}

INSTANTIATE_TEST_SUITE_P(Cores, UsableCores, testing::Values(1, 2));

#endif

} // namespace
