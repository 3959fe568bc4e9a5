// The file operations on real trees: permission bits, existing names, the copy's bar and its
// failures, a destination past its size limit, a folder that grows while it is copied, and copies
// and deletes of random trees checked byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/fs/copyfile.h"
#include "app/fs/copytree.h"
#include "app/fs/fileops.h"
#include "app/fs/listing.h"
#include "app/infopopups.h"
#include "common/globals.h"
#include "common/limits.h"
#include "input/input.h"
#include "tests/harness.h"
#include "tests/random_tree.h"

static mode_t ModeOf(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

TEST(CopyDirEntry, ACopyIsNoMoreOpenThanItsSource) {
    // Permission bits of the source, less the creation mask, and nothing else of it.
    struct Case {
        mode_t mask;
        mode_t dir, file;               // the source's
        mode_t copied_dir, copied_file; // the copy's
    };
    const Case cases[] = {
        {022, 0700, 0600, 0700, 0600}, // a private key in a private folder
        {022, 0755, 0755, 0755, 0755}, // a program stays runnable
        {022, 0777, 0666, 0755, 0644},   {077, 0755, 0755, 0700, 0700},
        {022, 0555, 0444, 0555, 0444},   // read-only, yet filled
        {002, 02775, 04775, 0775, 0775}, // special bits are not carried over
    };
    for (const Case &c : cases) {
        TempDir src, dst;
        MakeDir(src / "d");
        WriteFile(src / "d/f", "f");
        chmod((src / "d/f").c_str(), c.file);
        chmod((src / "d").c_str(), c.dir);
        OperationRun copy = RunFileOperation([&] {
            umask(c.mask);
            return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
        });
        EXPECT_EQ(copy.result, 1) << std::oct << c.dir;
        EXPECT_EQ(ReadFile(dst / "d/f"), "f") << std::oct << c.dir;
        EXPECT_EQ(ModeOf(dst / "d"), c.copied_dir) << std::oct << c.dir;
        EXPECT_EQ(ModeOf(dst / "d/f"), c.copied_file) << std::oct << c.file;
        chmod((src / "d").c_str(), 0700);
        chmod((dst / "d").c_str(), 0700);
    }
}

TEST(CopyAndMove, NeverWriteOverAnExistingName) {
    TempDir src, dst;
    WriteFile(src / "f", "new");
    MakeDir(src / "d");
    WriteFile(src / "d/n", "new");
    WriteFile(dst / "f", "old");
    // Dated past what a 32-bit time holds: a query that cannot tell must not mean "free".
    struct timespec later[2] = {{2208988800, 0}, {2208988800, 0}};
    utimensat(AT_FDCWD, (dst / "f").c_str(), later, 0);
    MakeDir(dst / "d");
    WriteFile(dst / "d/keep", "old");
    symlink((dst / "nowhere").c_str(), (dst / "g").c_str());
    WriteFile(src / "g", "new");

    OperationRun file =
        RunFileOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "f"); });
    EXPECT_EQ(file.result, 0);
    EXPECT_EQ(file.popups, 1);
    EXPECT_EQ(file.drawn, dst.path + "/f already exists");
    EXPECT_EQ(ReadFile(dst / "f"), "old");

    OperationRun dir =
        RunFileOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/"); });
    EXPECT_EQ(dir.drawn, dst.path + "/d/ already exists");
    EXPECT_FALSE(Exists(dst / "d/n"));

    // A dangling link is a name there too; nothing is written through it.
    OperationRun link =
        RunFileOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "g"); });
    EXPECT_EQ(link.drawn, dst.path + "/g already exists");
    EXPECT_FALSE(Exists(dst / "nowhere"));

    OperationRun move =
        RunFileOperation([&] { return MoveDirEntry(dst.path.c_str(), src.path.c_str(), "f"); });
    EXPECT_EQ(move.result, 0);
    EXPECT_EQ(move.drawn, dst.path + "/f already exists");
    EXPECT_EQ(ReadFile(src / "f"), "new");
}

TEST(CopyFile, FailingWritesAndReadsAreReportedAsSuch) {
    TempDir tmp;
    std::string big(1048576 + 200, 'x');
    WriteFile(tmp / "big", big);
    // A copy from another file system takes the plain path instead of the kernel's.
    std::string shm = "/dev/shm/zorvel-fileops-" + std::to_string(getpid());
    if (mkdir(shm.c_str(), 0700) == 0) {
        WriteFile(shm + "/big", big);
        MakeDir(tmp / "across");
        OperationRun across = RunFileOperation(
            [&] { return CopyDirEntry((tmp / "across").c_str(), shm.c_str(), "big"); });
        EXPECT_EQ(across.result, 1);
        EXPECT_TRUE(ReadFile(tmp / "across/big") == big);
    }
    // A file size limit makes the destination fail after its first block.
    for (const std::string &source_dir : {tmp.path, shm}) {
        if (!Exists(source_dir + "/big"))
            continue;
        std::string dest_dir = tmp / ("limited" + std::to_string(source_dir == shm));
        MakeDir(dest_dir);
        OperationRun limited = RunFileOperation([&] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {1048576 + 100, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &limit);
            return CopyDirEntry(dest_dir.c_str(), source_dir.c_str(), "big");
        });
        EXPECT_EQ(limited.result, 0) << source_dir;
        EXPECT_EQ(limited.popups, 1) << source_dir;
        EXPECT_EQ(limited.drawn, "bigwrite " + dest_dir + "/big failed");
        EXPECT_LE(ReadFile(dest_dir + "/big").size(), 1048576u + 100);
    }
    unlink((shm + "/big").c_str());
    rmdir(shm.c_str());

    // A process's own memory opens but cannot be read at offset 0.
    MakeDir(tmp / "mem");
    OperationRun unreadable =
        RunFileOperation([&] { return CopyDirEntry((tmp / "mem").c_str(), "/proc/self", "mem"); });
    EXPECT_EQ(unreadable.result, 0);
    EXPECT_EQ(unreadable.popups, 1);
    EXPECT_EQ(unreadable.drawn, "memread /proc/self/mem failed");
}

// Hundreds of levels may cost a few MiB; the 500-name tables of a naive level would cost 80.
// Under the address sanitizer its shadow memory and its quarantine of freed blocks add more.
#if defined(__SANITIZE_ADDRESS__)
static const long kPeakGrowthKiB = 48 * 1024;
#else
static const long kPeakGrowthKiB = 8 * 1024;
#endif

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

// A copy of more files than the process may open names the waiting ones first.
TEST(StorageFaults, AFullDiskASizeLimitAndAFailingCardLeaveOnlyAnUnfinishedFile) {
    // Each destination gives out partway through the file: a 1 MiB file system, a 5 MiB limit on
    // a file's size (as FAT's below 4 GiB), a card whose writes fail on their way to the device.
    TempDir src, limited;
    const std::string big = Pattern(12 * 1024 * 1024);
    WriteFile(src / "big", big);
    SmallDisk full("size=1m");
    FailingCard card;
    const rlim_t none = RLIM_INFINITY, limit = 5 * 1024 * 1024;
    const struct {
        const char *what;
        std::string dir;
        bool ready; // false where mounting is refused
        rlim_t size_limit;
        Kernel answers; // the console's writes its copies under unfinished names from the start
    } cases[] = {{"full disk", full.point.path, full.mounted, none, Kernel::kCurrent},
                 {"size limit", limited.path, true, limit, Kernel::kOld},
                 {"failing card", card.point.path, card.mounted, none, Kernel::kCurrent}};
    for (const auto &c : cases) {
        if (!c.ready)
            continue;
        OperationRun copy = RunFileOperation([&] {
            SetKernel(c.answers);
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit size = {c.size_limit, c.size_limit};
            setrlimit(RLIMIT_FSIZE, &size);
            return CopyDirEntry(c.dir.c_str(), src.path.c_str(), "big");
        });
        EXPECT_EQ(copy.result, 0) << c.what;
        EXPECT_EQ(copy.popups, 1) << c.what;
        EXPECT_EQ(copy.drawn, "bigwrite " + c.dir + "/big failed") << c.what;
        EXPECT_FALSE(Exists(c.dir + "/big")) << c.what;
        // What was written stays, under the name that says it is unfinished.
        std::string kept = ReadFile(c.dir + "/big.zorvel-part");
        EXPECT_GT(kept.size(), 0u) << c.what;
        EXPECT_TRUE(big.compare(0, kept.size(), kept) == 0) << c.what;
    }
    // Where the file fits, it is copied again without removing anything first.
    OperationRun retry = RunFileOperation(
        [&] { return CopyDirEntry(limited.path.c_str(), src.path.c_str(), "big"); });
    EXPECT_EQ(retry.result, 1);
    EXPECT_TRUE(ReadFile(limited / "big") == big);
    EXPECT_EQ(ReadFile(limited / "big.zorvel-part").size(), limit);
}

TEST(OpenFiles, ACopyOfMoreFilesThanTheProcessMayOpenNamesThemInTurns) {
    // A folder of one file after another: each needs a descriptor to be listed while the
    // copies before it wait, open.
    TempDir src;
    MakeDir(src / "d");
    for (int i = 0; i < 60; i++) {
        MakeDir(src / ("d/s" + std::to_string(i)));
        WriteFile(src / ("d/s" + std::to_string(i) + "/f"), std::to_string(i));
    }
    for (Kernel answers : {Kernel::kCurrent, Kernel::kOld}) {
        TempDir dst;
        OperationRun copy = RunFileOperation([&] {
            SetKernel(answers);
            struct rlimit open_files = {32, 32};
            setrlimit(RLIMIT_NOFILE, &open_files);
            // Most of them already taken elsewhere in the process: 8 are left.
            for (int descriptor = dup(0); descriptor >= 0 && descriptor < 23;)
                descriptor = dup(0);
            return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
        });
        EXPECT_EQ(copy.result, 1);
        EXPECT_EQ(copy.popups, 0);
        for (int i = 0; i < 60; i++)
            EXPECT_EQ(ReadFile(dst / ("d/s" + std::to_string(i) + "/f")), std::to_string(i)) << i;
    }
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
    // A copy that wrote the holes out instead would fill the disk: it stops at 64 MiB.
    OperationRun copy = RunFileOperation([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit size = {64 << 20, 64 << 20};
        setrlimit(RLIMIT_FSIZE, &size);
        return CopyDirEntry(dst.path.c_str(), disk.point.path.c_str(), "far");
    });
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

static const int kTrees = 240;
static const uint32_t kSeed = 20240607;
// Depth of the random trees below their top entry, and entries made in one directory.
static const int kDepth = 3;
static const int kEntriesPerDir = 5;

// What a tree holds, path by path, links not followed: type, permission bits, target, bytes.
using Snapshot = std::map<std::string, std::string>;

static void Record(const std::string &path, const std::string &key, Snapshot &snapshot) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0)
        return;
    std::string mode = std::to_string(status.st_mode);
    if (S_ISDIR(status.st_mode)) {
        snapshot[key] = "dir " + mode;
        DIR *dir = opendir(path.c_str());
        if (dir == nullptr)
            return;
        std::vector<std::string> names;
        while (const dirent *entry = readdir(dir))
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(dir);
        for (const std::string &name : names)
            Record(path + "/" + name, key + "/" + name, snapshot);
    } else if (S_ISREG(status.st_mode)) {
        std::string content = ReadFile(path);
        snapshot[key] = "file " + mode + " " + std::to_string(content.size()) + " " +
                        std::to_string(std::hash<std::string>()(content));
    } else if (S_ISLNK(status.st_mode)) {
        char target[kPathSize] = "";
        ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        snapshot[key] = "link " + std::string(target, length > 0 ? length : 0);
    } else {
        snapshot[key] = "other " + mode;
    }
}

static Snapshot Take(const std::string &path) {
    Snapshot snapshot;
    Record(path, "", snapshot);
    return snapshot;
}

// The snapshot without the entry at key and everything under it.
static Snapshot Without(Snapshot snapshot, const std::string &key) {
    for (auto it = snapshot.begin(); it != snapshot.end();) {
        bool under = it->first == key || it->first.compare(0, key.size() + 1, key + "/") == 0;
        it = under ? snapshot.erase(it) : std::next(it);
    }
    return snapshot;
}

// The first path where two snapshots differ, or empty when they are the same.
static std::string FirstDifference(const Snapshot &before, const Snapshot &after) {
    for (const auto &entry : before) {
        auto found = after.find(entry.first);
        if (found == after.end())
            return "gone: " + entry.first;
        if (found->second != entry.second)
            return "changed: " + entry.first;
    }
    for (const auto &entry : after)
        if (before.find(entry.first) == before.end())
            return "new: " + entry.first;
    return "";
}

// The listed names of a directory as a pane shows them.
static std::vector<std::string> Listed(const std::string &dir) {
    int count = CountDir(dir.c_str());
    auto table = std::make_unique<EntryName[]>(count);
    int stored = SeekDir(dir.c_str(), table.get(), count);
    return std::vector<std::string>(table.get(), table.get() + stored);
}

// Whether the directory holds a directory whose name leaves no room for its "/": the listing
// leaves it out, so a copy stops there and a delete cannot empty the directory.
static bool HoldsUnlisted(const std::string &dir) {
    int count = CountDir(dir.c_str());
    auto table = std::make_unique<EntryName[]>(count);
    int left_out = 0;
    SeekDir(dir.c_str(), table.get(), count, &left_out);
    return left_out > 0;
}

static bool Fits(const std::string &dir, const std::string &name) {
    return dir.size() + name.size() + 2 <= kPathSize;
}

// Whether copying the listed name of source_dir into dest_dir must succeed: every entry it
// reaches (links followed) is a directory or a regular file and every path fits.
static bool CopyMustSucceed(const std::string &dest_dir, const std::string &source_dir,
                            const std::string &name) {
    if (!Fits(dest_dir, name) || !Fits(source_dir, name))
        return false;
    std::string source = source_dir + "/" + name, dest = dest_dir + "/" + name;
    struct stat status;
    if (stat(source.c_str(), &status) != 0)
        return false;
    if (S_ISREG(status.st_mode))
        return true;
    if (!S_ISDIR(status.st_mode) || HoldsUnlisted(source))
        return false;
    for (const std::string &entry : Listed(source))
        if (entry != "../" && !CopyMustSucceed(dest, source, entry))
            return false;
    return true;
}

static std::vector<std::string> Bare(std::vector<std::string> names) {
    for (std::string &name : names)
        if (!name.empty() && name.back() == '/')
            name.pop_back();
    return names;
}

// Whether what a copy made at dest matches the source (links followed) where it exists: the same
// types and bytes. complete also wants every source entry there.
static std::string CompareCopy(const std::string &dest, const std::string &source, bool complete) {
    struct stat made, original;
    if (lstat(dest.c_str(), &made) != 0)
        return complete ? "missing: " + dest : "";
    if (stat(source.c_str(), &original) != 0)
        return "no source for: " + dest;
    if (S_ISREG(original.st_mode)) {
        if (!S_ISREG(made.st_mode))
            return "not a file: " + dest;
        return ReadFile(dest) == ReadFile(source) ? "" : "other bytes: " + dest;
    }
    if (!S_ISDIR(made.st_mode) || !S_ISDIR(original.st_mode))
        return "not a directory: " + dest;
    // A link to a directory is listed without the "/" that its copy, a directory, has.
    std::vector<std::string> made_names = Bare(Listed(dest)), source_names = Bare(Listed(source));
    for (const std::string &name : made_names)
        if (std::find(source_names.begin(), source_names.end(), name) == source_names.end())
            return "not in the source: " + dest + "/" + name;
    for (const std::string &name : source_names)
        if (name != "..") {
            std::string difference = CompareCopy(dest + "/" + name, source + "/" + name, complete);
            if (!difference.empty())
                return difference;
        }
    return "";
}

// Whether deleting the entry at path (links not followed) must succeed: no entry under it is
// anything but a directory, a regular file or a link.
static bool DeleteMustSucceed(const std::string &path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0)
        return false;
    if (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode))
        return true;
    if (!S_ISDIR(status.st_mode) || HoldsUnlisted(path))
        return false;
    for (const std::string &name : Listed(path))
        if (name != "../" && !DeleteMustSucceed(path + "/" + name))
            return false;
    return true;
}

// Trees live in memory where there is room: a disk makes every unlink cost.
static std::string TreeParent() {
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

// One random tree: src/ holds the entry to copy, dst/ the place it goes to (now and then with
// that name taken), outside/ what links point out to.
struct Tree {
    TempDir root{TreeParent()};
    std::string top;

    Tree(Random &random, int number) {
        MakeDir(root / "outside");
        MakeDir(root / "outside/dir");
        WriteFile(root / "outside/dir/inner", "inner");
        WriteFile(root / "outside/file", "outside");
        MakeDir(root / "src");
        MakeDir(root / "dst");
        Targets outside = {{root / "outside/file"}, {root / "outside/dir"}};
        Targets inside;
        int serial = 0;
        top = MakeName(random, number);
        std::string path = root / ("src/" + top);
        if (random.OneIn(8)) {
            Populate(random, root / "src", 0, kEntriesPerDir, inside, outside, serial);
            for (const std::string &name : Listed(root / "src"))
                if (name != "../") {
                    top = name.back() == '/' ? name.substr(0, name.size() - 1) : name;
                    break;
                }
        } else {
            MakeDir(path);
            Populate(random, path, kDepth, kEntriesPerDir, inside, outside, serial);
            // Now and then a link to the top from inside: copies of it nest until the system
            // stops following.
            if (random.OneIn(60))
                symlink(path.c_str(), (path + "/loop").c_str());
        }
        if (random.OneIn(6))
            WriteFile(root / ("dst/" + top), "taken");
        if (random.OneIn(12))
            symlink((root / "dst/nowhere").c_str(), (root / ("dst/" + top)).c_str());
        WriteFile(root / "dst/neighbour", "neighbour");
    }
    // The name of the top entry as a pane lists it in src/.
    std::string ListedTop() {
        for (const std::string &name : Listed(root / "src"))
            if (name == top || name == top + "/")
                return name;
        return top;
    }
};

TEST(TreeProperties, CopiesAndDeletesOfRandomTrees) {
    ASSERT_TRUE(OpenTestDisplay());
    Random random(kSeed);
    int copied = 0, refused = 0, deleted = 0, kept = 0;
    for (int number = 0; number < kTrees; number++) {
        Tree tree(random, number);
        std::string src = tree.root / "src", dst = tree.root / "dst";
        std::string name = tree.ListedTop();
        std::string entry = tree.top;
        bool taken = Exists(dst + "/" + entry);
        Snapshot before = Take(tree.root.path);
        bool must_copy = !taken && CopyMustSucceed(dst, src, name);

        OperationRun copy =
            RunFileOperation([&] { return CopyDirEntry(dst.c_str(), src.c_str(), name.c_str()); });
        ASSERT_EQ(copy.status, 0) << "tree " << number;
        EXPECT_EQ(copy.result, must_copy ? 1 : 0) << "tree " << number << " " << name;
        EXPECT_EQ(copy.popups, copy.result == 1 ? 0 : 1) << "tree " << number;
        Snapshot after = Take(tree.root.path);
        if (taken) {
            EXPECT_EQ(FirstDifference(before, after), "") << "tree " << number;
        } else {
            std::string made = "/dst/" + entry;
            EXPECT_EQ(FirstDifference(Without(before, made), Without(after, made)), "")
                << "tree " << number;
            EXPECT_EQ(CompareCopy(dst + "/" + entry, src + "/" + entry, copy.result == 1), "")
                << "tree " << number;
        }
        copy.result == 1 ? copied++ : refused++;

        // Delete one entry of the source, chosen among all, as its directory lists it.
        std::vector<std::string> keys;
        for (const auto &item : after)
            if (item.first.compare(0, 5, "/src/") == 0)
                keys.push_back(item.first);
        if (keys.empty())
            continue;
        std::string key = keys[random.Below(keys.size())];
        std::string parent = tree.root.path + key.substr(0, key.rfind('/'));
        std::string base = key.substr(key.rfind('/') + 1);
        std::string listed = base;
        for (const std::string &candidate : Listed(parent))
            if (candidate == base + "/")
                listed = candidate;
        bool must_delete = DeleteMustSucceed(tree.root.path + key);
        OperationRun removal =
            RunFileOperation([&] { return DeleteDirEntry(parent.c_str(), listed.c_str()); });
        ASSERT_EQ(removal.status, 0) << "tree " << number;
        EXPECT_EQ(removal.result, must_delete ? 1 : 0) << "tree " << number << " " << key;
        EXPECT_EQ(removal.popups, removal.result == 1 ? 0 : 1) << "tree " << number;
        EXPECT_EQ(Exists(tree.root.path + key), removal.result != 1) << "tree " << number;
        Snapshot last = Take(tree.root.path);
        EXPECT_EQ(FirstDifference(Without(after, key), Without(last, key)), "")
            << "tree " << number << " " << key;
        removal.result == 1 ? deleted++ : kept++;
    }
    CloseTestDisplay();
    // The trees must have tried both outcomes of both operations, many times.
    EXPECT_GT(copied, kTrees / 4);
    EXPECT_GT(refused, kTrees / 10);
    EXPECT_GT(deleted, kTrees / 2);
    EXPECT_GT(kept, kTrees / 20);
    printf("trees %d: copies %d done %d refused; deletes %d done %d refused\n", kTrees, copied,
           refused, deleted, kept);
}
