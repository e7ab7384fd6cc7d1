#include "BackgroundJob.h"

#include <QMetaObject>

#include <system_error>
#include <utility>

namespace terralume::ui {

BackgroundJob::BackgroundJob(QObject *parent) : QObject(parent) {}

BackgroundJob::~BackgroundJob()
{
    if (thread_.joinable())
        thread_.join();
}

bool BackgroundJob::start(Work work, Done done)
{
    if (running_)
        return false;
    running_ = true;
    ranHere_ = false;
    done_ = std::move(done);
    // The end of the work is handed back like any step, so that Done comes
    // after them all.
    const auto run = [this](const Work &work, const HandBack &handBack) {
        std::exception_ptr failure;
        try {
            work(handBack);
        } catch (...) {
            failure = std::current_exception();
        }
        handBack([this, failure] {
            if (thread_.joinable())
                thread_.join();
            running_ = false;
            const Done done = std::exchange(done_, {});
            if (done)
                done(failure);
            emit finished();
        });
    };
    try {
        thread_ = std::thread([this, run, work] {
            run(work, [this](std::function<void()> step) {
                {
                    const std::lock_guard lock(mutex_);
                    handed_.push_back(std::move(step));
                }
                QMetaObject::invokeMethod(this, &BackgroundJob::deliver, Qt::QueuedConnection);
            });
        });
    } catch (const std::system_error &) {
        // Better a window that stops for the length of the work than one
        // whose job never ends.
        ranHere_ = true;
        run(work, [](const std::function<void()> &step) { step(); });
    }
    return true;
}

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
        step();
    }
}

} // namespace terralume::ui
