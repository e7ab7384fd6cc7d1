// Qt's image code hands large work to its thread pool and waits for it;
// nothing may wait for ever where the system grants no more threads.
#include "ImageThreads.h"

#include <QPainter>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#endif

using namespace terralume;

namespace {

#ifdef Q_OS_LINUX

constexpr char kLimitedChild[] = "TERRALUME_TEST_THREAD_LIMITED";

// Runs the current test again in a fresh program that may start no more than
// `threads` threads beside its own (fresh, since a forked copy would believe
// in the parent's pool threads); whether it hung or failed is told by how it
// ended. As root the child becomes a user who runs nothing else, since the
// process limit counts every process of the user and root is exempt from it.
::testing::AssertionResult runsToTheEnd(int threads)
{
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    const pid_t child = fork();
    if (child == 0) {
        // A hang ends the child instead of the whole test run.
        alarm(60);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        const rlimit tasks{rlim_t(threads + 1), rlim_t(threads + 1)};
        if (setrlimit(RLIMIT_NPROC, &tasks) != 0 || setenv(kLimitedChild, "1", 1) != 0)
            _exit(3);
        execl("/proc/self/exe", "child", filter.c_str(), static_cast<char *>(nullptr));
        _exit(4);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return ::testing::AssertionFailure() << "the child could not be run";
    if (WIFSIGNALED(status))
        return ::testing::AssertionFailure() << "the child hung or crashed (signal " << WTERMSIG(status) << ")";
    if (WEXITSTATUS(status) != 0)
        return ::testing::AssertionFailure() << "the child failed (exit " << WEXITSTATUS(status) << ")";
    return ::testing::AssertionSuccess();
}

// In the limited child, runs `work` and ends with its outcome.
void inLimitedChild(const std::function<bool()> &work)
{
    if (qEnvironmentVariableIsSet(kLimitedChild))
        _exit(work() ? 0 : 1);
}

// Starts threads that wait until released, until the system refuses one.
struct ThreadHog {
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable released;
    bool done = false;
    ThreadHog()
    {
        for (int k = 0; k < 64; ++k) {
            try {
                threads.emplace_back([this] {
                    std::unique_lock lock(mutex);
                    released.wait(lock, [this] { return done; });
                });
            } catch (const std::system_error &) {
                break;
            }
        }
    }
    ~ThreadHog()
    {
        {
            const std::lock_guard lock(mutex);
            done = true;
        }
        released.notify_all();
        for (std::thread &thread : threads)
            thread.join();
    }
};

TEST(NoThreadLeft, ReservingSaysSo)
{
    inLimitedChild([] {
        std::string reason;
        QThreadPool pool;
        return reserveThreads(pool, reason) == 0 && !reason.empty();
    });
    EXPECT_TRUE(runsToTheEnd(0));
}

// Threads reserved early carry Qt's conversions and fills once the system
// grants no more.
TEST(NoThreadLeft, ReservedThreadsCarryQtsOwnWork)
{
    inLimitedChild([] {
        std::string reason;
        if (reserveThreads(*QThreadPool::globalInstance(), reason) == 0)
            return false;
        const ThreadHog hog;
        QImage canvas(2048, 2048, QImage::Format_RGB32);
        QPainter painter(&canvas);
        painter.fillRect(canvas.rect(), QColor(10, 20, 30));
        painter.end();
        const QImage converted = canvas.convertToFormat(QImage::Format_RGB888);
        return canvas.pixel(2047, 2047) == qRgb(10, 20, 30) && converted.pixel(2047, 2047) == qRgb(10, 20, 30);
    });
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the child as a user with no other processes";
    EXPECT_TRUE(runsToTheEnd(4));
}

#endif

} // namespace
