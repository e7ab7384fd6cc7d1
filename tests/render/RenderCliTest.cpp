#include "Colouring.h"
#include "Generator.h"
#include "RenderCli.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace terralume;

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
};

Outcome render(std::vector<std::string> args)
{
    args.insert(args.begin(), "terralume-render");
    std::vector<const char *> argv;
    for (const auto &a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    Outcome run;
    run.code = runRender(static_cast<int>(argv.size()), argv.data(), out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

class RenderCli : public testing::Test {
protected:
    QTemporaryDir dir;
    std::string path(const char *name) const { return dir.filePath(name).toStdString(); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
};

struct BadLine {
    std::vector<std::string> args;
    const char *mentions;
};

class RenderCliRejects : public RenderCli, public testing::WithParamInterface<BadLine> {};

TEST_P(RenderCliRejects, WithExitTwoAMessageAndNoFile)
{
    std::vector<std::string> args = GetParam().args;
    args.push_back("--png");
    args.push_back(path("map.png"));
    const Outcome run = render(args);
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find(GetParam().mentions), std::string::npos) << run.err;
    EXPECT_TRUE(files().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, RenderCliRejects,
    testing::Values(BadLine{{"--seed", "12a"}, "'12a' is not a valid integer value.\n"},
                    BadLine{{"--seed", ""}, "'' is not a valid integer value.\n"},
                    BadLine{{"--seed", "1e3"}, "'1e3' is not a valid integer value."},
                    BadLine{{"--size", "large"}, "unknown size 'large'"}, BadLine{{"--size", "Huge"}, "Huge"},
                    BadLine{{"--water", "41"}, "--water"}, BadLine{{"--water", "-41"}, "-41"},
                    BadLine{{"--heat", "x"}, "--heat"}, BadLine{{"--heat", "1.5"}, "--heat"},
                    BadLine{{"--zoom", "0"}, "--zoom"}, BadLine{{"--zoom", "6"}, "--zoom"},
                    BadLine{{"--colour"}, "unknown option '--colour'"}, BadLine{{"--water"}, "--water needs a whole number"},
                    BadLine{{"stray"}, "unknown option 'stray'"}));

TEST_F(RenderCli, OptionWithoutItsValueIsNamed)
{
    const Outcome run = render({"--png"});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("--png needs a value"), std::string::npos) << run.err;
}

TEST_F(RenderCli, NeedsSomethingToWrite)
{
    const Outcome run = render({"--size", "Large"});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("--png"), std::string::npos);
}

TEST_F(RenderCli, HelpAndVersionGoToStandardOutput)
{
    const Outcome help = render({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--heights FILE"), std::string::npos);
    const Outcome version = render({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("terralume-render 1.", 0), 0u) << version.out;
}

TEST_F(RenderCli, UnwritableFileGivesExitOneNamingItAndLeavesNothing)
{
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // A folder that cannot exist, whoever runs the test: its parent is a file.
    const std::string target = path("file") + "/map.png";
    const Outcome run = render({"--png", target});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find(target), std::string::npos) << run.err;
    EXPECT_EQ(files(), QStringList{"file"});
}

TEST_F(RenderCli, FullDeviceGivesExitOne)
{
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    const Outcome run = render({"--size", "Medium", "--png", "/dev/full"});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("/dev/full"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("libpng"), std::string::npos) << "one message, not the library's as well";
}

TEST_F(RenderCli, ReplacesAnExistingFileOnlyWhenDone)
{
    QFile old(dir.filePath("map.png"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    EXPECT_EQ(render({"--seed", "bad", "--png", path("map.png")}).code, 2);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "old");
    old.close();
    EXPECT_EQ(render({"--png", path("map.png")}).code, 0);
    EXPECT_EQ(QImage(dir.filePath("map.png")).width(), 257);
    EXPECT_EQ(files(), QStringList{"map.png"});
}

World generated(const char *size, const char *seed, int water)
{
    SeededRandom random;
    random.LoadSeed(seed);
    World world;
    GenerateHeights(world, size, water, random);
    return world;
}

struct Picture {
    const char *size;
    const char *seed;
    int water, heat;
    int zoom; // 0: no --zoom
};

class RenderCliPicture : public RenderCli, public testing::WithParamInterface<Picture> {};

// The PNG is the picture the map window shows: each pixel is the colour of
// its cell (computed here from the band rules, not the picture code), widened
// from 5-6-5, and with a zoom each cell is a block, the last row and column gone.
TEST_P(RenderCliPicture, ShowsEachCellsColour)
{
    const Picture p = GetParam();
    std::vector<std::string> args = {"--size", p.size, "--seed", p.seed, "--water", std::to_string(p.water),
                                     "--heat", std::to_string(p.heat), "--png", path("m.png"), "--heights",
                                     path("h.pgm")};
    if (p.zoom) {
        args.push_back("--zoom");
        args.push_back(std::to_string(p.zoom));
    }
    ASSERT_EQ(render(args).code, 0);

    const World world = generated(p.size, p.seed, p.water);
    const int extent = world.GridExtent;
    QFile file(dir.filePath("m.png"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(26);
    ASSERT_EQ(head.size(), 26);
    EXPECT_EQ(head[24], 8) << "8 bits a sample";
    EXPECT_EQ(head[25], 2) << "RGB, no alpha, no palette";
    const QImage png(dir.filePath("m.png"));
    const int z = p.zoom ? p.zoom : 1;
    const int side = p.zoom ? extent * z : extent + 1;
    ASSERT_EQ(png.width(), side);
    ASSERT_EQ(png.height(), side);
    const Tint tint = tintFromHeatPosition(p.heat);
    for (int y = 0; y < side; y += 7)
        for (int x = 0; x < side; x += 5) {
            const BandColour band = terrainColour(world.Heights.at(x / z, y / z), world.WaterOffset, tint);
            const QRgb got = png.pixel(x, y);
            ASSERT_EQ(qRed(got) >> 3, band.colour.red >> 3) << x << "," << y;
            ASSERT_EQ(qGreen(got) >> 2, band.colour.green >> 2) << x << "," << y;
            ASSERT_EQ(qBlue(got) >> 3, band.colour.blue >> 3) << x << "," << y;
        }

    QFile pgm(dir.filePath("h.pgm"));
    ASSERT_TRUE(pgm.open(QIODevice::ReadOnly));
    const QByteArray bytes = pgm.readAll();
    const QByteArray header = "P5\n" + QByteArray::number(extent + 1) + " " + QByteArray::number(extent + 1) + "\n255\n";
    ASSERT_TRUE(bytes.startsWith(header));
    ASSERT_EQ(bytes.size(), header.size() + (extent + 1) * (extent + 1));
    for (int y = 0; y <= extent; y += 3)
        for (int x = 0; x <= extent; x += 11)
            ASSERT_EQ(static_cast<std::uint8_t>(bytes[header.size() + y * (extent + 1) + x]), world.Heights.at(x, y));
}

INSTANTIATE_TEST_SUITE_P(Settings, RenderCliPicture,
                         testing::Values(Picture{"Small", "42861244", 0, 0, 0}, Picture{"Small", "-7", 40, -40, 3},
                                         Picture{"Medium", "$BEEF", -20, 25, 0}, Picture{"Large", "1", 5, 0, 2},
                                         Picture{"Small", "9", 0, 10, 5}));

} // namespace
