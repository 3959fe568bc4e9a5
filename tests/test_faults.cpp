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
