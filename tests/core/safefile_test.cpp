#include "base/Errors.h"
#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <tuple>
#ifndef _WIN32
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace kiv;
using namespace kivtest;

namespace {

Bytes Counting(std::size_t n, int start = 0) {
    Bytes bytes(n);
    for (std::size_t k = 0; k < n; ++k)
        bytes[k] = static_cast<std::uint8_t>((start + k) * 7 + k / 251);
    return bytes;
}

std::vector<std::string> Names(std::initializer_list<const char*> names) {
    return std::vector<std::string>(names.begin(), names.end());
}

std::string CreateErrorOf(const std::string& target) {
    try {
        SafeFile file(target);
        return "created";
    } catch (const EFCreateError& e) {
        return e.what();
    }
}

} // namespace

#ifndef _WIN32 // stand-ins for POSIX calls of the C library
namespace {

// What reaches the disk, in order, while `syncLog` is set: "file" and "folder" for each
// flush of one, "rename" for each rename. The calls below stand in for the C library's and
// pass every call on to it.
std::vector<std::string>* syncLog = nullptr;

template <typename F> F Real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

void LogFlush(int fd) {
    struct stat st {};
    if (syncLog && ::fstat(fd, &st) == 0)
        syncLog->push_back(S_ISDIR(st.st_mode) ? "folder" : "file");
}

} // namespace

extern "C" int fsync(int fd) {
    LogFlush(fd);
    return Real<int (*)(int)>("fsync")(fd);
}
extern "C" int fdatasync(int fd) {
    LogFlush(fd);
    return Real<int (*)(int)>("fdatasync")(fd);
}
extern "C" int rename(const char* from, const char* to) noexcept {
    if (syncLog)
        syncLog->push_back("rename");
    return Real<int (*)(const char*, const char*)>("rename")(from, to);
}

TEST(SafeFile, CommitFlushesTheBytesBeforeTheRenameAndTheFolderAfterIt) {
    ScratchDir dir;
    std::filesystem::create_directory("sub");
    std::vector<std::string> log;
    syncLog = &log;
    for (const std::string& target :
         std::vector<std::string>{"here.bin", "sub/there.bin", dir.File("sub/there.bin")}) {
        SafeFile file(target);
        file.Write("data", 4);
        file.Commit();
    }
    syncLog = nullptr;
    const std::vector<std::string> once = {"file", "rename", "folder"};
    std::vector<std::string> expected;
    for (int k = 0; k < 3; ++k)
        expected.insert(expected.end(), once.begin(), once.end());
    EXPECT_EQ(log, expected);
}
#endif

TEST(SafeFile, CommitReplacesTheTargetOnlyAtTheEnd) {
    ScratchDir dir;
    const std::string folder = dir.Path().string();
    WriteFile("out.bin", Bytes(10, 1));
    {
        SafeFile file("out.bin");
        file.DropTargetCache(); // only the cache: the file stays as it was
        file.Write(Counting(300).data(), 300);
        const std::uint8_t patch[] = {0xEE, 0xFF};
        file.WriteAt(5, patch, 2);
        EXPECT_EQ(file.Size(), 300);
        // Until the commit, the old file is what readers see (beside it: the temporary file
        // and the output's lock).
        EXPECT_EQ(ReadFile("out.bin"), Bytes(10, 1));
        EXPECT_EQ(ListFolder(folder).size(), 3u);
        file.Commit();
    }
    Bytes expected = Counting(300);
    expected[5] = 0xEE;
    expected[6] = 0xFF;
    EXPECT_EQ(ReadFile("out.bin"), expected);
    EXPECT_EQ(ListFolder(folder), Names({"out.bin"}));

    SafeFile fresh(dir.File("fresh.bin"));
    fresh.DropTargetCache(); // nothing there yet
    fresh.Discard();
    WriteWholeFile(dir.File("new.bin"), "abc", 3);
    EXPECT_EQ(ReadFile("new.bin"), (Bytes{'a', 'b', 'c'}));
}

#ifndef _WIN32 // permission bits, file-size limits and child processes
TEST(SafeFile, ReplacedFileKeepsItsModeOwnerAndGroupAndALinkIsWrittenThrough) {
    ScratchDir dir;
    std::filesystem::create_directory("sub");
    const mode_t mask = ::umask(022);
    const auto statOf = [](const char* path) {
        struct stat st {};
        ::lstat(path, &st);
        return st;
    };
    // Given away where this process may (as root); kept as they are otherwise.
    const bool root = ::geteuid() == 0;
    for (mode_t mode : {0640u, 0666u, 0400u, 02750u}) {
        WriteFile("mode.bin", Bytes(4, 0));
        if (root) {
            ASSERT_EQ(::chown("mode.bin", 65534, 65534), 0);
        }
        ::chmod("mode.bin", mode);
        const struct stat before = statOf("mode.bin");
        WriteWholeFile("mode.bin", "x", 1);
        const struct stat after = statOf("mode.bin");
        EXPECT_EQ(after.st_mode & 07777, mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
    }
    WriteWholeFile("new.bin", "x", 1);
    EXPECT_EQ(statOf("new.bin").st_mode & 07777, 0644u);

    // A link: the file it points to gets the bytes, through a temporary file beside it; a
    // relative link is taken from the link's own folder, a dangling one makes its file.
    WriteFile("sub/real.bin", Bytes(3, 3));
    for (const auto& [link, to, file] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"abs.bin", dir.File("sub/real.bin"), "sub/real.bin"},
             {"sub/rel.bin", "real.bin", "sub/real.bin"},
             {"chain.bin", "sub/rel.bin", "sub/real.bin"},
             {"dangling.bin", "sub/made.bin", "sub/made.bin"}}) {
        SCOPED_TRACE(link);
        ASSERT_EQ(::symlink(to.c_str(), link.c_str()), 0);
        WriteWholeFile(link, link.data(), link.size());
        EXPECT_TRUE(S_ISLNK(statOf(link.c_str()).st_mode));
        EXPECT_EQ(ReadFile(file), Bytes(link.begin(), link.end()));
    }
    EXPECT_EQ(ListFolder("sub"), Names({"made.bin", "real.bin", "rel.bin"}));
    ::umask(mask);
}
#endif

TEST(SafeFile, DiscardAndDestructionLeaveTheOldFileAndNoTemporary) {
    ScratchDir dir;
    const std::string folder = dir.Path().string();
    WriteFile("keep.bin", Bytes(20, 9));
    {
        SafeFile file("keep.bin");
        file.Write(Counting(50).data(), 50);
    }
    {
        SafeFile file("keep.bin");
        file.Write(Counting(50).data(), 50);
        file.Discard();
        EXPECT_THROW(file.Write("x", 1), EWriteError);
        EXPECT_THROW(file.Commit(), EWriteError);
    }
    { SafeFile file("fresh.bin"); }
    EXPECT_EQ(ReadFile("keep.bin"), Bytes(20, 9));
    EXPECT_EQ(ListFolder(folder), Names({"keep.bin"}));
}

TEST(SafeFile, RefusesTargetsThatCannotBeCreated) {
    ScratchDir dir;
    std::filesystem::create_directory("sub");
    for (const std::string target : {"sub", "sub/", "missing/out.bin", ""})
        EXPECT_EQ(CreateErrorOf(target), "Cannot create file " + target);
    EXPECT_EQ(ListFolder(dir.Path().string()), Names({"sub"}));
    EXPECT_TRUE(ListFolder("sub").empty());
}

#ifndef _WIN32 // permission bits, file-size limits and child processes
TEST(SafeFile, RefusesAFolderWithoutWritePermission) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    ScratchDir dir;
    std::filesystem::create_directory("locked");
    WriteFile("locked/old.bin", Bytes(3, 3));
    ::chmod("locked", 0555);
    EXPECT_EQ(CreateErrorOf("locked/old.bin"), "Cannot create file locked/old.bin");
    ::chmod("locked", 0755);
    EXPECT_EQ(ReadFile("locked/old.bin"), Bytes(3, 3));
    EXPECT_EQ(ListFolder("locked"), Names({"old.bin"}));
}
#endif

#ifndef _WIN32 // permission bits, file-size limits and child processes
TEST(SafeFile, FailedWriteKeepsTheEarlierFileByteForByte) {
    ScratchDir dir;
    const Bytes old = Counting(100);
    WriteFile("target.bin", old);
    // A child with a 1000-byte file size limit: the second half of the write fails.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int code = 1;
        try {
            SafeFile file("target.bin");
            const Bytes big = Counting(5000);
            file.Write(big.data(), big.size());
            file.Commit();
        } catch (const EWriteError& e) {
            code = std::string(e.what()) == "Stream write error" ? 0 : 2;
        } catch (...) {
            code = 3;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile("target.bin"), old);
    EXPECT_EQ(ListFolder(dir.Path().string()), Names({"target.bin"}));
}
#endif

TEST(SafeFile, CopyFromCopiesExactRangesAndReportsShortSources) {
    ScratchDir dir;
    const Bytes source = Counting(600000, 3);
    // The first range and the fourth sit at the same place within a page in both files, for
    // the kernel's copy (the fourth after reads and writes up to a block boundary); the
    // others, and all from a memory-backed source, take reads and writes.
    std::vector<std::string> sources{"source.bin"};
    std::string elsewhere;
#ifndef _WIN32
    elsewhere = "/dev/shm/kiv-copy-source-" + std::to_string(::getpid());
    struct stat here {
    }, there{};
    if (::stat(".", &here) == 0 && ::stat("/dev/shm", &there) == 0 && here.st_dev != there.st_dev)
        sources.push_back(elsewhere);
#endif
    for (const std::string& path : sources) {
        SCOPED_TRACE(path);
        WriteFile(path, source);
        auto in = InFile::Open(path);
        ASSERT_TRUE(in);
        SafeFile out("copy.bin");
        EXPECT_EQ(out.CopyFrom(*in, 8192, 5000), 5000);
        EXPECT_EQ(out.CopyFrom(*in, 10, 20), 20);
        EXPECT_EQ(out.CopyFrom(*in, 1000, 550000), 550000);
        EXPECT_EQ(out.CopyFrom(*in, 2060, 250000), 250000);
        EXPECT_EQ(out.CopyFrom(*in, 599990, 50), 10);
        EXPECT_EQ(out.CopyFrom(*in, 650000, 5), 0);
        EXPECT_EQ(out.CopyFrom(*in, -1, 5), 0);
        EXPECT_EQ(out.CopyFrom(*in, 0, 0), 0);
        EXPECT_EQ(out.Size(), 805030);
        out.Commit();
        in.reset();
        if (!elsewhere.empty())
            std::remove(elsewhere.c_str());

        Bytes expected(source.begin() + 8192, source.begin() + 13192);
        expected.insert(expected.end(), source.begin() + 10, source.begin() + 30);
        expected.insert(expected.end(), source.begin() + 1000, source.begin() + 551000);
        expected.insert(expected.end(), source.begin() + 2060, source.begin() + 252060);
        expected.insert(expected.end(), source.end() - 10, source.end());
        EXPECT_EQ(ReadFile("copy.bin"), expected);
    }
}

TEST(InFile, ReadsReportWhatWasReallyThere) {
    ScratchDir dir;
    EXPECT_FALSE(InFile::Open("missing.bin"));
    EXPECT_FALSE(InFile::Open(dir.Path().string()));
    EXPECT_FALSE(InFile::Open(""));

    const Bytes data = Counting(100000);
    WriteFile("data.bin", data);
    auto in = InFile::Open("data.bin");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->Length(), 100000);

    // A read across the buffer's end, then a large one that bypasses the buffer.
    Bytes got(70000);
    in->Seek(60000);
    ASSERT_EQ(in->Read(got.data(), 10000), 10000u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 10000, data.begin() + 60000));
    in->Seek(100);
    ASSERT_EQ(in->Read(got.data(), 70000), 70000u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + 100));
    EXPECT_EQ(in->Position(), 70100);

    // Short reads at the end.
    in->Seek(99998);
    EXPECT_EQ(in->Read(got.data(), 10), 2u);
    EXPECT_EQ(in->ReadByte(), -1);
    in->Seek(99997);
    std::int32_t word = 12345;
    EXPECT_FALSE(in->ReadInt32(word));
    EXPECT_EQ(word, 12345);
    in->Seek(500000);
    EXPECT_EQ(in->Read(got.data(), 4), 0u);

    in->Seek(4);
    ASSERT_TRUE(in->ReadInt32(word));
    EXPECT_EQ(word, GetLE32(data, 4));
    EXPECT_EQ(in->ReadByte(), data[8]);
}
