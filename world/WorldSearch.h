#pragma once
// Looking through the decimal seeds for worlds whose figures fall in the
// ranges asked for. Every world of a search is made with a seeded source and
// a grid of the search's own, never the map window's.

#include "WorldFigures.h"

#include <any>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <stop_token>
#include <string>

namespace terralume {

// The largest seed the settings window takes in decimal (eight digits).
inline constexpr std::int64_t kHighestSearchSeed = 99999999;

// Inclusive ranges of the figures a found world has. Land is compared in
// hundredths of a percent as printed, so that a listed "40.00" always lies in
// a range that ends at 40.
struct FigureFilter {
    std::int64_t landLowest = 0, landHighest = 10000;
    int landmassesLowest = 0, landmassesHighest = std::numeric_limits<int>::max();

    bool accepts(const WorldFigures &figures) const;
    friend bool operator==(const FigureFilter &, const FigureFilter &) = default;
};

// How near the worlds looked at came to one figure's range: how many lay in
// it, and the nearest value seen below it and above it, each with the lowest
// seed that gave it.
struct FigureMisses {
    struct Nearest {
        std::int64_t value, seed;
    };
    std::int64_t within = 0;
    std::optional<Nearest> below, above;

    void see(std::int64_t value, std::int64_t seed, std::int64_t lowest, std::int64_t highest);
    void add(const FigureMisses &other);
};

struct SearchTally {
    FigureMisses land, landmasses; // land in hundredths of a percent
};

struct SearchRequest {
    std::string size;
    int water = 0;
    FigureFilter filter;
    std::int64_t start = 1;
    std::int64_t limit = 1000000; // seeds looked at, at most
    std::int64_t wanted = 1;
    // Ends the search soon after it is requested, with what was handed so far.
    std::stop_token stop;
    // Counts the seeds looked at, for whoever shows how far a search has got.
    std::atomic<std::int64_t> *looked = nullptr;
    // Counts the seeds whose figures decided what was handed on: those up to
    // the last world handed, or every seed told of when more were wanted;
    // not those the threads looked at ahead of them. Added to, so that the
    // searches of one job can share it.
    std::atomic<std::int64_t> *decided = nullptr;
    // Sees the figures of every world looked at, on the thread that made it.
    std::function<void(std::int64_t seed, const WorldFigures &)> seen;
    // Where the figures of every world looked at are tallied against the
    // filter, for whoever says why a search found fewer than it wanted.
    SearchTally *tally = nullptr;
    // What to keep of a matching world besides its figures (a picture of it),
    // made on the thread that made the world, while its grid is at hand.
    std::function<std::any(const World &)> keep;
};

struct FoundWorld {
    std::int64_t seed = 0;
    WorldFigures figures;
    std::any kept; // what the request's `keep` made of it
};

// The figures of the world a decimal seed makes, with `world` as the grid.
WorldFigures figuresOfSeed(std::int64_t seed, const std::string &size, int water, World &world, FigureCounter &counter);

// The last seed a request looks at: `limit` seeds from `start`, never past
// kHighestSearchSeed.
std::int64_t lastSeedOf(const SearchRequest &request);

// Hands the first `wanted` matching worlds to `found` on the calling thread,
// in seed order, and returns how many `found` took. `found` returning false
// (it could not pass the world on) ends the search there, that world not
// counted. `threads` threads make the worlds side by side, the calling
// thread among them (runSideBySide); while `found` is busy they run only a
// few blocks of seeds ahead of it, so a taker that does not take (a pipe
// nobody reads) holds the search up rather than filling the memory.
std::int64_t searchWorlds(const SearchRequest &request, unsigned threads,
                          const std::function<bool(const FoundWorld &)> &found);

} // namespace terralume
