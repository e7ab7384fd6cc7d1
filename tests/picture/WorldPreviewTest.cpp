#include "Generator.h"
#include "MapPicture.h"
#include "SeededRandom.h"
#include "WorldPreview.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

using namespace terralume;

namespace {

World worldOf(const char *size, const char *seed, int water)
{
    SeededRandom random;
    random.LoadSeed(seed);
    return GenerateHeights(size, water, random);
}

struct Shrink {
    const char *size;
    const char *seed;
    int water, heat;
    int side;         // asked for
    int expectedSide; // given
    int block;        // map pixels a thumbnail pixel covers across, when they divide evenly; 0 when not
};

void PrintTo(const Shrink &s, std::ostream *os) { *os << s.size << " " << s.seed << " side " << s.side; }

class WorldThumbnailOf : public testing::TestWithParam<Shrink> {};

// A thumbnail is the map picture the window shows, seen small: where its
// pixels cover whole blocks of the picture, each is the rounded mean of its
// block; elsewhere the picture's colours still average out the same.
TEST_P(WorldThumbnailOf, IsTheMapPictureSeenSmall)
{
    const Shrink &s = GetParam();
    const World world = worldOf(s.size, s.seed, s.water);
    const Tint tint = tintFromHeatPosition(s.heat);
    const QImage map = drawMapPicture(world, tint).convertToFormat(QImage::Format_RGB888);
    const QImage thumbnail = worldThumbnail(world, tint, s.side);
    ASSERT_EQ(thumbnail.size(), QSize(s.expectedSide, s.expectedSide));

    double mapTotal[3] = {}, thumbnailTotal[3] = {};
    for (int y = 0; y < map.height(); ++y)
        for (int x = 0; x < map.width(); ++x) {
            const QRgb p = map.pixel(x, y);
            mapTotal[0] += qRed(p), mapTotal[1] += qGreen(p), mapTotal[2] += qBlue(p);
        }
    for (int j = 0; j < thumbnail.height(); ++j)
        for (int i = 0; i < thumbnail.width(); ++i) {
            const QRgb t = thumbnail.pixel(i, j);
            thumbnailTotal[0] += qRed(t), thumbnailTotal[1] += qGreen(t), thumbnailTotal[2] += qBlue(t);
            if (s.block == 0)
                continue;
            int sum[3] = {};
            for (int y = j * s.block; y < (j + 1) * s.block; ++y)
                for (int x = i * s.block; x < (i + 1) * s.block; ++x) {
                    const QRgb p = map.pixel(x, y);
                    sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p);
                }
            const int n = s.block * s.block;
            ASSERT_EQ(t, qRgb((sum[0] + n / 2) / n, (sum[1] + n / 2) / n, (sum[2] + n / 2) / n)) << i << "," << j;
        }
    // Uneven cover weighs some map pixels a little more than others.
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(thumbnailTotal[c] / (s.expectedSide * s.expectedSide), mapTotal[c] / (map.width() * map.height()),
                    1.5)
            << "component " << c;
}

INSTANTIATE_TEST_SUITE_P(Sizes, WorldThumbnailOf,
                         testing::Values(
                             // One pixel a cell: the map picture itself.
                             Shrink{"Small", "42861244", 0, 0, 257, 257, 1},
                             Shrink{"Large", "7", 15, -30, 205, 205, 5},
                             Shrink{"Large", "123", -20, 40, 41, 41, 25},
                             Shrink{"Medium", "5550", 0, 10, 128, 128, 0},
                             Shrink{"Large", "99999999", 0, 0, 128, 128, 0},
                             // Never larger than the map: a screen with a high pixel ratio asks for more.
                             Shrink{"Small", "1", 40, 0, 384, 257, 1}));

struct Words {
    WorldFigures figures;
    bool lineBreaks;
    const char *text;
};

class FiguresText : public testing::TestWithParam<Words> {};

TEST_P(FiguresText, TellsSeedAndFigures)
{
    const Words &w = GetParam();
    EXPECT_EQ(figuresText(WorldPreview{4711, w.figures, {}, {}}, w.lineBreaks).toStdString(), w.text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FiguresText,
    testing::Values(
        Words{{10000, 4107, 3, 3012, 231}, false,
              "Seed 4711: land 41.07 %, 3 landmasses, largest 30.12 %, highest point 231"},
        Words{{3, 1, 1, 1, 128}, true, "Seed 4711\nland 33.33 %\n1 landmass\nlargest 33.33 %\nhighest point 128"},
        Words{{1000, 0, 0, 0, 90}, false, "Seed 4711: land 0.00 %, 0 landmasses, largest 0.00 %, highest point 90"}));

} // namespace
