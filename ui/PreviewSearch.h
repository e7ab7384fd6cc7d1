#pragma once
// A search for worlds to look at, run off the window's thread: it goes
// through the seeds upward from a start (past the last seed, on from the
// first) on every core, and hands each match, with its thumbnail, to the
// window's thread in seed order.

#include "WorldPreview.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace terralume::ui {

class PreviewSearch : public QObject {
    Q_OBJECT
public:
    struct Page {
        std::string size;
        int water = 0;
        int heat = 0;
        FigureFilter filter;
        std::int64_t start = 1;
        int wanted = 12;
        int thumbnailSide = 128; // in pixels
    };
    enum class End { AllFound, Stopped, SeedsRanOut };

    explicit PreviewSearch(QObject *parent = nullptr);
    // Stops the search and waits for it.
    ~PreviewSearch() override;

    // A search under way is stopped first; nothing more comes from it. When
    // the system grants no thread the search runs before this returns, and
    // what it finds still comes through the event loop.
    void start(const Page &page);
    // Asks the search to end; finished() follows with End::Stopped.
    void stop();
    bool running() const { return running_; }
    // Seeds whose worlds decided the current or last page so far: up to the
    // last world found once the page is full, not those looked at ahead.
    std::int64_t looked() const;
    // The figures of the worlds the current search has looked at since the
    // last call, over-scan and all.
    std::vector<WorldFigures> takeSeen();

signals:
    void found(const terralume::WorldPreview &preview);
    void finished(terralume::ui::PreviewSearch::End end);

private:
    struct Run;
    void halt();
    void search(const Page &page, const std::shared_ptr<Run> &run, unsigned generation);

    std::shared_ptr<Run> run_;
    unsigned generation_ = 0; // of the current search; what an earlier one posts is dropped
    bool running_ = false;
    std::jthread thread_;
};

} // namespace terralume::ui
