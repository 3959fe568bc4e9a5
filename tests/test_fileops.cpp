// The file operations on real trees: permission bits, existing names, the copy's failures (a
// destination that cannot even seek where the data lies among them), a folder that grows while
// it is copied or has more entries than the process may open, and copies and deletes of random
// trees checked byte for byte, with the listing a pane makes of each of their folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>

#include "app/fs/copytree.h"
#include "app/fs/fileops.h"
#include "app/fs/listing.h"
#include "app/session.h"
#include "tests/harness.h"
#include "tests/random_tree.h"

static mode_t ModeOf(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// A folder in memory where there is one (another file system than /tmp, and no disk to make
// every unlink cost).
static const std::string kMemoryDir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";

// A folder's name that leaves no room for the "/" a listing gives it: no pane lists the folder.
static const size_t kUnlistedName = 255;
// A composed path holds at most 2047 bytes and its terminator.
static const size_t kLongestPath = 2047;

// What an operation showed: its result, the "Error" popups and the texts drawn.
static std::string Shown(const TestRun &run) {
    return std::to_string(run.result) + " " + std::to_string(run.popups) + " " + run.drawn;
}

static bool IsFolder(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// name as a pane in dir lists it: a folder with a "/" after it, where there is room.
static std::string Listed(const std::string &dir, const std::string &name) {
    return IsFolder(dir + "/" + name) && name.size() < kUnlistedName ? name + "/" : name;
}

// A pane lists a folder's "../" and folders, then everything else, each group by its bytes; a
// folder it has no room for, not at all.
static void ExpectPaneListing(const std::string &dir) {
    std::vector<std::string> listed = {"../"}, files;
    for (const std::string &name : Names(dir)) {
        bool folder = IsFolder(dir + "/" + name);
        if (!folder)
            files.push_back(name);
        else if (name.size() < kUnlistedName)
            listed.push_back(name + "/");
    }
    std::sort(listed.begin(), listed.end());
    listed.insert(listed.end(), files.begin(), files.end());
    int count = CountDir(dir.c_str());
    auto table = std::make_unique<EntryName[]>(count);
    int stored = SeekDir(dir.c_str(), table.get(), count);
    EXPECT_EQ(std::vector<std::string>(table.get(), table.get() + stored), listed) << dir;
}

// What stands under a path, entry by entry, by its path below it: its type (with its mode bits
// where links are not followed), a link's target, a digest of a file's bytes. The walk also
// tells whether a copy (links followed) or a delete (links not) of all it met must succeed: not
// with a pipe (the only other kind the trees hold), a missing entry, a folder no pane lists, nor
// a folder met again below itself or a path too long for a copy.
struct Walk {
    bool follow;
    std::string skip; // left out with everything under it
    bool fine = true;
    std::map<std::string, std::string> seen;
    std::vector<ino_t> up; // the folders the walk is in

    Walk(const std::string &path, bool follow_links, const std::string &left_out = "none")
        : follow(follow_links), skip(left_out) {
        Visit(path, "");
    }

    void Visit(const std::string &path, const std::string &key) {
        struct stat status;
        if (key == skip || (follow ? stat(path.c_str(), &status) : lstat(path.c_str(), &status))) {
            fine = fine && key == skip;
            return;
        }
        std::string &value = seen[key] = std::to_string(status.st_mode & (follow ? S_IFMT : ~0u));
        char target[4096] = "";
        if (S_ISLNK(status.st_mode) && readlink(path.c_str(), target, sizeof target - 1) > 0)
            value += target;
        if (S_ISREG(status.st_mode))
            value += std::to_string(std::hash<std::string>()(ReadFile(path)));
        // The key ends in the entry's name (at the top, empty, the subtraction gives 0).
        bool unlisted = IsFolder(path) && key.size() - key.rfind('/') - 1 >= kUnlistedName;
        bool again = std::count(up.begin(), up.end(), status.st_ino) > 0;
        fine =
            fine && !unlisted && !again && path.size() <= kLongestPath && !S_ISFIFO(status.st_mode);
        if (!S_ISDIR(status.st_mode) || again)
            return;
        if (!follow)
            ExpectPaneListing(path);
        up.push_back(status.st_ino);
        for (const std::string &name : Names(path))
            Visit(path + "/" + name, key + "/" + name);
        up.pop_back();
    }
};

TEST(CopyDirEntry, ACopyIsNoMoreOpenThanItsSource) {
    // Permission bits of the source, less the creation mask, and nothing else of it: a private
    // key in a private folder, a program stays runnable, a read-only folder is yet filled, and
    // special bits are not carried over.
    const struct {
        mode_t mask, dir, file, copied_dir, copied_file;
    } cases[] = {{022, 0700, 0600, 0700, 0600},
                 {022, 0777, 0666, 0755, 0644},
                 {077, 0755, 0755, 0700, 0700},
                 {022, 0555, 0444, 0555, 0444},
                 {002, 02775, 04775, 0775, 0775}};
    for (const auto &c : cases) {
        TempDir src, dst;
        MakeTree(src.path, {"d/", "d/f"});
        chmod((src / "d/f").c_str(), c.file);
        chmod((src / "d").c_str(), c.dir);
        TestRun copy = RunFileOperation([&] {
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
    TempDir root;
    std::string src = root / "src", dst = root / "dst";
    // A dangling link is a name there too; nothing is written through it.
    MakeTree(root.path, {"src/", "src/f=new", "src/d/", "src/d/n=new", "src/g=new", "dst/",
                         "dst/f=old", "dst/d/", "dst/g->" + dst + "/nowhere"});
    // Dated past what a 32-bit time holds: a query that cannot tell must not mean "free".
    struct timespec later[2] = {{2208988800, 0}, {2208988800, 0}};
    utimensat(AT_FDCWD, (dst + "/f").c_str(), later, 0);
    Walk before(root.path, false);
    const std::pair<decltype(&CopyDirEntry), std::string> cases[] = {
        {CopyDirEntry, "f"}, {CopyDirEntry, "d/"}, {CopyDirEntry, "g"}, {MoveDirEntry, "f"}};
    for (const auto &c : cases) {
        TestRun run =
            RunFileOperation([&] { return c.first(dst.c_str(), src.c_str(), c.second.c_str()); });
        EXPECT_EQ(Shown(run), "0 1 " + dst + "/" + c.second + " already exists");
        EXPECT_EQ(Walk(root.path, false).seen, before.seen) << c.second;
    }
}

TEST(CopyFile, FailingWritesAndReadsAreReportedAsSuch) {
    TempDir disk, memory(kMemoryDir);
    const std::string big = Pattern(kCopyBlockSize + 200), huge = Pattern(12 << 20);
    MakeTree(disk.path, {"big=" + big, "huge=" + huge});
    WriteFile(memory / "big", big);
    // A sparse file whose data lies 64 TiB in, where the destination's file system cannot even
    // seek; a copy that wrote its holes out would stop at the 64 MiB limit instead.
    int far = open((memory / "far").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(pwrite(far, "data", 4, off_t{1} << 46), 4);
    close(far);
    // Storage that gives out partway through a copy, mounted on the destination for its row: a
    // full 1 MiB file system, and a card whose writes fail only on their way to the device (a worn
    // or loose card: a 32 MiB ext2 on a loop device whose backing file lives on a 3 MiB file
    // system). Mounted with "$1" the backing folder and "$2" the destination.
    const std::string full = "mount -t tmpfs -o size=1m tmpfs $2",
                      card = "mount -t tmpfs -o size=3m tmpfs $1 && truncate -s 32M $1/i && "
                             "mkfs.ext2 -q -F -m 0 $1/i && mount -o loop,errors=continue $1/i $2";
    // A copy from another file system takes the plain path instead of the kernel's; a file size
    // limit makes the destination fail after its first block; a process's own memory opens but
    // cannot be read at offset 0.
    const rlim_t none = RLIM_INFINITY, limit = kCopyBlockSize + 100;
    const struct {
        std::string source_dir, name;
        rlim_t size_limit;
        std::string failed;                // "", "write" or "read"
        Kernel answers = Kernel::kCurrent; // the console's names its copies from the start
        std::string mount = "";
    } cases[] = {{memory.path, "big", none, ""},
                 {disk.path, "big", limit, "write", Kernel::kOld},
                 {memory.path, "big", limit, "write"},
                 {memory.path, "far", 64 << 20, "write"},
                 {"/proc/self", "mem", none, "read"},
                 {disk.path, "big", none, "write", Kernel::kCurrent, full},
                 {disk.path, "huge", none, "write", Kernel::kCurrent, card}};
    for (const auto &c : cases) {
        TempDir made, backing;
        const std::string &dest = made.path;
        // A loop device mounted so is let go with its last unmount.
        auto unmount = [&] {
            umount2(dest.c_str(), MNT_DETACH);
            umount2(backing.path.c_str(), MNT_DETACH);
        };
        std::string mount = "set -- " + backing.path + " " + dest + "; " + c.mount;
        if (!c.mount.empty() && system((mount + " >/dev/null 2>&1").c_str()) != 0) {
            unmount(); // mounting is refused here (not root, or a container without the right)
            continue;
        }
        TestRun copy = RunFileOperation([&] {
            SetKernel(c.answers);
            signal(SIGXFSZ, SIG_IGN);
            rlimit size = {c.size_limit, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &size);
            return CopyDirEntry(dest.c_str(), c.source_dir.c_str(), c.name.c_str());
        });
        std::string at = (c.failed == "read" ? c.source_dir : dest) + "/" + c.name;
        EXPECT_EQ(Shown(copy), c.failed.empty()
                                   ? "1 0 " + c.name
                                   : "0 1 " + c.name + c.failed + " " + at + " failed");
        EXPECT_EQ(Exists(dest + "/" + c.name), c.failed.empty()) << at;
        EXPECT_TRUE(!c.failed.empty() || ReadFile(dest + "/" + c.name) == big) << at;
        if (c.failed == "write" && c.name != "far") { // what was written stays, named so
            std::string kept = ReadFile(dest + "/" + c.name + ".zorvel-part");
            EXPECT_GT(kept.size(), 0u) << at;
            EXPECT_TRUE((c.name == "big" ? big : huge).compare(0, kept.size(), kept) == 0) << at;
        }
        unmount();
    }
}

// A folder copied whole though the process may open fewer files than it holds (each of its
// folders needs a descriptor to be listed while the copies before it wait, open), and though it
// grows between the count of its entries and their reading.
TEST(CopyDirEntry, AFolderArrivesWholeWhenDescriptorsRunShortOrItGrowsMeanwhile) {
    TempDir src;
    std::vector<std::string> tree = {"d/", "e/", "e/m"};
    for (int i = 0; i < 60; i++) { // d/sN/N holding N
        std::string n = std::to_string(i);
        tree.insert(tree.end(), {"d/s" + n + "/", "d/s" + n + "/" + n});
    }
    MakeTree(src.path, tree);
    const std::pair<Kernel, bool> cases[] = {
        {Kernel::kCurrent, false}, {Kernel::kOld, false}, {Kernel::kCurrent, true}};
    for (auto [answers, grows] : cases) {
        TempDir dst;
        TestRun copy = RunFileOperation([&] {
            SetKernel(answers);
            // Counted were ../ and the s folders: a table of that many would crowd out old ones.
            struct rlimit open_files = {32, 32};
            if (grows)
                ScriptOnOpenDir(2, [&] { MakeTree(src / "d", {"a", "b", "c"}); });
            else
                setrlimit(RLIMIT_NOFILE, &open_files);
            // Most of them already taken elsewhere in the process: 8 are left.
            for (int descriptor = dup(0); !grows && descriptor >= 0 && descriptor < 23;)
                descriptor = dup(0);
            return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
        });
        EXPECT_EQ(copy.result, 1);
        EXPECT_EQ(copy.popups, 0);
        EXPECT_EQ(Walk(dst / "d", true).seen, Walk(src / "d", true).seen);
    }
    // A delete that cannot see every entry cannot remove the directory, and says so.
    TestRun removal = RunFileOperation([&] {
        ScriptOnOpenDir(2, [&] { MakeTree(src / "e", {"a"}); });
        return DeleteDirEntry(src.path.c_str(), "e/");
    });
    EXPECT_EQ(Shown(removal), "0 1 rmdir() failed");
    EXPECT_EQ(Names(src / "e"), std::vector<std::string>{"m"});
}

static const int kTrees = 240;
static const uint32_t kSeed = 20240607;
// Depth of the random trees below their top entry, and entries made in one directory.
static const int kDepth = 3, kEntriesPerDir = 5;

// A random tree in root: src/ holds the entry to copy, whose name it returns, dst/ the place it
// goes to (now and then with that name taken), outside/ what links point out to.
static std::string RandomTree(Random &random, const TempDir &root, int number) {
    MakeTree(root.path, {"outside/", "outside/dir/", "outside/dir/inner", "outside/file", "src/",
                         "dst/", "dst/neighbour"});
    Targets outside = {{root / "outside/file"}, {root / "outside/dir"}}, inside;
    int serial = 0;
    std::string top = MakeName(random, number), path = root / ("src/" + top);
    if (random.OneIn(8)) {
        Populate(random, root / "src", 0, kEntriesPerDir, inside, outside, serial);
        std::vector<std::string> names = Names(root / "src");
        top = names.empty() ? top : names[0];
    } else {
        MakeDir(path);
        Populate(random, path, kDepth, kEntriesPerDir, inside, outside, serial);
        // Now and then a link to the top from inside: a copy meets the top again below itself.
        if (random.OneIn(60))
            symlink(path.c_str(), (path + "/loop").c_str());
    }
    if (random.OneIn(6))
        WriteFile(root / ("dst/" + top), "taken");
    if (random.OneIn(12))
        symlink((root / "dst/nowhere").c_str(), (root / ("dst/" + top)).c_str());
    return top;
}

TEST(TreeProperties, CopiesAndDeletesOfRandomTrees) {
    ASSERT_TRUE(OpenTestDisplay());
    Random random(kSeed);
    int outcomes[4] = {}; // copied, copy refused, deleted, delete refused
    for (int number = 0; number < kTrees; number++) {
        SCOPED_TRACE("tree " + std::to_string(number));
        TempDir root(kMemoryDir);
        std::string top = RandomTree(random, root, number), src = root / "src", dst = root / "dst";
        bool taken = Exists(dst + "/" + top);
        Walk before(root.path, false), source(src + "/" + top, true);
        TestRun copy = RunFileOperation(
            [&] { return CopyDirEntry(dst.c_str(), src.c_str(), Listed(src, top).c_str()); });
        EXPECT_EQ(copy.result, !taken && source.fine) << top;
        EXPECT_EQ(copy.popups, copy.result != 1);
        // Nothing changes but the new entry, and that holds what its source holds, all of it
        // after a success.
        EXPECT_EQ(Walk(root.path, false, taken ? "none" : "/dst/" + top).seen, before.seen);
        Walk made(dst + "/" + top, true);
        EXPECT_TRUE(taken || std::includes(source.seen.begin(), source.seen.end(),
                                           made.seen.begin(), made.seen.end()));
        EXPECT_TRUE(copy.result != 1 || made.seen == source.seen);
        outcomes[copy.result != 1]++;

        // Delete one entry of the source, chosen among all.
        std::map<std::string, std::string> entries = Walk(src, false).seen;
        entries.erase("");
        if (entries.empty())
            continue;
        std::string key = std::next(entries.begin(), random.Below(entries.size()))->first;
        std::string parent = src + key.substr(0, key.rfind('/'));
        Walk doomed(src + key, false), others(root.path, false, "/src" + key);
        TestRun removal = RunFileOperation([&] {
            return DeleteDirEntry(parent.c_str(),
                                  Listed(parent, key.substr(key.rfind('/') + 1)).c_str());
        });
        EXPECT_EQ(removal.result, doomed.fine) << key;
        EXPECT_EQ(removal.popups, removal.result != 1);
        EXPECT_EQ(Exists(src + key), removal.result != 1);
        EXPECT_EQ(Walk(root.path, false, "/src" + key).seen, others.seen) << key;
        outcomes[2 + (removal.result != 1)]++;
    }
    End();
    // The trees must have tried both outcomes of both operations, many times.
    EXPECT_GT(*std::min_element(outcomes, outcomes + 4), kTrees / 20);
}
