// Failures injected into real runs of the renderer program: a full device, a
// full file system, a folder that cannot take a file, a write that stops
// half-way because of a file-size cap. Each must end with exit status 1, one
// message naming the file, and the target folder exactly as it was; a later
// run must still work.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeAll(const fs::path &file, const std::string &bytes) { std::ofstream(file, std::ios::binary) << bytes; }

struct Outcome {
    bool exited = false; // false: killed by a signal
    int status = -1;     // the exit status, or the signal
    std::string out, err;
};

struct Limits {
    std::optional<rlim_t> fileSize;     // bytes any one file may grow to
    std::optional<rlim_t> addressSpace; // bytes of memory the process may map
    // Variables to set, or with no value to remove, in the renderer's environment.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment = {};
    // Without root's power to write any file: as a user who is not root.
    bool withoutOverride = false;
    // A run that waits for something that never comes is killed after this.
    unsigned seconds = 0;
};

// Runs the renderer as its own process, as a user or a script would.
Outcome runRenderer(const std::vector<std::string> &args, const fs::path &scratch, Limits limits = {})
{
    const fs::path outFile = scratch / "stdout", errFile = scratch / "stderr";
    std::vector<char *> argv;
    std::string program = TERRALUME_RENDER_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (auto &arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        // As a shell starts it: a write past a file-size cap sends the
        // signal that kills a program that does not see to it itself.
        signal(SIGXFSZ, SIG_DFL);
        for (const auto &[name, value] : limits.environment) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        if (limits.fileSize) {
            const rlimit cap{*limits.fileSize, *limits.fileSize};
            if (setrlimit(RLIMIT_FSIZE, &cap) != 0)
                _exit(126);
        }
        if (limits.addressSpace) {
            const rlimit cap{*limits.addressSpace, *limits.addressSpace};
            if (setrlimit(RLIMIT_AS, &cap) != 0)
                _exit(126);
        }
        if (limits.withoutOverride && geteuid() == 0 &&
            (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
             prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0))
            _exit(126);
        alarm(limits.seconds);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Outcome run;
    int wstatus = 0;
    if (child < 0 || waitpid(child, &wstatus, 0) != child)
        return run;
    run.exited = WIFEXITED(wstatus);
    run.status = run.exited ? WEXITSTATUS(wstatus) : WTERMSIG(wstatus);
    run.out = readAll(outFile);
    run.err = readAll(errFile);
    return run;
}

// Every entry of a folder with its size and a digest of its bytes, to prove a
// failed run changed nothing.
std::map<std::string, std::string> contentsOf(const fs::path &folder)
{
    std::map<std::string, std::string> contents;
    for (const auto &entry : fs::directory_iterator(folder)) {
        std::string summary = "<folder>";
        if (entry.is_regular_file()) {
            const std::string bytes = readAll(entry.path());
            summary =
                std::to_string(bytes.size()) + " bytes, digest " + std::to_string(std::hash<std::string>{}(bytes));
        }
        contents[entry.path().filename().string()] = summary;
    }
    return contents;
}

bool isWholePng(const std::string &bytes)
{
    static const std::string signature = "\x89PNG\r\n\x1a\n";
    static const std::string end = std::string("IEND") + "\xae\x42\x60\x82";
    return bytes.size() > signature.size() + end.size() && bytes.compare(0, signature.size(), signature) == 0 &&
           bytes.compare(bytes.size() - end.size(), end.size(), end) == 0;
}

bool isWholePdf(const std::string &bytes)
{
    return bytes.rfind("%PDF-", 0) == 0 &&
           bytes.find("%%EOF", bytes.size() > 8 ? bytes.size() - 8 : 0) != std::string::npos;
}

bool isWholeSmallGrid(const std::string &bytes)
{
    const std::string header = "P5\n257 257\n255\n";
    return bytes.compare(0, header.size(), header) == 0 && bytes.size() == header.size() + 257u * 257u;
}

class RendererProcess : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "render-fault-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        root = pattern;
        target = root / "target";
        scratch = root / "scratch";
        fs::create_directories(target);
        fs::create_directories(scratch);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(target, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root, ignored);
    }

    fs::path root, target, scratch;
};

// The ways a file can fail to be written, for both kinds of file.
enum class Fault { FullDevice, ParentIsAFile, SystemFolder, NoPermission, CutShort, UnreadPipe, ReadOnlyFile };

struct FaultCase {
    const char *option; // --png or --heights
    Fault fault;
    const char *reason = nullptr; // the system's reason, where it is the point of the case
};

std::string describe(const testing::TestParamInfo<FaultCase> &info)
{
    static const char *names[] = {"FullDevice", "ParentIsAFile", "SystemFolder", "NoPermission",
                                  "CutShort",   "UnreadPipe",    "ReadOnlyFile"};
    return std::string(info.param.option + 2) + "_" + names[static_cast<int>(info.param.fault)];
}

class RendererFileFault : public RendererProcess, public testing::WithParamInterface<FaultCase> {};

TEST_P(RendererFileFault, ExitsOneNamingTheFileAndLeavesTheFolderAsItWas)
{
    const auto [option, fault, reason] = GetParam();
    const std::string name = std::string(option) == "--png"   ? "map.png"
                             : std::string(option) == "--pdf" ? "map.pdf"
                                                              : "map.pgm";
    std::string path = (target / name).string();
    Limits limits;
    // An earlier result that a failed run must not spoil.
    writeAll(target / name, "the map from last time");

    switch (fault) {
    case Fault::FullDevice:
        if (!fs::exists("/dev/full"))
            GTEST_SKIP() << "no full device on this system";
        path = "/dev/full";
        break;
    case Fault::ParentIsAFile:
        // No user, root included, can make a folder where a file already is.
        path = (target / name / "map").string();
        break;
    case Fault::SystemFolder:
        if (!fs::is_directory("/proc/self"))
            GTEST_SKIP() << "no process file system here";
        path = "/proc/" + name;
        break;
    case Fault::NoPermission:
        if (geteuid() == 0)
            GTEST_SKIP() << "root writes through folder permissions; ParentIsAFile covers root";
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_exec);
        break;
    case Fault::CutShort:
        // Big enough to start the file, far too small to finish it.
        limits.fileSize = 4096;
        break;
    case Fault::UnreadPipe:
        path = (target / "pipe").string();
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        limits.seconds = 60;
        break;
    case Fault::ReadOnlyFile:
        // The folder would let the file be replaced; the file says no.
        fs::permissions(target / name, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        limits.withoutOverride = true;
        break;
    }

    const auto before = contentsOf(target);
    const Outcome run = runRenderer({"--seed", "7", option, path}, scratch, limits);

    ASSERT_TRUE(run.exited) << "killed by signal " << run.status << "\n" << run.err;
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("terralume-render: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'" + path + "'"), std::string::npos) << "the message names the file:\n" << run.err;
    EXPECT_TRUE(!run.err.empty() && run.err.back() == '\n') << "one whole line";
    if (reason) {
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    }
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(contentsOf(target), before) << "a failed write must leave no trace";
}

INSTANTIATE_TEST_SUITE_P(
    Renderer, RendererFileFault,
    testing::Values(FaultCase{"--png", Fault::FullDevice}, FaultCase{"--heights", Fault::FullDevice},
                    FaultCase{"--png", Fault::ParentIsAFile}, FaultCase{"--heights", Fault::ParentIsAFile},
                    FaultCase{"--png", Fault::SystemFolder}, FaultCase{"--heights", Fault::SystemFolder},
                    FaultCase{"--png", Fault::NoPermission}, FaultCase{"--heights", Fault::NoPermission},
                    FaultCase{"--png", Fault::CutShort}, FaultCase{"--heights", Fault::CutShort},
                    FaultCase{"--pdf", Fault::FullDevice}, FaultCase{"--pdf", Fault::ParentIsAFile},
                    FaultCase{"--pdf", Fault::CutShort},
                    FaultCase{"--png", Fault::UnreadPipe, "it is a pipe that nobody is reading from"},
                    FaultCase{"--png", Fault::ReadOnlyFile, "Permission denied"},
                    FaultCase{"--heights", Fault::ReadOnlyFile, "Permission denied"}),
    describe);

TEST_F(RendererProcess, WorksAgainOnceTheSpaceIsBack)
{
    const std::string png = (target / "map.png").string(), grid = (target / "map.pgm").string();
    const Outcome cut = runRenderer({"--png", png, "--heights", grid}, scratch, Limits{4096, std::nullopt});
    ASSERT_TRUE(cut.exited);
    EXPECT_EQ(cut.status, 1) << cut.err;
    EXPECT_TRUE(contentsOf(target).empty());

    const Outcome again = runRenderer({"--png", png, "--heights", grid}, scratch);
    ASSERT_TRUE(again.exited);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(isWholePng(readAll(png)));
    EXPECT_TRUE(isWholeSmallGrid(readAll(grid)));
    EXPECT_EQ(contentsOf(target).size(), 2u) << "no temporary file may stay behind";
}

// A file system too small for the page: the renderer runs in a mount
// namespace of its own (a user namespace too when not root) with a 64 KiB
// file system on the target folder, first full, then with room again.
TEST_F(RendererProcess, AFullDiskKeepsTheOldPageAndTheNextRunWritesItWhole)
{
    const std::string page = (target / "map.pdf").string(), old = "%PDF-1.4 the page from last time %%EOF\n";
    const fs::path report = scratch / "report";
    const pid_t child = fork();
    if (child == 0) {
        const uid_t uid = geteuid();
        const gid_t gid = getegid();
        const auto writeFile = [](const char *file, const std::string &text) {
            std::ofstream out(file);
            out << text;
            return bool(out.flush());
        };
        bool isolated = false;
        if (uid == 0)
            isolated = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        else
            isolated = unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && writeFile("/proc/self/setgroups", "deny") &&
                       writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                       writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
        if (!isolated || mount("tmpfs", target.c_str(), "tmpfs", 0, "size=64k") != 0)
            _exit(77);
        writeAll(page, old);
        std::ostringstream out;
        const Outcome full = runRenderer({"--size", "Medium", "--pdf", page}, scratch);
        out << full.exited << ' ' << full.status << '\n' << full.err << "--\n";
        out << (readAll(page) == old) << ' ' << contentsOf(target).size() << '\n';
        if (mount("tmpfs", target.c_str(), "tmpfs", MS_REMOUNT, "size=16m") != 0)
            _exit(78);
        const Outcome roomy = runRenderer({"--size", "Medium", "--pdf", page}, scratch);
        out << roomy.exited << ' ' << roomy.status << '\n' << roomy.err << "--\n";
        out << isWholePdf(readAll(page)) << ' ' << contentsOf(target).size() << '\n';
        writeAll(report, out.str());
        _exit(0);
    }
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFEXITED(wstatus));
    if (WEXITSTATUS(wstatus) == 77)
        GTEST_SKIP() << "no private mount of a small file system is allowed here";
    ASSERT_EQ(WEXITSTATUS(wstatus), 0);

    std::istringstream in(readAll(report));
    const auto runOf = [&in] {
        std::pair<std::string, std::string> run; // status, message
        std::string line;
        std::getline(in, run.first);
        while (std::getline(in, line) && line != "--")
            run.second += line + "\n";
        return run;
    };
    const auto [fullStatus, fullMessage] = runOf();
    int oldKept = 0, entries = 0;
    in >> oldKept >> entries;
    in.ignore();
    EXPECT_EQ(fullStatus, "1 1") << "exited, with status 1";
    EXPECT_EQ(fullMessage, "terralume-render: cannot write '" + page + "': No space left on device\n");
    EXPECT_TRUE(oldKept) << "the page from last time was replaced";
    EXPECT_EQ(entries, 1) << "no temporary file may stay behind";

    const auto [roomyStatus, roomyMessage] = runOf();
    int whole = 0;
    in >> whole >> entries;
    EXPECT_EQ(roomyStatus, "1 0") << roomyMessage;
    EXPECT_TRUE(whole);
    EXPECT_EQ(entries, 1);
}

// The renderer draws on no screen, whatever platform the environment names
// and even with no display to be had.
class RendererPlatform : public RendererProcess, public testing::WithParamInterface<const char *> {};

TEST_P(RendererPlatform, WritesThePageWithoutADisplay)
{
    const std::string page = (target / "map.pdf").string();
    const Outcome run = runRenderer(
        {"--pdf", page}, scratch,
        Limits{std::nullopt,
               std::nullopt,
               {{"QT_QPA_PLATFORM", GetParam()}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}});
    ASSERT_TRUE(run.exited) << "killed by signal " << run.status << "\n" << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(isWholePdf(readAll(page)));
}

INSTANTIATE_TEST_SUITE_P(Renderer, RendererPlatform, testing::Values("xcb", "wayland", "no-such-platform"));

// A system with no font at all: Qt would write the page without its title and
// footer. Fontconfig is given a configuration of its own, with no folder of
// fonts or with an empty one.
class RendererWithoutFonts : public RendererProcess, public testing::WithParamInterface<bool> {};

TEST_P(RendererWithoutFonts, RefusesThePageNamingItsFont)
{
    const fs::path config = scratch / "fonts.conf", noFonts = scratch / "no-fonts";
    fs::create_directories(noFonts);
    const std::string folder = GetParam() ? "<dir>" + noFonts.string() + "</dir>" : "";
    writeAll(config, "<?xml version=\"1.0\"?>\n<fontconfig>" + folder + "<cachedir>" + (scratch / "cache").string() +
                         "</cachedir></fontconfig>\n");
    const std::string page = (target / "map.pdf").string();
    const Outcome run = runRenderer(
        {"--pdf", page}, scratch,
        Limits{
            std::nullopt, std::nullopt, {{"FONTCONFIG_FILE", config.string()}, {"QT_QPA_FONTDIR", noFonts.string()}}});
    ASSERT_TRUE(run.exited) << "killed by signal " << run.status << "\n" << run.err;
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("terralume-render: cannot write '" + page + "': "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Arial is not installed"), std::string::npos) << run.err;
    EXPECT_TRUE(contentsOf(target).empty());
}

INSTANTIATE_TEST_SUITE_P(Renderer, RendererWithoutFonts, testing::Bool());

TEST_F(RendererProcess, RunningOutOfMemoryIsReportedAndLeavesNoFile)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer maps far more than any limit worth testing";
#else
    // Enough for a Large map, not for its 5120-pixel view at zoom 5.
    const std::string png = (target / "map.png").string();
    const Outcome starved =
        runRenderer({"--size", "Large", "--zoom", "5", "--png", png}, scratch, Limits{std::nullopt, 100u << 20});
    ASSERT_TRUE(starved.exited) << "killed by signal " << starved.status;
    EXPECT_EQ(starved.status, 1) << starved.err;
    EXPECT_NE(starved.err.find("not enough memory"), std::string::npos) << starved.err;
    EXPECT_TRUE(contentsOf(target).empty());

    // Room for the view but hardly for a thread's stack: the picture is
    // written or refused, never waited for.
    const Outcome tight = runRenderer({"--size", "Large", "--zoom", "5", "--png", png}, scratch,
                                      Limits{std::nullopt, 200u << 20, {}, false, 60});
    ASSERT_TRUE(tight.exited) << "killed by signal " << tight.status;
    if (tight.status == 0)
        EXPECT_TRUE(isWholePng(readAll(png)));
    else
        EXPECT_NE(tight.err.find("not enough memory"), std::string::npos) << tight.err;

    const Outcome fits = runRenderer({"--size", "Large", "--png", png}, scratch, Limits{std::nullopt, 160u << 20});
    ASSERT_TRUE(fits.exited);
    EXPECT_EQ(fits.status, 0) << fits.err;
    EXPECT_TRUE(isWholePng(readAll(png)));
#endif
}

// A Large map's page or picture at zoom 5 under a cap on the address space,
// from too little for the view up to plenty: the file is written whole, or
// refused with "not enough memory" and left out; the program never aborts.
class RendererUnderMemoryCap : public RendererProcess,
                               public testing::WithParamInterface<std::tuple<const char *, unsigned>> {};

TEST_P(RendererUnderMemoryCap, WritesTheFileWholeOrSaysThereIsNotEnoughMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer maps far more than any limit worth testing";
#else
    const auto [option, megabytes] = GetParam();
    const bool page = std::string(option) == "--pdf";
    const std::string file = (target / (page ? "map.pdf" : "map.png")).string();
    const Outcome run = runRenderer({"--size", "Large", "--zoom", "5", option, file}, scratch,
                                    Limits{std::nullopt, rlim_t{megabytes} << 20, {}, false, 120});
    ASSERT_TRUE(run.exited) << "killed by signal " << run.status << "\n" << run.err;
    if (run.status == 0) {
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(page ? isWholePdf(readAll(file)) : isWholePng(readAll(file)));
    } else {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "terralume-render: not enough memory for a Large map at zoom 5\n");
        EXPECT_TRUE(contentsOf(target).empty());
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(Renderer, RendererUnderMemoryCap,
                         testing::Combine(testing::Values("--pdf", "--png"), testing::Range(150u, 425u, 25u)),
                         [](const testing::TestParamInfo<std::tuple<const char *, unsigned>> &info) {
                             return std::string(std::get<0>(info.param) + 2) + "_" +
                                    std::to_string(std::get<1>(info.param)) + "MB";
                         });

TEST_F(RendererProcess, AGridWrittenBeforeAFailingPictureIsKeptWhole)
{
    // The grid goes first and is complete when the picture's device fails.
    const std::string grid = (target / "map.pgm").string();
    const Outcome run = runRenderer({"--heights", grid, "--png", "/dev/full"}, scratch);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(isWholeSmallGrid(readAll(grid)));
}

// A renderer that runs on while the test watches it: its standard output a
// pipe the test reads (or not), its error output `errFd`.
struct Started {
    pid_t pid = -1;
    int out = -1;
};

Started startRenderer(const std::vector<std::string> &args, int errFd)
{
    std::vector<std::string> copies = args;
    copies.insert(copies.begin(), TERRALUME_RENDER_PROGRAM);
    std::vector<char *> argv;
    for (auto &arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        if (dup2(out[1], 1) < 0 || dup2(errFd, 2) < 0)
            _exit(126);
        close(out[0]);
        alarm(120); // never outlives a test that fails to end it
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    return {child, out[0]};
}

// Reads `fd` until `done` holds for what was read, or the writer has gone.
std::string readUntil(int fd, std::string &read, const std::function<bool(const std::string &)> &done)
{
    char buffer[4096];
    while (!done(read)) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0 && errno != EINTR)
            break;
        if (got > 0)
            read.append(buffer, std::size_t(got));
    }
    return read;
}

std::string readToEnd(int fd)
{
    std::string read;
    readUntil(fd, read, [](const std::string &) { return false; });
    return read;
}

std::size_t count(const std::string &text, const std::string &part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A search that never ends on its own (it wants every seed with 21
// landmasses and more) and lists seed 136 at once.
const std::vector<std::string> kEndlessSearch = {"--find", "100000000", "--start", "136", "--landmasses", "21.."};

// On a terminal a search tells how far it has got, on one line redrawn at
// most four times a second and cleared at the end; into a file it writes no
// such line. Ctrl+C ends either with the rows listed so far and status 130.
TEST_F(RendererProcess, SearchShowsItsProgressOnlyOnATerminalAndStopsOnCtrlC)
{
    const int file = open((scratch / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const int side = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(side, 0);

    // The run into a file starts first: once the other has drawn its line,
    // this one has run long enough that it would have drawn one too.
    const Started intoFile = startRenderer(kEndlessSearch, file);
    const auto started = std::chrono::steady_clock::now();
    const Started onTerminal = startRenderer(kEndlessSearch, side);
    close(file);
    close(side);
    ASSERT_GT(intoFile.pid, 0);
    ASSERT_GT(onTerminal.pid, 0);

    std::string shown;
    const std::string drawn = " seeds looked at (";
    // Until seed 136 is counted, however long a loaded machine takes to
    // hand it on (the child's alarm bounds the wait).
    const std::regex counted(
        R"(\r[0-9]+ seeds looked at \([0-9]+ a second\), [1-9][0-9]* found, [0-9]+:[0-5][0-9]:[0-5][0-9] left to --limit)");
    readUntil(terminal, shown, [&](const std::string &read) {
        return count(read, drawn) >= 3 && std::regex_search(read, counted);
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_GE(count(shown, drawn), 3u) << shown;
    EXPECT_LE(count(shown, drawn), 1 + 4 * seconds) << "in " << seconds << " s:\n" << shown;
    EXPECT_TRUE(std::regex_search(shown, counted)) << "seed 136 is counted:\n" << shown;

    std::string listed[2];
    const std::string first = "seed,land_percent,landmasses,largest_percent,highest\n136,";
    for (int k = 0; k < 2; ++k) {
        readUntil(k == 0 ? intoFile.out : onTerminal.out, listed[k],
                  [&](const std::string &read) { return read.find('\n', first.size()) != std::string::npos; });
        ASSERT_EQ(listed[k].rfind(first, 0), 0u) << listed[k];
    }

    int status[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        const Started &run = k == 0 ? intoFile : onTerminal;
        ASSERT_EQ(kill(run.pid, SIGINT), 0);
        ASSERT_EQ(waitpid(run.pid, &status[k], 0), run.pid);
        listed[k] += readToEnd(run.out);
        close(run.out);
    }
    shown += readToEnd(terminal);
    close(terminal);
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(WIFEXITED(status[k])) << "killed by signal " << WTERMSIG(status[k]);
        EXPECT_EQ(WEXITSTATUS(status[k]), 130);
        EXPECT_EQ(listed[k].rfind(first, 0), 0u) << "the rows listed stay:\n" << listed[k];
    }

    const std::string said = readAll(scratch / "stderr");
    EXPECT_EQ(said.rfind("terralume-render: stopped: found ", 0), 0u) << said;
    EXPECT_EQ(said.find('\r'), std::string::npos) << said;
    // The last line drawn is wiped out before the last words.
    const std::size_t words = shown.find("terralume-render: stopped: found ");
    ASSERT_NE(words, std::string::npos) << shown;
    const std::size_t wiped = shown.rfind('\r', words - 2);
    ASSERT_NE(wiped, std::string::npos);
    EXPECT_EQ(shown.find_first_not_of(' ', wiped + 1), words - 1) << shown;
    EXPECT_EQ(shown[words - 1], '\r');
    EXPECT_LT(shown.rfind(drawn), wiped);
}

// What the threads of one process are doing: 'R' running, 'S' asleep...
std::string threadStates(pid_t pid)
{
    std::string states;
    std::error_code gone;
    for (const auto &task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", gone)) {
        const std::string stat = readAll(task.path() / "stat");
        const std::size_t name = stat.rfind(')');
        if (name != std::string::npos && name + 2 < stat.size())
            states += stat[name + 2];
    }
    return states;
}

long peakKilobytes(pid_t pid)
{
    std::istringstream status(readAll("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// A search whose rows nobody reads waits for the reader once the pipe is
// full: its threads fall asleep and its memory stays near that of a search
// that ends at once.
TEST_F(RendererProcess, SearchIntoAPipeNobodyReadsWaitsWithoutGrowing)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's own memory would swamp what is measured";
#else
    const int err = open((scratch / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(err, 0);
    rusage used{};
    int wstatus = 0;
    const Started quick = startRenderer({"--find", "1", "--size", "Small"}, err);
    ASSERT_GT(quick.pid, 0);
    readToEnd(quick.out);
    close(quick.out);
    ASSERT_EQ(wait4(quick.pid, &wstatus, 0, &used), quick.pid);
    const long reference = used.ru_maxrss; // kilobytes
    const long allowance = 16 << 10;

    const Started unread = startRenderer({"--find", "100000000", "--size", "Small"}, err);
    close(err);
    ASSERT_GT(unread.pid, 0);
    // Waits until rows wait in the pipe and every thread sleeps, on a few
    // looks in a row, or until it has plainly grown past what it may (or is gone).
    int asleep = 0;
    long peak = 0;
    while (asleep < 5 && (peak = peakKilobytes(unread.pid)) >= 0 && peak < reference + allowance) {
        int queued = 0;
        ioctl(unread.out, FIONREAD, &queued);
        const std::string states = threadStates(unread.pid);
        const bool waiting = queued > 0 && !states.empty() && states.find_first_not_of('S') == std::string::npos;
        asleep = waiting ? asleep + 1 : 0;
        poll(nullptr, 0, 20);
    }
    ASSERT_EQ(kill(unread.pid, SIGKILL), 0);
    ASSERT_EQ(wait4(unread.pid, &wstatus, 0, &used), unread.pid);
    close(unread.out);
    EXPECT_EQ(asleep, 5) << "its threads ran on, " << peak << " kB against " << reference << " kB";
    EXPECT_LT(used.ru_maxrss, reference + allowance) << reference << " kB for a search that ends at once";
#endif
}

struct CommandLine {
    std::vector<std::string> args;
    int status;
    const char *stream; // "out" or "err": where the words must appear
    const char *words;
    std::optional<rlim_t> addressSpace = std::nullopt;
};

class RendererCommandLine : public RendererProcess, public testing::WithParamInterface<CommandLine> {};

TEST_P(RendererCommandLine, EndsWithItsStatusAndWritesNothingOnARejection)
{
    std::vector<std::string> args = GetParam().args;
    for (auto &arg : args)
        if (arg == "FILE")
            arg = (target / "map.png").string();
#if defined(__SANITIZE_ADDRESS__)
    if (GetParam().addressSpace)
        GTEST_SKIP() << "the address sanitizer maps far more than any limit worth testing";
#endif
    const Outcome run = runRenderer(args, scratch, Limits{std::nullopt, GetParam().addressSpace});
    ASSERT_TRUE(run.exited) << "killed by signal " << run.status;
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    const std::string &said = std::string(GetParam().stream) == "out" ? run.out : run.err;
    EXPECT_NE(said.find(GetParam().words), std::string::npos) << said;
    if (GetParam().status != 0) {
        EXPECT_TRUE(contentsOf(target).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Renderer, RendererCommandLine,
    testing::Values(CommandLine{{"--seed", "12a", "--png", "FILE"}, 2, "err", "'12a' is not a valid integer value.\n"},
                    CommandLine{{"--size", "Huge", "--png", "FILE"}, 2, "err", "Huge"},
                    CommandLine{{"--zoom", "6", "--png", "FILE"}, 2, "err", "--zoom"},
                    CommandLine{{"--png"}, 2, "err", "--png"}, CommandLine{{}, 2, "err", "--png"},
                    CommandLine{{"--help"}, 0, "out", "--heights"},
                    // A 100 KB picture whose title unpacks to 100 MB, in less memory than that.
                    CommandLine{{"--from", TERRALUME_TITLE_BOMB, "--png", "FILE"},
                                2,
                                "err",
                                "records a title longer than 4096 bytes",
                                128u << 20}));

} // namespace
