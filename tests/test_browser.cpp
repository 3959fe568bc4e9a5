// The browser as a user drives it: scripted buttons through the real loop on real directories.
#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "common/globals.h"
#include "tests/harness.h"

// The log lines that begin with prefix, in order.
static std::vector<std::string> LogLines(const std::string &log, const std::string &prefix) {
    std::vector<std::string> found;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        std::string line = log.substr(start, end - start);
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
        start = end + 1;
    }
    return found;
}

// A directory holding the subdirectories d00 to d(count-1).
static void MakeNumberedDirs(const TempDir &dir, int count) {
    for (int i = 0; i < count; i++) {
        char name[16];
        snprintf(name, sizeof name, "d%02d", i);
        MakeDir(dir / name);
    }
}

// The colours the user sees, written out: a changed colour constant must fail these tests.
static const SDL_Color kWhite = {255, 255, 255, 0}, kRed = {255, 0, 0, 0}, kBlue = {0, 0, 255, 0};
static const SDL_Color kGray = {170, 170, 170, 0}, kBlack = {0, 0, 0, 0};

// With font size 10 VL Gothic lines are 11 pixels high, so 18 rows (0 to 17) fit.
static const int kRowPitch = 12;
static int RowY(int row) {
    return (row + 1) * kRowPitch + 3;
}

TEST(Browser, CursorFollowsTapsAndAutoRepeat) {
    TempDir dir;
    MakeNumberedDirs(dir, 5);
    ScriptClear();
    KeyPlan plan;
    plan.Tap(SDLK_DOWN, 3); // ../ d00 d01 [d02]
    plan.Tap(SDLK_UP);      // d01
    plan.Tap(SDLK_LCTRL);
    // Held for 31 passes: the press and the first repeat on its 30th pass.
    plan.Tap(SDLK_LALT);
    plan.Hold(SDLK_DOWN, 31);
    plan.Tap(SDLK_LCTRL);
    plan.Quit();
    ChildResult run = RunBrowser(dir.path);
    std::vector<std::string> expected = {"chdir: " + dir.path + "/d01", "chdir: " + dir.path,
                                         "chdir: " + dir.path + "/d01"};
    EXPECT_EQ(LogLines(run.out, "chdir: "), expected);
}

TEST(Browser, DownStopsOnTheLastEntryAndScrollsPastTheLastRow) {
    TempDir few;
    MakeNumberedDirs(few, 3);
    ScriptClear();
    KeyPlan plan;
    plan.Tap(SDLK_DOWN, 10);
    plan.Tap(SDLK_LCTRL);
    plan.Quit();
    ChildResult short_list = RunBrowser(few.path);
    EXPECT_EQ(LogLines(short_list.out, "chdir: ").at(0), "chdir: " + few.path + "/d02");

    TempDir many;
    MakeNumberedDirs(many, 40);
    ScriptClear();
    plan = KeyPlan();
    plan.Hold(SDLK_DOWN, 200);
    plan.Capture(many / "bottom.bmp");
    plan.Tap(SDLK_LCTRL);
    plan.Quit();
    ChildResult long_list = RunBrowser(many.path);
    EXPECT_EQ(LogLines(long_list.out, "chdir: ").at(0), "chdir: " + many.path + "/d39");
    // The cursor rests on the last of the 18 rows.
    SDL_Surface *screen = LoadCapture(many / "bottom.bmp");
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(ColorIs(screen, 3, RowY(17) + 2, kRed));
    EXPECT_FALSE(ColorIs(screen, 3, RowY(16) + 2, kRed));
    SDL_FreeSurface(screen);
}

// Buttons pressed in one frame act in the frame's fixed order, each on what the one before left.
TEST(Browser, SeveralButtonsInOneFrameActInTheFixedOrder) {
    TempDir dir;
    MakeNumberedDirs(dir, 2);
    ScriptClear();
    KeyPlan plan;
    plan.Wait(2);
    ScriptTap(SDLK_DOWN, plan.pass);
    plan.Tap(SDLK_LCTRL); // down to d00, then enter it
    ScriptTap(SDLK_RIGHT, plan.pass);
    plan.Tap(SDLK_LEFT);  // right, then back left: the left pane stays active
    plan.Tap(SDLK_LCTRL); // its ../
    plan.Quit();
    ChildResult run = RunBrowser(dir.path);
    std::vector<std::string> expected = {"chdir: " + dir.path + "/d00", "chdir: " + dir.path};
    EXPECT_EQ(LogLines(run.out, "chdir: "), expected);
}

TEST(Browser, AOnAFileDoesNothingAOnParentGoesUp) {
    TempDir dir;
    MakeDir(dir / "sub");
    WriteFile(dir / "sub/file", "");
    ScriptClear();
    KeyPlan plan;
    plan.Tap(SDLK_DOWN);
    plan.Tap(SDLK_LCTRL); // into sub
    plan.Tap(SDLK_DOWN);
    plan.Tap(SDLK_LCTRL); // a file: nothing
    plan.Tap(SDLK_UP);
    plan.Tap(SDLK_LCTRL); // ../
    plan.Quit();
    ChildResult run = RunBrowser(dir.path);
    std::vector<std::string> expected = {"chdir: " + dir.path + "/sub", "chdir: " + dir.path};
    EXPECT_EQ(LogLines(run.out, "chdir: "), expected);
}

// True when any pixel of the help bar between x_from and x_to is dark (text).
static bool HelpBarHasText(SDL_Surface *screen, int x_from, int x_to) {
    for (int x = x_from; x < x_to; x++)
        for (int y = 231; y < 237; y++)
            if (ColorAt(screen, x, y).r < 128)
                return true;
    return false;
}

TEST(Browser, HelpBarChangesWhileSelectIsHeld) {
    TempDir dir;
    ScriptClear();
    ScriptCapture(2, dir / "plain.bmp");
    ScriptHold(SDLK_ESCAPE, 4, 8);
    ScriptCapture(6, dir / "select.bmp");
    ScriptCapture(10, dir / "released.bmp");
    KeyPlan plan;
    plan.Wait(12);
    plan.Quit();
    RunBrowser(dir.path);

    // Where "quit" stands on the bar of the small font.
    ASSERT_EQ(TTF_Init(), 0);
    TTF_Font *small = TTF_OpenFont(kTestFont, 8);
    ASSERT_NE(small, nullptr);
    std::string bar = "A: exec   B: delete X: rename Y: mkdir  L:        R:        START: ";
    int before = 0;
    int after = 0;
    TTF_SizeUTF8(small, bar.c_str(), &before, nullptr);
    TTF_SizeUTF8(small, (bar + "quit").c_str(), &after, nullptr);
    TTF_CloseFont(small);

    for (const char *name : {"plain.bmp", "select.bmp", "released.bmp"}) {
        SDL_Surface *screen = LoadCapture(dir / name);
        ASSERT_NE(screen, nullptr);
        bool select = std::string(name) == "select.bmp";
        EXPECT_EQ(HelpBarHasText(screen, 2 + before, 2 + after), select) << name;
        EXPECT_TRUE(ColorIs(screen, 2 + before, 231, kWhite)) << name;
        SDL_FreeSurface(screen);
    }
}
