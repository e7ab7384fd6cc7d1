#include "WorldSearch.h"

#include "Generator.h"
#include "SeededRandom.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <stop_token>
#include <system_error>
#include <thread>
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

bool stopAsked(const SearchRequest &request, const std::stop_token &own)
{
    return own.stop_requested() || request.stop.stop_requested();
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

    const SearchRequest &request;
    const std::int64_t blockSeeds;
    const std::int64_t blocks;
    bool stopped = false; // a thread saw the caller's stop and left its block unfinished
    std::atomic<std::int64_t> nextBlock{0};
    std::mutex mutex;
    std::condition_variable ready;
    std::map<std::int64_t, std::vector<FoundWorld>> finished;
    std::exception_ptr failure;
};

// False when a stop cut the block short.
bool scanBlock(const SharedScan &scan, std::int64_t block, World &world, FigureCounter &counter,
               const std::stop_token &stop, std::vector<FoundWorld> &matches)
{
    const SearchRequest &request = scan.request;
    const std::int64_t first = request.start + block * scan.blockSeeds;
    const std::int64_t last = std::min(lastSeedOf(request), first + scan.blockSeeds - 1);
    for (std::int64_t seed = first; seed <= last; ++seed) {
        if (stopAsked(request, stop))
            return false;
        lookAt(seed, request, world, counter, matches);
    }
    return true;
}

void scanBlocks(const std::stop_token &stop, SharedScan &scan)
{
    try {
        World world;
        FigureCounter counter;
        while (!stop.stop_requested()) {
            const std::int64_t block = scan.nextBlock.fetch_add(1);
            if (block >= scan.blocks)
                return;
            std::vector<FoundWorld> matches;
            const bool whole = scanBlock(scan, block, world, counter, stop, matches);
            {
                const std::lock_guard lock(scan.mutex);
                if (whole)
                    scan.finished.emplace(block, std::move(matches));
                else
                    scan.stopped = true;
            }
            scan.ready.notify_all();
            if (!whole)
                return;
        }
    } catch (...) {
        // The calling thread waits for this thread's block: it must learn why
        // that block never comes.
        {
            const std::lock_guard lock(scan.mutex);
            if (!scan.failure)
                scan.failure = std::current_exception();
        }
        scan.ready.notify_all();
    }
}

std::int64_t searchHere(const SearchRequest &request, const std::function<bool(const FoundWorld &)> &found)
{
    World world;
    FigureCounter counter;
    std::vector<FoundWorld> matches;
    std::int64_t handed = 0;
    for (std::int64_t seed = request.start;
         seed <= lastSeedOf(request) && handed < request.wanted && !request.stop.stop_requested(); ++seed) {
        lookAt(seed, request, world, counter, matches);
        if (matches.empty())
            continue;
        if (!found(matches.front()))
            break;
        matches.clear();
        ++handed;
    }
    return handed;
}

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
    if (threads <= 1)
        return searchHere(request, found);

    SharedScan scan(request, seeds, blockSeedsFor(request, threads));
    // Declared after the shared state, so they are stopped and joined before
    // it goes, whichever way this function is left.
    std::vector<std::jthread> workers;
    for (unsigned k = 0; k < threads; ++k) {
        try {
            workers.emplace_back(scanBlocks, std::ref(scan));
        } catch (const std::system_error &) {
            break; // the system grants no more threads: go on with those started
        }
    }
    if (workers.empty())
        return searchHere(request, found);

    std::int64_t handed = 0;
    for (std::int64_t block = 0; block < scan.blocks && !request.stop.stop_requested(); ++block) {
        std::vector<FoundWorld> matches;
        {
            std::unique_lock lock(scan.mutex);
            scan.ready.wait(lock, [&] { return scan.failure || scan.stopped || scan.finished.count(block) != 0; });
            if (scan.failure)
                std::rethrow_exception(scan.failure);
            const auto it = scan.finished.find(block);
            if (it == scan.finished.end())
                return handed; // stopped before this block was done
            matches = std::move(it->second);
            scan.finished.erase(it);
        }
        for (const FoundWorld &match : matches) {
            if (!found(match))
                return handed;
            if (++handed == request.wanted)
                return handed;
        }
    }
    return handed;
}

} // namespace terralume
