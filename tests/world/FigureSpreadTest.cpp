#include "FigureSpread.h"

#include <gtest/gtest.h>

#include <ostream>
#include <utility>
#include <vector>

using namespace terralume;

namespace {

// A world of 3 cells per hundredth, so that land shares round as printed.
WorldFigures world(std::int64_t landHundredths, int landmasses)
{
    return WorldFigures{30000, 3 * landHundredths, landmasses, 0, 0};
}

struct Spread {
    const char *name;
    std::vector<std::pair<std::int64_t, int>> worlds; // land hundredths, landmasses
    FigureFilter filter;
    std::int64_t accepted;
    std::int64_t landUpperQuartile;
    int landmassesLowerQuartile;
    FigureSpread::Range land, landmasses;
};

void PrintTo(const Spread &s, std::ostream *os) { *os << s.name; }

class FigureSpreadOf : public testing::TestWithParam<Spread> {};

// The figures a person is shown beside the filters: what the worlds seen
// reach, how many the filter would have taken, and what a quarter reach.
TEST_P(FigureSpreadOf, TheWorldsSeen)
{
    const Spread &s = GetParam();
    FigureSpread spread;
    for (const auto &[land, landmasses] : s.worlds)
        spread.see(world(land, landmasses));
    EXPECT_EQ(spread.worlds(), static_cast<std::int64_t>(s.worlds.size()));
    EXPECT_EQ(spread.accepted(s.filter), s.accepted);
    EXPECT_EQ(spread.landUpperQuartile(), s.landUpperQuartile);
    EXPECT_EQ(spread.landmassesLowerQuartile(), s.landmassesLowerQuartile);
    EXPECT_EQ(spread.land().lowest, s.land.lowest);
    EXPECT_EQ(spread.land().highest, s.land.highest);
    EXPECT_EQ(spread.landmasses().lowest, s.landmasses.lowest);
    EXPECT_EQ(spread.landmasses().highest, s.landmasses.highest);
}

constexpr int kMany = 1 << 20;

INSTANTIATE_TEST_SUITE_P(
    Worlds, FigureSpreadOf,
    testing::Values(
        Spread{"none seen", {}, {}, 0, 0, 0, {0, 0}, {0, 0}},
        Spread{"one", {{2304, 7}}, {2304, 10000, 0, 7}, 1, 2304, 7, {2304, 2304}, {7, 7}},
        // Four worlds: the highest land and the fewest landmasses are a quarter.
        Spread{"four", {{1000, 40}, {4000, 10}, {2000, 30}, {3000, 20}}, {2000, 10000, 0, 30}, 3, 4000, 10,
               {1000, 4000}, {10, 40}},
        // Five: a quarter is two worlds, rounded up.
        Spread{"five",
               {{500, 5}, {100, 1}, {300, 3}, {200, 2}, {400, 4}},
               {0, 10000, 2, 4},
               3,
               400,
               2,
               {100, 500},
               {1, 5}},
        // Bounds are inclusive, as the search has them; a filter on land only.
        Spread{"at the bounds", {{3999, 2}, {4000, 2}, {10000, 3}, {0, 0}}, {4000, 10000, 0, kMany}, 2, 10000, 0,
               {0, 10000}, {0, 3}},
        // More landmasses than the packing holds count as the most it holds.
        Spread{"too many landmasses", {{5000, kMany}, {5000, 1}}, {0, 10000, 300000, kMany}, 0, 5000, 1,
               {5000, 5000}, {1, (1 << 18) - 1}}));

struct Rarity {
    std::int64_t accepted, seen, oneIn;
};

void PrintTo(const Rarity &r, std::ostream *os) { *os << r.accepted << " of " << r.seen; }

class RoughlyOneIn : public testing::TestWithParam<Rarity> {};

// Two significant figures, rounded half up, whatever the magnitude.
TEST_P(RoughlyOneIn, TwoFigures)
{
    EXPECT_EQ(roughlyOneIn(GetParam().accepted, GetParam().seen), GetParam().oneIn);
}

INSTANTIATE_TEST_SUITE_P(Rarities, RoughlyOneIn,
                         testing::Values(Rarity{6, 287821, 48000}, Rarity{1, 99, 99}, Rarity{1, 995, 1000},
                                         Rarity{1, 1049, 1000}, Rarity{3, 10, 3}, Rarity{2, 3, 2},
                                         Rarity{5, 5, 1}, Rarity{7, 1, 1}, Rarity{1, 123456789, 120000000}));

} // namespace
