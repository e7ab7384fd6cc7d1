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
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <optional>
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
