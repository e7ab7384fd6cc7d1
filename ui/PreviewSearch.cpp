#include "PreviewSearch.h"

#include "TerralumeApplication.h"
#include "WorkerThreads.h"

#include <exception>
#include <mutex>
#include <stop_token>

namespace terralume::ui {

struct PreviewSearch::Run {
    std::atomic<std::int64_t> decided{0};
    std::stop_source stop;
    std::mutex seenLock;
    std::vector<WorldFigures> seen;
};

PreviewSearch::PreviewSearch(QObject *parent) : QObject(parent) {}

PreviewSearch::~PreviewSearch() { halt(); }

void PreviewSearch::halt()
{
    if (run_)
        run_->stop.request_stop();
    if (thread_.joinable())
        thread_.join();
    running_ = false;
}

void PreviewSearch::start(const Page &page)
{
    halt();
    // Marked running only once its thread is there: a start that throws
    // leaves no search behind.
    auto run = std::make_shared<Run>();
    const unsigned generation = ++generation_;
    thread_ = startThread([this, page, run, generation](std::stop_token) { search(page, run, generation); });
    run_ = std::move(run);
    running_ = true;
    // With no thread of its own the search runs here, its results posted
    // all the same.
    if (!thread_.joinable())
        search(page, run_, generation);
}

void PreviewSearch::stop()
{
    if (run_)
        run_->stop.request_stop();
}

std::int64_t PreviewSearch::looked() const { return run_ ? run_->decided.load(std::memory_order_relaxed) : 0; }

std::vector<WorldFigures> PreviewSearch::takeSeen()
{
    std::vector<WorldFigures> seen;
    if (run_) {
        const std::lock_guard lock(run_->seenLock);
        seen.swap(run_->seen);
    }
    return seen;
}

void PreviewSearch::search(const Page &page, const std::shared_ptr<Run> &run, unsigned generation)
{
    // Runs on the window's thread, unless this object is gone by then (Qt
    // drops what is posted to a deleted object) or a newer search has begun.
    const auto post = [this, generation](auto step) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, step] {
                if (generation == generation_)
                    step();
            },
            Qt::QueuedConnection);
    };
    const std::stop_token stop = run->stop.get_token();
    std::int64_t handed = 0;
    bool failed = false;
    try {
        // From the start to the last seed, then from the first seed up to the start.
        const std::int64_t ranges[2][2] = {{page.start, kHighestSearchSeed}, {1, page.start - 1}};
        for (const auto &range : ranges) {
            if (handed == page.wanted || stop.stop_requested() || range[1] < range[0])
                continue;
            SearchRequest request;
            request.size = page.size;
            request.water = page.water;
            request.filter = page.filter;
            request.start = range[0];
            request.limit = range[1] - range[0] + 1;
            request.wanted = page.wanted - handed;
            request.stop = stop;
            request.decided = &run->decided;
            request.seen = [&run](std::int64_t, const WorldFigures &figures) {
                const std::lock_guard lock(run->seenLock);
                run->seen.push_back(figures);
            };
            keepThumbnails(request, page.heat, page.thumbnailSide);
            handed += searchWorlds(request, usableCores(), [&](const FoundWorld &world) {
                post([this, preview = previewOf(world)] { emit found(preview); });
                return true;
            });
        }
    } catch (...) {
        failed = true;
        post([failure = std::current_exception()] { reportError(failure); });
    }
    const End end = handed == page.wanted                ? End::AllFound
                    : failed || stop.stop_requested() ? End::Stopped
                                                      : End::SeedsRanOut;
    post([this, end] {
        running_ = false;
        emit finished(end);
    });
}

} // namespace terralume::ui
