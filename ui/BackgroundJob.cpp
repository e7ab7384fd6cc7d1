#include "BackgroundJob.h"

#include "TerralumeApplication.h"
#include "WorkerThreads.h"

#include <QMetaObject>

#include <utility>

namespace terralume::ui {

BackgroundJob::BackgroundJob(QObject *parent) : QObject(parent) {}

BackgroundJob::~BackgroundJob()
{
    stop_.request_stop();
    if (thread_.joinable())
        thread_.join();
}

void BackgroundJob::noteFailure(std::exception_ptr failure)
{
    if (!failure_)
        failure_ = std::move(failure);
}

bool BackgroundJob::start(Work work, Done done)
{
    if (running_)
        return false;
    // Whatever may fail to be had comes first, so that a failure leaves the
    // job as it was: idle.
    std::stop_source stop;
    // The end of the work is handed back like any step, so that Done comes
    // after them all.
    auto run = [this, work = std::move(work), stop = stop.get_token()](const HandBack &handBack) {
        std::exception_ptr failure;
        try {
            work(handBack, stop);
        } catch (...) {
            failure = std::current_exception();
        }
        handBack([this, failure] {
            if (thread_.joinable())
                thread_.join();
            noteFailure(failure);
            running_ = false;
            const Done done = std::exchange(done_, {});
            // Done is the window's own handler of the outcome.
            if (done)
                guardedCall([&] { done(std::exchange(failure_, {})); });
            emit finished();
        });
    };
    std::jthread thread = startThread([this, run](std::stop_token) {
        run([this](std::function<void()> step) {
            {
                const std::lock_guard lock(mutex_);
                handed_.push_back(std::move(step));
            }
            QMetaObject::invokeMethod(this, &BackgroundJob::deliver, Qt::QueuedConnection);
        });
    });
    stop_ = std::move(stop);
    done_ = std::move(done);
    failure_ = nullptr;
    running_ = true;
    // Better a window that stops for the length of the work than one whose
    // job never ends.
    ranHere_ = !thread.joinable();
    if (ranHere_) {
        run([this](const std::function<void()> &step) {
            try {
                step();
            } catch (...) {
                noteFailure(std::current_exception());
            }
        });
    } else {
        thread_ = std::move(thread);
    }
    return true;
}

void BackgroundJob::requestStop() { stop_.request_stop(); }

void BackgroundJob::finish()
{
    if (thread_.joinable())
        thread_.join();
    deliver();
}

void BackgroundJob::deliver()
{
    // Each step is taken off before it runs: a step may run an event loop
    // (an error box) in which the next delivery comes.
    for (;;) {
        std::function<void()> step;
        {
            const std::lock_guard lock(mutex_);
            if (handed_.empty())
                return;
            step = std::move(handed_.front());
            handed_.pop_front();
        }
        // A failing step ends in Done like a failing work, not in Qt's
        // dispatch of the delivery.
        try {
            step();
        } catch (...) {
            noteFailure(std::current_exception());
        }
    }
}

} // namespace terralume::ui
