// Fuzzes the renderer's whole command: the input is an argument list, one
// argument per NUL-separated piece. Whatever the list, the command must end
// with 0, 1 or 2, explain every failure on the error stream without raw
// control characters, write nothing on a rejected command line, and never
// leave a partial or stray file behind.
//
// Every run happens inside a private scratch folder. Slashes are dropped from
// the arguments so that no file can land outside it; a few tokens stand for
// the interesting places outside instead: @full (a device that is always
// full), @null, @under (a path whose parent is a regular file) and @dir (an
// existing folder). An argument @fsizeN is not passed on: it caps the size of
// any file written during the run at N bytes, the way a full disk or a quota
// stops a write half-way.

#include "RenderCli.h"
#include "TerminalText.h"

#include <QByteArray>
#include <QImage>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path scratchRoot;
fs::path runFolder;

void removeScratch()
{
    std::error_code ignored;
    if (!scratchRoot.empty())
        fs::remove_all(scratchRoot, ignored);
}

[[noreturn]] void fail(const std::vector<std::string> &args, const std::string &what)
{
    std::fprintf(stderr, "renderer command line finding: %s\n  arguments:", what.c_str());
    for (const auto &arg : args)
        std::fprintf(stderr, " [%s]", arg.c_str());
    std::fprintf(stderr, "\n");
    std::abort();
}

// A token counts only as a whole argument or as the whole value of
// --option=value, so no file can be made next to the fixtures.
std::string placeTokens(const std::string &arg, const std::string &fixtures)
{
    const auto place = [&](std::string_view text) -> std::string {
        if (text == "@full")
            return "/dev/full";
        if (text == "@null")
            return "/dev/null";
        if (text == "@under")
            return fixtures + "/plain/map.png";
        if (text == "@dir")
            return fixtures;
        return std::string(text);
    };
    const std::size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos)
        return arg.substr(0, eq + 1) + place(std::string_view(arg).substr(eq + 1));
    return place(arg);
}

// Caps file writes for the length of one run. SIGXFSZ is ignored meanwhile
// (libFuzzer would treat it as a crash), so a write past the cap fails with
// EFBIG, as it does on a full disk.
class FileSizeCap {
public:
    explicit FileSizeCap(std::optional<rlim_t> cap)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &savedAction_);
        if (cap) {
            rlimit limit = saved_;
            limit.rlim_cur = std::min(*cap, saved_.rlim_max);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
    }
    ~FileSizeCap()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        sigaction(SIGXFSZ, &savedAction_, nullptr);
    }
    FileSizeCap(const FileSizeCap &) = delete;
    FileSizeCap &operator=(const FileSizeCap &) = delete;

private:
    rlimit saved_{};
    struct sigaction savedAction_ {};
};

std::optional<rlim_t> takeFileSizeCap(std::vector<std::string> &args)
{
    std::optional<rlim_t> cap;
    for (auto it = args.begin(); it != args.end();) {
        const std::string_view arg = *it;
        if (arg.rfind("@fsize", 0) == 0 && arg.size() > 6 && arg.size() <= 6 + 9 &&
            arg.find_first_not_of("0123456789", 6) == std::string_view::npos) {
            cap = std::stoul(std::string(arg.substr(6)));
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    return cap;
}

std::vector<std::string> argumentsFrom(const std::uint8_t *data, std::size_t size)
{
    static const std::string fixtures = (scratchRoot / "fixtures").string();
    std::vector<std::string> args{"terralume-render"};
    std::string current;
    const auto finish = [&] {
        args.push_back(placeTokens(current, fixtures));
        current.clear();
    };
    for (std::size_t k = 0; k < size; ++k) {
        const char c = static_cast<char>(data[k]);
        if (c == '\0')
            finish();
        else if (c != '/')
            current.push_back(c);
    }
    if (size > 0)
        finish();
    return args;
}

bool isMapSide(int side)
{
    for (const int extent : {256, 576, 1024}) {
        if (side == extent + 1)
            return true;
        for (int zoom = 1; zoom <= 5; ++zoom)
            if (side == extent * zoom)
                return true;
    }
    return false;
}

// A written file is either a whole PNG of a map picture or a whole PGM of a
// height grid; anything else was cut short or should not be there.
bool isWholeResult(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.rfind("P5\n", 0) == 0) {
        for (const int side : {257, 577, 1025}) {
            const std::string header = "P5\n" + std::to_string(side) + " " + std::to_string(side) + "\n255\n";
            if (bytes.rfind(header, 0) == 0)
                return bytes.size() == header.size() + static_cast<std::size_t>(side) * side;
        }
        return false;
    }
    QImage picture;
    if (!picture.loadFromData(QByteArray::fromStdString(bytes), "PNG"))
        return false;
    return picture.width() == picture.height() && isMapSide(picture.width());
}

// Names reach the file system byte for byte, as given.
bool namedByAnArgument(const std::string &name, const std::vector<std::string> &args)
{
    for (const auto &arg : args)
        if (arg.find(name) != std::string::npos)
            return true;
    return false;
}

// The text after --option=, or the whole argument: where a file name can be.
std::string valuePart(const std::string &arg)
{
    const std::size_t eq = arg.find('=');
    return arg.rfind("--", 0) == 0 && eq != std::string::npos ? arg.substr(eq + 1) : arg;
}

bool namesAFileArgument(const std::string &message, const std::vector<std::string> &args)
{
    // A file name may itself look like --option=value when it follows --png.
    // Messages show control characters and stray bytes by number.
    for (std::size_t k = 1; k < args.size(); ++k)
        for (const std::string &text : {valuePart(args[k]), args[k]}) {
            const std::string name = terralume::printableText(text);
            if (!name.empty() && message.find("'" + name + "'") != std::string::npos)
                return true;
        }
    return false;
}

bool writesSomething(const std::vector<std::string> &args)
{
    for (const auto &arg : args)
        if (arg.rfind("--png", 0) == 0 || arg.rfind("--heights", 0) == 0)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string pattern = (fs::temp_directory_path() / "render-cli-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    scratchRoot = pattern;
    runFolder = scratchRoot / "run";
    fs::create_directories(runFolder);
    fs::create_directories(scratchRoot / "fixtures");
    std::ofstream(scratchRoot / "fixtures" / "plain") << "a plain file, not a folder\n";
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> args = argumentsFrom(data, size);
    const std::optional<rlim_t> cap = takeFileSizeCap(args);
    if (args.size() > 16)
        return -1;
    // A big map at a high zoom takes seconds under the sanitizers and adds
    // nothing the small ones do not already reach; keep the fuzzer on the
    // command line itself.
    bool bigMap = false, zoomed = false;
    for (const auto &arg : args) {
        bigMap = bigMap || arg.find("Large") != std::string::npos || arg.find("Medium") != std::string::npos;
        zoomed = zoomed || arg.find("--zoom") != std::string::npos;
    }
    if (bigMap && zoomed)
        return -1;
    // The printed page needs a GUI application with its fonts, set up anew
    // for every run; its command line is covered by the renderer's PDF tests.
    for (const auto &arg : args)
        if (arg.rfind("--pdf", 0) == 0)
            return -1;

    std::vector<const char *> argv;
    for (const auto &arg : args)
        argv.push_back(arg.c_str());
    std::ostringstream out, err;
    // Only the run itself happens in the scratch folder: libFuzzer's own
    // corpus and artifact paths are relative to where it was started.
    const fs::path startedIn = fs::current_path();
    fs::current_path(runFolder);
    int code = -1;
    {
        const FileSizeCap capped(cap);
        code = terralume::runRender(static_cast<int>(argv.size()), argv.data(), out, err);
    }
    fs::current_path(startedIn);

    if (code < 0 || code > 2)
        fail(args, "exit code " + std::to_string(code));
    const std::string message = err.str();
    if (code != 0 && (message.empty() || message.back() != '\n'))
        fail(args, "exit code " + std::to_string(code) + " without a message line");
    if (code == 1 && !namesAFileArgument(message, args))
        fail(args, "a write failure that does not name the file");
    if (code == 0 && out.str().empty() && !writesSomething(args))
        fail(args, "exit code 0 with neither output nor a file to write");
    for (const char c : message)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f)
            fail(args, "a raw control character in the message");

    std::vector<fs::path> written;
    for (const auto &entry : fs::directory_iterator(runFolder))
        written.push_back(entry.path());
    if (code == 2 && !written.empty())
        fail(args, "a rejected command line wrote " + written.front().filename().string());
    for (const auto &file : written) {
        const std::string name = file.filename().string();
        if (!fs::is_regular_file(file) || !namedByAnArgument(name, args))
            fail(args, "stray entry left behind: " + name);
        if (!isWholeResult(file))
            fail(args, "partial file left behind: " + name);
        fs::remove(file);
    }
    return 0;
}
