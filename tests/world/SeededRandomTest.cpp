#include "DrawStream.h"
#include "SeededRandom.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

using terralume::ConvertError;
using terralume::DrawStream;
using terralume::SeededRandom;

namespace {

struct Accepted {
    const char *text;
    std::int32_t value;
};

class LoadSeedAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(LoadSeedAccepts, StoresTheTextsValue)
{
    SeededRandom random;
    random.LoadSeed(GetParam().text);
    EXPECT_EQ(random.seedWord(), static_cast<std::uint32_t>(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(Rules, LoadSeedAccepts,
                         testing::Values(Accepted{"42861244", 42861244}, Accepted{" 42", 42}, Accepted{"   7", 7},
                                         Accepted{"+7", 7}, Accepted{"-0", 0}, Accepted{"007", 7}, Accepted{"0", 0},
                                         Accepted{"$1f", 31}, Accepted{"x1F", 31}, Accepted{"X1F", 31},
                                         Accepted{"0x1F", 31}, Accepted{"0X1f", 31}, Accepted{"2147483647", 2147483647},
                                         Accepted{"-2147483648", INT32_MIN}, Accepted{"$FFFFFFFF", -1},
                                         Accepted{"$80000000", INT32_MIN}, Accepted{"0x0FFFFFFF", 0x0FFFFFFF},
                                         Accepted{"-12", -12}, Accepted{"0000000000000012", 12}));

class LoadSeedRejects : public testing::TestWithParam<const char *> {};

TEST_P(LoadSeedRejects, RaisesTheConversionErrorAndKeepsTheState)
{
    SeededRandom random;
    random.LoadSeed("99");
    try {
        random.LoadSeed(GetParam());
        FAIL() << "accepted " << GetParam();
    } catch (const ConvertError &error) {
        EXPECT_EQ(std::string(error.what()), "'" + std::string(GetParam()) + "' is not a valid integer value");
    }
    EXPECT_EQ(random.seedWord(), 99u);
}

INSTANTIATE_TEST_SUITE_P(Rules, LoadSeedRejects,
                         testing::Values("", " ", "    ", "42 ", "12a", "1e3", "abc", "-", "+", "-$1", "+0x1", "0x",
                                         "$", "x", "2147483648", "-2147483649", "99999999999", "$100000000",
                                         "0x1FFFFFFFF", "\t42", "4 2", "--1", "+-1", "0xg", "1.5",
                                         "\xc2\xa0"
                                         "1"));

TEST(SeededRandom, ZeroStateDrawsZeroAndMovesToOne)
{
    for (std::uint32_t range : {1u, 3u, 40u, 128u, 257u, 0x7FFFFFFFu}) {
        SeededRandom random;
        random.LoadSeed("0");
        EXPECT_EQ(random.RandomBelow(range), 0u);
        EXPECT_EQ(random.seedWord(), 1u);
    }
}

TEST(SeededRandom, RangeOneYieldsZeroAndStillAdvances)
{
    SeededRandom random;
    random.LoadSeed("42861244");
    for (int k = 0; k < 100; ++k) {
        const std::uint32_t before = random.seedWord();
        EXPECT_EQ(random.RandomBelow(1), 0u);
        EXPECT_NE(random.seedWord(), before);
    }
}

TEST(SeededRandom, DrawsFollowTheHandComputedSequence)
{
    // From state 1: 1 * 134775813 + 1 = 134775814, and 134775814 * 40 / 2^32 = 1.255... -> 1.
    SeededRandom random;
    random.setSeedWord(1);
    EXPECT_EQ(random.RandomBelow(40), 1u);
    EXPECT_EQ(random.seedWord(), 134775814u);
    random.RandomBelow(257);
    EXPECT_EQ(random.seedWord(), static_cast<std::uint32_t>(134775814ull * 134775813ull + 1ull));
}

TEST(SeededRandom, NegativeSeedIsItsTwosComplementPattern)
{
    SeededRandom a, b;
    a.LoadSeed("-1");
    b.LoadSeed("$FFFFFFFF");
    EXPECT_EQ(a.seedWord(), 0xFFFFFFFFu);
    EXPECT_EQ(a.RandomBelow(257), b.RandomBelow(257));
}

// The lane stream must hand out exactly the draws RandomBelow would, across
// several refills, and end on the state RandomBelow would have left.
TEST(DrawStream, MatchesRandomBelowDrawForDraw)
{
    for (std::uint32_t seed : {0u, 42861244u, 0xFFFFFFFFu, 0x80000000u}) {
        SeededRandom serial;
        serial.setSeedWord(seed);
        const std::uint32_t ranges[] = {40, 128, 3, 257, 129, 5};
        DrawStream stream(seed);
        for (int k = 0; k < 3 * static_cast<int>(DrawStream::kBlock) + 17; ++k) {
            const std::uint32_t range = ranges[k % 6];
            ASSERT_EQ(stream.next(range), serial.RandomBelow(range)) << "draw " << k;
        }
        EXPECT_EQ(stream.seedWord(), serial.seedWord());
    }
}

// Runs of draws, of every length round the block size, mixed with single
// draws: the same values in the same order as RandomBelow, offset included.
TEST(DrawStream, RunsMatchRandomBelowAcrossBlocks)
{
    SeededRandom serial;
    serial.setSeedWord(42861244u);
    DrawStream stream(42861244u);
    std::vector<std::uint16_t> run(2 * DrawStream::kBlock + 3);
    const std::size_t lengths[] = {1, 0, 7, DrawStream::kBlock - 8, DrawStream::kBlock, 2 * DrawStream::kBlock + 3, 33};
    for (std::size_t length : lengths) {
        ASSERT_EQ(stream.next(129), serial.RandomBelow(129));
        stream.next(run.data(), length, 40, 80);
        for (std::size_t k = 0; k < length; ++k)
            ASSERT_EQ(run[k], serial.RandomBelow(40) + 80) << "length " << length << " draw " << k;
    }
    EXPECT_EQ(stream.seedWord(), serial.seedWord());
}

// Skipped draws count like taken ones, from the very first draw and across
// refills; a stream that took nothing is still at its start.
TEST(DrawStream, SkipsAsManyStepsAsItPassesOver)
{
    for (std::size_t count : {std::size_t{0}, std::size_t{1}, DrawStream::kBlock, 3 * DrawStream::kBlock + 5}) {
        SeededRandom serial;
        serial.setSeedWord(1234);
        DrawStream stream(serial.seedWord());
        stream.skip(count);
        for (std::size_t k = 0; k < count; ++k)
            serial.RandomBelow(1);
        EXPECT_EQ(stream.seedWord(), serial.seedWord()) << count;
        EXPECT_EQ(stream.next(257), serial.RandomBelow(257)) << count;
    }
}

// A run of draws after a pass over others: what RandomBelow gives after as
// many steps, for every range the generator uses and those at the edge of
// the 16-bit scaling, in runs shorter and longer than a block.
struct StreamRun {
    const char *name;
    std::uint32_t seed;
    std::size_t passed; // draws passed over first
    std::size_t length;
    std::uint32_t range;
    std::uint16_t offset;
};

void PrintTo(const StreamRun &r, std::ostream *os) { *os << r.name; }

class DrawStreamRun : public testing::TestWithParam<StreamRun> {};

TEST_P(DrawStreamRun, MatchesRandomBelow)
{
    const StreamRun &r = GetParam();
    SeededRandom serial;
    serial.setSeedWord(r.seed);
    DrawStream stream(r.seed);
    stream.skip(r.passed);
    for (std::size_t k = 0; k < r.passed; ++k)
        serial.RandomBelow(1);
    std::vector<std::uint16_t> run(r.length);
    stream.next(run.data(), r.length, r.range, r.offset);
    for (std::size_t k = 0; k < r.length; ++k)
        ASSERT_EQ(run[k], static_cast<std::uint16_t>(serial.RandomBelow(r.range) + r.offset)) << "draw " << k;
    EXPECT_EQ(stream.seedWord(), serial.seedWord());
}

INSTANTIATE_TEST_SUITE_P(
    Runs, DrawStreamRun,
    testing::Values(StreamRun{"centres", 42861244u, 0, 512, 3, 0}, StreamRun{"last edges", 1u, 7, 513, 5, 0},
                    StreamRun{"first edges", 0xFFFFFFFFu, 1, 33, 257, 0},
                    StreamRun{"band", 0x80000000u, 3, DrawStream::kBlock + 1, 40, 159},
                    StreamRun{"lattice", 99999999u, 0, 1089, 128, 64},
                    StreamRun{"after a whole wipe", 42861244u, 135300, 1025, 40, 80},
                    StreamRun{"widest 16-bit range", 7u, 11, 100, 65535, 0},
                    StreamRun{"range of 2^16", 7u, 11, 100, 65536, 0}, StreamRun{"range of one", 5u, 0, 40, 1, 9},
                    StreamRun{"offset wraps", 12345u, 2, 64, 40, 65530}, StreamRun{"empty", 3u, 4, 0, 40, 0}));

} // namespace
