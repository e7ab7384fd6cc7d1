#include "Generator.h"
#include "SeededRandom.h"
#include "WorkerThreads.h"
#include "WorldSearch.h"

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <cstdint>
#include <ostream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

using namespace terralume;

namespace {

struct Row {
    std::int64_t seed;
    WorldFigures figures;
    std::uint64_t gridHash; // of the world the search kept something of
    friend bool operator==(const Row &, const Row &) = default;
};

std::uint64_t gridHash(const World &world)
{
    std::uint64_t hash = 14695981039346656037ull;
    const std::size_t cells = static_cast<std::size_t>(world.Heights.side()) * world.Heights.side();
    for (std::size_t i = 0; i < cells; ++i)
        hash = (hash ^ world.Heights.data()[i]) * 1099511628211ull;
    return hash;
}

void PrintTo(const Row &r, std::ostream *os)
{
    *os << r.seed << ": land " << r.figures.landCells << ", landmasses " << r.figures.landmasses;
}

// The search done plainly: one seed after another on this thread, each world
// made from its decimal text, kept when its printed land share and its
// landmasses lie in the ranges.
// `decided` is how many seeds it took.
std::vector<Row> plainScan(const SearchRequest &r, std::int64_t *decided = nullptr)
{
    std::vector<Row> rows;
    std::int64_t seed = r.start;
    for (; seed < r.start + r.limit && seed <= 99999999 && static_cast<std::int64_t>(rows.size()) < r.wanted; ++seed) {
        SeededRandom random;
        random.LoadSeed(std::to_string(seed));
        const World world = GenerateHeights(r.size, r.water, random);
        const WorldFigures f = worldFigures(world);
        const std::int64_t land = percentHundredths(f.landCells, f.cells);
        if (land >= r.filter.landLowest && land <= r.filter.landHighest && f.landmasses >= r.filter.landmassesLowest &&
            f.landmasses <= r.filter.landmassesHighest)
            rows.push_back({seed, f, gridHash(world)});
    }
    if (decided)
        *decided = seed - r.start;
    return rows;
}

// What the search keeps of each match must come from that match's own world,
// not from a grid its thread has since reused.
std::vector<Row> searched(SearchRequest request, unsigned threads, std::int64_t *handed = nullptr,
                          std::atomic<std::int64_t> *decided = nullptr)
{
    request.keep = [](const World &world) { return std::any(gridHash(world)); };
    request.decided = decided;
    std::vector<Row> rows;
    const std::int64_t count = searchWorlds(request, threads, [&](const FoundWorld &found) {
        rows.push_back({found.seed, found.figures, std::any_cast<std::uint64_t>(found.kept)});
        return true;
    });
    if (handed)
        *handed = count;
    return rows;
}

struct Search {
    const char *name;
    SearchRequest request;
    std::size_t expectedRows; // what the plain scan finds, so a row cannot pass on two empty lists
};

void PrintTo(const Search &s, std::ostream *os) { *os << s.name; }

class WorldSearchFinds : public testing::TestWithParam<Search> {};

// Whatever the number of threads, and however few of them the system
// grants, the rows are those of the plain scan, in its order, and no more
// than were asked for; the seeds that decided them are the plain scan's,
// however far the threads ran ahead.
TEST_P(WorldSearchFinds, WhatThePlainScanFindsInSeedOrder)
{
    const SearchRequest &request = GetParam().request;
    std::int64_t plainDecided = 0;
    const std::vector<Row> plain = plainScan(request, &plainDecided);
    ASSERT_EQ(plain.size(), GetParam().expectedRows);
    for (const unsigned threads : {1u, 2u, 3u, 8u}) {
        std::int64_t handed = -1;
        std::atomic<std::int64_t> decided{0};
        EXPECT_EQ(searched(request, threads, &handed, &decided), plain) << threads << " threads";
        EXPECT_EQ(handed, static_cast<std::int64_t>(plain.size())) << threads << " threads";
        EXPECT_EQ(decided.load(), plainDecided) << threads << " threads";
    }
    for (const unsigned granted : {0u, 1u}) {
        const RefusedThreadStarts refused(granted);
        EXPECT_EQ(searched(request, 4), plain) << granted << " of 3 threads granted";
    }
}

SearchRequest request(const char *size, int water, FigureFilter filter, std::int64_t start, std::int64_t limit,
                      std::int64_t wanted)
{
    SearchRequest r;
    r.size = size;
    r.water = water;
    r.filter = filter;
    r.start = start;
    r.limit = limit;
    r.wanted = wanted;
    return r;
}

constexpr FigureFilter kAny{};

INSTANTIATE_TEST_SUITE_P(Requests, WorldSearchFinds,
                         testing::Values(
                             // Every seed matches: the first `wanted` in order, across many blocks.
                             Search{"every seed", request("Small", 0, kAny, 1, 1000, 70), 70},
                             Search{"land share", request("Small", 0, {2500, 3000, 0, 1000}, 1, 400, 12), 12},
                             Search{"landmasses", request("Small", 10, {0, 10000, 3, 4}, 500, 300, 1000), 48},
                             Search{"both", request("Small", -25, {4000, 6000, 1, 2}, 7, 300, 5), 5},
                             // The range ends before `wanted` are found: what there is.
                             Search{"range runs out", request("Small", 0, {2500, 3000, 0, 1000}, 1, 40, 100), 9},
                             Search{"none", request("Small", 0, {0, 10000, 500, 600}, 1, 50, 3), 0},
                             // The last decimal seed the settings window takes ends every search.
                             Search{"last seeds", request("Small", 0, kAny, 99999990, 1000000, 1000), 10},
                             Search{"large", request("Large", 0, kAny, 40, 6, 6), 6},
                             // A block shorter than the others at the top of the seeds.
                             Search{"large, last seeds", request("Large", 35, kAny, 99999995, 100, 100), 5},
                             Search{"large, both", request("Large", -20, {5000, 5400, 35, 55}, 1, 24, 6), 6}));

// Whoever takes the rows may have to stop (a closed output): the search ends
// there, with the rows taken so far counted.
TEST(WorldSearch, EndsWhenTheTakerRefuses)
{
    const SearchRequest r = request("Small", 0, kAny, 1, 1000, 500);
    for (const unsigned threads : {1u, 2u, 4u}) {
        std::vector<std::int64_t> seeds;
        const std::int64_t handed = searchWorlds(r, threads, [&](const FoundWorld &found) {
            seeds.push_back(found.seed);
            return seeds.size() < 20;
        });
        EXPECT_EQ(handed, 19) << threads << " threads";
        EXPECT_EQ(seeds.size(), 20u) << threads << " threads";
        EXPECT_EQ(seeds.back(), 20) << threads << " threads";
    }
}

// A search that finds nothing for a long time still ends soon after it is
// asked to stop from elsewhere (the explorer's Stop), its seeds counted.
TEST(WorldSearch, StopsWhenAskedWhileFindingNothing)
{
    for (const unsigned threads : {1u, 2u, 4u}) {
        SearchRequest r = request("Small", 0, {0, 10000, 500, 600}, 1, 1000000, 12);
        std::atomic<std::int64_t> looked{0};
        std::stop_source stop;
        r.stop = stop.get_token();
        r.looked = &looked;
        std::jthread stopper([&] {
            while (looked.load() < 100)
                std::this_thread::yield();
            stop.request_stop();
        });
        EXPECT_EQ(searchWorlds(r, threads, [](const FoundWorld &) { return true; }), 0) << threads << " threads";
        EXPECT_GE(looked.load(), 100) << threads << " threads";
        EXPECT_LT(looked.load(), 100000) << threads << " threads";
    }
}

} // namespace
