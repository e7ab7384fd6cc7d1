#include "Colouring.h"
#include "Generator.h"
#include "RenderCli.h"
#include "RenderOutputs.h"
#include "TerminalText.h"
#include "WorldFigures.h"
#include "WorldRecord.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
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

bool hasControlBytes(const std::string &text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\n') || byte == 0x7f;
    });
}

TEST_P(RenderCliRejects, WithExitTwoAMessageAndNoFile)
{
    std::vector<std::string> args = GetParam().args;
    // "@name" stands for a name in the test's own folder.
    for (auto &arg : args)
        if (arg.rfind('@', 0) == 0)
            arg = path(arg.c_str() + 1);
    args.push_back("--png");
    args.push_back(path("map.png"));
    const Outcome run = render(args);
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find(GetParam().mentions), std::string::npos) << run.err;
    // Every refusal is told alike: whose message it is, and where to look.
    EXPECT_EQ(run.err.rfind("terralume-render: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("\nTry 'terralume-render --help' for more information.\n"), std::string::npos) << run.err;
    EXPECT_FALSE(hasControlBytes(run.err)) << "raw control characters reach the terminal: " << run.err;
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
                    BadLine{{"--colour"}, "unknown option '--colour'"},
                    BadLine{{"--water"}, "--water needs a whole number"}, BadLine{{"stray"}, "unknown option 'stray'"},
                    BadLine{{"--seed", "123456789"}, "--seed takes at most 8 characters, not '123456789'"},
                    BadLine{{"--seed", "\x1b]0;x\x07"}, "'\\x1b]0;x\\x07' is not a valid integer value."},
                    BadLine{{"--size", "\x1b[2J\x9b\xc2\x9b"}, "unknown size '\\x1b[2J\\x9b\\xc2\\x9b'"},
                    BadLine{{"--bad\r\x7f=1"}, "unknown option '--bad\\x0d\\x7f=1'"},
                    BadLine{{"--heights", "@map.png"}, "--heights and --png name the same file"},
                    BadLine{{"--pdf", "@./map.png"}, "--png and --pdf name the same file"},
                    // Forms an option parser may read its own way: none is an option here.
                    BadLine{{"--"}, "unknown option '--'"}, BadLine{{"--h"}, "unknown option '--h'"},
                    BadLine{{"-size", "Large"}, "unknown option '-size'"},
                    BadLine{{"--landscape=1"}, "unknown option '--landscape=1'"},
                    BadLine{{"--help=x"}, "unknown option '--help=x'"},
                    // Read left to right: the first fault is the one reported.
                    BadLine{{"--size", "Huge", "--colour"}, "unknown size 'Huge'"},
                    BadLine{{"--colour", "--size", "Huge"}, "unknown option '--colour'"},
                    BadLine{{"--zoom=9", "--help"}, "--zoom needs a whole number from 1 to 5, not '9'"},
                    // The picture holds the settings; none may be given beside it.
                    BadLine{{"--from", "@none.png"}, "none.png' cannot be read: No such file"},
                    BadLine{{"--from", "@a.png", "--seed", "5"}, "--seed cannot be given with --from"},
                    BadLine{{"--title", "t", "--from", "@a.png"}, "--title cannot be given with --from"},
                    BadLine{{"--from="}, "--from needs a file name"}));

// The lists: a command line that asks for one cannot also ask for what it
// leaves out (files, a seed of its own), and their own options are checked.
class RenderCliListRejects : public RenderCli, public testing::WithParamInterface<BadLine> {};

TEST_P(RenderCliListRejects, WithExitTwoAMessageAndNoOutput)
{
    std::vector<std::string> args = GetParam().args;
    for (auto &arg : args)
        if (arg.rfind('@', 0) == 0)
            arg = path(arg.c_str() + 1);
    const Outcome run = render(args);
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find(GetParam().mentions), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("terralume-render: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("\nTry 'terralume-render --help' for more information.\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(files().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, RenderCliListRejects,
    testing::Values(
        BadLine{{"--find", "0"}, "--find needs a whole number from 1 to 100000000, not '0'"},
        BadLine{{"--find"}, "--find needs a value"},
        BadLine{{"--find", "3", "--png", "@a.png"}, "--png cannot be given with --find: --find writes no file"},
        BadLine{{"--heights", "@h.pgm", "--find", "3"}, "--heights cannot be given with --find"},
        BadLine{{"--find", "3", "--pdf", "@a.pdf"}, "--pdf cannot be given with --find"},
        BadLine{{"--find", "3", "--zoom", "2"}, "--zoom cannot be given with --find"},
        BadLine{{"--find", "3", "--title", "t"}, "--title cannot be given with --find"},
        BadLine{{"--find", "3", "--seed", "5"},
                "--seed cannot be given with --find: --find tries the seeds from --start"},
        BadLine{{"--find", "3", "--from", "@a.png"}, "--from cannot be given with --find"},
        BadLine{{"--find", "3", "--figures"}, "--find and --figures cannot be given together"},
        BadLine{{"--figures", "--png", "@a.png"}, "--png cannot be given with --figures: --figures writes no file"},
        BadLine{{"--figures", "--seed", "5", "--from", "@a.png"}, "--seed cannot be given with --from"},
        BadLine{{"--figures=1"}, "unknown option '--figures=1'"},
        BadLine{{"--land", "3..4"}, "--land goes only with --find"},
        BadLine{{"--figures", "--start", "5"}, "--start goes only with --find"},
        BadLine{{"--limit", "5", "--png", "@a.png"}, "--limit goes only with --find"},
        BadLine{{"--find", "3", "--land", "50..40"}, "--land range '50..40' holds nothing: 50 is above 40"},
        BadLine{{"--find", "3", "--land", "30"}, "--land needs a range MIN..MAX of percentages from 0 to 100"},
        BadLine{{"--find", "3", "--land", "30..100.01"}, "not '30..100.01'"},
        BadLine{{"--find", "3", "--land", "1.234..5"}, "not '1.234..5'"},
        BadLine{{"--find", "3", "--land", "-1..5"}, "not '-1..5'"},
        BadLine{{"--find", "3", "--land", "5...6"}, "not '5...6'"},
        BadLine{{"--find", "3", "--landmasses", "2..x"}, "--landmasses needs a range MIN..MAX of whole numbers"},
        BadLine{{"--find", "3", "--landmasses", "-2..3"}, "not '-2..3'"},
        BadLine{{"--find", "3", "--start", "100000000"}, "--start needs a whole number from 0 to 99999999"},
        BadLine{{"--find", "3", "--limit", "0"}, "--limit needs a whole number from 1 to 100000000"}));

// The lines of a CSV listing after its header, which must be the header of
// the figures.
std::vector<std::string> listedRows(const std::string &out)
{
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "seed,land_percent,landmasses,largest_percent,highest");
    std::vector<std::string> rows;
    while (std::getline(lines, line))
        rows.push_back(line);
    return rows;
}

struct Listing {
    std::vector<std::string> args; // --size, --water and the ranges
    std::int64_t wanted, start, limit;
    double landLowest, landHighest; // the --land range, as given
    int landmassesLowest, landmassesHighest;
    std::size_t rows; // how many the range holds, fewer than wanted when it runs out
};

class RenderCliFind : public RenderCli, public testing::WithParamInterface<Listing> {};

// --find lists exactly what asking --figures seed after seed, on one thread,
// and keeping the lines in the ranges gives: the same lines, in seed order,
// up to N of them; it says how many it found when the range ran out first.
TEST_P(RenderCliFind, ListsWhatASeedBySeedScanFinds)
{
    const Listing &p = GetParam();
    std::vector<std::string> args = p.args;
    for (const std::string &arg : {std::string("--find"), std::to_string(p.wanted)})
        args.push_back(arg);
    const Outcome run = render(args);
    const std::vector<std::string> rows = listedRows(run.out);

    std::vector<std::string> settings;
    for (std::size_t k = 0; k + 1 < p.args.size(); k += 2)
        if (p.args[k] == "--size" || p.args[k] == "--water")
            settings.insert(settings.end(), {p.args[k], p.args[k + 1]});
    std::vector<std::string> expected;
    std::int64_t seed = p.start;
    for (; seed <= 99999999 && seed < p.start + p.limit && static_cast<std::int64_t>(expected.size()) < p.wanted;
         ++seed) {
        std::vector<std::string> one = settings;
        one.insert(one.end(), {"--seed", std::to_string(seed), "--figures"});
        const std::vector<std::string> line = listedRows(render(one).out);
        ASSERT_EQ(line.size(), 1u);
        char comma;
        std::int64_t listedSeed = 0;
        double land = 0;
        int landmasses = 0;
        std::istringstream fields(line[0]);
        fields >> listedSeed >> comma >> land >> comma >> landmasses;
        ASSERT_EQ(listedSeed, seed);
        if (land >= p.landLowest && land <= p.landHighest && landmasses >= p.landmassesLowest &&
            landmasses <= p.landmassesHighest)
            expected.push_back(line[0]);
    }
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(rows.size(), p.rows);
    if (rows.size() == static_cast<std::size_t>(p.wanted)) {
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(run.err, "");
    } else {
        EXPECT_EQ(run.code, 1);
        EXPECT_NE(run.err.find("terralume-render: found " + std::to_string(rows.size()) + " of " +
                               std::to_string(p.wanted) + " worlds in seeds "),
                  std::string::npos)
            << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Searches, RenderCliFind,
    testing::Values(
        Listing{{}, 40, 1, 1000000, 0, 100, 0, 1000000, 40},
        Listing{{"--land", "25..30.5", "--landmasses", "2.."}, 6, 1, 1000000, 25, 30.5, 2, 1000000, 6},
        Listing{{"--size", "Medium", "--water", "-30", "--landmasses", "..25", "--start", "777", "--limit", "200"},
                4,
                777,
                200,
                0,
                100,
                0,
                25,
                4},
        Listing{
            {"--water", "15", "--land", "..20", "--start", "50", "--limit", "60"}, 50, 50, 60, 0, 20, 0, 1000000, 45},
        Listing{{"--start", "99999995"}, 9, 99999995, 1000000, 0, 100, 0, 1000000, 5}));

struct TooFew {
    std::vector<std::string> args;
    std::vector<std::string> said; // the lines on the error output
};

void PrintTo(const TooFew &t, std::ostream *os) { *os << t.said.back(); }

class RenderCliFindsTooFew : public RenderCli, public testing::WithParamInterface<TooFew> {};

// A search that finds too few says how many of the seeds it looked at
// matched and, for each range asked for, how many worlds had that figure or
// the nearest seen; every world it names has the figure it says.
TEST_P(RenderCliFindsTooFew, SaysHowNearItCame)
{
    const Outcome run = render(GetParam().args);
    EXPECT_EQ(run.code, 1);
    std::string expected;
    for (const std::string &line : GetParam().said)
        expected += "terralume-render: " + line + "\n";
    EXPECT_EQ(run.err, expected);
    static const std::regex named(R"(([0-9.]+)( %)?,? \(?seed ([0-9]+))");
    for (auto it = std::sregex_iterator(run.err.begin(), run.err.end(), named); it != std::sregex_iterator(); ++it) {
        const std::vector<std::string> rows = listedRows(render({"--seed", (*it)[3], "--figures"}).out);
        ASSERT_EQ(rows.size(), 1u);
        std::vector<std::string> fields;
        std::istringstream row(rows[0]);
        for (std::string field; std::getline(row, field, ',');)
            fields.push_back(field);
        ASSERT_EQ(fields.size(), 5u);
        EXPECT_EQ((*it)[2].matched ? fields[1] : fields[2], (*it)[1]) << rows[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Searches, RenderCliFindsTooFew,
    testing::Values(TooFew{{"--find", "3", "--limit", "2000", "--land", "60.."},
                           {"found 0 of 3 worlds in seeds 1 to 2000; 0 matched of the 2000 seeds looked at",
                            "no world had land in range: the most seen was 54.15 %, seed 1596"}},
                    TooFew{{"--find", "2", "--limit", "300", "--land", "..2"},
                           {"found 0 of 2 worlds in seeds 1 to 300; 0 matched of the 300 seeds looked at",
                            "no world had land in range: the least seen was 2.42 %, seed 181"}},
                    TooFew{{"--find", "2", "--limit", "300", "--landmasses", "18..20"},
                           {"found 0 of 2 worlds in seeds 1 to 300; 0 matched of the 300 seeds looked at",
                            "no world had landmasses in range: the nearest seen were 17 (seed 56) and 21 (seed 136)"}},
                    // Each range alone is met, never both at once.
                    TooFew{
                        {"--find", "2", "--start", "50", "--limit", "100", "--land", "40..45", "--landmasses", "17.."},
                        {"found 0 of 2 worlds in seeds 50 to 149; 0 matched of the 100 seeds looked at",
                         "5 worlds had land in range", "3 worlds had landmasses in range"}},
                    TooFew{{"--find", "10", "--limit", "300", "--landmasses", "17.."},
                           {"found 5 of 10 worlds in seeds 1 to 300; 5 matched of the 300 seeds looked at",
                            "5 worlds had landmasses in range"}},
                    // Nothing was asked of the figures: nothing to say of them.
                    TooFew{{"--find", "9", "--start", "99999995"},
                           {"found 5 of 9 worlds in seeds 99999995 to 99999999; 5 matched of the 5 seeds looked at"}}));

struct OneWorld {
    std::vector<std::string> args;
    const char *size, *seed;
    int water;
    const char *listedSeed;
};

class RenderCliFigures : public RenderCli, public testing::WithParamInterface<OneWorld> {};

// --figures lists the one world the settings make, its seed as the decimal
// number that makes it.
TEST_P(RenderCliFigures, ListsTheWorldOfTheSeed)
{
    const OneWorld &p = GetParam();
    std::vector<std::string> args = p.args;
    for (auto &arg : args)
        if (arg.rfind('@', 0) == 0)
            arg = path(arg.c_str() + 1);
    args.push_back("--figures");
    const Outcome run = render(args);
    EXPECT_EQ(run.code, 0) << run.err;
    SeededRandom random;
    random.LoadSeed(p.seed);
    const WorldFigures f = worldFigures(GenerateHeights(p.size, p.water, random));
    const std::vector<std::string> expected = {std::string(p.listedSeed) + "," + percentText(f.landCells, f.cells) +
                                               "," + std::to_string(f.landmasses) + "," +
                                               percentText(f.largestCells, f.cells) + "," + std::to_string(f.highest)};
    EXPECT_EQ(listedRows(run.out), expected);
}

TEST_F(RenderCli, FiguresOfARecordedWorld)
{
    ASSERT_EQ(render({"--size", "Medium", "--seed", "$BEEF", "--water", "-20", "--png", path("a.png")}).code, 0);
    const Outcome fromPicture = render({"--from", path("a.png"), "--figures"});
    const Outcome fromSettings = render({"--size", "Medium", "--seed", "48879", "--water", "-20", "--figures"});
    EXPECT_EQ(fromPicture.code, 0) << fromPicture.err;
    EXPECT_EQ(fromPicture.out, fromSettings.out);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RenderCliFigures,
    testing::Values(OneWorld{{}, "Small", "42861244", 0, "42861244"},
                    OneWorld{{"--seed", "$BEEF", "--water", "-20"}, "Small", "$BEEF", -20, "48879"},
                    OneWorld{{"--size", "Large", "--seed", " -7", "--heat", "30"}, "Large", "-7", 0, "-7"}));

// A name that is not UTF-8 is still a name: written byte for byte, it can
// never land on another request's file.
TEST_F(RenderCli, WritesFileNamesByteForByte)
{
    const std::string latin = path("") + "\xe9t\xe9.pgm", mended = path("") + "\xef\xbf\xbdt\xef\xbf\xbd.pgm";
    ASSERT_EQ(render({"--heights", latin}).code, 0);
    struct stat info {};
    EXPECT_EQ(::stat(latin.c_str(), &info), 0) << "the file is not under the name given";
    EXPECT_NE(::stat(mended.c_str(), &info), 0);

    const std::string folder = path("") + "no\x1b[2Jsuch/map.png";
    const Outcome run = render({"--png", folder});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("no\\x1b[2Jsuch/map.png"), std::string::npos) << run.err;
    EXPECT_FALSE(hasControlBytes(run.err)) << run.err;
}

// Whoever reads the help page learns every option the program itself lists.
TEST_F(RenderCli, HelpPageListsEveryOption)
{
    std::ifstream page(TERRALUME_HELP_DIR "/renderer.html");
    ASSERT_TRUE(page) << "no help page on the renderer";
    const std::string html((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
    const std::string usage = render({"--help"}).out;
    const std::regex option("\\n  (--[a-z]+)");
    std::set<std::string> listed;
    for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option); it != std::sregex_iterator(); ++it)
        listed.insert((*it)[1]);
    EXPECT_GE(listed.size(), 12u) << usage;
    for (const std::string &name : listed)
        EXPECT_NE(html.find("<code>" + name), std::string::npos) << name << " is missing from the help page";
}

// A console 80 columns wide shows every line of the help whole, unwrapped.
TEST_F(RenderCli, HelpFitsAnEightyColumnConsole)
{
    std::istringstream lines(render({"--help"}).out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 79u) << line;
}

// The renderer quiets the warnings of the picture code, never a fatal message.
TEST(QuietQtWarnings, DropsWarningsAndPassesOnWhatEndsTheProgram)
{
    static std::vector<std::pair<QtMsgType, QString>> seen;
    const QtMessageHandler before = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &, const QString &text) { seen.emplace_back(type, text); });
    {
        const QuietQtWarnings quiet;
        qWarning("a warning");
        qCritical("a critical message");
    }
    qWarning("after");
    qInstallMessageHandler(before);
    const std::vector<std::pair<QtMsgType, QString>> expected = {{QtCriticalMsg, "a critical message"},
                                                                 {QtWarningMsg, "after"}};
    EXPECT_EQ(seen, expected);
    EXPECT_DEATH(
        {
            const QuietQtWarnings quiet;
            qFatal("the platform cannot start");
        },
        "the platform cannot start");
}

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
    // Help wins over whatever follows it, a fault included.
    for (const std::vector<std::string> &args : {std::vector<std::string>{"--help"},
                                                 {"-h"},
                                                 {"--title", "-h", "-h"},
                                                 {"--png", path("map.png"), "--help", "--colour"}}) {
        const Outcome help = render(args);
        EXPECT_EQ(help.code, 0) << args.back();
        EXPECT_NE(help.out.find("--heights FILE"), std::string::npos) << args.back();
    }
    EXPECT_TRUE(files().isEmpty());
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

// A picture the PNG encoder refuses, wider than the million pixels it takes,
// is that file's failure and says so; memory was never short.
TEST_F(RenderCli, PictureThePngEncoderRefusesIsReportedAsSuch)
{
    QImage wide(1000001, 1, QImage::Format_RGB16);
    ASSERT_FALSE(wide.isNull());
    wide.fill(Qt::blue);
    const std::string file = path("wide.png");
    StepFailure failure;
    {
        const QuietQtWarnings quiet;
        ASSERT_NO_THROW(failure = writePng(file, wide, WorldRecord{}));
    }
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure, "cannot write '" + file + "': the picture could not be encoded as PNG");
    EXPECT_TRUE(files().isEmpty());
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
    return GenerateHeights(size, water, random);
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
    std::vector<std::string> args = {"--size",    p.size,
                                     "--seed",    p.seed,
                                     "--water",   std::to_string(p.water),
                                     "--heat",    std::to_string(p.heat),
                                     "--png",     path("m.png"),
                                     "--heights", path("h.pgm")};
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
    EXPECT_EQ(head[25], 3) << "a palette of the picture's colours, as a map's few hundred fit";
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
    const QByteArray header =
        "P5\n" + QByteArray::number(extent + 1) + " " + QByteArray::number(extent + 1) + "\n255\n";
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

struct Recorded {
    std::vector<std::string> settings;
    WorldRecord expected;
    const char *zoom;
};

class RenderCliFrom : public RenderCli, public testing::WithParamInterface<Recorded> {};

// The picture alone makes its world again: the same record, the same grid,
// the same pixels.
TEST_P(RenderCliFrom, MakesTheRecordedWorldAgain)
{
    std::vector<std::string> first = GetParam().settings;
    for (const char *arg : {"--zoom", GetParam().zoom})
        first.push_back(arg);
    for (const std::string &arg : {std::string("--png"), path("a.png"), std::string("--heights"), path("a.pgm")})
        first.push_back(arg);
    ASSERT_EQ(render(first).code, 0);
    const Outcome again = render(
        {"--from", path("a.png"), "--zoom", GetParam().zoom, "--png", path("b.png"), "--heights", path("b.pgm")});
    ASSERT_EQ(again.code, 0) << again.err;

    const WorldRecord expected = GetParam().expected;
    for (const char *name : {"a.png", "b.png"}) {
        const WorldRecord got = readWorldRecord(dir.filePath(QString::fromLatin1(name)));
        EXPECT_EQ(got.size, expected.size) << name;
        EXPECT_EQ(got.seedText, expected.seedText) << name;
        EXPECT_EQ(got.water, expected.water) << name;
        EXPECT_EQ(got.heat, expected.heat) << name;
        EXPECT_EQ(got.title, expected.title) << name;
    }
    const auto bytes = [&](const char *name) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_FALSE(bytes("a.pgm").isEmpty());
    EXPECT_EQ(bytes("a.pgm"), bytes("b.pgm"));
    const QImage a(dir.filePath("a.png")), b(dir.filePath("b.png"));
    ASSERT_FALSE(a.isNull());
    EXPECT_EQ(a, b);
}

INSTANTIATE_TEST_SUITE_P(Settings, RenderCliFrom,
                         testing::Values(Recorded{{}, WorldRecord{}, "1"},
                                         Recorded{
                                             {"--size", "Medium", "--seed", "$BEEF", "--water", "-20", "--heat", "25",
                                              "--title", "  Île \xe2\x80\x94  [*] "},
                                             WorldRecord{"Medium", "$BEEF", -20, 25, QStringLiteral("  Île —  [*] ")},
                                             "2"},
                                         Recorded{{"--seed", " -7", "--water", "40", "--heat", "-40"},
                                                  WorldRecord{"Small", " -7", 40, -40, {}},
                                                  "5"}));

struct Unrecorded {
    const char *name;
    QByteArray contents; // empty: a PNG Qt writes, with no record
    const char *mentions;
};

class RenderCliFromRefuses : public RenderCli, public testing::WithParamInterface<Unrecorded> {};

// A picture whose chunks do not say how to make a world again makes none.
TEST_P(RenderCliFromRefuses, WithExitTwoAndNoFile)
{
    const Unrecorded p = GetParam();
    const QString input = dir.filePath(QString::fromLatin1(p.name));
    if (p.contents.isEmpty()) {
        QImage plain(8, 8, QImage::Format_RGB888);
        plain.fill(Qt::green);
        ASSERT_TRUE(plain.save(input, "PNG"));
    } else {
        QFile file(input);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(p.contents);
    }
    const Outcome run = render({"--from", input.toStdString(), "--png", path("out.png")});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find(p.mentions), std::string::npos) << run.err;
    EXPECT_EQ(files(), QStringList{QString::fromLatin1(p.name)});
}

QByteArray recordedThenEdited(const char *key, const QByteArray &value)
{
    QImage picture(4, 4, QImage::Format_RGB16);
    picture.fill(Qt::blue);
    QImage decoded = QImage::fromData(encodeRecordedPng(picture, WorldRecord{}));
    decoded.setText(QString::fromLatin1(key), QString::fromLatin1(value));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    decoded.save(&buffer, "PNG");
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, RenderCliFromRefuses,
    testing::Values(Unrecorded{"plain.png", {}, "records no world settings"},
                    Unrecorded{"notes.png", "just some text\n", "is not a PNG picture"},
                    Unrecorded{"number.png", recordedThenEdited("TerralumeSeedNumber", "7"), "no valid seed"},
                    Unrecorded{"long.png", recordedThenEdited("TerralumeSeed", "123456789"), "no valid seed"},
                    Unrecorded{"size.png", recordedThenEdited("TerralumeSize", "Huge"), "no valid size"},
                    Unrecorded{"water.png", recordedThenEdited("TerralumeWater", "41"), "no valid water level"},
                    Unrecorded{"heat.png", recordedThenEdited("TerralumeHeat", "hot"), "no valid heat level"},
                    // Long text is compressed: a small file, sixteen megabytes of title.
                    Unrecorded{"bomb.png", recordedThenEdited("Title", QByteArray(16 << 20, 'a')),
                               "records a title longer than 4096 bytes, the most a record holds"}));

// A title longer than a record holds is recorded cut, with a warning, and
// what was recorded reads back whole.
TEST_F(RenderCli, RecordsALongTitleCutAndSaysSo)
{
    const Outcome run = render({"--title", std::string(4097, 'x'), "--png", path("a.png")});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "terralume-render: the title is longer than the 4096 bytes a picture records; '" +
                           path("a.png") + "' records it cut to that length\n");
    const Outcome again = render({"--from", path("a.png"), "--png", path("b.png")});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(readWorldRecord(dir.filePath("b.png")).title, QString(4096, u'x'));
}

// The name given is the file read, byte for byte, UTF-8 or not.
TEST_F(RenderCli, ReadsANameThatIsNotUtf8)
{
    const std::string name = path("") + "nu\xff.png";
    ASSERT_EQ(render({"--png", name}).code, 0);
    const Outcome run = render({"--from", name, "--png", path("again.png")});
    EXPECT_EQ(run.code, 0) << run.err;
}

// A pipe, here standard input, is not a picture to read: the renderer says
// so at once rather than reading it as one.
TEST_F(RenderCli, FromStandardInputNeedsAFile)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const int input = ::dup(0);
    ASSERT_EQ(::dup2(ends[0], 0), 0);
    ::close(ends[0]);
    ::close(ends[1]);
    const Outcome run = render({"--from", "/dev/stdin", "--png", path("out.png")});
    ::dup2(input, 0);
    ::close(input);
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(
        run.err.find("'/dev/stdin' is a pipe, not a regular file: the settings are read only from a picture file"),
        std::string::npos)
        << run.err;
    EXPECT_TRUE(files().isEmpty());
}

} // namespace
