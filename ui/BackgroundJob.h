#pragma once
// One long piece of work of a window, done on a thread of its own so that the
// window keeps answering, with what it hands back run on the window's thread
// in the order it was handed.

#include <QObject>

#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

namespace terralume::ui {

class BackgroundJob : public QObject {
    Q_OBJECT
public:
    // Hands a step to the window's thread (to show a result half-way, say).
    using HandBack = std::function<void(std::function<void()> step)>;
    // Runs on the job's thread; an exception it throws ends the job as its
    // failure. `stop` is requested when the window gives the job up: work
    // that waits on others should then end soon.
    using Work = std::function<void(const HandBack &handBack, std::stop_token stop)>;
    // Runs on the window's thread once the work has ended, after every step
    // it handed back: with the first failure of the work or of a step, or
    // null.
    using Done = std::function<void(std::exception_ptr failure)>;

    explicit BackgroundJob(QObject *parent = nullptr);
    // Asks work still running to stop and waits for it; nothing it handed
    // back is run any more.
    ~BackgroundJob() override;

    // From a successful start until Done has begun.
    bool running() const { return running_; }
    // Whether the work ran on the calling thread because no thread could be
    // started for it.
    bool ranHere() const { return ranHere_; }

    // Starts `work` unless a job is running (then returns false). When the
    // system cannot start a thread, the work runs here and now, each step
    // as it is handed back and Done last, as any work of the window would.
    // A job that cannot be set up at all (no memory for it) throws and
    // leaves no job behind.
    bool start(Work work, Done done);

    // Asks the running work to give up; its steps and Done still come.
    void requestStop();

    // Waits for the running work to end, then runs what it handed back and
    // Done, before returning.
    void finish();

signals:
    // After Done has run.
    void finished();

private:
    // Runs on the window's thread what the work has handed back so far.
    void deliver();
    // The first failure of the job so far, which Done receives.
    void noteFailure(std::exception_ptr failure);

    std::jthread thread_;
    std::stop_source stop_;
    std::mutex mutex_;
    std::deque<std::function<void()>> handed_; // guarded by mutex_
    Done done_;
    std::exception_ptr failure_;
    bool running_ = false;
    bool ranHere_ = false;
};

} // namespace terralume::ui
