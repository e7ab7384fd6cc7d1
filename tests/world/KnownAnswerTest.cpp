// Fixed answers for a few worlds, so that every compiler, optimisation level,
// processor and byte order is held to the same grid and picture, not only to
// itself. The numbers were taken from a Linux x86-64 build; a change to them
// is a change to every world a seed has ever made.
#include "Colouring.h"
#include "Generator.h"
#include "SeededRandom.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace terralume;

namespace {

// FNV-1a over bytes in a fixed order, so the hash does not depend on how the
// machine lays out its integers.
class Fnv1a {
public:
    void add(std::uint8_t byte)
    {
        hash_ ^= byte;
        hash_ *= 0x100000001b3ULL;
    }
    void add16(std::uint16_t value)
    {
        add(static_cast<std::uint8_t>(value & 0xff));
        add(static_cast<std::uint8_t>(value >> 8));
    }
    std::uint64_t value() const { return hash_; }

private:
    std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

struct Known {
    const char *size;
    const char *seed;
    int water;
    int heat;
    std::uint64_t grid;
    std::uint64_t picture;
};

void PrintTo(const Known &k, std::ostream *os) { *os << k.size << " " << k.seed << " " << k.water << " " << k.heat; }

class KnownWorld : public testing::TestWithParam<Known> {};

TEST_P(KnownWorld, HasTheRecordedGridAndPicture)
{
    const Known k = GetParam();
    SeededRandom random;
    random.LoadSeed(k.seed);
    const World world = GenerateHeights(k.size, k.water, random);
    const int side = world.Heights.side();

    Fnv1a grid;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            grid.add(static_cast<std::uint8_t>(world.Heights.at(x, y)));

    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    colourWorld(world, tintFromHeatPosition(k.heat), {pixels.data(), side, side, std::ptrdiff_t{side} * 2});
    Fnv1a picture;
    for (const std::uint16_t pixel : pixels)
        picture.add16(pixel);

    EXPECT_EQ(grid.value(), k.grid) << std::hex << "grid 0x" << grid.value();
    EXPECT_EQ(picture.value(), k.picture) << std::hex << "picture 0x" << picture.value();
}

INSTANTIATE_TEST_SUITE_P(
    Recorded, KnownWorld,
    testing::Values(Known{"Small", "42861244", 0, 0, 0x876cf4050172edfdULL, 0x481b4cca08f38728ULL},
                    Known{"Small", "1", -40, -40, 0x07433b3ccc0cc341ULL, 0xb5e62ec5a9f969a6ULL},
                    Known{"Small", "99999999", 40, 40, 0x3eb035fe15a83183ULL, 0x5d71e7507b872d42ULL},
                    Known{"Medium", "314159", 12, -25, 0x9af401885c91a7e4ULL, 0x725b3b2c9e094f2aULL},
                    Known{"Large", "7", -10, 30, 0xbb86a82acf9bd53cULL, 0xc729423c3ed8c433ULL}));

} // namespace
