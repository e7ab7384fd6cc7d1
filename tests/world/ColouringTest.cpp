#include "Colouring.h"
#include "Generator.h"

#include <gtest/gtest.h>

#include <vector>

using namespace terralume;

namespace {

struct Worked {
    int h, water, cold, heat;
    Rgb8 colour;
};

class WorkedColour : public testing::TestWithParam<Worked> {};

TEST_P(WorkedColour, MatchesTheTable)
{
    const Worked c = GetParam();
    const BandColour band = terrainColour(c.h, c.water, Tint{c.cold, c.heat});
    ASSERT_TRUE(band.painted);
    EXPECT_EQ(band.colour, c.colour);
    // The table hands out the same colour, reduced to 5-6-5.
    EXPECT_EQ(buildColourTable(c.water, Tint{c.cold, c.heat})[static_cast<std::size_t>(c.h)], pack565(c.colour));
}

INSTANTIATE_TEST_SUITE_P(Bands, WorkedColour,
                         testing::Values(Worked{0, 0, 0, 0, {0, 0, 128}}, Worked{100, 0, 0, 0, {0, 0, 228}},
                                         Worked{125, 0, 0, 0, {0, 0, 253}}, Worked{126, 0, 0, 0, {0, 0, 0}},
                                         Worked{127, 0, 0, 0, {0, 0, 0}}, Worked{128, 0, 0, 0, {0, 128, 0}},
                                         Worked{180, 0, 0, 0, {0, 180, 0}}, Worked{181, 0, 0, 0, {106, 106, 106}},
                                         Worked{255, 0, 0, 0, {254, 254, 254}}, Worked{100, 0, 40, 0, {80, 80, 244}},
                                         Worked{126, 0, 40, 0, {120, 120, 120}}, Worked{150, 0, 40, 0, {160, 182, 160}},
                                         Worked{200, 0, 40, 0, {176, 176, 176}}, Worked{150, 0, 0, 40, {240, 150, 0}},
                                         Worked{100, 0, 0, 40, {0, 0, 228}}, Worked{141, 40, 0, 0, {66, 66, 66}},
                                         Worked{215, 40, 0, 0, {214, 214, 214}},
                                         Worked{221, -40, 0, 0, {146, 146, 146}}, Worked{221, 0, 0, 0, {186, 186, 186}},
                                         Worked{221, 20, 0, 0, {206, 206, 206}},
                                         // water offset shifts the band: raw 100 at offset 28 is adjusted 128, lowland
                                         Worked{100, 28, 0, 0, {0, 128, 0}}, Worked{100, 26, 0, 0, {0, 0, 0}}));

TEST(TerrainColour, HeatOnlyReddensLowland)
{
    for (int water : {-40, 0, 40})
        for (int h = 0; h < 256; ++h) {
            const BandColour cool = terrainColour(h, water, Tint{0, 0});
            const BandColour hot = terrainColour(h, water, Tint{0, 40});
            ASSERT_EQ(cool.painted, hot.painted);
            const int a = h + water;
            const bool lowland = a >= 128 && a <= 180;
            EXPECT_EQ(cool.colour.green, hot.colour.green);
            EXPECT_EQ(cool.colour.blue, hot.colour.blue);
            if (!lowland) {
                EXPECT_EQ(cool.colour.red, hot.colour.red) << h << " water " << water;
            }
        }
}

TEST(TerrainColour, AdjustedHeightOutsideTheBandsStaysWhite)
{
    EXPECT_FALSE(terrainColour(10, -11, Tint{}).painted);
    EXPECT_FALSE(terrainColour(250, 6, Tint{}).painted);
    const ColourTable table = buildColourTable(-40, Tint{});
    EXPECT_EQ(table[39], kWhite565);
    EXPECT_NE(table[40], kWhite565);
}

TEST(TintFromHeat, SplitsTheOneSliderIntoTwoLevels)
{
    EXPECT_EQ(tintFromHeatPosition(-25).HeatLevel, 25);
    EXPECT_EQ(tintFromHeatPosition(-25).ColdLevel, 0);
    EXPECT_EQ(tintFromHeatPosition(10).ColdLevel, 10);
    EXPECT_EQ(tintFromHeatPosition(10).HeatLevel, 0);
    EXPECT_EQ(tintFromHeatPosition(0).ColdLevel + tintFromHeatPosition(0).HeatLevel, 0);
}

TEST(Pixel565, KeepsTheTopBitsAndWidensBack)
{
    EXPECT_EQ(pack565({0xFF, 0xFF, 0xFF}), 0xFFFF);
    EXPECT_EQ(pack565({0, 128, 0}), 0x0400);
    EXPECT_EQ(pack565({0, 0, 253}), 0x001F);
    for (unsigned p = 0; p <= 0xFFFF; ++p) {
        const Rgb8 c = widen565(static_cast<std::uint16_t>(p));
        ASSERT_EQ(pack565(c), p);
    }
    EXPECT_EQ(widen565(0xFFFF), (Rgb8{255, 255, 255}));
}

std::vector<std::uint16_t> colourAll(const World &w, Tint tint)
{
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(w.Heights.side() * w.Heights.side()), 0);
    colourWorld(w, tint, {pixels.data(), w.Heights.side(), w.Heights.side(), w.Heights.side() * 2});
    return pixels;
}

World worldOfSeed42861244(const char *size)
{
    SeededRandom random;
    random.LoadSeed("42861244");
    return GenerateHeights(size, 0, random);
}

TEST(ColourWorld, PaintsCellXYAtColumnXRowY)
{
    const World w = worldOfSeed42861244("Small");
    const auto pixels = colourAll(w, Tint{});
    ASSERT_EQ(pixels.size(), 257u * 257u);
    for (int x = 0; x <= 256; ++x)
        for (int y = 0; y <= 256; ++y) {
            const BandColour c = terrainColour(w.Heights.at(x, y), 0, Tint{});
            ASSERT_TRUE(c.painted);
            ASSERT_EQ(pixels[static_cast<std::size_t>(y * 257 + x)], pack565(c.colour)) << x << "," << y;
        }
}

TEST(ColourWorld, FrameIsSeaAndTheWorldHasLand)
{
    const World w = worldOfSeed42861244("Large");
    const auto pixels = colourAll(w, Tint{});
    int land = 0, sea = 0;
    for (std::uint16_t p : pixels) {
        const Rgb8 c = widen565(p);
        land += c.green > 0;
        sea += (c.red == 0 && c.green == 0 && c.blue > 0);
    }
    for (int k = 0; k < 1025; ++k) { // the outermost ring is sea
        for (std::size_t idx : {static_cast<std::size_t>(k), static_cast<std::size_t>(1024 * 1025 + k),
                                static_cast<std::size_t>(k * 1025), static_cast<std::size_t>(k * 1025 + 1024)}) {
            const Rgb8 c = widen565(pixels[idx]);
            ASSERT_TRUE(c.red == 0 && c.green == 0 && c.blue >= 128) << idx;
        }
    }
    EXPECT_GT(land, 1025 * 1025 / 50);
    EXPECT_GT(sea, 1025 * 1025 / 10);
}

TEST(ZoomView, EveryCellBecomesABlockAndTheLastRowAndColumnDrop)
{
    constexpr int side = 5, extent = side - 1;
    std::vector<std::uint16_t> base(side * side);
    for (int k = 0; k < side * side; ++k)
        base[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(k * 977 + 1);
    for (int zoom = 1; zoom <= 5; ++zoom) {
        const int out = extent * zoom;
        std::vector<std::uint16_t> view(static_cast<std::size_t>(out * (out + 3)), 0xABCD);
        // A padded stride, as a QImage scanline may have.
        zoomView({base.data(), side, side, side * 2}, zoom, {view.data(), out, out, (out + 3) * 2});
        for (int y = 0; y < out; ++y)
            for (int x = 0; x < out; ++x)
                ASSERT_EQ(view[static_cast<std::size_t>(y * (out + 3) + x)],
                          base[static_cast<std::size_t>((y / zoom) * side + x / zoom)])
                    << "zoom " << zoom << " at " << x << "," << y;
    }
}

TEST(WidenRow, PacksThreeBytesAPixel)
{
    const std::uint16_t row[] = {0xF800, 0x07E0, 0x001F, 0x0000};
    std::uint8_t rgb[12];
    widenRow565ToRgb888(row, 4, rgb);
    const std::uint8_t expected[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0};
    EXPECT_TRUE(std::equal(rgb, rgb + 12, expected));
}

} // namespace
