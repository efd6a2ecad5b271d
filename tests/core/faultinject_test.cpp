// Every file core writes, under the faults a real disk has: a write that fails half-way
// (a file-size limit in a child process), an output path that is a folder, and a folder
// that is not writable. Each must be reported, leave the earlier file byte for byte as it
// was, and leave no temporary file behind.

#include "archive/ArchiveDirectory.h"
#include "archive/MemberExtract.h"
#include "archive/MemberReplace.h"
#include "base/Errors.h"
#include "image/Bitmap.h"
#include "image/Image.h"
#include "sprite/IconEncoder.h"
#include "sprite/S16Format.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using kivtest::Bytes;

// What an operation reported: success, or the message the user would read.
struct Outcome {
    bool Ok = false;
    std::string Message;
};

// One file that core writes: how to lay out its inputs in a folder, and how to write it
// with the folder as the current folder.
struct WriteCase {
    std::string What;
    std::string Output; // the written file's name inside the folder
    std::function<void(const std::string& dir)> Prepare;
    std::function<Outcome()> Run;
};

Bytes Pattern(std::size_t size, unsigned seed) {
    Bytes out(size);
    for (std::size_t k = 0; k < size; ++k)
        out[k] = static_cast<std::uint8_t>((k * 131 + seed) >> 3);
    return out;
}

// A picture of many colours, so its encoding and its bitmap file are large.
kiv::Image NoisyPicture(int side) {
    kiv::Image picture(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            picture.SetPixel(x, y, kiv::RGB(x * 7, y * 5, x * y));
    return picture;
}

Bytes SmallSprite() {
    return kivtest::SpriteBuilder()
        .Raw(2, 2, 0, 0, 2, 2, {1, 2, 3, 4})
        .Runs(3, 1, 0, 0, 3, 1, {{3, 0xF800}})
        .Build();
}

Bytes TwoMemberArchive() {
    return kivtest::ArchiveBuilder()
        .Member("hero.s16", Pattern(64 * 1024, 1))
        .Member("door.s16", Pattern(64 * 1024, 2))
        .Build();
}

std::vector<kiv::ArchiveRow> Rows(const std::string& archive) {
    std::vector<kiv::ArchiveRow> rows;
    for (const kiv::TArchiveEntry& entry : kiv::ListArchive(archive).Entries)
        rows.push_back(kiv::ArchiveRow::FromEntry(entry));
    return rows;
}

Outcome FromResult(const kiv::OpResult& result) {
    return {result.Ok, result.Message};
}

std::vector<WriteCase> WriteCases() {
    std::vector<WriteCase> cases;
    cases.push_back(
        {"extracted member", "hero.s16",
         [](const std::string& dir) {
             kivtest::WriteFile(dir + "/Modgen.dat", TwoMemberArchive());
         },
         [] { return FromResult(kiv::ExtractMember("Modgen.dat", Rows("Modgen.dat")[0])); }});
    cases.push_back({"rebuilt archive", "Newgen.dat",
                     [](const std::string& dir) {
                         kivtest::WriteFile(dir + "/Modgen.dat", TwoMemberArchive());
                         kivtest::WriteFile(dir + "/hero.s17", Pattern(70 * 1024, 3));
                     },
                     [] {
                         kiv::ReplaceRequest request;
                         request.ArchivePath = "Modgen.dat";
                         request.Row = Rows("Modgen.dat")[0];
                         request.RowIndex = 1;
                         request.MemberCount = 2;
                         return FromResult(kiv::ReplaceMember(request));
                     }});
    cases.push_back(
        {"re-encoded twin", "sprite.s17",
         [](const std::string& dir) { kivtest::WriteFile(dir + "/sprite.s16", SmallSprite()); },
         [] {
             kiv::TIconTable table;
             if (kiv::ReadIconTable("sprite.s16", table) != kiv::ReadTableResult::Loaded)
                 return Outcome{false, "test: the sprite file did not load"};
             const kiv::ReencodeResult result = kiv::ReencodeIcon(NoisyPicture(120), 0, table);
             return Outcome{result.Ok, result.Message};
         }});
    cases.push_back({"bitmap", "picture.bmp", [](const std::string&) {},
                     [] {
                         kiv::SaveBitmapFile(NoisyPicture(120), "picture.bmp");
                         return Outcome{true, ""};
                     }});
    return cases;
}

// Runs the operation in a child process inside `dir`, after `restrict` (which may return
// false to say the fault cannot be set up here). The child reports through a pipe.
enum class ChildEnd { Reported, Unsupported, Crashed };
struct ChildResult {
    ChildEnd End = ChildEnd::Crashed;
    Outcome Result;
};

ChildResult RunInChild(const std::string& dir, const std::function<bool()>& restrict,
                       const std::function<Outcome()>& run) {
    int channel[2];
    if (::pipe(channel) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::chdir(dir.c_str()) != 0)
            ::_exit(3);
        if (!restrict())
            ::_exit(4);
        Outcome outcome;
        try {
            outcome = run();
        } catch (const kiv::Exception& e) {
            outcome = {false, e.what()};
        } catch (...) {
            ::_exit(5);
        }
        const std::string text = (outcome.Ok ? "1" : "0") + outcome.Message;
        const ssize_t put = ::write(channel[1], text.data(), text.size());
        ::_exit(put == static_cast<ssize_t>(text.size()) ? 0 : 6);
    }
    ::close(channel[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ChildResult result;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 4)
        result.End = ChildEnd::Unsupported;
    else if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !text.empty()) {
        result.End = ChildEnd::Reported;
        result.Result = {text[0] == '1', text.substr(1)};
    }
    return result;
}

// Writes past this many bytes fail (the limit applies to every file the child writes).
bool LimitFileSize() {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// Root writes everywhere, so a root test process drops to an ordinary user to meet a
// folder it may not write.
bool ActAsOrdinaryUser() {
    if (::geteuid() != 0)
        return true;
    const uid_t nobody = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
}

void ExpectRefused(const WriteCase& c, const ChildResult& child) {
    ASSERT_EQ(child.End, ChildEnd::Reported) << c.What << ": the operation did not end cleanly";
    EXPECT_FALSE(child.Result.Ok) << c.What << ": a failed write was reported as success";
    EXPECT_FALSE(child.Result.Message.empty()) << c.What << ": no message";
}

TEST(FaultInjection, AWriteThatFailsHalfWayKeepsTheEarlierFileAndLeavesNoTemporary) {
    for (const WriteCase& c : WriteCases()) {
        SCOPED_TRACE(c.What);
        kivtest::ScratchDir scratch;
        const std::string dir = scratch.Path().string();
        c.Prepare(dir);
        const Bytes earlier = Pattern(100, 9);
        kivtest::WriteFile(scratch.File(c.Output), earlier);
        const std::vector<std::string> before = kivtest::ListFolder(dir);

        // Without the limit the operation succeeds, so it is the fault that fails it.
        ExpectRefused(c, RunInChild(dir, LimitFileSize, c.Run));

        EXPECT_EQ(kivtest::ReadFile(scratch.File(c.Output)), earlier);
        EXPECT_EQ(kivtest::ListFolder(dir), before);
        const ChildResult free = RunInChild(
            dir, [] { return true; }, c.Run);
        ASSERT_EQ(free.End, ChildEnd::Reported);
        EXPECT_TRUE(free.Result.Ok) << free.Result.Message;
        EXPECT_GT(kivtest::ReadFile(scratch.File(c.Output)).size(), 4096u);
    }
}

TEST(FaultInjection, AnOutputPathThatIsAFolderIsRefusedAndTheFolderKept) {
    for (const WriteCase& c : WriteCases()) {
        SCOPED_TRACE(c.What);
        kivtest::ScratchDir scratch;
        const std::string dir = scratch.Path().string();
        c.Prepare(dir);
        ASSERT_EQ(::mkdir(scratch.File(c.Output).c_str(), 0755), 0);
        kivtest::WriteFile(scratch.File(c.Output) + "/keep", Pattern(10, 1));
        const std::vector<std::string> before = kivtest::ListFolder(dir);

        ExpectRefused(c, RunInChild(
                             dir, [] { return true; }, c.Run));

        EXPECT_EQ(kivtest::ListFolder(dir), before);
        EXPECT_EQ(kivtest::ListFolder(scratch.File(c.Output)), std::vector<std::string>{"keep"});
    }
}

TEST(FaultInjection, AFolderThatIsNotWritableIsReportedAndNothingChanges) {
    for (const WriteCase& c : WriteCases()) {
        SCOPED_TRACE(c.What);
        kivtest::ScratchDir scratch;
        const std::string dir = scratch.Path().string();
        c.Prepare(dir);
        const Bytes earlier = Pattern(100, 9);
        kivtest::WriteFile(scratch.File(c.Output), earlier);
        const std::vector<std::string> before = kivtest::ListFolder(dir);
        ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);

        const ChildResult child = RunInChild(dir, ActAsOrdinaryUser, c.Run);
        ::chmod(dir.c_str(), 0755);
        if (child.End == ChildEnd::Unsupported)
            GTEST_SKIP() << "cannot run as an ordinary user here";
        ExpectRefused(c, child);

        EXPECT_EQ(kivtest::ReadFile(scratch.File(c.Output)), earlier);
        EXPECT_EQ(kivtest::ListFolder(dir), before);
    }
}

TEST(FaultInjection, AnOutputThatIsAPipeOrALinkToADeviceIsRefusedAndTheNodeKept) {
    for (const WriteCase& c : WriteCases()) {
        SCOPED_TRACE(c.What);
        for (const bool pipe : {true, false}) {
            kivtest::ScratchDir scratch;
            const std::string dir = scratch.Path().string();
            c.Prepare(dir);
            const std::string output = scratch.File(c.Output);
            if (pipe)
                ASSERT_EQ(::mkfifo(output.c_str(), 0644), 0);
            else
                ASSERT_EQ(::symlink("/dev/null", output.c_str()), 0);
            const std::vector<std::string> before = kivtest::ListFolder(dir);

            ExpectRefused(c, RunInChild(
                                 dir, [] { return true; }, c.Run));

            struct stat st {};
            ASSERT_EQ(::lstat(output.c_str(), &st), 0);
            EXPECT_TRUE(pipe ? S_ISFIFO(st.st_mode) : S_ISLNK(st.st_mode));
            EXPECT_EQ(kivtest::ListFolder(dir), before);
        }
    }
}

} // namespace
