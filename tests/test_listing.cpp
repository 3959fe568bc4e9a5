// Directory listings as the panes and the recursive operations read them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/fs/listing.h"
#include "tests/harness.h"

static std::vector<std::string> List(const std::string &path) {
    int count = CountDir(path.c_str());
    auto table = std::make_unique<EntryName[]>(kPaneEntries);
    int stored = SeekDir(path.c_str(), table.get(), kPaneEntries);
    EXPECT_EQ(stored, count);
    return std::vector<std::string>(table.get(), table.get() + stored);
}

TEST(Listing, EmptyDirectoryHoldsOnlyItsParent) {
    TempDir dir;
    EXPECT_EQ(CountDir(dir.path.c_str()), 1);
    EXPECT_EQ(List(dir.path), std::vector<std::string>{"../"});
    std::vector<std::string> root = List("/");
    EXPECT_NE(std::find(root.begin(), root.end(), "../"), root.end());
}

TEST(Listing, DirectoriesFirstEachGroupInByteOrder) {
    TempDir dir;
    for (const char *name : {"sub", "-dash", "Upper"})
        MakeDir(dir / name);
    for (const char *name : {"alpha", "Zeta", "10", "..hidden"})
        WriteFile(dir / name, "x");
    ASSERT_EQ(symlink(dir.path.c_str(), (dir / "link").c_str()), 0);
    std::vector<std::string> expected = {"-dash/", "../",  "Upper/", "sub/", "..hidden",
                                         "10",     "Zeta", "alpha",  "link"};
    EXPECT_EQ(List(dir.path), expected);
}

TEST(Listing, LongestNamesFitTheirSlots) {
    TempDir dir;
    std::string file(255, 'f');
    std::string subdir(255, 'd');
    WriteFile(dir / file, "");
    MakeDir(dir / subdir);
    // The directory's name and its "/" would not fit: it is left out, and said to be.
    auto table = std::make_unique<EntryName[]>(kPaneEntries);
    int left_out = 0;
    int stored = SeekDir(dir.path.c_str(), table.get(), kPaneEntries, &left_out);
    EXPECT_EQ(CountDir(dir.path.c_str()), 3);
    EXPECT_EQ(left_out, 1);
    EXPECT_EQ(std::vector<std::string>(table.get(), table.get() + stored),
              (std::vector<std::string>{"../", file}));
}

TEST(Listing, NeverWritesPastTheCallersTable) {
    TempDir dir;
    for (int i = 0; i < 10; i++)
        WriteFile(dir / ("f" + std::to_string(i)), "");
    EntryName table[4];
    memset(table, '#', sizeof table);
    EXPECT_EQ(SeekDir(dir.path.c_str(), table, 3), 3);
    EXPECT_STREQ(table[2], "f1");
    EXPECT_EQ(table[3][0], '#');
}

// 248 subdirectories besides the parent and 249 files are the most a directory may hold.
static void FillToTheLimit(const TempDir &dir) {
    for (int i = 0; i < 248; i++)
        MakeDir(dir / ("d" + std::to_string(i)));
    for (int i = 0; i < 249; i++)
        WriteFile(dir / ("f" + std::to_string(i)), "");
}

TEST(Listing, FullestDirectoryIsListedOneMoreEndsTheProcess) {
    TempDir dir;
    FillToTheLimit(dir);
    EXPECT_EQ(List(dir.path).size(), 498u);

    MakeDir(dir / "one-more-dir");
    ChildResult subdirs = RunChild([&] {
        EntryName table[kPaneEntries];
        SeekDir(dir.path.c_str(), table, kPaneEntries);
        return 0;
    });
    EXPECT_EQ(subdirs.status, 1);
    EXPECT_EQ(subdirs.out, "error: too many subdirs\n");

    rmdir((dir / "one-more-dir").c_str());
    WriteFile(dir / "one-more-file", "");
    ChildResult files = RunChild([&] {
        EntryName table[kPaneEntries];
        SeekDir(dir.path.c_str(), table, kPaneEntries);
        return 0;
    });
    EXPECT_EQ(files.status, 1);
    EXPECT_EQ(files.out, "error: too many files\n");
}

TEST(Listing, UnreadableDirectoryEndsTheProcess) {
    ChildResult counted = RunChild([] { return CountDir("/nonexistent/zorvel"); });
    EXPECT_EQ(counted.status, 1);
    EXPECT_EQ(counted.out, "cannot open dir /nonexistent/zorvel\n");
    ChildResult sought = RunChild([] {
        EntryName table[2];
        SeekDir("/nonexistent/zorvel", table, 2);
        return 0;
    });
    EXPECT_EQ(sought.status, 1);
    EXPECT_EQ(sought.out, "error: cannot open dir /nonexistent/zorvel\n");
}
