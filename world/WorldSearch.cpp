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

// Blocks a thread may be ahead of the first one not yet told, per thread:
// room enough that no thread waits for a slow neighbour, little enough that
// the matches waiting to be told stay few.
constexpr std::int64_t kBlocksAheadPerThread = 4;

// Nearer is higher below a range and lower above it; of equals, the lower seed.
void keepNearer(std::optional<FigureMisses::Nearest> &kept, FigureMisses::Nearest seen, bool below)
{
    if (!kept || (below ? seen.value > kept->value : seen.value < kept->value) ||
        (seen.value == kept->value && seen.seed < kept->seed))
        kept = seen;
}

// One seed looked at: its figures, and the world itself when it matches.
void lookAt(std::int64_t seed, const SearchRequest &request, World &world, FigureCounter &counter,
            std::vector<FoundWorld> &matches, SearchTally &tally)
{
    const WorldFigures figures = figuresOfSeed(seed, request.size, request.water, world, counter);
    if (request.looked)
        request.looked->fetch_add(1, std::memory_order_relaxed);
    if (request.seen)
        request.seen(seed, figures);
    const FigureFilter &filter = request.filter;
    tally.land.see(percentHundredths(figures.landCells, figures.cells), seed, filter.landLowest, filter.landHighest);
    tally.landmasses.see(figures.landmasses, seed, filter.landmassesLowest, filter.landmassesHighest);
    if (filter.accepts(figures))
        matches.push_back({seed, figures, request.keep ? request.keep(world) : std::any{}});
}

// What the threads of one search share. Blocks are handed out in seed order
// and their matches wait here until the calling thread has told every
// earlier block's.
struct SharedScan {
    SharedScan(const SearchRequest &r, std::int64_t seeds, std::int64_t perBlock, unsigned threads)
        : request(r), blockSeeds(perBlock), blocks((seeds + perBlock - 1) / perBlock),
          ahead(kBlocksAheadPerThread * std::max(1u, threads))
    {
    }

    bool stopAsked() const { return over || request.stop.stop_requested(); }

    // Wakes whoever waits, once the search is over for everyone.
    void end()
    {
        over = true;
        const std::lock_guard lock(mutex);
        ready.notify_all();
    }

    const SearchRequest &request;
    const std::int64_t blockSeeds;
    const std::int64_t blocks;
    const std::int64_t ahead;
    std::atomic<std::int64_t> nextBlock{0};
    std::atomic<bool> over{false}; // the calling thread has left, or a thread failed
    std::mutex mutex;
    std::condition_variable ready;
    std::map<std::int64_t, std::vector<FoundWorld>> finished;
    std::int64_t told = 0; // blocks whose matches were handed on
    bool cut = false;      // a block was left unfinished, and never will be
    SearchTally tally;
};

// Looks through blocks until none is left, a stop or a failure, or `mayTake`
// says no to the next one.
void scanBlocks(SharedScan &scan, const std::function<bool(std::int64_t block)> &mayTake)
{
    const SearchRequest &request = scan.request;
    SearchTally tally;
    // Whichever way this thread leaves, what it saw counts.
    const auto addTally = [&] {
        const std::lock_guard lock(scan.mutex);
        scan.tally.land.add(tally.land);
        scan.tally.landmasses.add(tally.landmasses);
    };
    try {
        World world;
        FigureCounter counter;
        for (std::int64_t block = scan.nextBlock++; block < scan.blocks; block = scan.nextBlock++) {
            if (!mayTake(block))
                break;
            std::vector<FoundWorld> matches;
            const std::int64_t first = request.start + block * scan.blockSeeds;
            const std::int64_t last = std::min(lastSeedOf(request), first + scan.blockSeeds - 1);
            std::int64_t seed = first;
            for (; seed <= last && !scan.stopAsked(); ++seed)
                lookAt(seed, request, world, counter, matches, tally);
            {
                const std::lock_guard lock(scan.mutex);
                if (seed > last)
                    scan.finished.emplace(block, std::move(matches));
                else
                    scan.cut = true;
            }
            scan.ready.notify_all();
            if (seed <= last)
                break;
        }
        addTally();
    } catch (...) {
        // The calling thread may be waiting for this thread's block.
        {
            const std::lock_guard lock(scan.mutex);
            scan.cut = true;
        }
        addTally();
        scan.end();
        throw;
    }
}

struct EndOnExit {
    SharedScan &scan;
    ~EndOnExit() { scan.end(); }
};

} // namespace

void FigureMisses::see(std::int64_t value, std::int64_t seed, std::int64_t lowest, std::int64_t highest)
{
    if (value < lowest)
        keepNearer(below, {value, seed}, true);
    else if (value > highest)
        keepNearer(above, {value, seed}, false);
    else
        ++within;
}

void FigureMisses::add(const FigureMisses &other)
{
    within += other.within;
    if (other.below)
        keepNearer(below, *other.below, true);
    if (other.above)
        keepNearer(above, *other.above, false);
}

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

    SharedScan scan(request, seeds, blockSeedsFor(request, threads), threads);
    // Whoever waits wakes to a stop asked from elsewhere.
    const std::stop_callback wake(request.stop, [&] {
        const std::lock_guard lock(scan.mutex);
        scan.ready.notify_all();
    });
    std::int64_t handed = 0;
    bool ended = false; // all wanted were handed, or `found` took no more
    std::int64_t decided = 0;
    const auto decide = [&](std::int64_t throughSeed) {
        if (request.decided)
            request.decided->fetch_add(throughSeed - request.start + 1 - decided, std::memory_order_relaxed);
        decided = throughSeed - request.start + 1;
    };
    // Tells the finished blocks that follow those told, in order, waiting for
    // each one before `through`; false once nothing more will be told. After
    // a stop it tells, without waiting, those that were finished in time.
    const auto tell = [&](std::int64_t through) {
        while (!ended) {
            std::vector<FoundWorld> matches;
            {
                std::unique_lock lock(scan.mutex);
                const auto waited = [&] {
                    return scan.cut || request.stop.stop_requested() || scan.finished.count(scan.told) != 0;
                };
                if (scan.told < through)
                    scan.ready.wait(lock, waited);
                const auto it = scan.finished.find(scan.told);
                if (it == scan.finished.end())
                    return !scan.cut && !request.stop.stop_requested() && scan.told < scan.blocks;
                matches = std::move(it->second);
                scan.finished.erase(it);
                ++scan.told;
            }
            scan.ready.notify_all();
            for (const FoundWorld &match : matches) {
                if (!found(match)) {
                    decide(match.seed - 1);
                    ended = true;
                } else if (++handed == request.wanted) {
                    decide(match.seed);
                    ended = true;
                }
                if (ended)
                    break;
            }
            if (!ended)
                decide(std::min(lastSeedOf(request), request.start + scan.told * scan.blockSeeds - 1));
        }
        return false;
    };
    runSideBySide(threads, [&](unsigned k) {
        if (k != 0) {
            scanBlocks(scan, [&](std::int64_t block) {
                std::unique_lock lock(scan.mutex);
                scan.ready.wait(lock, [&] { return block < scan.told + scan.ahead || scan.stopAsked(); });
                return !scan.stopAsked();
            });
            return;
        }
        // The calling thread looks at seeds too, and tells what all have
        // found before each of its blocks; whichever way it leaves, the
        // others end.
        const EndOnExit end{scan};
        scanBlocks(scan, [&](std::int64_t block) { return tell(block - scan.ahead + 1); });
        tell(scan.blocks);
    });
    if (request.tally)
        *request.tally = scan.tally;
    return handed;
}

} // namespace terralume
