// Faults from outside the program: a full disk, a device that refuses writes, a source that
// vanishes, shrinks or changes while it is copied, a directory that changes between its count and
// its reading, and df and du that print garbage. Each ends with the message the program names for
// it and leaves the source as it was.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/fs/copyfile.h"
#include "app/fs/copytree.h"
#include "app/fs/fileops.h"
#include "common/globals.h"
#include "app/infopopups.h"
#include "input/input.h"
#include "tests/harness.h"

// Bytes that differ from one position to the next, so that a misplaced block shows.
static std::string Pattern(size_t size) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; i++)
        content[i] = static_cast<char>(i * 31 + i / 1000);
    return content;
}

// A small file system of its own in memory, mounted for one test; tests skip where mounting is
// refused (not root, or a container without the right).
struct SmallDisk {
    TempDir point;
    bool mounted = false;
    explicit SmallDisk(const std::string &options) {
        mounted = mount("tmpfs", point.path.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted)
            umount2(point.path.c_str(), MNT_DETACH);
    }
    std::string operator/(const std::string &name) const { return point / name; }
};

TEST(DiskFull, ACopyThatNoLongerFitsIsAWriteFailureAndTheSourceStays) {
    SmallDisk disk("size=1m");
    if (!disk.mounted)
        GTEST_SKIP() << "mounting a small file system is refused here";
    TempDir src;
    const std::string big = Pattern(2 * kCopyBlockSize + 300);
    WriteFile(src / "big", big);
    OperationRun across = RunFileOperation(
        [&] { return CopyDirEntry(disk.point.path.c_str(), src.path.c_str(), "big"); });
    EXPECT_EQ(across.status, 0);
    EXPECT_EQ(across.result, 0);
    EXPECT_EQ(across.popups, 1);
    EXPECT_EQ(across.drawn, "bigwrite " + disk.point.path + "/big failed");
    EXPECT_TRUE(ReadFile(src / "big") == big);
    // What fitted stays on the disk under a name that says it is unfinished, never as big.
    EXPECT_FALSE(Exists(disk / "big"));
    std::string kept = ReadFile(disk / "big.zorvel-part");
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), big.size());
    EXPECT_TRUE(big.compare(0, kept.size(), kept) == 0);

    // Within the one file system the kernel moves the data until it runs out of room.
    ASSERT_EQ(unlink((disk / "big.zorvel-part").c_str()), 0);
    MakeDir(disk / "from");
    MakeDir(disk / "to");
    const std::string half = Pattern(600 * 1024);
    WriteFile(disk / "from/half", half);
    OperationRun within = RunFileOperation(
        [&] { return CopyDirEntry((disk / "to").c_str(), (disk / "from").c_str(), "half"); });
    EXPECT_EQ(within.result, 0);
    EXPECT_EQ(within.popups, 1);
    EXPECT_EQ(within.drawn, "halfwrite " + disk / "to/half" + " failed");
    EXPECT_TRUE(ReadFile(disk / "from/half") == half);
    // Whatever was written is the start of the file, nothing else.
    EXPECT_FALSE(Exists(disk / "to/half"));
    std::string written = ReadFile(disk / "to/half.zorvel-part");
    EXPECT_LT(written.size(), half.size());
    EXPECT_TRUE(half.compare(0, written.size(), written) == 0);
}

TEST(DiskFull, ATreeStopsAtTheFirstFileThatDoesNotFit) {
    SmallDisk disk("size=1m");
    if (!disk.mounted)
        GTEST_SKIP() << "mounting a small file system is refused here";
    TempDir src;
    MakeDir(src / "d");
    for (const char *name : {"a", "b", "c", "d"})
        WriteFile(src / "d/" + name, Pattern(400 * 1024));
    OperationRun copy = RunFileOperation(
        [&] { return CopyDirEntry(disk.point.path.c_str(), src.path.c_str(), "d/"); });
    EXPECT_EQ(copy.result, 0);
    EXPECT_EQ(copy.popups, 1);
    EXPECT_EQ(copy.drawn, "abcwrite " + disk.point.path + "/d//c failed");
    EXPECT_EQ(ReadFile(disk / "d/a"), Pattern(400 * 1024));
    EXPECT_EQ(ReadFile(disk / "d/b"), Pattern(400 * 1024));
    EXPECT_FALSE(Exists(disk / "d/c"));
    EXPECT_TRUE(Exists(disk / "d/c.zorvel-part"));
    EXPECT_FALSE(Exists(disk / "d/d"));
    for (const char *name : {"a", "b", "c", "d"})
        EXPECT_EQ(ReadFile(src / "d/" + name), Pattern(400 * 1024)) << name;
}

TEST(DiskFull, NoEntryLeftForADirectoryOrAFile) {
    // Room for the root and two entries.
    SmallDisk disk("size=1m,nr_inodes=3");
    if (!disk.mounted)
        GTEST_SKIP() << "mounting a small file system is refused here";
    TempDir src;
    MakeDir(src / "d");
    MakeDir(src / "d/sub");
    WriteFile(src / "d/sub/f", "f");
    OperationRun copy = RunFileOperation(
        [&] { return CopyDirEntry(disk.point.path.c_str(), src.path.c_str(), "d/"); });
    EXPECT_EQ(copy.result, 0);
    EXPECT_EQ(copy.popups, 1);
    EXPECT_EQ(copy.drawn, "can't create " + disk.point.path + "/d//sub//f");
    OperationRun dir = RunFileOperation(
        [&] { return CopyDirEntry(disk.point.path.c_str(), (src / "d").c_str(), "sub/"); });
    EXPECT_EQ(dir.drawn, "can't create dir " + disk.point.path + "/sub/");
    EXPECT_EQ(ReadFile(src / "d/sub/f"), "f");
}

// A card whose storage gives out under its file system, as a worn or loose card does: a 32 MiB
// ext2 file system on a loop device whose backing file lives on a 3 MiB tmpfs. Writes are taken
// into memory and fail only on their way to the device. Skips where that is refused.
struct FailingCard {
    SmallDisk backing{"size=3m"};
    TempDir point;
    std::string device;
    bool mounted = false;
    FailingCard() {
        if (!backing.mounted)
            return;
        const std::string image = backing / "card.img";
        const std::string command = "truncate -s 32M " + image + " && mkfs.ext2 -q -F -m 0 " +
                                    image + " >/dev/null 2>&1 && losetup -f --show " + image +
                                    " 2>/dev/null";
        FILE *output = popen(command.c_str(), "r");
        char line[256] = "";
        if (output != nullptr) {
            if (fgets(line, sizeof line, output) == nullptr)
                line[0] = '\0';
            pclose(output);
        }
        device = std::string(line, strcspn(line, "\n"));
        mounted = !device.empty() &&
                  mount(device.c_str(), point.path.c_str(), "ext2", 0, "errors=continue") == 0;
    }
    ~FailingCard() {
        if (mounted)
            umount2(point.path.c_str(), 0) == 0 || umount2(point.path.c_str(), MNT_DETACH);
        if (!device.empty())
            system(("losetup -d " + device + " 2>/dev/null").c_str());
    }
    std::string operator/(const std::string &name) const { return point / name; }
};

TEST(WriteError, ACardThatFailsOnItsWayToTheDeviceIsAFailureAndNothingTakesTheName) {
    FailingCard card;
    if (!card.mounted)
        GTEST_SKIP() << "a loop device with a file system is refused here";
    TempDir src;
    const std::string big = Pattern(16 * 1024 * 1024);
    WriteFile(src / "big", big);
    OperationRun copy = RunFileOperation(
        [&] { return CopyDirEntry(card.point.path.c_str(), src.path.c_str(), "big"); });
    EXPECT_EQ(copy.result, 0);
    EXPECT_EQ(copy.popups, 1);
    EXPECT_EQ(copy.drawn, "bigwrite " + card / "big" + " failed");
    EXPECT_FALSE(Exists(card / "big"));
    EXPECT_TRUE(Exists(card / "big.zorvel-part"));
    EXPECT_TRUE(ReadFile(src / "big") == big);
}

TEST(WriteError, ADeviceThatRefusesEveryWriteIsReported) {
    TempDir src;
    WriteFile(src / "f", Pattern(5000));
    OperationRun copy =
        RunFileOperation([&] { return CopyFile("/dev/full", (src / "f").c_str()); });
    EXPECT_EQ(copy.result, 0);
    EXPECT_EQ(copy.popups, 1);
    EXPECT_EQ(copy.drawn, "fwrite /dev/full failed");
    EXPECT_EQ(ReadFile(src / "f"), Pattern(5000));
}

// A file may grow to `limit` bytes in the operation's process, as on a card whose file system
// holds files below 4 GiB: a write past it fails with EFBIG.
static void LimitFileSize(rlim_t limit) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit size = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &size);
}

TEST(SizeLimit, AFilePastItIsAWriteFailureKeptUnfinishedAndARetryNeedsNoCleaning) {
    TempDir src, dst;
    const std::string big = Pattern(12 * 1024 * 1024);
    WriteFile(src / "big", big);
    OperationRun cut = RunFileOperation([&] {
        LimitFileSize(5 * 1024 * 1024);
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "big");
    });
    EXPECT_EQ(cut.result, 0);
    EXPECT_EQ(cut.popups, 1);
    EXPECT_EQ(cut.drawn, "bigwrite " + dst.path + "/big failed");
    EXPECT_FALSE(Exists(dst / "big"));
    EXPECT_TRUE(ReadFile(dst / "big.zorvel-part") == big.substr(0, 5 * 1024 * 1024));
    // Where the file fits, the copy is made again without removing anything first.
    OperationRun retry =
        RunFileOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "big"); });
    EXPECT_EQ(retry.result, 1);
    EXPECT_EQ(retry.popups, 0);
    EXPECT_TRUE(ReadFile(dst / "big") == big);

    // In a folder: the files before it complete and named, the one past it unfinished.
    MakeDir(src / "d");
    WriteFile(src / "d/a", Pattern(1024 * 1024));
    WriteFile(src / "d/b", big);
    WriteFile(src / "d/c", "c");
    OperationRun tree = RunFileOperation([&] {
        LimitFileSize(5 * 1024 * 1024);
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
    });
    EXPECT_EQ(tree.result, 0);
    EXPECT_EQ(tree.popups, 1);
    EXPECT_EQ(tree.drawn, "abwrite " + dst.path + "/d//b failed");
    EXPECT_TRUE(ReadFile(dst / "d/a") == Pattern(1024 * 1024));
    EXPECT_FALSE(Exists(dst / "d/b"));
    EXPECT_TRUE(Exists(dst / "d/b.zorvel-part"));
    EXPECT_FALSE(Exists(dst / "d/c"));
}

TEST(OpenFiles, ACopyOfMoreFilesThanTheProcessMayOpenNamesThemInTurns) {
    TempDir src, dst;
    MakeDir(src / "d");
    for (int i = 0; i < 60; i++)
        WriteFile(src / ("d/f" + std::to_string(i)), std::to_string(i));
    OperationRun copy = RunFileOperation([&] {
        struct rlimit open_files = {32, 32};
        setrlimit(RLIMIT_NOFILE, &open_files);
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
    });
    EXPECT_EQ(copy.result, 1);
    EXPECT_EQ(copy.popups, 0);
    for (int i = 0; i < 60; i++)
        EXPECT_EQ(ReadFile(dst / ("d/f" + std::to_string(i))), std::to_string(i)) << i;
}

TEST(SizeLimit, DataBeyondTheLargestOffsetOfTheDestinationIsAWriteFailureThere) {
    // A sparse source on a file system that holds larger files than the destination's (tmpfs
    // against the test directory's): its data lies where the destination cannot even seek.
    SmallDisk disk("size=1m");
    if (!disk.mounted)
        GTEST_SKIP() << "mounting a small file system is refused here";
    TempDir dst;
    const off_t far = off_t{1} << 46; // 64 TiB
    {
        int descriptor = open((disk / "far").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(descriptor, 0);
        ASSERT_EQ(pwrite(descriptor, "data", 4, far), 4);
        close(descriptor);
    }
    OperationRun copy = RunFileOperation(
        [&] { return CopyDirEntry(dst.path.c_str(), disk.point.path.c_str(), "far"); });
    EXPECT_EQ(copy.result, 0);
    EXPECT_EQ(copy.popups, 1);
    EXPECT_EQ(copy.drawn, "farwrite " + dst.path + "/far failed");
    EXPECT_FALSE(Exists(dst / "far"));
}

TEST(ChangingSource, AFileRemovedWhileItIsCopiedIsCopiedWhole) {
    TempDir src, dst;
    const std::string content = Pattern(3 * kCopyBlockSize + 11);
    WriteFile(src / "f", content);
    // The first flip shows the empty track: the file is open and nothing is copied yet.
    OperationRun copy = RunFileOperation([&] {
        ScriptOnFlip(1, [&] { unlink((src / "f").c_str()); });
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "f");
    });
    EXPECT_EQ(copy.result, 1);
    EXPECT_EQ(copy.popups, 0);
    EXPECT_TRUE(ReadFile(dst / "f") == content);
}

TEST(ChangingSource, AFileCutShortWhileItIsCopiedGivesWhatWasRead) {
    TempDir src, dst;
    const std::string content = Pattern(3 * kCopyBlockSize + 11);
    // Before any data moves: the copy holds what the file holds then.
    WriteFile(src / "early", content);
    OperationRun early = RunFileOperation([&] {
        ScriptOnFlip(1, [&] { truncate((src / "early").c_str(), 1000); });
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "early");
    });
    EXPECT_EQ(early.result, 1);
    EXPECT_EQ(early.popups, 0);
    EXPECT_EQ(ReadFile(dst / "early"), content.substr(0, 1000));

    // After the first block: the copy ends at the new end, with the block already read.
    WriteFile(src / "late", content);
    OperationRun late = RunFileOperation([&] {
        ScriptOnFlip(2, [&] { truncate((src / "late").c_str(), 1000); });
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "late");
    });
    EXPECT_EQ(late.result, 1);
    EXPECT_EQ(late.popups, 0);
    EXPECT_TRUE(ReadFile(dst / "late") == content.substr(0, kCopyBlockSize));
    EXPECT_EQ(ReadFile(src / "late"), content.substr(0, 1000));
}

TEST(ChangingSource, AnEntryRemovedAfterItsDirectoryWasReadHasNoType) {
    TempDir src, dst;
    MakeDir(src / "d");
    WriteFile(src / "d/a", "a");
    WriteFile(src / "d/b", "b");
    WriteFile(src / "d/c", "c");
    // a is copied (one flip for its empty track, 20 for its cells), then b goes.
    OperationRun copy = RunFileOperation([&] {
        ScriptOnFlip(21, [&] { unlink((src / "d/b").c_str()); });
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
    });
    EXPECT_EQ(copy.result, 0);
    EXPECT_EQ(copy.popups, 1);
    EXPECT_EQ(copy.drawn, "aunknown file type");
    EXPECT_EQ(ReadFile(dst / "d/a"), "a");
    EXPECT_FALSE(Exists(dst / "d/c"));
    EXPECT_EQ(ReadFile(src / "d/c"), "c");
}

// CountDir opens the directory first, SeekDir second.
TEST(ChangingDirectory, EntriesAddedBetweenCountAndReadingCrowdOutNoneThatWereThere) {
    TempDir src, dst;
    MakeDir(src / "d");
    WriteFile(src / "d/m", "m");
    OperationRun copy = RunFileOperation([&] {
        ScriptOnOpenDir(2, [&] {
            for (const char *name : {"a", "b", "c"})
                WriteFile(src / "d/" + name, name);
        });
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
    });
    // Counted were ../ and m; a table of two names would hold ../ and a, and m, which was there
    // all along, would be missing from a copy that reports success.
    EXPECT_EQ(copy.result, 1);
    EXPECT_EQ(copy.popups, 0);
    for (const char *name : {"a", "b", "c", "m"})
        EXPECT_EQ(ReadFile(dst / "d/" + name), name) << name;

    // A delete that cannot see every entry cannot remove the directory, and says so.
    MakeDir(src / "e");
    WriteFile(src / "e/m", "m");
    OperationRun removal = RunFileOperation([&] {
        ScriptOnOpenDir(2, [&] { WriteFile(src / "e/a", "a"); });
        return DeleteDirEntry(src.path.c_str(), "e/");
    });
    EXPECT_EQ(removal.result, 0);
    EXPECT_EQ(removal.popups, 1);
    EXPECT_EQ(removal.drawn, "rmdir() failed");
    EXPECT_EQ(ReadFile(src / "e/m"), "m");
    EXPECT_FALSE(Exists(src / "e/a"));
}

TEST(ChangingDirectory, EntriesRemovedBetweenCountAndReadingAreNotVisited) {
    TempDir src, dst;
    MakeDir(src / "d");
    for (const char *name : {"a", "b", "c"})
        WriteFile(src / "d/" + name, name);
    OperationRun copy = RunFileOperation([&] {
        ScriptOnOpenDir(2, [&] { unlink((src / "d/b").c_str()); });
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
    });
    EXPECT_EQ(copy.result, 1);
    EXPECT_EQ(copy.popups, 0);
    EXPECT_EQ(copy.drawn, "ac");
    EXPECT_FALSE(Exists(dst / "d/b"));
}

TEST(ChangingDirectory, ADirectoryRemovedBetweenCountAndReadingEndsTheProcess) {
    TempDir src, dst;
    MakeDir(src / "d");
    WriteFile(src / "keep", "keep");
    OperationRun copy = RunFileOperation([&] {
        ScriptOnOpenDir(2, [&] { rmdir((src / "d").c_str()); });
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
    });
    EXPECT_EQ(copy.status, 1);
    EXPECT_NE(copy.out.find("error: cannot open dir " + src.path + "/d/\n"), std::string::npos)
        << copy.out;
    EXPECT_EQ(ReadFile(src / "keep"), "keep");
}

// Stand-ins for df and du first on the path, printing what a test put in their report files.
struct Reports {
    TempDir dir;
    std::string old_path = getenv("PATH");
    Reports() {
        WriteFile(dir / "df", "#!/bin/sh\nexec /bin/cat \"$DF_REPORT\"\n");
        WriteFile(dir / "du", "#!/bin/sh\nexec /bin/cat \"$DU_REPORT\"\n");
        chmod((dir / "df").c_str(), 0755);
        chmod((dir / "du").c_str(), 0755);
        setenv("DF_REPORT", (dir / "df-report").c_str(), 1);
        setenv("DU_REPORT", (dir / "du-report").c_str(), 1);
        setenv("PATH", dir.path.c_str(), 1);
    }
    ~Reports() { setenv("PATH", old_path.c_str(), 1); }
};

// Shows the disk popup in a child, closed by A; the result and what it drew.
static OperationRun ShowDisk(const std::string &directory) {
    return RunFileOperation([&] { return PopupDiskInfo(230, 120, directory.c_str()); });
}

TEST(DiskReports, GarbageIsShownAsPrintedOrNotAtAllButNeverReadPastItsBuffers) {
    Reports reports;
    // A /boot line of two words, words longer than 49 bytes, and a line longer than the buffer.
    WriteFile(reports.dir / "df-report", "x /boot\n" + std::string(60, 'w') +
                                             " 1G 2G 3G 4% /boot/efi " + std::string(400, 'z') +
                                             "\n");
    WriteFile(reports.dir / "du-report", "9K\t" + std::string(70, 'p') + "\n");
    OperationRun run = ShowDisk("/");
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.popups, 0);
    std::string word(49, 'p');
    EXPECT_NE(run.drawn.find("Size: 1G  Used: 2G  Avail: 3G"), std::string::npos) << run.drawn;
    EXPECT_NE(run.drawn.find(word), std::string::npos);
    EXPECT_EQ(run.drawn.find(word + "p"), std::string::npos);

    // Bytes that are no text at all, NULs, no line feed at the end.
    std::string binary = "/boot";
    for (int i = 0; i < 3000; i++)
        binary += static_cast<char>(i * 37 % 256);
    WriteFile(reports.dir / "df-report", binary);
    WriteFile(reports.dir / "du-report", std::string("12M\t/a\0b", 8));
    OperationRun garbage = ShowDisk("/");
    EXPECT_EQ(garbage.status, 0);
    EXPECT_EQ(garbage.result, 1);
    EXPECT_NE(garbage.drawn.find("/a  total 12M"), std::string::npos) << garbage.drawn;

    // Many megabytes: only the last line counts.
    std::string many;
    for (int i = 0; i < 100000; i++)
        many += std::to_string(i) + "K\t/some/where/" + std::to_string(i) + "\n";
    WriteFile(reports.dir / "du-report", many + "77M\t/the/end");
    WriteFile(reports.dir / "df-report", "");
    OperationRun long_report = ShowDisk("/");
    EXPECT_EQ(long_report.result, 1);
    EXPECT_EQ(long_report.drawn, "Reading...Size: ?  Used: ?  Avail: ?  ? used/the/end  total 77M");
}
