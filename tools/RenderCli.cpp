#include "RenderCli.h"

#include "Colouring.h"
#include "Generator.h"
#include "MapPicture.h"
#include "MapPrinter.h"
#include "PrintError.h"
#include "Messages.h"
#include "OutputFile.h"
#include "SeededRandom.h"
#include "TerralumeVersion.h"
#include "WorldRecord.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QByteArray>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QtGlobal>

#include <sys/stat.h>

#include <charconv>
#include <filesystem>
#include <map>
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
    "  --from PNG      make the world recorded in a PNG this program wrote; the\n"
    "                  size, seed, water, heat and title come from the picture,\n"
    "                  so --size, --seed, --water, --heat and --title are refused\n"
    "  --help          show this help and exit\n"
    "  --version       show the version and exit\n"
    "\n"
    "The same seed and settings always give the same world. Every PNG written\n"
    "records them, so --from makes its world again.\n"
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
    std::optional<std::string> from;
    // The world settings given on the command line, which --from replaces.
    std::vector<std::string> settingsGiven;
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
#ifdef _WIN32
    // Windows has no inode numbers in stat(); the names are compared instead,
    // made absolute, with links resolved, and without regard to case.
    const QFileInfo info(decodeFileName(QByteArray::fromStdString(name)));
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return "file " + canonical.toCaseFolded().toStdString();
    if (QFileInfo(info.absolutePath()).isDir())
        return "entry " + info.absoluteFilePath().toCaseFolded().toStdString();
    return "name " + name;
#else
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
#endif
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
                throw UsageError{std::string(outputs[a].first) + " and " + outputs[b].first + " name the same file '" +
                                 *second + "'"};
        }
}

enum class Action { Render, Help, Version };

// The parser sees each argument as Latin-1, one character a byte, and a value
// comes back with toLatin1(): names reach the file system byte for byte,
// UTF-8 or not, and text values are decoded as UTF-8 from those bytes.
std::string bytesOf(const QString &text) { return text.toLatin1().toStdString(); }

const QList<QCommandLineOption> &commandLineOptions()
{
    static const QList<QCommandLineOption> options = [] {
        QList<QCommandLineOption> list;
        for (const char *name :
             {"size", "seed", "water", "heat", "zoom", "png", "heights", "pdf", "title", "paper", "from"})
            list.append(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
        list.append(QCommandLineOption(QStringLiteral("landscape"), QString()));
        list.append(QCommandLineOption({QStringLiteral("help"), QStringLiteral("h")}, QString()));
        list.append(QCommandLineOption(QStringLiteral("version"), QString()));
        return list;
    }();
    return options;
}

// The option an argument gives: --name (the first of its names),
// --name=value for one that takes a value, or -h for help. None for anything
// else, which the parser would otherwise read its own way ("--" ending the
// options, "-size", "--h").
const QCommandLineOption *optionIn(const QString &arg)
{
    const QString name = arg == QLatin1String("-h")            ? QStringLiteral("help")
                         : arg.startsWith(QLatin1String("--")) ? arg.mid(2).section(u'=', 0, 0)
                                                               : QString();
    for (const QCommandLineOption &option : commandLineOptions())
        if (option.names().constFirst() == name)
            return arg.contains(u'=') && option.valueName().isEmpty() ? nullptr : &option;
    return nullptr;
}

// One occurrence of an option, in command-line order.
void apply(std::string_view name, const std::string &value, Options &options)
{
    const std::string option = "--" + std::string(name);
    if (name == "size" || name == "seed" || name == "water" || name == "heat" || name == "title")
        options.settingsGiven.push_back(option);
    if (name == "from") {
        if (value.empty())
            throw UsageError{"--from needs a file name"};
        options.from = value;
    } else if (name == "size") {
        if (value != "Small" && value != "Medium" && value != "Large")
            throw UsageError{"unknown size '" + value + "' (use Small, Medium or Large)"};
        options.size = value;
    } else if (name == "seed") {
        // The settings window's field holds no more, so no window could
        // make the world of a longer seed again.
        if (QString::fromUtf8(value.data(), qsizetype(value.size())).size() > kSeedLimit)
            throw UsageError{"--seed takes at most " + std::to_string(kSeedLimit) + " characters, not '" + value + "'"};
        options.seed = value;
    } else if (name == "water") {
        options.water = parseRanged(option, value, -40, 40);
    } else if (name == "heat") {
        options.heat = parseRanged(option, value, -40, 40);
    } else if (name == "zoom") {
        options.zoom = parseRanged(option, value, 1, 5);
    } else if (name == "png") {
        options.png = value;
    } else if (name == "heights") {
        options.heights = value;
    } else if (name == "pdf") {
        options.pdf = value;
    } else if (name == "title") {
        options.title = value;
    } else if (name == "paper") {
        if (value != "A4" && value != "Letter")
            throw UsageError{"unknown paper '" + value + "' (use A4 or Letter)"};
        options.page.paper = value == "A4" ? print::Paper::A4 : print::Paper::Letter;
    } else if (name == "landscape") {
        options.page.landscape = true;
    }
}

// Read left to right, the first fault ends the reading: an argument that is
// no option of ours, or an option whose value is missing, counts only once
// everything before it was read.
Action parse(int argc, const char *const *argv, Options &options)
{
    QStringList args;
    for (int k = 0; k < argc; ++k)
        args.append(QString::fromLatin1(argv[k] ? argv[k] : ""));
    qsizetype readable = 1;
    bool valueMissing = false;
    while (readable < args.size()) {
        const QCommandLineOption *option = optionIn(args[readable]);
        if (!option)
            break;
        const bool valueFollows = !option->valueName().isEmpty() && !args[readable].contains(u'=');
        valueMissing = valueFollows && readable + 1 == args.size();
        if (valueMissing)
            break;
        readable += valueFollows ? 2 : 1;
    }

    QCommandLineParser parser;
    parser.addOptions(commandLineOptions());
    // Only whole options of ours reach the parser, so it reads all it is given.
    parser.parse(args.first(readable));
    std::map<QString, qsizetype> taken;
    for (const QString &name : parser.optionNames()) {
        if (name == QLatin1String("h") || name == QLatin1String("help"))
            return Action::Help;
        if (name == QLatin1String("version"))
            return Action::Version;
        const QStringList values = parser.values(name);
        apply(bytesOf(name), values.isEmpty() ? std::string() : bytesOf(values[taken[name]++]), options);
    }
    if (readable < args.size())
        throw UsageError{valueMissing ? bytesOf(args[readable]) + " needs a value"
                                      : "unknown option '" + bytesOf(args[readable]) + "'"};

    if (!options.png && !options.heights && !options.pdf)
        throw UsageError{"nothing to write: give --png FILE, --heights FILE or --pdf FILE"};
    if (options.pdf && options.pdf->empty())
        throw UsageError{"--pdf needs a file name"};
    if (options.png && options.png->empty())
        throw UsageError{"--png needs a file name"};
    if (options.heights && options.heights->empty())
        throw UsageError{"--heights needs a file name"};
    // Settings from two places could only silently make a world the picture
    // does not show.
    if (options.from && !options.settingsGiven.empty())
        throw UsageError{options.settingsGiven.front() +
                         " cannot be given with --from: the picture records the world's settings"};
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

// Every file is made whole in memory first, so nothing can fail half-way on
// the disk, and then written all or nothing.
StepFailure writeWhole(const std::string &file, const QByteArray &bytes)
{
    QString reason;
    if (writeFileAtomically(QByteArray::fromStdString(file), bytes, reason))
        return std::nullopt;
    return cannotWrite(file, reason);
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

// Rows top to bottom, so the picture shows cell [x][y] at column x, row y.
StepFailure writeHeights(const std::string &file, const World &world)
{
    const int side = world.Heights.side();
    QByteArray bytes = QByteArrayLiteral("P5\n") + QByteArray::number(side) + ' ' + QByteArray::number(side) +
                       QByteArrayLiteral("\n255\n");
    bytes.reserve(bytes.size() + qsizetype(side) * side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            bytes.append(static_cast<char>(world.Heights.at(x, y)));
    return writeWhole(file, bytes);
}

StepFailure writePng(const std::string &file, const QImage &shown, const WorldRecord &record)
{
    const QByteArray encoded = encodeRecordedPng(shown, record);
    if (encoded.isEmpty())
        return cannotWrite(file, QStringLiteral("the picture could not be encoded as PNG"));
    return writeWhole(file, encoded);
}

StepFailure writePdf(const std::string &file, const QImage &shown, const print::PageDescription &page,
                     const print::PdfOptions &paper)
{
    QByteArray bytes;
    try {
        const PageFonts fonts;
        bytes = print::composePdfBytes(shown, page, paper);
    } catch (const print::PrintError &error) {
        return cannotWrite(file, QString::fromUtf8(error.what()));
    }
    return writeWhole(file, bytes);
}

std::string printableText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t k = 0; k < text.size();) {
        const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
        const unsigned char lead = byte(k);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xe  ? 3
                                   : (lead >> 3) == 0x1e ? 4
                                                         : 0;
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

QuietQtWarnings::~QuietQtWarnings() { qInstallMessageHandler(previous_); }

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

    if (options.from) {
        try {
            const WorldRecord record = readWorldRecordFile(QByteArray::fromStdString(*options.from));
            options.size = record.size.toStdString();
            options.seed = record.seedText.toStdString();
            options.water = record.water;
            options.heat = record.heat;
            options.title = record.title.toStdString();
        } catch (const RecordError &error) {
            report(err, error.what());
            return 2;
        } catch (const std::bad_alloc &) {
            report(err, "not enough memory to read '" + *options.from + "'");
            return 1;
        }
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
        const World world = GenerateHeights(options.size, options.water, random);
        const QuietQtWarnings quiet;
        if (const StepFailure failure = writeRequested(options, world, err)) {
            report(err, *failure);
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
