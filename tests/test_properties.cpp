// Copy and delete on a few hundred random trees, made from a fixed seed: files of many sizes,
// nested directories, links to files and directories inside and outside the tree, dangling links,
// named pipes, and names with every character a shell or a terminal takes as special. A copy
// that succeeds reproduces every file's bytes; one that fails shows one popup; a delete removes
// the named entry and nothing outside it; nothing else anywhere changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/fs/copytree.h"
#include "app/fs/fileops.h"
#include "app/fs/listing.h"
#include "common/limits.h"
#include "tests/harness.h"
#include "tests/random_tree.h"

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
