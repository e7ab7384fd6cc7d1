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

#include <charconv>
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
    }
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

} // namespace terralume::cli
