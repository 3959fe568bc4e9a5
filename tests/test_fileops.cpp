// The file operations on real trees: permission bits, existing names, the copy's failures (a
// destination that cannot even seek where the data lies among them), a folder that grows while
// it is copied, and copies and deletes of random trees checked byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/fs/copytree.h"
#include "app/fs/fileops.h"
#include "app/fs/listing.h"
#include "common/limits.h"
#include "tests/harness.h"
#include "tests/random_tree.h"

static mode_t ModeOf(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// A folder in memory where there is one (another file system than /tmp, and no disk to make
// every unlink cost).
static std::string MemoryDir() {
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
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
    WriteFile(src / "g", "new");
    WriteFile(dst / "f", "old");
    // Dated past what a 32-bit time holds: a query that cannot tell must not mean "free".
    struct timespec later[2] = {{2208988800, 0}, {2208988800, 0}};
    utimensat(AT_FDCWD, (dst / "f").c_str(), later, 0);
    MakeDir(dst / "d");
    // A dangling link is a name there too; nothing is written through it.
    symlink((dst / "nowhere").c_str(), (dst / "g").c_str());
    const struct {
        bool move;
        std::string name, untouched, content; // the file that keeps its content
    } cases[] = {{false, "f", dst / "f", "old"},
                 {false, "d/", dst / "d/n", ""},
                 {false, "g", dst / "nowhere", ""},
                 {true, "f", src / "f", "new"}};
    for (const auto &c : cases) {
        OperationRun run = RunFileOperation([&] {
            return (c.move ? MoveDirEntry : CopyDirEntry)(dst.path.c_str(), src.path.c_str(),
                                                          c.name.c_str());
        });
        EXPECT_EQ(run.result, 0) << c.name;
        EXPECT_EQ(run.popups, 1) << c.name;
        EXPECT_EQ(run.drawn, dst / c.name + " already exists");
        EXPECT_EQ(ReadFile(c.untouched), c.content) << c.name;
    }
    EXPECT_EQ(ReadFile(dst / "f"), "old");
}

// Storage that gives out partway through a copy, mounted for one test: a 1 MiB file system, and
// a card whose writes fail only on their way to the device (a worn or loose card: a 32 MiB ext2
// on a loop device whose backing file lives on a 3 MiB file system). path stays empty where
// mounting is refused (not root, or a container without the right).
struct FailingStorage {
    TempDir point, backing;
    std::string path, device;
    explicit FailingStorage(bool card) {
        if (mount("tmpfs", (card ? backing : point).path.c_str(), "tmpfs", 0,
                  card ? "size=3m" : "size=1m") != 0)
            return;
        if (!card) {
            path = point.path;
            return;
        }
        FILE *output = popen(("truncate -s 32M " + backing / "img" + " && mkfs.ext2 -q -F -m 0 " +
                              backing / "img" + " >/dev/null 2>&1 && losetup -f --show " +
                              backing / "img" + " 2>/dev/null")
                                 .c_str(),
                             "r");
        char line[256] = "";
        if (output == nullptr || fgets(line, sizeof line, output) == nullptr)
            line[0] = '\0';
        if (output != nullptr)
            pclose(output);
        device = std::string(line, strcspn(line, "\n"));
        if (!device.empty() &&
            mount(device.c_str(), point.path.c_str(), "ext2", 0, "errors=continue") == 0)
            path = point.path;
    }
    ~FailingStorage() {
        umount2(point.path.c_str(), MNT_DETACH);
        if (!device.empty())
            system(("losetup -d " + device + " 2>/dev/null").c_str());
        umount2(backing.path.c_str(), MNT_DETACH);
    }
};

TEST(CopyFile, FailingWritesAndReadsAreReportedAsSuch) {
    TempDir disk, memory(MemoryDir());
    const std::string big = Pattern(kCopyBlockSize + 200);
    WriteFile(disk / "big", big);
    WriteFile(memory / "big", big);
    // A sparse file whose data lies 64 TiB in, where the destination's file system cannot even
    // seek; a copy that wrote its holes out would stop at the 64 MiB limit instead.
    int far = open((memory / "far").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(pwrite(far, "data", 4, off_t{1} << 46), 4);
    close(far);
    // A copy from another file system takes the plain path instead of the kernel's; a file size
    // limit makes the destination fail after its first block; a process's own memory opens but
    // cannot be read at offset 0.
    // A full disk, and a failing card that takes more than its device holds.
    FailingStorage full(false), card(true);
    const std::string huge = Pattern(12 << 20);
    WriteFile(disk / "huge", huge);
    const rlim_t none = RLIM_INFINITY, limit = kCopyBlockSize + 100;
    const struct {
        std::string source_dir, name;
        rlim_t size_limit;
        std::string failed;                   // "", "write" or "read"
        Kernel answers = Kernel::kCurrent;    // the console's names its copies from the start
        const std::string *mounted = nullptr; // written there instead of a fresh folder
    } cases[] = {{memory.path, "big", none, ""},
                 {disk.path, "big", limit, "write", Kernel::kOld},
                 {memory.path, "big", limit, "write"},
                 {memory.path, "far", 64 << 20, "write"},
                 {"/proc/self", "mem", none, "read"},
                 {disk.path, "big", none, "write", Kernel::kCurrent, &full.path},
                 {disk.path, "huge", none, "write", Kernel::kCurrent, &card.path}};
    for (const auto &c : cases) {
        if (c.mounted != nullptr && c.mounted->empty())
            continue; // mounting is refused here
        TempDir made;
        const std::string dest = c.mounted != nullptr ? *c.mounted : made.path;
        OperationRun copy = RunFileOperation([&] {
            SetKernel(c.answers);
            signal(SIGXFSZ, SIG_IGN);
            rlimit size = {c.size_limit, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &size);
            return CopyDirEntry(dest.c_str(), c.source_dir.c_str(), c.name.c_str());
        });
        std::string at = (c.failed == "read" ? c.source_dir : dest) + "/" + c.name;
        EXPECT_EQ(copy.drawn, c.name + (c.failed.empty() ? "" : c.failed + " " + at + " failed"));
        EXPECT_EQ(copy.result, c.failed.empty()) << at;
        EXPECT_EQ(copy.popups, !c.failed.empty()) << at;
        EXPECT_EQ(Exists(dest + "/" + c.name), c.failed.empty()) << at;
        EXPECT_TRUE(!c.failed.empty() || ReadFile(dest + "/" + c.name) == big) << at;
        if (c.failed == "write" && c.name != "far") { // what was written stays, named so
            std::string kept = ReadFile(dest + "/" + c.name + ".zorvel-part");
            EXPECT_GT(kept.size(), 0u) << at;
            EXPECT_TRUE((c.name == "big" ? big : huge).compare(0, kept.size(), kept) == 0) << at;
        }
    }
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

static const int kTrees = 240;
static const uint32_t kSeed = 20240607;
// Depth of the random trees below their top entry, and entries made in one directory.
static const int kDepth = 3, kEntriesPerDir = 5;

// What a tree holds, path by path, links not followed: permission bits and type, target, bytes;
// the entry at skip and everything under it left out.
using Snapshot = std::map<std::string, std::string>;
static void Record(const std::string &path, const std::string &key, const std::string &skip,
                   Snapshot &snapshot) {
    struct stat status;
    if (key == skip || lstat(path.c_str(), &status) != 0)
        return;
    std::string &line = snapshot[key] = std::to_string(status.st_mode);
    if (S_ISREG(status.st_mode)) {
        std::string content = ReadFile(path);
        line += " " + std::to_string(content.size()) + " " +
                std::to_string(std::hash<std::string>()(content));
    } else if (S_ISLNK(status.st_mode)) {
        char target[kPathSize] = "";
        line += " " + std::string(target,
                                  std::max<ssize_t>(readlink(path.c_str(), target, kPathSize), 0));
    } else if (S_ISDIR(status.st_mode)) {
        for (const std::string &name : Names(path))
            Record(path + "/" + name, key + "/" + name, skip, snapshot);
    }
}

static Snapshot Take(const std::string &root, const std::string &skip = "none") {
    Snapshot snapshot;
    Record(root, "", skip, snapshot);
    return snapshot;
}

// The listed names of a directory as a pane shows them, counting into left_out the directories
// whose names leave no room for their "/": a copy stops there and a delete cannot empty it.
static std::vector<std::string> Listed(const std::string &dir, int *left_out = nullptr) {
    int count = CountDir(dir.c_str());
    auto table = std::make_unique<EntryName[]>(count);
    int stored = SeekDir(dir.c_str(), table.get(), count, left_out);
    return std::vector<std::string>(table.get(), table.get() + stored);
}

// Whether copying path to dest (links followed) or deleting path (links not followed) must
// succeed: every entry it reaches is a directory that lists all it holds, a regular file or, for
// a delete, a link; for a copy, every path fits.
static bool MustSucceed(const std::string &path, const std::string &dest, bool copy) {
    struct stat status;
    if (copy && (path.size() >= kPathSize || dest.size() >= kPathSize))
        return false;
    if ((copy ? stat(path.c_str(), &status) : lstat(path.c_str(), &status)) != 0)
        return false;
    if (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode))
        return true;
    if (!S_ISDIR(status.st_mode))
        return false;
    int left_out = 0;
    std::vector<std::string> names = Listed(path, &left_out);
    if (left_out > 0)
        return false;
    for (const std::string &name : names)
        if (name != "../" && !MustSucceed(path + "/" + name, dest + "/" + name, copy))
            return false;
    return true;
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
    auto bare = [](std::vector<std::string> names) {
        for (std::string &name : names)
            if (name.back() == '/')
                name.pop_back();
        return names;
    };
    std::vector<std::string> made_names = bare(Listed(dest)), source_names = bare(Listed(source));
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

// One random tree: src/ holds the entry to copy, dst/ the place it goes to (now and then with
// that name taken), outside/ what links point out to.
struct Tree {
    TempDir root{MemoryDir()};
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
        std::string name = tree.ListedTop(), entry = tree.top;
        bool taken = Exists(dst + "/" + entry);
        Snapshot before = Take(tree.root.path);
        bool must_copy = !taken && MustSucceed(src + "/" + name, dst + "/" + name, true);

        OperationRun copy =
            RunFileOperation([&] { return CopyDirEntry(dst.c_str(), src.c_str(), name.c_str()); });
        ASSERT_EQ(copy.status, 0) << "tree " << number;
        EXPECT_EQ(copy.result, must_copy ? 1 : 0) << "tree " << number << " " << name;
        EXPECT_EQ(copy.popups, copy.result == 1 ? 0 : 1) << "tree " << number;
        // Nothing changes but the new entry, and that matches its source.
        EXPECT_EQ(Take(tree.root.path, taken ? "none" : "/dst/" + entry), before) << number;
        if (!taken) {
            EXPECT_EQ(CompareCopy(dst + "/" + entry, src + "/" + entry, copy.result == 1), "")
                << "tree " << number;
        }
        copy.result == 1 ? copied++ : refused++;

        // Delete one entry of the source, chosen among all, as its directory lists it.
        std::vector<std::string> keys;
        for (const auto &item : Take(src))
            if (!item.first.empty())
                keys.push_back(item.first);
        if (keys.empty())
            continue;
        std::string key = keys[random.Below(keys.size())];
        std::string parent = src + key.substr(0, key.rfind('/'));
        std::string listed = key.substr(key.rfind('/') + 1);
        for (const std::string &candidate : Listed(parent))
            if (candidate == listed + "/")
                listed = candidate;
        bool must_delete = MustSucceed(src + key, "", false);
        Snapshot others = Take(tree.root.path, "/src" + key);
        OperationRun removal =
            RunFileOperation([&] { return DeleteDirEntry(parent.c_str(), listed.c_str()); });
        ASSERT_EQ(removal.status, 0) << "tree " << number;
        EXPECT_EQ(removal.result, must_delete ? 1 : 0) << "tree " << number << " " << key;
        EXPECT_EQ(removal.popups, removal.result == 1 ? 0 : 1) << "tree " << number;
        EXPECT_EQ(Exists(src + key), removal.result != 1) << "tree " << number;
        EXPECT_EQ(Take(tree.root.path, "/src" + key), others) << "tree " << number << " " << key;
        removal.result == 1 ? deleted++ : kept++;
    }
    CloseTestDisplay();
    // The trees must have tried both outcomes of both operations, many times.
    EXPECT_GT(copied, kTrees / 4);
    EXPECT_GT(refused, kTrees / 10);
    EXPECT_GT(deleted, kTrees / 2);
    EXPECT_GT(kept, kTrees / 20);
}
