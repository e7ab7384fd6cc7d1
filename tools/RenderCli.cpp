#include "RenderCli.h"

#include "Colouring.h"
#include "Generator.h"
#include "MapPicture.h"
#include "MapPrinter.h"
#include "PrintError.h"
#include "Messages.h"
#include "OutputFile.h"
#include "SeededRandom.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QByteArray>
#include <QImage>
#include <QIODevice>
#include <QString>
#include <QtGlobal>

#include <charconv>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace terralume {

namespace {

constexpr std::string_view kProgram = "terralume-render";

constexpr std::string_view kUsage =
    "Usage: terralume-render [OPTION]...\n"
    "Generate a Terralume world map without opening a window.\n"
    "\n"
    "  --size NAME     Small, Medium or Large (default Small)\n"
    "  --seed TEXT     random seed, as typed in the settings window (default 42861244)\n"
    "  --water N       water level -40 (very dry) .. 40 (very wet) (default 0)\n"
    "  --heat N        heat level -40 (very hot) .. 40 (very cold) (default 0)\n"
    "  --zoom Z        write the view at zoom 1..5 instead of the full map picture\n"
    "  --png FILE      write the map picture as an 8-bit RGB PNG\n"
    "  --heights FILE  write the height grid as a binary PGM (column x, row y = cell [x][y])\n"
    "  --pdf FILE      write the printed page as a PDF: the title, the view (at --zoom,\n"
    "                  else as the map window first shows it) and the settings footer\n"
    "  --title TEXT    the map's title on the page (default: Untitled)\n"
    "  --paper NAME    A4 or Letter (default A4)\n"
    "  --landscape     lay the page out across the paper\n"
    "  --help          show this help and exit\n"
    "  --version       show the version and exit\n"
    "\n"
    "The same seed and settings always give the same world.\n"
    "Exit status: 0 done, 1 a file could not be written, 2 a bad command line.\n";

struct Options {
    std::string size = "Small";
    std::string seed = "42861244";
    int water = 0;
    int heat = 0;
    std::optional<int> zoom;
    std::optional<std::string> png;
    std::optional<std::string> heights;
    std::optional<std::string> pdf;
    std::string title;
    print::PdfOptions page;
};

struct UsageError {
    std::string message;
};

std::optional<int> parseInt(std::string_view text)
{
    int value = 0;
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    return value;
}

int parseRanged(std::string_view option, std::string_view text, int low, int high)
{
    const auto value = parseInt(text);
    if (!value || *value < low || *value > high)
        throw UsageError{std::string(option) + " needs a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + std::string(text) + "'"};
    return *value;
}

enum class Action { Render, Help, Version };

Action parse(int argc, const char *const *argv, Options &options)
{
    for (int k = 1; k < argc; ++k) {
        std::string_view arg = argv[k] ? argv[k] : "";
        if (arg == "--help" || arg == "-h")
            return Action::Help;
        if (arg == "--version")
            return Action::Version;

        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        const auto takeValue = [&]() -> std::string_view {
            if (value)
                return *value;
            if (k + 1 >= argc || !argv[k + 1])
                throw UsageError{std::string(name) + " needs a value"};
            return argv[++k];
        };

        if (name == "--size") {
            const std::string_view size = takeValue();
            if (size != "Small" && size != "Medium" && size != "Large")
                throw UsageError{"unknown size '" + std::string(size) + "' (use Small, Medium or Large)"};
            options.size = size;
        } else if (name == "--seed") {
            options.seed = takeValue();
        } else if (name == "--water") {
            options.water = parseRanged(name, takeValue(), -40, 40);
        } else if (name == "--heat") {
            options.heat = parseRanged(name, takeValue(), -40, 40);
        } else if (name == "--zoom") {
            options.zoom = parseRanged(name, takeValue(), 1, 5);
        } else if (name == "--png") {
            options.png = takeValue();
        } else if (name == "--heights") {
            options.heights = takeValue();
        } else if (name == "--pdf") {
            options.pdf = takeValue();
        } else if (name == "--title") {
            options.title = takeValue();
        } else if (name == "--paper") {
            const std::string_view paper = takeValue();
            if (paper != "A4" && paper != "Letter")
                throw UsageError{"unknown paper '" + std::string(paper) + "' (use A4 or Letter)"};
            options.page.paper = paper == "A4" ? print::Paper::A4 : print::Paper::Letter;
        } else if (name == "--landscape" && !value) {
            options.page.landscape = true;
        } else {
            throw UsageError{"unknown option '" + std::string(arg) + "'"};
        }
    }
    if (!options.png && !options.heights && !options.pdf)
        throw UsageError{"nothing to write: give --png FILE, --heights FILE or --pdf FILE"};
    if (options.pdf && options.pdf->empty())
        throw UsageError{"--pdf needs a file name"};
    if (options.png && options.png->empty())
        throw UsageError{"--png needs a file name"};
    if (options.heights && options.heights->empty())
        throw UsageError{"--heights needs a file name"};
    return Action::Render;
}

// Help and version are output too: a full or closed standard output is an error.
int finishOutput(std::ostream &out, std::ostream &err)
{
    out.flush();
    if (out)
        return 0;
    err << kProgram << ": cannot write to standard output\n";
    return 1;
}

// The image writers report their own failures as Qt warnings ("libpng error:
// Write Error"); the renderer says what went wrong itself, once, naming the file.
class QuietQtWarnings {
public:
    QuietQtWarnings() : previous_(qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {})) {}
    ~QuietQtWarnings() { qInstallMessageHandler(previous_); }
    QuietQtWarnings(const QuietQtWarnings &) = delete;
    QuietQtWarnings &operator=(const QuietQtWarnings &) = delete;

private:
    QtMessageHandler previous_;
};

// Rows top to bottom, so the picture shows cell [x][y] at column x, row y.
bool writeHeights(QIODevice &device, const World &world)
{
    const int side = world.Heights.side();
    const QByteArray header = QByteArrayLiteral("P5\n") + QByteArray::number(side) + ' ' + QByteArray::number(side) +
                              QByteArrayLiteral("\n255\n");
    if (device.write(header) != header.size())
        return false;
    QByteArray row(side, '\0');
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x)
            row[x] = static_cast<char>(world.Heights.at(x, y));
        if (device.write(row) != side)
            return false;
    }
    return true;
}

// Fonts need a GUI application; the renderer never needs a display.
class PageFonts {
public:
    PageFonts()
    {
        if (QCoreApplication::instance())
            return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }

private:
    int argc_ = 1;
    char name_[17] = "terralume-render";
    char *argv_[2] = {name_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

// The page goes through the same all-or-nothing write as every other file.
bool writePdf(const QString &path, const QImage &view, const print::PageDescription &page,
              const print::PdfOptions &paper, QString &failure)
{
    const PageFonts fonts;
    try {
        return writeFileAtomically(
            path,
            [&](QIODevice &device) {
                print::composePdf(device, view, page, paper);
                return device.isOpen();
            },
            failure);
    } catch (const print::PrintError &error) {
        failure = QStringLiteral("cannot write '%1': %2").arg(path, QString::fromUtf8(error.what()));
        return false;
    }
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
        err << kProgram << ": " << error.message << "\nTry '" << kProgram << " --help' for more information.\n";
        return 2;
    }

    SeededRandom random;
    try {
        random.LoadSeed(options.seed);
    } catch (const ConvertError &error) {
        // The same words the settings window's error box shows.
        err << withFullStop(error.what()) << "\n";
        return 2;
    }

    try {
        World world;
        GenerateHeights(world, options.size, options.water, random);

        const QuietQtWarnings quiet;
        QString failure;
        const auto writeOrReport = [&](const std::optional<std::string> &file,
                                       const std::function<bool(const QString &)> &write) {
            if (!file || write(QString::fromStdString(*file)))
                return true;
            err << kProgram << ": " << failure.toStdString() << "\n";
            return false;
        };
        if (!writeOrReport(options.heights, [&](const QString &path) {
                return writeFileAtomically(path, [&](QIODevice &device) { return writeHeights(device, world); },
                                           failure);
            }))
            return 1;

        // The picture as the map window shows it, made once for the PNG and the page.
        QImage shown;
        if (options.png || options.pdf) {
            shown = drawMapPicture(world, tintFromHeatPosition(options.heat));
            if (options.zoom)
                shown = zoomMapPicture(shown, *options.zoom);
        }
        if (!writeOrReport(options.png, [&](const QString &path) {
                // Encoded in memory first: the PNG writer cannot fail half-way
                // on the disk then, and the file is written in one go.
                QByteArray encoded;
                QBuffer buffer(&encoded);
                buffer.open(QIODevice::WriteOnly);
                if (!widenToRgb888(shown).save(&buffer, "PNG"))
                    throw std::bad_alloc();
                return writeFileAtomically(
                    path, [&](QIODevice &device) { return device.write(encoded) == encoded.size(); }, failure);
            }))
            return 1;
        if (!writeOrReport(options.pdf, [&](const QString &path) {
                const print::PageDescription page{mapCaption(QString::fromStdString(options.title)),
                                                  QString::fromStdString(options.size), options.water, options.heat, {}};
                return writePdf(path, shown, page, options.page, failure);
            }))
            return 1;
    } catch (const std::bad_alloc &) {
        err << kProgram << ": not enough memory for a " << options.size << " map"
            << (options.zoom ? " at zoom " + std::to_string(*options.zoom) : std::string()) << "\n";
        return 1;
    }
    return 0;
}

} // namespace terralume
