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
#include "WorldRecord.h"

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
                                    "  --png FILE      write the map picture as an 8-bit RGB PNG\n"
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
                                    "  --help          show this help and exit\n"
                                    "  --version       show the version and exit\n"
                                    "\n"
                                    "The same seed and settings always give the same world. Every PNG written\n"
                                    "records them, so --from makes its world again.\n"
                                    "Exit status: 0 done, 1 a file could not be written, 2 a bad command line.\n";

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

int runRender(int argc, const char *const *argv, std::ostream &out, std::ostream &err)
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
        const World world = GenerateHeights(options.size, options.water, random);
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
