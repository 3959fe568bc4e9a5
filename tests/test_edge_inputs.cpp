// Inputs at the edges of what the functions take: table sizes of nothing, boxes of no size, texts
// that end inside a character, names that fill a whole slot.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "common/globals.h"
#include "app/infopopups.h"
#include "app/fs/listing.h"
#include "dialogs/dialogbox.h"
#include "dialogs/lineinput.h"
#include "tests/harness.h"

constexpr SDLKey kA = SDLK_LCTRL, kB = SDLK_LALT, kX = SDLK_SPACE, kRight = SDLK_RIGHT;
constexpr SDLKey kStart = SDLK_RETURN, kSelect = SDLK_ESCAPE;

static int CountOf(const std::string &text, const std::string &piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        count++;
    return count;
}

TEST(SplitBySpace, ATableOfNoRowsReceivesNoWord) {
    ReportWord words[2];
    memset(words, '#', sizeof words);
    EXPECT_EQ(SplitBySpace("a b", words, 0), 0);
    EXPECT_EQ(SplitBySpace("a b", words, -1), 0);
    EXPECT_EQ(words[0][0], '#');
    EXPECT_EQ(SplitBySpace("a b", words, 1), 1);
    EXPECT_STREQ(words[0], "a");
    EXPECT_EQ(words[1][0], '#');
}

// Runs the line-input dialog in a child with the build folder's keyboard images, taps the keys
// one after another and then START; prints what it returned and handed back.
static ChildResult RunLineInput(int width, int height, const std::string &initial,
                                const std::vector<SDLKey> &keys) {
    return RunChild([&] {
        if (!OpenKeyboardTestDisplay())
            return 97;
        ScriptClear();
        KeyPlan plan;
        plan.Wait(2);
        for (SDLKey key : keys)
            plan.Tap(key);
        plan.Tap(kStart);
        ScriptLimit(plan.pass + 20);
        std::vector<char> result(257, '#');
        int returned = LineInput(width, height, 256, 35, "title", initial.c_str(), result.data());
        printf("returned %d [%.*s]\n", returned, 257, result.data());
        return 0;
    });
}

TEST(LineInput, ABoxOfNoSizeDrawsNothingAndHandsTheTextBack) {
    for (int width : {-5, 0}) {
        ChildResult run = RunLineInput(width, 70, "name", {});
        EXPECT_EQ(run.status, 0) << width;
        EXPECT_NE(run.out.find("returned 1 [name]"), std::string::npos) << run.out;
    }
    ChildResult low = RunLineInput(210, -1, "name", {});
    EXPECT_EQ(low.status, 0);
    EXPECT_NE(low.out.find("returned 1 [name]"), std::string::npos) << low.out;
}

// Backspace takes a character apart one byte at a time, so the field may end inside one; the
// font library reads the bytes that its lead byte announces, which must lie inside the field's
// buffer (the address sanitizer tells).
TEST(LineInput, AFieldThatEndsInsideACharacterIsDrawnFromItsOwnBuffer) {
    const std::string kana = "\xE3\x81\x82"; // one three-byte character
    std::string initial = std::string(37, 'a') + kana;
    ChildResult run = RunLineInput(210, 70, initial, {kX, kX});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("returned 1 [" + std::string(37, 'a') + "\xE3]"), std::string::npos)
        << run.out;
}

TEST(PopupMessage, ABoxOfNoSizeDrawsNothing) {
    ChildResult run = RunChild([] {
        if (!OpenTestDisplay())
            return 97;
        ScriptClear();
        ScriptLimit(100);
        int tiny = PopupMessage(-20, 80, "Error", "text");
        int flat = PopupConfirm(150, -3, "text");
        printf("%d %d %d\n", tiny, flat, FlipCount());
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("1 0 0\n"), std::string::npos) << run.out;
}

// A 255-byte directory name leaves no room for the "/" in its slot: cut to 254 bytes it would
// name another entry, or none.
TEST(Listing, EveryNameIsTheVeryNameOfItsEntry) {
    TempDir dir;
    std::string longest(255, 'd'), namesake(254, 'd');
    MakeDir(dir / longest);
    WriteFile(dir / namesake, "");
    MakeDir(dir / "sub");
    // The longest directory name has no room for its "/": it is left out, never cut short.
    int count = CountDir(dir.path.c_str()) - 1;
    EntryName table[kPaneEntries];
    ASSERT_EQ(SeekDir(dir.path.c_str(), table, kPaneEntries), count);
    std::vector<std::string> names(table, table + count);
    EXPECT_EQ(names, (std::vector<std::string>{"../", "sub/", namesake}));
    for (const std::string &name : names) {
        bool marked = name.back() == '/';
        struct stat status;
        ASSERT_EQ(lstat((dir / name.substr(0, name.size() - marked)).c_str(), &status), 0) << name;
        if (marked) {
            EXPECT_TRUE(S_ISDIR(status.st_mode)) << name;
        }
    }
}

TEST(DeleteCommand, ALongestDirectoryNameIsNeverOfferedItsNamesakeGoesAlone) {
    TempDir root;
    std::string longest(255, 'd'), namesake(254, 'd');
    MakeDir(root / longest);
    WriteFile(root / (longest + "/inside"), "x");
    WriteFile(root / namesake, "keep");
    WriteFile(root / "z", "keep");
    // The second row, deleted with Ok, is the namesake; then the second row is z.
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan plan;
    plan.Tap(SDLK_DOWN);
    plan.With(kSelect, kB);
    plan.Tap(kRight);
    plan.Tap(kA);
    plan.Wait(4);
    plan.Quit();
    ChildResult run = RunBrowser(root.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(CountOf(run.out, "delete: " + namesake + "\n"), 1) << run.out;
    EXPECT_EQ(CountOf(run.out, "delete: "), 1) << run.out;
    EXPECT_FALSE(Exists(root / namesake));
    EXPECT_EQ(ReadFile(root / (longest + "/inside")), "x");
    EXPECT_EQ(ReadFile(root / "z"), "keep");
}
