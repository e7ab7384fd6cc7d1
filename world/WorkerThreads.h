#pragma once
// Every thread the program starts for its own work starts here, so that all
// of them follow one rule: a thread the system refuses (too many processes,
// no address space left for a stack) is no error, its share of the work is
// done on the thread that asked. Work is shared over the cores this process
// may run on, which an affinity mask (taskset, a container's CPU set) can
// make fewer than the machine has.

#include <functional>
#include <stop_token>
#include <thread>

namespace terralume {

// The cores this process may run on, at least 1.
unsigned usableCores();

// `work` on a thread of its own; a non-joinable jthread when the system grants none.
std::jthread startThread(std::function<void(std::stop_token)> work);

// work(k) for k = 0..count-1 side by side: k = 0 on the calling thread, the others on threads of their own;
// a k whose thread cannot start runs on the calling thread after its own share. Returns when all have ended;
// the first exception any of them threw is rethrown then.
void runSideBySide(unsigned count, const std::function<void(unsigned k)> &work);

// While one lives, the system is taken to refuse every thread after the
// first `granted` started from then on, from any thread: how tests reach the
// paths that only a starved system takes.
class RefusedThreadStarts {
public:
    explicit RefusedThreadStarts(unsigned granted = 0);
    ~RefusedThreadStarts();
    RefusedThreadStarts(const RefusedThreadStarts &) = delete;
    RefusedThreadStarts &operator=(const RefusedThreadStarts &) = delete;

private:
    long before_; // what an outer one still grants
};

} // namespace terralume
