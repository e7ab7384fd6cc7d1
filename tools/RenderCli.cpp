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
#include <QString>
#include <QtGlobal>

#include <sys/stat.h>

#include <charconv>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace terralume {

namespace {

constexpr std::string_view kProgram = "terralume-render";
constexpr int kSeedLimit = 8;

constexpr std::string_view kUsage =
    "Usage: terralume-render [OPTION]...\n"
    "Generate a Terralume world map without opening a window.\n"
    "\n"
    "  --size NAME     Small, Medium or Large (default Small)\n"
    "  --seed TEXT     random seed, as typed in the settings window: at most 8\n"
    "                  characters (default 42861244)\n"
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

// What a name stands for on the disk: the file itself when it exists (so a
// link and its target are one), else the name in its folder (so ./map.png
// and map.png are one). A name whose folder is missing cannot be written.
std::string fileIdentity(const std::string &name)
{
    namespace fs = std::filesystem;
    const auto of = [](const struct stat &info) {
        return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    };
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0)
        return "file " + of(info);
    const fs::path path(name);
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (::stat(folder.c_str(), &info) == 0)
        return "entry " + of(info) + "/" + path.filename().string();
    return "name " + name;
}

// Two results in one file would leave only the last one written.
void refuseSharedTargets(const Options &options)
{
    const std::pair<const char *, const std::optional<std::string> *> outputs[] = {
        {"--heights", &options.heights}, {"--png", &options.png}, {"--pdf", &options.pdf}};
    for (std::size_t a = 0; a < std::size(outputs); ++a)
        for (std::size_t b = a + 1; b < std::size(outputs); ++b) {
            const auto &first = *outputs[a].second, &second = *outputs[b].second;
            if (first && second && fileIdentity(*first) == fileIdentity(*second))
                throw UsageError{std::string(outputs[a].first) + " and " + outputs[b].first +
                                 " name the same file '" + *second + "'"};
        }
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
            // The settings window's field holds no more, so no window could
            // make the world of a longer seed again.
            if (QString::fromUtf8(options.seed.data(), qsizetype(options.seed.size())).size() > kSeedLimit)
                throw UsageError{"--seed takes at most " + std::to_string(kSeedLimit) + " characters, not '" +
                                 options.seed + "'"};
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
    refuseSharedTargets(options);
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

// Rows top to bottom, so the picture shows cell [x][y] at column x, row y.
QByteArray heightsFile(const World &world)
{
    const int side = world.Heights.side();
    QByteArray bytes = QByteArrayLiteral("P5\n") + QByteArray::number(side) + ' ' + QByteArray::number(side) +
                       QByteArrayLiteral("\n255\n");
    bytes.reserve(bytes.size() + qsizetype(side) * side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            bytes.append(static_cast<char>(world.Heights.at(x, y)));
    return bytes;
}

// Fonts need a GUI application. The renderer never needs a display, so it
// takes the offscreen platform whatever QT_QPA_PLATFORM names: a platform
// that cannot start would end the program.
class PageFonts {
public:
    PageFonts()
    {
        if (QCoreApplication::instance())
            return;
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }

private:
    int argc_ = 3;
    char name_[17] = "terralume-render";
    char option_[10] = "-platform";
    char platform_[10] = "offscreen";
    char *argv_[4] = {name_, option_, platform_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

void report(std::ostream &err, const std::string &message)
{
    err << kProgram << ": " << printableText(message) << "\n";
}

std::string cannotWrite(const std::string &path, const QString &reason)
{
    return "cannot write '" + path + "': " + reason.toStdString();
}

} // namespace

std::string printableText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t k = 0; k < text.size();) {
        const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
        const unsigned char lead = byte(k);
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3 : (lead >> 3) == 0x1e ? 4 : 0;
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1f : length == 3 ? lead & 0x0f : lead & 0x07;
        bool whole = length != 0 && k + length <= text.size();
        for (std::size_t n = 1; whole && n < length; ++n) {
            whole = (byte(k + n) & 0xc0) == 0x80;
            code = (code << 6) | (byte(k + n) & 0x3f);
        }
        static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        whole = whole && code >= kShortest[length] && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
        // C0 and C1 controls and DEL steer a terminal; bytes that are no
        // character at all are shown as they are, by number.
        if (whole && code >= 0x20 && code != 0x7f && (code < 0x80 || code >= 0xa0)) {
            shown.append(text.substr(k, length));
            k += length;
        } else {
            shown += "\\x";
            shown += kHex[lead >> 4];
            shown += kHex[lead & 0xf];
            ++k;
        }
    }
    return shown;
}

QuietQtWarnings::QuietQtWarnings() : previous_(qInstallMessageHandler(&quiet))
{
    if (previous_ != &quiet)
        forwardTo = previous_;
}

QuietQtWarnings::~QuietQtWarnings()
{
    qInstallMessageHandler(previous_);
}

QtMessageHandler QuietQtWarnings::forwardTo = nullptr;

void QuietQtWarnings::quiet(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        forwardTo(type, context, text);
}

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
        report(err, error.message);
        err << "Try '" << kProgram << " --help' for more information.\n";
        return 2;
    }

    SeededRandom random;
    try {
        random.LoadSeed(options.seed);
    } catch (const ConvertError &error) {
        // The same words the settings window's error box shows.
        err << printableText(withFullStop(error.what())) << "\n";
        return 2;
    }

    try {
        World world;
        GenerateHeights(world, options.size, options.water, random);

        const QuietQtWarnings quiet;
        // Each file is made whole in memory first, so nothing can fail
        // half-way on the disk, and then written all or nothing.
        std::string failure;
        const auto write = [&](const std::optional<std::string> &file, const std::function<QByteArray()> &make) {
            if (!file)
                return true;
            QString reason;
            try {
                if (writeFileAtomically(QByteArray::fromStdString(*file), make(), reason))
                    return true;
            } catch (const print::PrintError &error) {
                reason = QString::fromUtf8(error.what());
            }
            failure = cannotWrite(*file, reason);
            return false;
        };

        // The picture as the map window shows it, made once for the PNG and the page.
        QImage shown;
        const auto picture = [&]() -> const QImage & {
            if (shown.isNull()) {
                shown = drawMapPicture(world, tintFromHeatPosition(options.heat));
                if (options.zoom)
                    shown = zoomMapPicture(shown, *options.zoom);
            }
            return shown;
        };
        const bool written =
            write(options.heights, [&] { return heightsFile(world); }) && write(options.png, [&] {
                QByteArray encoded;
                QBuffer buffer(&encoded);
                buffer.open(QIODevice::WriteOnly);
                if (!widenToRgb888(picture()).save(&buffer, "PNG"))
                    throw std::bad_alloc();
                return encoded;
            }) && write(options.pdf, [&] {
                const PageFonts fonts;
                const print::PageDescription page{mapCaption(QString::fromStdString(options.title)),
                                                  QString::fromStdString(options.size), options.water, options.heat, {}};
                return print::composePdfBytes(picture(), page, options.page);
            });
        if (!written) {
            report(err, failure);
            return 1;
        }
    } catch (const std::bad_alloc &) {
        err << kProgram << ": not enough memory for a " << options.size << " map"
            << (options.zoom ? " at zoom " + std::to_string(*options.zoom) : std::string()) << "\n";
        return 1;
    }
    return 0;
}

} // namespace terralume
