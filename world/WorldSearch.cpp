#include "WorldSearch.h"

#include "Generator.h"
#include "SeededRandom.h"
#include "WorkerThreads.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace terralume {

namespace {

// Seeds a thread takes at a time: few enough that the first matches are
// told soon after they are made, enough that threads seldom meet at the lock.
// A search for a handful of worlds takes fewer, so that every thread has a
// share of them even when nearly every seed matches.
constexpr std::int64_t kBlockSeeds = 16;

std::int64_t blockSeedsFor(const SearchRequest &request, unsigned threads)
{
    return std::clamp<std::int64_t>(request.wanted / std::max(1u, threads), 1, kBlockSeeds);
}

// One seed looked at: its figures, and the world itself when it matches.
void lookAt(std::int64_t seed, const SearchRequest &request, World &world, FigureCounter &counter,
            std::vector<FoundWorld> &matches)
{
    const WorldFigures figures = figuresOfSeed(seed, request.size, request.water, world, counter);
    if (request.looked)
        request.looked->fetch_add(1, std::memory_order_relaxed);
    if (request.filter.accepts(figures))
        matches.push_back({seed, figures, request.keep ? request.keep(world) : std::any{}});
}

// What the threads of one search share. Blocks are handed out in seed order
// and their matches wait here until the calling thread has told every
// earlier block's.
struct SharedScan {
    SharedScan(const SearchRequest &r, std::int64_t seeds, std::int64_t perBlock)
        : request(r), blockSeeds(perBlock), blocks((seeds + perBlock - 1) / perBlock)
    {
    }

    bool stopAsked() const { return over || request.stop.stop_requested(); }

    const SearchRequest &request;
    const std::int64_t blockSeeds;
    const std::int64_t blocks;
    std::atomic<std::int64_t> nextBlock{0};
    std::atomic<bool> over{false}; // the calling thread has left, or a thread failed
    std::mutex mutex;
    std::condition_variable ready;
    std::map<std::int64_t, std::vector<FoundWorld>> finished;
    bool cut = false; // a block was left unfinished, and never will be
};

// Looks through blocks until none is left, calling `afterBlock` after each
// one; false when a stop, a failure or `afterBlock` ended it sooner.
bool scanBlocks(SharedScan &scan, const std::function<bool()> &afterBlock)
{
    const SearchRequest &request = scan.request;
    try {
        World world;
        FigureCounter counter;
        for (std::int64_t block = scan.nextBlock++; block < scan.blocks; block = scan.nextBlock++) {
            std::vector<FoundWorld> matches;
            const std::int64_t first = request.start + block * scan.blockSeeds;
            const std::int64_t last = std::min(lastSeedOf(request), first + scan.blockSeeds - 1);
            std::int64_t seed = first;
            for (; seed <= last && !scan.stopAsked(); ++seed)
                lookAt(seed, request, world, counter, matches);
            {
                const std::lock_guard lock(scan.mutex);
                if (seed > last)
                    scan.finished.emplace(block, std::move(matches));
                else
                    scan.cut = true;
            }
            scan.ready.notify_all();
            if (seed <= last || !afterBlock())
                return false;
        }
        return true;
    } catch (...) {
        // The calling thread may be waiting for this thread's block.
        {
            const std::lock_guard lock(scan.mutex);
            scan.cut = true;
        }
        scan.over = true;
        scan.ready.notify_all();
        throw;
    }
}

struct OverOnExit {
    SharedScan &scan;
    ~OverOnExit() { scan.over = true; }
};

} // namespace

bool FigureFilter::accepts(const WorldFigures &figures) const
{
    const std::int64_t land = percentHundredths(figures.landCells, figures.cells);
    return land >= landLowest && land <= landHighest && figures.landmasses >= landmassesLowest &&
           figures.landmasses <= landmassesHighest;
}

WorldFigures figuresOfSeed(std::int64_t seed, const std::string &size, int water, World &world, FigureCounter &counter)
{
    SeededRandom random;
    random.LoadSeed(std::to_string(seed));
    GenerateHeights(world, size, water, random);
    return counter.count(world);
}

std::int64_t lastSeedOf(const SearchRequest &request)
{
    return std::min(kHighestSearchSeed, request.start + request.limit - 1);
}

std::int64_t searchWorlds(const SearchRequest &request, unsigned threads,
                          const std::function<bool(const FoundWorld &)> &found)
{
    const std::int64_t seeds = lastSeedOf(request) - request.start + 1;
    if (seeds <= 0 || request.wanted <= 0)
        return 0;

    SharedScan scan(request, seeds, blockSeedsFor(request, threads));
    std::int64_t handed = 0;
    std::int64_t told = 0; // blocks
    // Tells the finished blocks that follow those told, in order; false once
    // the search is over. Without `wait` it returns at a block not yet done.
    const auto tell = [&](bool wait) {
        while (told < scan.blocks && !request.stop.stop_requested()) {
            std::vector<FoundWorld> matches;
            {
                std::unique_lock lock(scan.mutex);
                if (wait)
                    scan.ready.wait(lock, [&] { return scan.cut || scan.finished.count(told) != 0; });
                const auto it = scan.finished.find(told);
                if (it == scan.finished.end())
                    return !scan.cut;
                matches = std::move(it->second);
                scan.finished.erase(it);
            }
            ++told;
            for (const FoundWorld &match : matches)
                if (!found(match) || ++handed == request.wanted)
                    return false;
        }
        return false;
    };
    runSideBySide(threads, [&](unsigned k) {
        if (k != 0) {
            scanBlocks(scan, [] { return true; });
            return;
        }
        // The calling thread looks at seeds too, and tells what all have
        // found between its blocks; whichever way it leaves, the others end.
        const OverOnExit over{scan};
        if (scanBlocks(scan, [&] { return tell(false); }))
            tell(true);
    });
    return handed;
}

} // namespace terralume
