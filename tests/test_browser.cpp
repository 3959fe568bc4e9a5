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

TEST(Browser, StartsListsAndQuitsWithStartAndSelect) {
    TempDir dir;
    ScriptClear();
    KeyPlan plan;
    plan.Wait(3);
    plan.Quit();
    ChildResult run = RunBrowser(dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "font height = 11\npath: " + dir.path + "\nsync disc\n");
}

TEST(Browser, WindowCloseQuitsToo) {
    TempDir dir;
    ScriptClear();
    ScriptQuit(5);
    ChildResult run = RunBrowser(dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(LogLines(run.out, "sync disc").size(), 1u);
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

TEST(Browser, UpOnTheFirstRowAndScrollingBack) {
    TempDir dir;
    MakeNumberedDirs(dir, 30);
    ScriptClear();
    KeyPlan plan;
    plan.Tap(SDLK_UP);
    plan.Tap(SDLK_DOWN, 20); // top 3, cursor on row 17: d19
    plan.Tap(SDLK_UP, 18);   // row 0 with top 2: d01
    plan.Tap(SDLK_LCTRL);
    plan.Quit();
    ChildResult run = RunBrowser(dir.path);
    EXPECT_EQ(LogLines(run.out, "chdir: ").at(0), "chdir: " + dir.path + "/d01");
}

TEST(Browser, PanesKeepTheirOwnPlaceAndColours) {
    TempDir dir;
    MakeNumberedDirs(dir, 3);
    ScriptClear();
    KeyPlan plan;
    plan.Tap(SDLK_DOWN, 2);
    plan.Capture(dir / "left.bmp");
    plan.Tap(SDLK_RIGHT);
    plan.Tap(SDLK_LEFT);
    plan.Tap(SDLK_RIGHT); // the left pane keeps row 2
    plan.Tap(SDLK_DOWN);
    plan.Capture(dir / "right.bmp");
    plan.Tap(SDLK_LCTRL); // the right pane enters d00
    plan.Tap(SDLK_LEFT);
    plan.Tap(SDLK_LCTRL); // the left pane still shows the start directory, d01 under its cursor
    plan.Quit();
    ChildResult run = RunBrowser(dir.path);
    std::vector<std::string> expected = {"chdir: " + dir.path + "/d00",
                                         "chdir: " + dir.path + "/d01"};
    EXPECT_EQ(LogLines(run.out, "chdir: "), expected);

    SDL_Surface *left = LoadCapture(dir / "left.bmp");
    ASSERT_NE(left, nullptr);
    EXPECT_TRUE(ColorIs(left, 3, RowY(2) + 2, kRed));
    EXPECT_TRUE(ColorIs(left, 3, RowY(0) + 2, kWhite));
    EXPECT_TRUE(ColorIs(left, 164, RowY(0) + 2, kBlue));
    EXPECT_TRUE(ColorIs(left, 164, RowY(1) + 2, kGray));
    EXPECT_TRUE(ColorIs(left, 2, 4, kWhite));  // active title
    EXPECT_TRUE(ColorIs(left, 163, 4, kGray)); // inactive title
    EXPECT_TRUE(ColorIs(left, 159, RowY(0) + 2, kBlack));
    SDL_FreeSurface(left);

    SDL_Surface *right = LoadCapture(dir / "right.bmp");
    ASSERT_NE(right, nullptr);
    EXPECT_TRUE(ColorIs(right, 3, RowY(2) + 2, kBlue));
    EXPECT_TRUE(ColorIs(right, 164, RowY(1) + 2, kRed));
    EXPECT_TRUE(ColorIs(right, 3, RowY(0) + 2, kGray));
    EXPECT_TRUE(ColorIs(right, 2, 4, kGray));
    EXPECT_TRUE(ColorIs(right, 163, 4, kWhite));
    SDL_FreeSurface(right);
}

TEST(Browser, RowsAreClippedToTheirPane) {
    TempDir dir;
    WriteFile(dir / std::string(120, 'W'), "");
    ScriptClear();
    KeyPlan plan;
    plan.Wait(2);
    plan.Capture(dir / "clip.bmp");
    plan.Quit();
    RunBrowser(dir.path);
    SDL_Surface *screen = LoadCapture(dir / "clip.bmp");
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(ColorIs(screen, 150, RowY(1) + 1, kWhite));
    EXPECT_TRUE(ColorIs(screen, 158, RowY(1) + 1, kBlack)); // 155 pixels from x 2
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

TEST(Browser, GoingUpStopsAtTheRoot) {
    TempDir dir;
    ScriptClear();
    KeyPlan plan;
    plan.Tap(SDLK_LALT, 12);
    plan.Quit();
    ChildResult run = RunBrowser(dir.path);
    std::vector<std::string> lines = LogLines(run.out, "chdir: ");
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[10], "chdir: /");
    EXPECT_EQ(lines[11], "chdir: /");
    EXPECT_EQ(run.status, 0);
}

TEST(Browser, EnteringPastThePathLimitEndsTheProgram) {
    TempDir dir;
    // The ninth level of 250-byte names puts the path past 2047 bytes.
    std::string name(250, 'n');
    std::string path = dir.path;
    for (int level = 0; level < 9; level++) {
        ASSERT_EQ(chdir(path.c_str()), 0);
        MakeDir(name);
        path += "/" + name;
    }
    ASSERT_EQ(chdir("/"), 0);
    ScriptClear();
    KeyPlan plan;
    for (int level = 0; level < 9; level++) {
        plan.Tap(SDLK_DOWN);
        plan.Tap(SDLK_LCTRL);
    }
    plan.Quit();
    ChildResult run = RunBrowser(dir.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(LogLines(run.out, "chdir: ").size(), 8u);
    EXPECT_EQ(LogLines(run.out, "error: ").at(0), "error: pathname too long");
    EXPECT_TRUE(LogLines(run.out, "sync disc").empty());
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

// The bar is drawn after the panes: a frame that redraws them shows it too.
TEST(Browser, HelpBarStandsInFramesThatRedrawThePanes) {
    TempDir dir;
    MakeNumberedDirs(dir, 3);
    ScriptClear();
    KeyPlan plan;
    plan.Wait(2);
    ScriptCapture(plan.pass, dir / "moved.bmp");
    plan.Tap(SDLK_DOWN);
    plan.Quit();
    RunBrowser(dir.path);
    SDL_Surface *screen = LoadCapture(dir / "moved.bmp");
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(ColorIs(screen, 3, RowY(1) + 2, kRed)); // the cursor moved in this frame
    EXPECT_TRUE(HelpBarHasText(screen, 2, 60));
    EXPECT_TRUE(ColorIs(screen, 2, 231, kWhite));
    SDL_FreeSurface(screen);
}

// Runs the program itself with the arguments; standard error joins standard output.
static ChildResult RunProgram(std::vector<std::string> arguments) {
    return RunChild([&] {
        dup2(STDOUT_FILENO, STDERR_FILENO);
        std::vector<char *> argv;
        std::string program = ZORVEL_PROGRAM;
        argv.push_back(program.data());
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        execv(program.c_str(), argv.data());
        return 97;
    });
}

TEST(Options, UsageErrorsEndBeforeStartUp) {
    ChildResult unknown = RunProgram({"-x"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.out.find("Usage: zorvel [option]\n -s #         : font size\n"
                               " -f fontfile  : font file\n"),
              std::string::npos);
    EXPECT_EQ(unknown.out.find("font height"), std::string::npos);
    ChildResult missing = RunProgram({"-s"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("Usage: zorvel [option]"), std::string::npos);
}

TEST(Options, FontSizeRangeAndMissingFontFile) {
    ChildResult run = RunProgram(
        {"-s", "8", "-s", "7", "-s", "15", "-s", "big", "-s", "14", "-f", "/nonexistent/font.ttf"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "font size: 8\nfont size: 14\nfont file: /nonexistent/font.ttf\n"
                       "error: init failed\n");
}

TEST(Options, LongFontFileIsCutTo199Bytes) {
    TempDir dir;
    std::string long_name = dir.path + "/" + std::string(250 - dir.path.size() - 1, 'f');
    std::string kept = long_name.substr(0, 199);
    // Only the 199-byte name exists: the fonts open only if the argument was cut there.
    ASSERT_EQ(symlink(kTestFont, kept.c_str()), 0);
    // Started in a directory removed under it, the program stops right after opening the fonts.
    std::string gone = dir / "gone";
    MakeDir(gone);
    ChildResult run = RunChild([&] {
        if (chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0)
            return 96;
        dup2(STDOUT_FILENO, STDERR_FILENO);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        execl(ZORVEL_PROGRAM, ZORVEL_PROGRAM, "-f", long_name.c_str(), nullptr);
        return 97;
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "font file: " + long_name +
                           "\nfont height = 11\ndirname of zorvel too long\nerror: init failed\n");
}
