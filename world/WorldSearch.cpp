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
constexpr std::int64_t kBlockSeeds = 16;

// What the threads of one search share. Blocks are handed out in seed order
// and their matches wait here until the calling thread has told every
// earlier block's.
struct SharedScan {
    SharedScan(const SearchRequest &r, std::int64_t b) : request(r), blocks(b) {}

    const SearchRequest &request;
    const std::int64_t blocks;
    std::atomic<std::int64_t> nextBlock{0};
    std::mutex mutex;
    std::condition_variable ready;
    std::map<std::int64_t, std::vector<FoundWorld>> finished;
    std::exception_ptr failure;
};

std::vector<FoundWorld> scanBlock(const SearchRequest &request, std::int64_t block, World &world,
                                  FigureCounter &counter, const std::stop_token &stop)
{
    std::vector<FoundWorld> matches;
    const std::int64_t first = request.start + block * kBlockSeeds;
    const std::int64_t last = std::min(lastSeedOf(request), first + kBlockSeeds - 1);
    for (std::int64_t seed = first; seed <= last && !stop.stop_requested(); ++seed) {
        const WorldFigures figures = figuresOfSeed(seed, request.size, request.water, world, counter);
        if (request.filter.accepts(figures))
            matches.push_back({seed, figures});
    }
    return matches;
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
            std::vector<FoundWorld> matches = scanBlock(scan.request, block, world, counter, stop);
            {
                const std::lock_guard lock(scan.mutex);
                scan.finished.emplace(block, std::move(matches));
            }
            scan.ready.notify_all();
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
    std::int64_t handed = 0;
    for (std::int64_t seed = request.start; seed <= lastSeedOf(request) && handed < request.wanted; ++seed) {
        const WorldFigures figures = figuresOfSeed(seed, request.size, request.water, world, counter);
        if (!request.filter.accepts(figures))
            continue;
        if (!found({seed, figures}))
            break;
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

    SharedScan scan(request, (seeds + kBlockSeeds - 1) / kBlockSeeds);
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
    for (std::int64_t block = 0; block < scan.blocks; ++block) {
        std::vector<FoundWorld> matches;
        {
            std::unique_lock lock(scan.mutex);
            scan.ready.wait(lock, [&] { return scan.failure || scan.finished.count(block) != 0; });
            if (scan.failure)
                std::rethrow_exception(scan.failure);
            const auto it = scan.finished.find(block);
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
