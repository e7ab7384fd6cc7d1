#include "RenderArguments.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include "OutputFile.h"

#include <QByteArray>
#include <QFileInfo>
#else
#include <sys/stat.h>

#include <filesystem>
#endif

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <string_view>
#include <utility>

namespace terralume::cli {

namespace {

int parseRanged(std::string_view option, std::string_view text, int low, int high)
{
    int value = 0;
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value < low || value > high)
        throw UsageError{std::string(option) + " needs a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + std::string(text) + "'"};
    return value;
}

// Hundredths of a percent from 0 to 100 with at most two decimals ("37",
// "37.5", "37.25"); nothing for anything else.
std::optional<std::int64_t> readPercent(std::string_view text)
{
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view decimals = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    const auto digits = [](std::string_view part) {
        return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || whole.size() > 3 || !digits(whole) || decimals.size() > 2 || !digits(decimals) ||
        (point != std::string_view::npos && decimals.empty()))
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : whole)
        value = value * 10 + (c - '0');
    value *= 100;
    if (!decimals.empty())
        value += (decimals[0] - '0') * 10 + (decimals.size() == 2 ? decimals[1] - '0' : 0);
    if (value > 10000)
        return std::nullopt;
    return value;
}

// MIN..MAX with either end left out for "no limit that side": the ends read
// by `end`, which gives nothing for text it does not take.
template <typename Value, typename ReadEnd>
std::pair<Value, Value> parseRange(std::string_view option, std::string_view text, Value lowest, Value highest,
                                   ReadEnd end, const std::string &what)
{
    const std::size_t dots = text.find("..");
    const auto fault = [&] {
        return UsageError{std::string(option) + " needs a range MIN..MAX of " + what + ", not '" + std::string(text) +
                          "'"};
    };
    if (dots == std::string_view::npos)
        throw fault();
    const std::string_view first = text.substr(0, dots), last = text.substr(dots + 2);
    std::pair<Value, Value> range{lowest, highest};
    for (const auto &[part, bound] : {std::pair{first, &range.first}, std::pair{last, &range.second}}) {
        const std::optional<Value> value = part.empty() ? std::optional<Value>(*bound) : end(part);
        if (!value)
            throw fault();
        *bound = *value;
    }
    if (range.first > range.second)
        throw UsageError{std::string(option) + " range '" + std::string(text) +
                         "' holds nothing: " + std::string(first) + " is above " + std::string(last)};
    return range;
}

std::optional<int> wholeNumber(std::string_view text)
{
    int value = 0;
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end || value < 0)
        return std::nullopt;
    return value;
}

// What a name stands for on the disk: the file itself when it exists (so a
// link and its target are one), else the name in its folder (so ./map.png
// and map.png are one). A name whose folder is missing cannot be written.
std::string fileIdentity(const std::string &name)
{
#ifdef Q_OS_WIN
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

// The parser sees each argument as Latin-1, one character a byte, and a value
// comes back with toLatin1(): names reach the file system byte for byte,
// UTF-8 or not, and text values are decoded as UTF-8 from those bytes.
std::string bytesOf(const QString &text) { return text.toLatin1().toStdString(); }

const QList<QCommandLineOption> &commandLineOptions()
{
    static const QList<QCommandLineOption> options = [] {
        QList<QCommandLineOption> list;
        for (const char *name : {"size", "seed", "water", "heat", "zoom", "png", "heights", "pdf", "title", "paper",
                                 "from", "find", "land", "landmasses", "start", "limit"})
            list.append(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
        list.append(QCommandLineOption(QStringLiteral("landscape"), QString()));
        list.append(QCommandLineOption(QStringLiteral("figures"), QString()));
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
    if (std::find(options.given.begin(), options.given.end(), option) == options.given.end())
        options.given.push_back(option);
    if (name == "from") {
        if (value.empty())
            throw UsageError{"--from needs a file name"};
        options.from = value;
    } else if (name == "size") {
        if (!knownBlockSize(value))
            throw UsageError{"unknown size '" + value + "' (use Small, Medium or Large)"};
        options.size = value;
    } else if (name == "seed") {
        if (QString::fromUtf8(value.data(), qsizetype(value.size())).size() > kSeedTextLimit)
            throw UsageError{"--seed takes at most " + std::to_string(kSeedTextLimit) + " characters, not '" + value +
                             "'"};
        options.seed = value;
    } else if (name == "water") {
        options.water = parseRanged(option, value, -kLevelLimit, kLevelLimit);
    } else if (name == "heat") {
        options.heat = parseRanged(option, value, -kLevelLimit, kLevelLimit);
    } else if (name == "zoom") {
        options.zoom = parseRanged(option, value, kLowestZoom, kHighestZoom);
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
    } else if (name == "find") {
        options.find = true;
        options.search.wanted = parseRanged(option, value, 1, static_cast<int>(kHighestSearchSeed + 1));
    } else if (name == "figures") {
        options.figures = true;
    } else if (name == "start") {
        options.search.start = parseRanged(option, value, 0, static_cast<int>(kHighestSearchSeed));
    } else if (name == "limit") {
        options.search.limit = parseRanged(option, value, 1, static_cast<int>(kHighestSearchSeed + 1));
    } else if (name == "land") {
        const auto [lowest, highest] = parseRange<std::int64_t>(option, value, 0, 10000, readPercent,
                                                                "percentages from 0 to 100 with at most two decimals");
        options.search.filter.landLowest = lowest;
        options.search.filter.landHighest = highest;
    } else if (name == "landmasses") {
        const auto [lowest, highest] =
            parseRange<int>(option, value, 0, std::numeric_limits<int>::max(), wholeNumber, "whole numbers");
        options.search.filter.landmassesLowest = lowest;
        options.search.filter.landmassesHighest = highest;
    }
}

// What --find and --figures leave no room for, and why, given the mode.
std::optional<std::string> conflictWith(std::string_view mode, std::string_view option)
{
    for (const char *output : {"--png", "--heights", "--pdf", "--zoom", "--title", "--paper", "--landscape"})
        if (option == output)
            return std::string(mode) + " writes no file";
    if (mode == "--find" && option == "--seed")
        return std::string("--find tries the seeds from --start");
    if (mode == "--find" && option == "--from")
        return std::string("--find makes worlds of --size and --water");
    return std::nullopt;
}

// The lists print figures and no file; the options of either that the other
// cannot use are refused rather than quietly dropped.
Action listingAction(const Options &options)
{
    if (options.find && options.figures)
        throw UsageError{"--find and --figures cannot be given together"};
    if (!options.find)
        for (const std::string &option : options.given)
            if (option == "--land" || option == "--landmasses" || option == "--start" || option == "--limit")
                throw UsageError{option + " goes only with --find"};
    if (!options.find && !options.figures)
        return Action::Render;
    const std::string_view mode = options.find ? "--find" : "--figures";
    for (const std::string &option : options.given)
        if (const std::optional<std::string> reason = conflictWith(mode, option))
            throw UsageError{option + " cannot be given with " + std::string(mode) + ": " + *reason};
    return options.find ? Action::Find : Action::Figures;
}

} // namespace

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

    const Action action = listingAction(options);
    // Settings from two places could only silently make a world the picture
    // does not show.
    if (options.from && !options.settingsGiven.empty())
        throw UsageError{options.settingsGiven.front() +
                         " cannot be given with --from: the picture records the world's settings"};
    if (action != Action::Render)
        return action;
    if (!options.png && !options.heights && !options.pdf)
        throw UsageError{"nothing to write: give --png FILE, --heights FILE or --pdf FILE, or --find N or --figures"};
    if (options.pdf && options.pdf->empty())
        throw UsageError{"--pdf needs a file name"};
    if (options.png && options.png->empty())
        throw UsageError{"--png needs a file name"};
    if (options.heights && options.heights->empty())
        throw UsageError{"--heights needs a file name"};
    refuseSharedTargets(options);
    return Action::Render;
}

} // namespace terralume::cli
