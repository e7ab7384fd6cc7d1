#include "RenderCli.h"

#include "Colouring.h"
#include "Generator.h"
#include "MapPicture.h"
#include "Messages.h"
#include "RenderArguments.h"
#include "RenderOutputs.h"
#include "SeededRandom.h"
#include "TerminalText.h"
#include "TerralumeVersion.h"
#include "WorldFigures.h"
#include "WorldRecord.h"
#include "WorkerThreads.h"
#include "WorldSearch.h"

#include <csignal>
#include <cstdint>
#include <limits>
#include <new>
#include <ostream>
#include <string_view>

namespace terralume {

using namespace cli;

namespace {

constexpr std::string_view kProgram = "terralume-render";

constexpr std::string_view kUsage = "Usage: terralume-render [OPTION]...\n"
                                    "Generate a Terralume world map without opening a window.\n"
                                    "\n"
                                    "  --size NAME     Small, Medium or Large (default Small)\n"
                                    "  --seed TEXT     random seed, as typed in the settings window: at most 8\n"
                                    "                  characters (default 42861244)\n"
                                    "  --water N       water level -40 (very dry) .. 40 (very wet) (default 0)\n"
                                    "  --heat N        heat level -40 (very hot) .. 40 (very cold) (default 0)\n"
                                    "  --zoom Z        write the view at zoom 1..5 instead of the full map\n"
                                    "                  picture\n"
                                    "  --png FILE      write the map picture as a palette (indexed colour) PNG\n"
                                    "  --heights FILE  write the height grid as a binary PGM (column x, row y =\n"
                                    "                  cell [x][y])\n"
                                    "  --pdf FILE      write the printed page as a PDF: the title, the view (at\n"
                                    "                  --zoom, else as the map window first shows it) and the\n"
                                    "                  settings footer\n"
                                    "  --title TEXT    the map's title on the page (default: Untitled)\n"
                                    "  --paper NAME    A4 or Letter (default A4)\n"
                                    "  --landscape     lay the page out across the paper\n"
                                    "  --from PNG      make the world recorded in a PNG this program wrote; the\n"
                                    "                  size, seed, water, heat and title come from the picture,\n"
                                    "                  so --size, --seed, --water, --heat and --title are refused\n"
                                    "  --find N        list the first N decimal seeds whose worlds (of --size and\n"
                                    "                  --water) have the figures asked for, as CSV; no file is\n"
                                    "                  written\n"
                                    "  --land RANGE    with --find: land share MIN..MAX in percent, compared as\n"
                                    "                  listed (for example 30..45.5; either end may be left out)\n"
                                    "  --landmasses RANGE\n"
                                    "                  with --find: number of landmasses MIN..MAX (for example 2..5)\n"
                                    "  --start SEED    the first seed --find tries (default 1)\n"
                                    "  --limit N       the most seeds --find tries (default 1000000); it never goes\n"
                                    "                  past 99999999\n"
                                    "  --figures       list the figures of the one world of --seed (or --from)\n"
                                    "  --help          show this help and exit\n"
                                    "  --version       show the version and exit\n"
                                    "\n"
                                    "The same seed and settings always give the same world. Every PNG written\n"
                                    "records them, so --from makes its world again.\n"
                                    "Figures: land_percent is the share of the grid's cells that are lowland or\n"
                                    "upland; landmasses counts the regions of land, joined side to side, of at\n"
                                    "least 16 cells; largest_percent is the largest one's share of the grid;\n"
                                    "highest is the highest adjusted height, 0..255.\n"
                                    "--find shows how far it has got on a terminal; Ctrl+C stops it with what\n"
                                    "it found so far listed.\n"
                                    "Exit status: 0 done, 1 a file could not be written or --find found fewer\n"
                                    "than N, 2 a bad command line, 130 --find stopped by Ctrl+C.\n";

constexpr std::string_view kFiguresHeader = "seed,land_percent,landmasses,largest_percent,highest\n";

// Help and version are output too: a full or closed standard output is an error.
int finishOutput(std::ostream &out, std::ostream &err)
{
    out.flush();
    if (out)
        return 0;
    err << kProgram << ": cannot write to standard output\n";
    return 1;
}

void report(std::ostream &err, const std::string &message)
{
    err << kProgram << ": " << printableText(message) << "\n";
}

// A command line that cannot be carried out, whatever part of it is at fault:
// the reason and where to read what may be asked, exit 2.
int refuse(std::ostream &err, const std::string &message)
{
    report(err, message);
    err << "Try '" << kProgram << " --help' for more information.\n";
    return 2;
}

void writeFiguresRow(std::ostream &out, std::int64_t seed, const WorldFigures &f)
{
    out << seed << ',' << percentText(f.landCells, f.cells) << ',' << f.landmasses << ','
        << percentText(f.largestCells, f.cells) << ',' << f.highest << '\n';
}

// Why a search found too few, for each figure it was asked to look for: how
// many worlds had that figure in range, or the nearest seen when none did.
void reportMisses(std::ostream &err, const FigureFilter &filter, const SearchTally &tally)
{
    const struct {
        const FigureMisses &misses;
        bool asked, land;
    } figures[] = {{tally.land, filter.landLowest > 0 || filter.landHighest < 10000, true},
                   {tally.landmasses,
                    filter.landmassesLowest > 0 || filter.landmassesHighest < std::numeric_limits<int>::max(), false}};
    for (const auto &row : figures) {
        const FigureMisses &misses = row.misses;
        const bool land = row.land;
        const std::string figure = land ? "land" : "landmasses";
        const auto seen = [land](const FigureMisses::Nearest &n, const char *between) {
            return (land ? percentText(n.value, 10000) + " %" : std::to_string(n.value)) + between +
                   std::to_string(n.seed);
        };
        if (!row.asked)
            continue;
        if (misses.within > 0)
            report(err, std::to_string(misses.within) + " worlds had " + figure + " in range");
        else if (misses.below && misses.above)
            report(err, "no world had " + figure + " in range: the nearest seen were " +
                            seen(*misses.below, " (seed ") + ") and " + seen(*misses.above, " (seed ") + ")");
        else if (misses.below || misses.above)
            report(err, "no world had " + figure + " in range: the " + (misses.below ? "most" : "least") +
                            " seen was " + seen(misses.below ? *misses.below : *misses.above, ", seed "));
    }
}

// The first N matching seeds as they are found, in seed order, on every core.
int runFind(Options &options, std::ostream &out, std::ostream &err, bool errIsTerminal)
{
    SearchRequest &search = options.search;
    search.size = options.size;
    search.water = options.water;
    SearchTally tally;
    search.tally = &tally;
    out << kFiguresHeader;
    std::int64_t found = 0;
    SearchProgress progress(err, errIsTerminal, lastSeedOf(search) - search.start + 1);
    search.stop = progress.stopToken();
    search.looked = &progress.looked;
    try {
        found = searchWorlds(search, usableCores(), [&](const FoundWorld &world) {
            return progress.writeFound([&] {
                writeFiguresRow(out, world.seed, world.figures);
                // Each row as soon as it is known: a long search shows its progress.
                out.flush();
                return static_cast<bool>(out);
            });
        });
    } catch (const std::bad_alloc &) {
        progress.end();
        report(err, "not enough memory to search " + options.size + " worlds");
        return 1;
    }
    progress.end();
    if (const int code = finishOutput(out, err))
        return code;
    if (found == search.wanted)
        return 0;
    const std::string matched =
        std::to_string(found) + " matched of the " + std::to_string(progress.looked) + " seeds looked at";
    const std::string counts = "found " + std::to_string(found) + " of " + std::to_string(search.wanted) + " worlds";
    if (progress.interrupted())
        report(err, "stopped: " + counts + "; " + matched);
    else
        report(err, counts + " in seeds " + std::to_string(search.start) + " to " + std::to_string(lastSeedOf(search)) +
                        "; " + matched);
    reportMisses(err, search.filter, tally);
    // As a program that Ctrl+C ended.
    return progress.interrupted() ? 128 + SIGINT : 1;
}

// The files asked for, up to the first that cannot be written: the height
// grid, then the picture as the map window shows it, made once for the PNG
// and the page.
StepFailure writeRequested(const Options &options, const World &world, std::ostream &err)
{
    if (options.heights)
        if (StepFailure failure = writeHeights(*options.heights, world))
            return failure;
    if (!options.png && !options.pdf)
        return std::nullopt;
    MapView view;
    const QImage base = drawMapPicture(world, tintFromHeatPosition(options.heat));
    if (options.zoom)
        view.zoom(base, *options.zoom);
    else
        view.show(base);
    const QImage &shown = view.image();
    const WorldRecord record{QString::fromStdString(options.size), QString::fromUtf8(options.seed.c_str()),
                             options.water, options.heat, QString::fromStdString(options.title)};
    if (options.png) {
        if (StepFailure failure = writePng(*options.png, shown, record))
            return failure;
        if (recordedTitle(record.title) != record.title)
            report(err, "the title is longer than the " + std::to_string(kRecordTitleLimit) +
                            " bytes a picture records; '" + *options.png + "' records it cut to that length");
    }
    if (!options.pdf)
        return std::nullopt;
    const print::PageDescription page = print::pageFor(
        QString::fromStdString(options.title), QString::fromStdString(options.size), options.water, options.heat);
    return writePdf(*options.pdf, shown, page, options.page);
}

} // namespace

int runRender(int argc, const char *const *argv, std::ostream &out, std::ostream &err, bool errIsTerminal)
{
    Options options;
    try {
        switch (parse(argc, argv, options)) {
        case Action::Help:
            out << kUsage;
            return finishOutput(out, err);
        case Action::Version:
            out << kProgram << " " << TERRALUME_VERSION << "\n";
            return finishOutput(out, err);
        case Action::Find:
            return runFind(options, out, err, errIsTerminal);
        case Action::Figures:
        case Action::Render:
            break;
        }
    } catch (const UsageError &error) {
        return refuse(err, error.message);
    }

    if (options.from) {
        try {
            const WorldRecord record = readWorldRecordFile(QByteArray::fromStdString(*options.from));
            options.size = record.size.toStdString();
            options.seed = record.seedText.toStdString();
            options.water = record.water;
            options.heat = record.heat;
            options.title = record.title.toStdString();
        } catch (const RecordError &error) {
            return refuse(err, error.what());
        } catch (const std::bad_alloc &) {
            report(err, "not enough memory to read '" + *options.from + "'");
            return 1;
        }
    }

    SeededRandom random;
    try {
        random.LoadSeed(options.seed);
    } catch (const ConvertError &error) {
        // The same words the settings window's error box shows, told the
        // way every other refusal of the command line is.
        return refuse(err, withFullStop(error.what()));
    }

    try {
        // As the settings window would load the seed's decimal text.
        const auto seed = static_cast<std::int32_t>(random.seedWord());
        const World world = GenerateHeights(options.size, options.water, random);
        if (options.figures) {
            out << kFiguresHeader;
            writeFiguresRow(out, seed, worldFigures(world));
            return finishOutput(out, err);
        }
        const QuietQtWarnings quiet;
        if (const StepFailure failure = writeRequested(options, world, err)) {
            report(err, *failure);
            return 1;
        }
    } catch (const std::bad_alloc &) {
        report(err, "not enough memory for a " + options.size + " map" +
                        (options.zoom ? " at zoom " + std::to_string(*options.zoom) : std::string()));
        return 1;
    }
    return 0;
}

} // namespace terralume
