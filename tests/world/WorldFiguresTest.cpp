#include "Generator.h"
#include "SeededRandom.h"
#include "WorldFigures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace terralume {
// How a row's figures are shown when they differ.
void PrintTo(const WorldFigures &f, std::ostream *os)
{
    *os << "{cells " << f.cells << ", land " << f.landCells << ", landmasses " << f.landmasses << ", largest "
        << f.largestCells << ", highest " << f.highest << "}";
}
} // namespace terralume

using namespace terralume;

namespace {

// The figures counted the plain way: every cell looked at on its own, each
// region flooded breadth first from its first cell.
WorldFigures plainFigures(const World &w)
{
    const int side = w.Heights.side();
    const auto land = [&](int x, int y) { return w.AdjustedHeight(x, y) >= 128; };
    WorldFigures f;
    f.cells = std::int64_t{side} * side;
    f.highest = w.AdjustedHeight(0, 0);
    std::vector<bool> seen(static_cast<std::size_t>(f.cells), false);
    const auto at = [&](int x, int y) { return static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + x; };
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            f.highest = std::max(f.highest, w.AdjustedHeight(x, y));
            if (!land(x, y))
                continue;
            ++f.landCells;
            if (seen[at(x, y)])
                continue;
            std::int64_t size = 0;
            std::deque<std::pair<int, int>> queue{{x, y}};
            seen[at(x, y)] = true;
            while (!queue.empty()) {
                const auto [cx, cy] = queue.front();
                queue.pop_front();
                ++size;
                const std::pair<int, int> next[] = {{cx + 1, cy}, {cx - 1, cy}, {cx, cy + 1}, {cx, cy - 1}};
                for (const auto &[nx, ny] : next)
                    if (nx >= 0 && ny >= 0 && nx < side && ny < side && land(nx, ny) && !seen[at(nx, ny)]) {
                        seen[at(nx, ny)] = true;
                        queue.emplace_back(nx, ny);
                    }
            }
            if (size >= 16) {
                ++f.landmasses;
                f.largestCells = std::max(f.largestCells, size);
            }
        }
    return f;
}

struct Generated {
    const char *size;
    const char *seed;
    int water;
};

void PrintTo(const Generated &g, std::ostream *os) { *os << g.size << " " << g.seed << " water " << g.water; }

class FiguresOfGeneratedWorld : public testing::TestWithParam<Generated> {};

TEST_P(FiguresOfGeneratedWorld, MatchThePlainCount)
{
    SeededRandom random;
    random.LoadSeed(GetParam().seed);
    const World world = GenerateHeights(GetParam().size, GetParam().water, random);
    const WorldFigures plain = plainFigures(world);
    // A grid with no land or no landmass would leave half the rule untried.
    ASSERT_GT(plain.landmasses, 0);
    EXPECT_EQ(worldFigures(world), plain);
}

INSTANTIATE_TEST_SUITE_P(Seeds, FiguresOfGeneratedWorld,
                         testing::Values(Generated{"Small", "1", 0}, Generated{"Small", "2", -40},
                                         Generated{"Small", "42861244", 40}, Generated{"Small", "77", -13},
                                         Generated{"Small", "$BEEF", 21}, Generated{"Small", "-5", 7},
                                         Generated{"Small", "99999999", -28}, Generated{"Medium", "3", 0},
                                         Generated{"Medium", "314159", -40}, Generated{"Medium", "8080", 35},
                                         Generated{"Large", "7", -10}, Generated{"Large", "12345", 30},
                                         Generated{"Large", "99999999", 40}, Generated{"Large", "99999998", -40}));

// One counter counts world after world; nothing of one world may stay in the
// next one's figures.
TEST(FigureCounter, CountsEachWorldAfreshWhenReused)
{
    FigureCounter counter;
    SeededRandom random;
    for (const auto &[size, seed, water] : {Generated{"Large", "5", -40}, Generated{"Small", "6", 40},
                                            Generated{"Medium", "9", 0}, Generated{"Small", "6", 40}}) {
        random.LoadSeed(seed);
        const World world = GenerateHeights(size, water, random);
        EXPECT_EQ(counter.count(world), plainFigures(world)) << size << " " << seed;
    }
}

// A grid drawn by hand: '#' a cell at height 200, '.' one at 40, digits a
// height of 120 + 2 * digit (so '3' is 126, '4' 128); rows top to bottom.
World drawn(const std::vector<std::string> &rows, int waterOffset)
{
    World w;
    w.Heights.resetZeroed(static_cast<int>(rows.size()) - 1);
    w.WaterOffset = waterOffset;
    for (std::size_t y = 0; y < rows.size(); ++y)
        for (std::size_t x = 0; x < rows.size(); ++x) {
            const char c = rows[y][x];
            w.Heights.at(static_cast<int>(x), static_cast<int>(y)) =
                static_cast<std::uint8_t>(c == '#'   ? 200
                                          : c == '.' ? 40
                                                     : 120 + 2 * (c - '0'));
        }
    return w;
}

struct Drawing {
    const char *name;
    std::vector<std::string> rows;
    int waterOffset;
    WorldFigures expected;
};

void PrintTo(const Drawing &d, std::ostream *os) { *os << d.name; }

class FiguresOfDrawnGrid : public testing::TestWithParam<Drawing> {};

TEST_P(FiguresOfDrawnGrid, AreAsDrawn)
{
    const World world = drawn(GetParam().rows, GetParam().waterOffset);
    EXPECT_EQ(worldFigures(world), GetParam().expected);
    EXPECT_EQ(plainFigures(world), GetParam().expected) << "the reference itself";
}

// 70 rows: regions that run across the 64-cell words a column is read in.
std::vector<std::string> tallGrid(int column, int from, int to)
{
    std::vector<std::string> rows(70, std::string(70, '.'));
    for (int y = from; y < to; ++y)
        rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(column)] = '#';
    return rows;
}

// A square grid of sea with land down columns: each {x, from, to} sets
// rows from..to-1 of column x.
struct Stroke {
    int column, from, to;
};
std::vector<std::string> squareGrid(int side, const std::vector<Stroke> &strokes)
{
    std::vector<std::string> rows(static_cast<std::size_t>(side), std::string(static_cast<std::size_t>(side), '.'));
    for (const Stroke &s : strokes)
        for (int y = s.from; y < s.to; ++y)
            rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(s.column)] = '#';
    return rows;
}

const std::vector<Stroke> kToTheBottom = {{5, 40, 64}, {6, 60, 64}};
const std::vector<Stroke> kTeeth = {{9, 0, 1}, {9, 2, 3}, {9, 4, 5}, {9, 6, 7}, {9, 8, 9}, {9, 10, 11}, {9, 12, 13}};
const std::vector<Stroke> kComb = {{9, 0, 1}, {9, 2, 3},   {9, 4, 5},   {9, 6, 7},
                                   {9, 8, 9}, {9, 10, 11}, {9, 12, 13}, {10, 0, 13}};

// A square of 16 and, beside it, 15 cells in two bands that one cell joins.
const std::vector<std::string> kSixteenAndFifteen = {
    "................", "..####..........", "..####....#####.", "..####........#.",
    "..####....#####.", "...........####.", "................", "................",
    "................", "................", "................", "................",
    "................", "................", "................", "................"};

INSTANTIATE_TEST_SUITE_P(
    Grids, FiguresOfDrawnGrid,
    testing::Values(Drawing{"all sea", {"....", "....", "....", "...."}, 0, {16, 0, 0, 0, 40}},
                    Drawing{"all land", {"####", "####", "####", "####"}, 0, {16, 16, 1, 16, 200}},
                    // 16 cells make a landmass, 15 do not.
                    Drawing{"sixteen and fifteen", kSixteenAndFifteen, 0, {256, 31, 1, 16, 200}},
                    Drawing{"fifteen cells", {"###.", "####", "####", "####"}, 0, {16, 15, 0, 0, 200}},
                    // Cells that touch only at corners are not joined.
                    Drawing{"corners only",
                            {"#.#.#.#.", ".#.#.#.#", "#.#.#.#.", ".#.#.#.#", "#.#.#.#.", ".#.#.#.#", "#.#.#.#.",
                             ".#.#.#.#"},
                            0,
                            {64, 32, 0, 0, 200}},
                    // A ring round a lake is one region.
                    Drawing{"ring", {"#####", "#...#", "#...#", "#...#", "#####"}, 0, {25, 16, 1, 16, 200}},
                    // Two arms that meet only in the last column.
                    Drawing{"joined late",
                            {"#######", "......#", "......#", "......#", "......#", "......#", "#######"},
                            0,
                            {49, 19, 1, 19, 200}},
                    // Coast (126, 127) is shore; land starts at 128.
                    Drawing{"coast is not land", {"3344", "3344", "3344", "3344"}, 0, {16, 8, 0, 0, 128}},
                    // The water offset shifts every cell: 126 raised by 2 is land.
                    Drawing{"raised coast", {"3344", "3344", "3344", "3344"}, 2, {16, 16, 1, 16, 130}},
                    Drawing{"lowered land", {"##..", "##..", "##..", "##.."}, -73, {16, 0, 0, 0, 127}},
                    Drawing{"across words", tallGrid(3, 50, 70), 0, {4900, 20, 1, 20, 200}},
                    Drawing{"word edge", tallGrid(69, 63, 65), 0, {4900, 2, 0, 0, 200}},
                    // A column of exactly one word whose land reaches its bottom.
                    Drawing{"to the bottom", squareGrid(64, kToTheBottom), 0, {4096, 28, 1, 28, 200}},
                    // Many runs in one word, joined by the next column's one
                    // run into a landmass; the same teeth alone are islets.
                    Drawing{"comb", squareGrid(70, kComb), 0, {4900, 20, 1, 20, 200}},
                    Drawing{"teeth", squareGrid(70, kTeeth), 0, {4900, 7, 0, 0, 200}}));

struct Share {
    std::int64_t part, whole;
    const char *text;
};

void PrintTo(const Share &s, std::ostream *os) { *os << s.part << "/" << s.whole; }

class PercentText : public testing::TestWithParam<Share> {};

// Two decimals from the exact ratio, a tie rounded away from zero. Ties are
// where printing the double goes wrong: 1/800 is exactly 0.125 %, which a
// printout rounds to even (0.12), and 3/20000 is 0.015 %, stored just below.
TEST_P(PercentText, RoundsHalfAwayFromZero)
{
    EXPECT_EQ(percentText(GetParam().part, GetParam().whole), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Ratios, PercentText,
                         testing::Values(Share{0, 66049, "0.00"}, Share{66049, 66049, "100.00"}, Share{1, 800, "0.13"},
                                         Share{5, 800, "0.63"}, Share{3, 20000, "0.02"}, Share{1, 20000, "0.01"},
                                         Share{1, 40000, "0.00"}, Share{1, 3, "33.33"}, Share{2, 3, "66.67"},
                                         Share{1, 8, "12.50"}, Share{9, 1600, "0.56"},
                                         Share{1050624, 1050625, "100.00"}, Share{1, 1050625, "0.00"},
                                         Share{524800, 1050625, "49.95"}));

} // namespace
