#include "Generator.h"
#include "SeededRandom.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace terralume;

namespace {

// A plain LCG written out again for the checks, independent of the product's
// stepping: the state after `steps` draws from `seed`.
std::uint32_t stateAfter(std::uint32_t seed, std::uint64_t steps)
{
    std::uint64_t s = seed;
    for (std::uint64_t k = 0; k < steps; ++k)
        s = (s * 0x08088405ull + 1ull) & 0xFFFFFFFFull;
    return static_cast<std::uint32_t>(s);
}

// The value of draw number `index` (0-based) of a generation started at `seed`.
int drawValue(std::uint32_t seed, std::uint64_t index, std::uint32_t range)
{
    return static_cast<int>((std::uint64_t{stateAfter(seed, index + 1)} * range) >> 32);
}

World generate(const std::string &size, int water, std::uint32_t seed = 42861244u)
{
    SeededRandom random;
    random.setSeedWord(seed);
    return GenerateHeights(size, water, random);
}

std::vector<std::uint8_t> cells(const World &w)
{
    const std::size_t n = static_cast<std::size_t>(w.Heights.side()) * static_cast<std::size_t>(w.Heights.side());
    return {w.Heights.data(), w.Heights.data() + n};
}

// The generation written out plainly, one RandomBelow per cell in the stated
// order, on a grid of columns: the yardstick for the fast generator.
std::vector<std::vector<std::uint8_t>> plainGeneration(const std::string &size, int water, std::uint32_t seed)
{
    SeededRandom random;
    random.setSeedWord(seed);
    const int b = size == "Small" ? 16 : size == "Medium" ? 24 : 32;
    const int e = b * b, w = b, o = -water;
    std::vector<std::vector<std::uint8_t>> g(static_cast<std::size_t>(e + 1),
                                             std::vector<std::uint8_t>(static_cast<std::size_t>(e + 1), 0));
    const auto cell = [&](int x, int y) -> std::uint8_t & {
        return g[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)];
    };
    const auto set = [&](int x, int y, int v) { cell(x, y) = static_cast<std::uint8_t>(((v % 256) + 256) % 256); };
    const auto R = [&](int n) { return static_cast<int>(random.RandomBelow(static_cast<std::uint32_t>(n))); };
    const auto wipe = [&] {
        for (int x = e - w; x <= e; ++x)
            for (int y = 0; y <= e; ++y)
                set(x, y, R(40) + 80 - o);
        for (int x = 0; x <= e; ++x)
            for (int y = 0; y <= w; ++y)
                set(x, y, R(40) + 80 - o);
        for (int x = 0; x <= e; ++x)
            for (int y = e - w; y <= e; ++y)
                set(x, y, R(40) + 80 - o);
        for (int x = 0; x <= w; ++x)
            for (int y = 0; y <= e; ++y)
                set(x, y, R(40) + 80 - o);
    };
    for (int i = 0; i <= b; ++i)
        for (int j = 0; j <= b; ++j)
            set(i * b, j * b, R(128) + 64);
    wipe();
    int s = b % 16 == 0 ? 4 * b : 128;
    while (s != 1) {
        const int h = s / 2, n = e / s;
        for (int i = 0; i <= n - 1; ++i)
            for (int j = 0; j <= n; ++j) {
                const int r = R(2 * s + 1);
                set(i * s + h, j * s, r + (cell(i * s, j * s) + cell(i * s + s, j * s)) / 2 - s);
            }
        for (int i = 0; i <= n; ++i)
            for (int j = 0; j <= n - 1; ++j) {
                const int r = R(2 * s + 1);
                set(i * s, j * s + h, r + (cell(i * s, j * s) + cell(i * s, j * s + s)) / 2 - s);
            }
        wipe();
        for (int i = 0; i <= n - 1; ++i)
            for (int j = 0; j <= n - 1; ++j) {
                const int r = R(2 * h + 1);
                const int m = (cell(i * s, j * s) + cell(i * s, j * s + s) + cell(i * s + s, j * s) +
                               cell(i * s + s, j * s + s)) /
                              4;
                set(i * s + h, j * s + h, r + m - h);
            }
        s /= 2;
    }
    for (int x = 0; x <= e; ++x)
        for (int y = 0; y <= e; ++y) {
            if (cell(x, y) + o < 0)
                set(x, y, -o);
            if (cell(x, y) + o > 255)
                set(x, y, 255 - o);
        }
    return g;
}

struct SizeCase {
    const char *name;
    int block;
    std::uint64_t draws; // counted by hand from the loop bounds of each pass
};

class GeneratorSize : public testing::TestWithParam<SizeCase> {};

TEST_P(GeneratorSize, ChoosesTheLatticeAndExtent)
{
    const World w = generate(GetParam().name, 0);
    EXPECT_EQ(w.BlockSize, GetParam().block);
    EXPECT_EQ(w.GridExtent, GetParam().block * GetParam().block);
    EXPECT_EQ(w.EdgeWidth, GetParam().block);
    EXPECT_EQ(w.Heights.side(), w.GridExtent + 1);
}

TEST_P(GeneratorSize, MakesTheSameNumberOfDrawsForEverySeedAndWater)
{
    for (std::uint32_t seed : {0u, 42861244u}) {
        for (int water : {-40, 0, 40}) {
            SeededRandom random;
            random.setSeedWord(seed);
            World w;
            GenerateHeights(w, GetParam().name, water, random);
            EXPECT_EQ(random.seedWord(), stateAfter(seed, GetParam().draws)) << seed << " water " << water;
        }
    }
    EXPECT_EQ(drawsPerGeneration(GetParam().name), GetParam().draws);
}

TEST_P(GeneratorSize, EqualsThePlainGenerationCellForCell)
{
    // Seeds of the far end of the search's range among them, and the water
    // at both limits, which moves the wipe's base and the clamp.
    for (const auto &[seed, water] :
         {std::pair{42861244u, 0}, std::pair{0u, -40}, std::pair{0xFFFFFFFFu, 40}, std::pair{987654321u, 13},
          std::pair{99999999u, -29}, std::pair{99999998u, 40}, std::pair{0x80000000u, -1}}) {
        const World fast = generate(GetParam().name, water, seed);
        const auto plain = plainGeneration(GetParam().name, water, seed);
        ASSERT_EQ(fast.Heights.side(), static_cast<int>(plain.size()));
        for (int x = 0; x < fast.Heights.side(); ++x)
            for (int y = 0; y < fast.Heights.side(); ++y)
                ASSERT_EQ(fast.Heights.at(x, y), plain[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)])
                    << x << "," << y << " seed " << seed << " water " << water;
    }
}

TEST_P(GeneratorSize, RepeatsTheSameGridForTheSameInputs)
{
    for (int water : {-17, 0, 23}) {
        const World first = generate(GetParam().name, water);
        generate("Large", 40, 99);
        EXPECT_EQ(cells(first), cells(generate(GetParam().name, water)));
    }
}

TEST_P(GeneratorSize, KeepsEveryAdjustedHeightWithinTheBands)
{
    for (int water : {-40, -1, 0, 1, 40}) {
        const World w = generate(GetParam().name, water, 7u);
        for (int x = 0; x <= w.GridExtent; ++x)
            for (int y = 0; y <= w.GridExtent; ++y) {
                const int a = w.AdjustedHeight(x, y);
                ASSERT_GE(a, 0) << x << "," << y;
                ASSERT_LE(a, 255) << x << "," << y;
            }
    }
}

TEST_P(GeneratorSize, FramesTheWorldWithSea)
{
    for (int water : {-40, 0, 40}) {
        const World w = generate(GetParam().name, water, 12345u);
        const int e = w.GridExtent, band = w.EdgeWidth;
        for (int x = 0; x <= e; ++x)
            for (int y = 0; y <= e; ++y) {
                const bool inBand = x <= band || x >= e - band || y <= band || y >= e - band;
                if (!inBand)
                    continue;
                const int a = w.AdjustedHeight(x, y);
                if (x % 2 == 1 && y % 2 == 1) {
                    ASSERT_GE(a, 79) << x << "," << y;
                    ASSERT_LE(a, 120) << x << "," << y;
                } else {
                    ASSERT_GE(a, 80) << x << "," << y;
                    ASSERT_LE(a, 119) << x << "," << y;
                }
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, GeneratorSize,
                         testing::Values(SizeCase{"Small", 16, 188645}, SizeCase{"Medium", 24, 795110},
                                         SizeCase{"Large", 32, 2134033}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Generator, AnyOtherSizeNameIsLarge)
{
    for (const char *name : {"Large", "", "large", "small", "Huge"})
        EXPECT_EQ(generate(name, 0).Heights.side(), 1025) << name;
}

// Seeded lattice cells that no later step touches keep R(128) + 64 from their
// own draw. Seeding runs x-major over (BlockSize + 1)^2 lattice points, so the
// point (i, j) is draw i * (BlockSize + 1) + j.
struct KeptCell {
    const char *size;
    int x, y;
    std::uint64_t drawIndex;
};

class SeededCell : public testing::TestWithParam<KeptCell> {};

TEST_P(SeededCell, KeepsItsOwnDraw)
{
    const KeptCell c = GetParam();
    for (std::uint32_t seed : {42861244u, 1u, 0xDEADBEEFu}) {
        const World w = generate(c.size, 0, seed);
        EXPECT_EQ(w.Heights.at(c.x, c.y), drawValue(seed, c.drawIndex, 128) + 64) << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SeededCell,
                         testing::Values(KeptCell{"Small", 64, 64, 4 * 17 + 4},
                                         KeptCell{"Small", 192, 128, 12 * 17 + 8},
                                         KeptCell{"Medium", 384, 384, 16 * 25 + 16},
                                         KeptCell{"Large", 128, 128, 4 * 33 + 4},
                                         KeptCell{"Large", 896, 512, 28 * 33 + 16}));

// On a Medium map the first stage reaches 0..512 only; the cells whose two
// indices are both in {128, 256, 384, 512}, but (384, 384), are set by no step
// and so read 0 before the clamp raises them to a positive water position.
TEST(Generator, MediumCellsNoStepSetsStartFromZero)
{
    for (int water : {-12, 0, 9, 40}) {
        const World w = generate("Medium", water);
        for (int x : {128, 256, 384, 512})
            for (int y : {128, 256, 384, 512}) {
                if (x == 384 && y == 384)
                    continue;
                EXPECT_EQ(w.Heights.at(x, y), water > 0 ? water : 0) << x << "," << y << " water " << water;
            }
    }
}

TEST(Generator, MediumDoesNotDependOnTheMapBeforeIt)
{
    for (int water : {-5, 0, 17}) {
        const auto first = cells(generate("Medium", water));
        // One World kept for the whole run, as the map window keeps it.
        SeededRandom random;
        World kept;
        for (const char *before : {"Small", "Large", "Medium", "Medium"}) {
            random.setSeedWord(42861244u);
            GenerateHeights(kept, before, 30, random);
            random.setSeedWord(42861244u);
            GenerateHeights(kept, "Medium", water, random);
            EXPECT_EQ(cells(kept), first) << "after " << before << " water " << water;
        }
    }
}

// The edge midpoint (192, 128) of the first Medium stage lies between two cells
// no step sets (both 0), so it stores r + 0 - 128 wrapped to a byte: draw r = 0
// gives 128. Its draw follows the 625 seeding draws, the 57700 of the first
// wipe and six of the first edge pass.
TEST(Generator, EdgeMidpointWrapsBelowZero)
{
    for (std::uint32_t seed : {42861244u, 3u, 77777u}) {
        const int r = drawValue(seed, 625 + 57700 + 6, 257);
        const World w = generate("Medium", 0, seed);
        EXPECT_EQ(w.Heights.at(192, 128), (r - 128 + 256) % 256) << seed << " r " << r;
    }
}

TEST(Generator, WaterChangesNoDrawOfTheLattice)
{
    const World dry = generate("Large", -30);
    const World wet = generate("Large", 30);
    // Kept lattice cells hold their seeded value whatever the water, unless the
    // clamp moves them; 64..191 plus or minus 30 never needs clamping.
    for (int x = 128; x <= 896; x += 128)
        for (int y = 128; y <= 896; y += 128)
            EXPECT_EQ(dry.Heights.at(x, y), wet.Heights.at(x, y)) << x << "," << y;
    EXPECT_NE(cells(dry), cells(wet));
}

TEST(Generator, ClampHoldsAtTheWaterExtremes)
{
    const World wet = generate("Small", 40);  // offset -40: nothing left below 40
    const World dry = generate("Small", -40); // offset 40: nothing left above 215
    int lowest = 255, highest = 0;
    for (int x = 0; x <= 256; ++x)
        for (int y = 0; y <= 256; ++y) {
            lowest = std::min<int>(lowest, wet.Heights.at(x, y));
            highest = std::max<int>(highest, dry.Heights.at(x, y));
        }
    EXPECT_EQ(lowest, 40);
    EXPECT_EQ(highest, 215);
}

} // namespace
