// Every file kivtool writes, under the faults a real disk has: a write that fails half-way
// (`ulimit -f` with SIGXFSZ ignored), an output path that is a folder, and a folder that is
// not writable. Each run must fail with a message on stderr, leave every earlier file byte
// for byte as it was, and leave no temporary file behind.

#include "Commands.h"
#include "image/Bitmap.h"
#include "image/Image.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <grp.h>
#include <iostream>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kivtest {
namespace {

namespace fs = std::filesystem;

// One kivtool command that writes: its arguments, and the folder and first file it writes
// (relative to the folder it runs in).
struct CliCase {
    std::vector<std::string> Args;
    std::string OutputFolder; // "." or a folder the command writes its files into
    std::string Output;       // the first file written, inside OutputFolder
};

// Each with --force: the earlier output these tests lay down is to be replaced.
std::vector<CliCase> Cases() {
    return {
        {{"extract", "Modgen.dat", "hero.s16", "--force"}, ".", "hero.s16"},
        {{"replace", "Modgen.dat", "hero.s16", "--force"}, ".", "Newgen.dat"},
        {{"preview", "Modgen.dat", "hero.s16", "1", "-o", "preview.bmp", "--force"},
         ".",
         "preview.bmp"},
        {{"show", "sprite.s16", "1", "-o", "show.bmp", "--force"}, ".", "show.bmp"},
        {{"collage", "sprite.s16", "1", "-o", "collage.bmp", "--force"}, ".", "collage.bmp"},
        {{"reencode", "sprite.s16", "1", "picture.bmp", "--force"}, ".", "sprite.s17"},
        {{"import", "sprite.s16", "icons", "--force"}, ".", "sprite.s17"},
        {{"reimport", "Modgen.dat", "members", "--force"}, ".", "Newgen.dat"},
        {{"export", "sprite.s16", "exported", "--force"},
         "exported",
         kivtool::ExportFileName("sprite", 1)},
        {{"extract-all", "Modgen.dat", "all", "--force"}, "all", "hero.s16"},
    };
}

Bytes Pattern(std::size_t size, unsigned seed) {
    Bytes out(size);
    for (std::size_t k = 0; k < size; ++k)
        out[k] = static_cast<std::uint8_t>((k * 131 + seed) >> 3);
    return out;
}

// Every file any case writes is larger than the 4096-byte limit of the half-way test.
void LayOutInputs(const ScratchDir& dir) {
    std::vector<std::uint16_t> pixels(64 * 64);
    for (std::size_t k = 0; k < pixels.size(); ++k)
        pixels[k] = static_cast<std::uint16_t>(k * 2654435761u >> 7);
    const Bytes sprite = SpriteBuilder()
                             .Raw(64, 64, 0, 0, 64, 64, pixels)
                             .Runs(4, 4, 30, 30, 64, 64, {{16, 0xF800}})
                             .Build();
    WriteFile(dir.File("sprite.s16"), sprite);
    WriteFile(
        dir.File("Modgen.dat"),
        ArchiveBuilder().Member("hero.s16", sprite).Member("door.s16", Pattern(6000, 2)).Build());
    WriteFile(dir.File("hero.s17"), Pattern(9000, 3));

    kiv::Image picture(100, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            picture.SetPixel(x, y, kiv::RGB(x * 7, y * 5, x * y));
    kiv::SaveBitmapFile(picture, dir.File("picture.bmp"));
    fs::create_directories(dir.File("icons"));
    kiv::SaveBitmapFile(picture, dir.File("icons/" + kivtool::ExportFileName("sprite", 1)));
    fs::create_directories(dir.File("members"));
    WriteFile(dir.File("members/hero.s16"), Pattern(9000, 4));
}

// Every file under the folder with its bytes, to show nothing changed.
std::map<std::string, Bytes> Snapshot(const ScratchDir& dir) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
        files[fs::relative(entry.path(), dir.Path()).string()] =
            entry.is_regular_file() ? ReadFile(entry.path().string()) : Bytes{};
    return files;
}

struct CliRun {
    bool Started = false; // false: the fault could not be set up here
    int Status = -1;      // exit status, or -1 when killed by a signal
    std::string Err;
};

// Everything written to `fd` until its writers close it; closes it.
std::string ReadToEnd(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return text;
}

// Starts kivtool in `dir` after `prepare` (run in the child; false ends it with status 77),
// with stdout discarded. Returns its process (-1: none) and the read end of its stderr.
template <typename Prepare>
std::pair<pid_t, int> Spawn(const ScratchDir& dir, const std::vector<std::string>& args,
                            Prepare prepare) {
    int err[2];
    if (::pipe(err) != 0)
        return {-1, -1};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(err[0]);
        ::dup2(err[1], 2);
        ::close(1);
        if (::chdir(dir.Path().c_str()) != 0 || !prepare())
            ::_exit(77);
        std::vector<std::string> copies = args;
        std::string program = KIVTOOL_PATH;
        std::vector<char*> argv{program.data()};
        for (auto& a : copies)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(err[1]);
    if (pid < 0)
        ::close(err[0]);
    return {pid, err[0]};
}

// Runs kivtool in `dir` after `restrict`, with stdout discarded and stderr kept.
template <typename Restrict>
CliRun RunUnder(const ScratchDir& dir, const std::vector<std::string>& args, Restrict restrict) {
    const auto [pid, err] = Spawn(dir, args, restrict);
    if (pid < 0)
        return {};
    CliRun run;
    run.Err = ReadToEnd(err);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.Started = !(WIFEXITED(status) && WEXITSTATUS(status) == 77);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool NoRestriction() {
    return true;
}

bool LimitFileSize() {
    std::signal(SIGXFSZ, SIG_IGN); // an ignored signal stays ignored across exec
    const rlimit limit{4096, 4096};
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

bool ActAsOrdinaryUser() {
    if (::geteuid() != 0)
        return true;
    const uid_t nobody = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
}

void ExpectFailedWithAMessage(const CliRun& run) {
    ASSERT_TRUE(run.Started);
    EXPECT_EQ(run.Status, kivtool::ExitFailure) << run.Err;
    EXPECT_NE(run.Err, "");
}

std::string Command(const CliCase& c) {
    return c.Args[0];
}

// The output as kivtool names it in its messages.
std::string Shown(const CliCase& c) {
    return c.OutputFolder == "." ? c.Output : c.OutputFolder + "/" + c.Output;
}

// A failure line as the windows word it: their message first (naming the file, or naming it
// after), then the system's reason, in parentheses.
void ExpectNamedWithItsReason(const std::string& err, const std::string& file,
                              const std::string& reason) {
    const std::size_t named = err.find(file);
    EXPECT_TRUE(
        err.find(" (" + file + ": " + reason + ")") != std::string::npos ||
        (named != std::string::npos && err.find(" (" + reason + ")", named) != std::string::npos))
        << err;
}

// No temporary or lock file anywhere under the folder.
void ExpectNoWorkFiles(const ScratchDir& dir) {
    for (const auto& [name, bytes] : Snapshot(dir))
        EXPECT_EQ(name.find(".kiv-"), std::string::npos) << name;
}

TEST(KivtoolFaults, AWriteThatFailsHalfWayKeepsEveryEarlierFile) {
    for (const CliCase& c : Cases()) {
        SCOPED_TRACE(Command(c));
        ScratchDir dir;
        LayOutInputs(dir);
        fs::create_directories(dir.File(c.OutputFolder));
        WriteFile(dir.File(c.OutputFolder + "/" + c.Output), Pattern(100, 9));
        const auto before = Snapshot(dir);

        // The message names the file and, after it, the system's reason, and a failed write
        // is no refusal.
        const CliRun limited = RunUnder(dir, c.Args, LimitFileSize);
        ExpectFailedWithAMessage(limited);
        ExpectNamedWithItsReason(limited.Err, Shown(c), "File too large");
        EXPECT_EQ(limited.Err.find("refused"), std::string::npos) << limited.Err;
        EXPECT_EQ(Snapshot(dir), before);

        // Without the limit the same command succeeds, so the fault is what failed it.
        const CliRun free = RunUnder(dir, c.Args, NoRestriction);
        EXPECT_EQ(free.Status, kivtool::ExitOk) << free.Err;
        EXPECT_GT(ReadFile(dir.File(c.OutputFolder + "/" + c.Output)).size(), 4096u);
    }
}

TEST(KivtoolFaults, AnOutputPathThatIsAFolderIsRefused) {
    for (const CliCase& c : Cases()) {
        SCOPED_TRACE(Command(c));
        ScratchDir dir;
        LayOutInputs(dir);
        const std::string output = dir.File(c.OutputFolder + "/" + c.Output);
        fs::create_directories(output);
        WriteFile(output + "/keep", Pattern(10, 1));

        ExpectFailedWithAMessage(RunUnder(dir, c.Args, NoRestriction));
        EXPECT_EQ(ReadFile(output + "/keep"), Pattern(10, 1));
        EXPECT_EQ(ListFolder(output), std::vector<std::string>{"keep"});
        ExpectNoWorkFiles(dir);
    }
}

TEST(KivtoolFaults, AFolderThatIsNotWritableIsReported) {
    for (const CliCase& c : Cases()) {
        SCOPED_TRACE(Command(c));
        ScratchDir dir;
        LayOutInputs(dir);
        const std::string folder = dir.File(c.OutputFolder);
        fs::create_directories(folder);
        WriteFile(folder + "/" + c.Output, Pattern(100, 9));
        const auto before = Snapshot(dir);
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);

        const CliRun run = RunUnder(dir, c.Args, ActAsOrdinaryUser);
        ::chmod(folder.c_str(), 0755);
        if (!run.Started)
            GTEST_SKIP() << "cannot run as an ordinary user here";
        ExpectFailedWithAMessage(run);
        ExpectNamedWithItsReason(run.Err, Shown(c), "Permission denied");
        EXPECT_EQ(Snapshot(dir), before);
    }
    ScratchDir dir;
    LayOutInputs(dir);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
    const CliRun run = RunUnder(dir, {"export", "sprite.s16", "new/icons"}, ActAsOrdinaryUser);
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(run.Err, "Cannot create folder new: Permission denied.\n");
}

// A kivtool run stopped at its flush before the rename (see StopAtFlush.cpp), with its
// stderr to read once it ends.
struct StoppedRun {
    pid_t Pid = -1;
    int Err = -1;
};

// `at`: KIV_STOP_AT_FLUSH, before the rename, or KIV_STOP_AFTER_RENAME.
StoppedRun StartStopped(const ScratchDir& dir, const std::vector<std::string>& args,
                        const char* at = "KIV_STOP_AT_FLUSH") {
    const auto [pid, err] = Spawn(dir, args, [at] {
        ::setenv("LD_PRELOAD", STOP_AT_FLUSH_PATH, 1);
        ::setenv(at, "1", 1);
        // A sanitizer build would otherwise insist on being loaded first.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string options = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
        return ::setenv("ASAN_OPTIONS", options.c_str(), 1) == 0;
    });
    if (pid < 0)
        return {};
    int status = 0;
    if (::waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status)) {
        ::close(err);
        return {};
    }
    return {pid, err};
}

// Sends `signal` (none: 0), lets the run go on and collects its end; Status is -1 when a
// signal ended it.
CliRun Resume(StoppedRun& stopped, int signal = 0) {
    if (signal != 0)
        ::kill(stopped.Pid, signal);
    ::kill(stopped.Pid, SIGCONT);
    CliRun run;
    run.Started = true;
    run.Err = ReadToEnd(stopped.Err);
    int status = 0;
    ::waitpid(stopped.Pid, &status, 0);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void AddTwinsAndCopies(const ScratchDir& dir) {
    WriteFile(dir.File("door.s17"), Pattern(7000, 5));
    fs::copy_file(dir.File("Modgen.dat"), dir.File("Newgen.dat"));
}

TEST(KivtoolFaults, OverlappingRunsNeverBothSucceedWithAChangeLost) {
    struct Overlap {
        std::vector<std::string> First, Second;
        std::string Output;
    };
    const std::vector<Overlap> overlaps = {
        {{"replace", "Newgen.dat", "hero.s16", "-o", "Newgen.dat"},
         {"replace", "Newgen.dat", "door.s16", "-o", "Newgen.dat"},
         "Newgen.dat"},
        {{"replace", "Newgen.dat", "hero.s16"},
         {"reimport", "Newgen.dat", "members", "-o", "Newgen.dat"},
         "Newgen.dat"},
        {{"reencode", "--on-twin", "sprite.s16", "1", "picture.bmp"},
         {"reencode", "--on-twin", "sprite.s16", "2", "picture.bmp"},
         "sprite.s17"},
    };
    for (const Overlap& o : overlaps) {
        SCOPED_TRACE(o.First[0] + " then " + o.Second[0]);
        // What the first run writes on its own: the oracle for the overlapped one.
        ScratchDir alone;
        LayOutInputs(alone);
        AddTwinsAndCopies(alone);
        ASSERT_EQ(RunUnder(alone, o.First, NoRestriction).Status, 0);

        ScratchDir dir;
        LayOutInputs(dir);
        AddTwinsAndCopies(dir);
        StoppedRun first = StartStopped(dir, o.First);
        ASSERT_GT(first.Pid, 0);
        const CliRun second = RunUnder(dir, o.Second, NoRestriction);
        EXPECT_EQ(second.Status, 1);
        EXPECT_EQ(second.Err,
                  o.Output + " is being written by another run; nothing was written.\n");
        const CliRun resumed = Resume(first);
        EXPECT_EQ(resumed.Status, 0) << resumed.Err;
        EXPECT_EQ(ReadFile(dir.File(o.Output)), ReadFile(alone.File(o.Output)));
        ExpectNoWorkFiles(dir);
    }
}

TEST(KivtoolFaults, AnInputThatChangesDuringARunStopsItsWrite) {
    struct Change {
        std::vector<std::string> Args;
        std::string Input, Output;
    };
    const std::vector<Change> changes = {
        {{"replace", "Modgen.dat", "hero.s16"}, "hero.s17", "Newgen.dat"},
        {{"replace", "Newgen.dat", "hero.s16"}, "Newgen.dat", "Newgen.dat"},
        {{"reimport", "Modgen.dat", "members"}, "members/hero.s16", "Newgen.dat"},
        {{"reencode", "sprite.s16", "1", "picture.bmp"}, "picture.bmp", "sprite.s17"},
        {{"import", "sprite.s16", "icons"},
         "icons/" + kivtool::ExportFileName("sprite", 1),
         "sprite.s17"},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.Args[0] + " while " + c.Input + " changes");
        ScratchDir dir;
        LayOutInputs(dir);
        AddTwinsAndCopies(dir);
        StoppedRun run = StartStopped(dir, c.Args);
        ASSERT_GT(run.Pid, 0);
        Bytes input = ReadFile(dir.File(c.Input));
        input.push_back(0);
        WriteFile(dir.File(c.Input), input);
        auto before = Snapshot(dir);
        std::erase_if(before, [](const auto& file) { return file.first.rfind(".kiv-", 0) == 0; });
        const CliRun resumed = Resume(run);
        EXPECT_EQ(resumed.Status, 1);
        // After any warnings about what was read.
        EXPECT_TRUE(resumed.Err.ends_with(
            c.Input + " changed while it was being read; nothing was written.\n"))
            << resumed.Err;
        EXPECT_EQ(Snapshot(dir), before);
        ExpectNoWorkFiles(dir);
    }
}

TEST(KivtoolFaults, ATerminationRequestEndsARunWithItsStatusAndLeavesNothingBehind) {
    // Before the rename the run ends interrupted and leaves the earlier file; from the rename
    // on it has put its output in place, finishes, and says so with status 0.
    const std::vector<std::string> replace = {"replace", "Modgen.dat", "hero.s16", "--force"};
    ScratchDir alone;
    LayOutInputs(alone);
    ASSERT_EQ(RunUnder(alone, replace, NoRestriction).Status, 0);
    for (const auto& [signal, status] :
         std::vector<std::pair<int, int>>{{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
        for (const bool renamed : {false, true}) {
            SCOPED_TRACE(std::to_string(signal) + (renamed ? " after the rename" : " before"));
            ScratchDir dir;
            LayOutInputs(dir);
            WriteFile(dir.File("Newgen.dat"), Pattern(100, 9));
            auto expected = Snapshot(dir);
            if (renamed)
                expected["Newgen.dat"] = ReadFile(alone.File("Newgen.dat"));
            StoppedRun run =
                StartStopped(dir, replace, renamed ? "KIV_STOP_AFTER_RENAME" : "KIV_STOP_AT_FLUSH");
            ASSERT_GT(run.Pid, 0);
            const CliRun ended = Resume(run, signal);
            EXPECT_EQ(ended.Status, renamed ? 0 : status) << ended.Err;
            EXPECT_EQ(Snapshot(dir), expected);
        }
    }
}

TEST(KivtoolFaults, AfterFiftyKilledRebuildsOneRunLeavesNoWorkFile) {
    ScratchDir dir;
    LayOutInputs(dir);
    const auto workFiles = [&] {
        int count = 0;
        for (const std::string& name : ListFolder(dir.Path().string()))
            count += name.rfind(".kiv-", 0) == 0 ? 1 : 0;
        return count;
    };
    for (int k = 0; k < 50; ++k) {
        StoppedRun run = StartStopped(dir, {"replace", "Modgen.dat", "hero.s16", "--force"});
        ASSERT_GT(run.Pid, 0);
        EXPECT_EQ(Resume(run, SIGKILL).Status, -1);
    }
    std::cout << "after 50 killed rebuilds: " << workFiles() << " work files\n";
    EXPECT_GT(workFiles(), 0); // a killed run cannot clean up
    EXPECT_EQ(RunUnder(dir, {"replace", "Modgen.dat", "hero.s16", "--force"}, NoRestriction).Status,
              0);
    EXPECT_EQ(workFiles(), 0);
}

} // namespace
} // namespace kivtest
