// The browser through its real loop: moving, panes, the help bar, and the commands on real trees
// (execute, delete, create a folder, rename) as the user's buttons drive them.
#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/naming.h"
#include "app/panes.h"
#include "common/globals.h"
#include "keyboard/dingux_vexpad.h"
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

// A tree with the directories A and B; the left pane goes into A, the right into B.
struct TwoPanes {
    TempDir root;
    KeyPlan plan;
    TwoPanes() {
        MakeDir(root / "A");
        MakeDir(root / "B");
        ScriptClear();
        ScriptLimit(5000);
        plan.Tap(SDLK_DOWN);
        plan.Tap(SDLK_LCTRL);
        plan.Tap(SDLK_RIGHT);
        plan.Tap(SDLK_DOWN, 2);
        plan.Tap(SDLK_LCTRL);
        plan.Tap(SDLK_LEFT);
    }
    std::string A(const std::string &name = "") const { return root / ("A/" + name); }
    std::string B(const std::string &name = "") const { return root / ("B/" + name); }
    ChildResult Run() {
        plan.Wait(4);
        plan.Quit();
        return RunBrowser(root.path);
    }
};

// Copy and move need an entry of their own and two different folders.
TEST(CopyCommand, RefusedForParentNamesAndForOneDirectory) {
    TempDir root;
    WriteFile(root / "..dots", "x");
    WriteFile(root / "f", "x");
    ScriptClear();
    KeyPlan plan;
    for (int row = 0; row < 3; row++) { // ../, ..dots, and f with both panes in one folder
        plan.Tap(kDown, row > 0);
        plan.Tap(kY);
        plan.Tap(kX);
    }
    plan.Quit();
    ChildResult run = RunBrowser(root.path);
    EXPECT_EQ(CountOf(run.out, "copy: "), 0);
    EXPECT_EQ(CountOf(run.out, "move: "), 0);
    EXPECT_EQ(Names(root.path), (std::vector<std::string>{"..dots", "f"}));
}

TEST(DeleteCommand, CancelKeepsTheEntry) {
    TempDir root;
    WriteFile(root / "f", "x");
    ScriptClear();
    KeyPlan plan;
    plan.Tap(kDown);
    plan.With(kSelect, kB);
    plan.Tap(kRight); // Ok, then back to Cancel
    plan.Tap(kLeft);
    plan.Tap(kA);
    plan.Wait(2);
    plan.Quit();
    ChildResult run = RunBrowser(root.path);
    EXPECT_EQ(ReadFile(root / "f"), "x");
    EXPECT_EQ(CountOf(run.out, "delete: "), 0);
}

TEST(DeleteCommand, ParentEntryIsNeverAsked) {
    TempDir root;
    ScriptClear();
    ScriptLimit(100);
    KeyPlan plan;
    plan.With(SDLK_ESCAPE, SDLK_LALT);
    plan.Quit();
    ChildResult run = RunBrowser(root.path);
    // A confirmation would have held the loop past the pass limit.
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(CountOf(run.out, "delete: "), 0);
}

// A script that writes its own name and arguments into the marker file beside it.
static void MakeScript(const std::string &path, const std::string &marker) {
    WriteFile(path, "#!/bin/sh\necho \"ran $0\" > '" + marker + "'\n");
    chmod(path.c_str(), 0755);
}

TEST(ExecuteCommand, NamesRunOnlyThemselves) {
    TempDir root;
    TempDir markers;
    std::string spaced = "my script";
    std::string injected = "x;touch INJECTED";
    std::string quoted = "z'q';touch QUOTED;'";
    MakeScript(root / spaced, markers / "spaced");
    MakeScript(root / injected, markers / "injected");
    MakeScript(root / quoted, markers / "quoted");
    for (int row : {1, 2, 3}) { // "my script", "x;touch INJECTED", then the quoted one
        ScriptClear();
        ScriptLimit(5000);
        KeyPlan plan;
        plan.Tap(SDLK_DOWN, row);
        plan.With(SDLK_ESCAPE, SDLK_LCTRL);
        plan.Tap(SDLK_RIGHT);
        plan.Tap(SDLK_LCTRL);
        plan.Quit();
        RunBrowser(root.path);
    }
    EXPECT_EQ(ReadFile(markers / "spaced"), "ran " + root / spaced + "\n");
    EXPECT_EQ(ReadFile(markers / "injected"), "ran " + root / injected + "\n");
    EXPECT_EQ(ReadFile(markers / "quoted"), "ran " + root / quoted + "\n");
    EXPECT_FALSE(Exists(root / "INJECTED"));
    EXPECT_FALSE(Exists(root / "QUOTED"));
    EXPECT_FALSE(Exists("/INJECTED"));
}

// Types lower-case letters, and "/" from the shifted letter page, each with the directions and
// face key of its cell held for one pass.
static void TypeText(KeyPlan &plan, const std::string &text) {
    static const SDLKey kFaces[] = {kX, kY, SDLK_LALT, kA};
    for (char character : text) {
        int page = character == '/' ? 1 : 0, cell = 0;
        while (cell < 35 && vexpad_charAt(page, cell / 12, cell / 4 % 3, cell % 4) != character)
            cell++;
        int row = cell / 12, column = cell / 4 % 3;
        if (page == 1)
            plan.Tap(kR);
        if (row != 1)
            ScriptTap(row == 0 ? SDLK_UP : SDLK_DOWN, plan.pass);
        if (column != 1)
            ScriptTap(column == 0 ? SDLK_LEFT : SDLK_RIGHT, plan.pass);
        plan.Tap(kFaces[cell % 4]);
        if (page == 1)
            plan.Tap(kR);
    }
}

// Erases `erase` bytes, types text, finishes with START and closes a popup, if one follows, with A.
static std::function<void(KeyPlan &)> Typed(const std::string &text, int erase = 0) {
    return [=](KeyPlan &plan) {
        plan.Tap(kX, erase);
        TypeText(plan, text);
        plan.Tap(kStart);
        plan.Wait(2);
        plan.Tap(kA);
    };
}

struct NamingCall {
    void (*command)(Browser &);
    std::string dir;            // both panes show it
    int cursor;                 // row of the left pane's cursor
    std::string stand_in = "/"; // where the process stands when the command begins
    bool vanish = false;        // the directory disappears after it was listed
};

// What the command left behind: the log, then fields "popup", "cwd", "cursor", "active" and
// "other" (each pane's rows followed by a space) and "drawn" (texts on a solid background).
struct NamingRun {
    int status;
    std::string out;
    std::string operator[](const std::string &name) const {
        size_t begin = out.find("\n" + name + " [") + name.size() + 3;
        return out.substr(begin, out.find("]\n", begin) - begin);
    }
};

// Runs the command in a child, on a browser whose panes both show call.dir, with the keys.
static NamingRun RunCommand(const NamingCall &call, const std::function<void(KeyPlan &)> &keys) {
    ChildResult run = RunChild([&] {
        if (!OpenKeyboardTestDisplay())
            return 97;
        ScriptClear();
        KeyPlan plan;
        plan.Wait(2);
        keys(plan);
        ScriptLimit(plan.pass + 20);
        auto browser = std::make_unique<Browser>();
        std::string rows[2];
        for (int index = 0; index < 2; index++) {
            CopyString(browser->pane[index].path, kPathSize, call.dir.c_str());
            RelistPane(*browser, index);
        }
        browser->pane[0].cursor = call.cursor;
        if ((call.vanish && rmdir(call.dir.c_str()) != 0) || chdir(call.stand_in.c_str()) != 0)
            return 96;
        TakeDrawnText();
        TakeShadedText();
        call.command(*browser);
        for (int index = 0; index < 2; index++)
            for (int row = 0; row < browser->pane[index].count; row++)
                rows[index] += std::string(browser->pane[index].entries[row]) + " ";
        char cwd[kPathSize];
        printf("\npopup [%s]\ncwd [%s]\ncursor [%d]\nactive [%s]\nother [%s]\ndrawn [%s]\n",
               TakeDrawnText().c_str(), getcwd(cwd, sizeof cwd) ? cwd : "(none)",
               browser->pane[0].cursor, rows[0].c_str(), rows[1].c_str(), TakeShadedText().c_str());
        return 0;
    });
    return {run.status, run.out};
}

TEST(MakeDirCommand, AFailureShowsAnErrorAndNeverCreatesElsewhere) {
    TempDir parent, elsewhere;
    MakeDir(parent / "gone");
    // 256 bytes, one more than a name may have; then a pane whose directory has vanished.
    NamingRun too_long = RunCommand({MakeDirCommand, parent.path, 0}, Typed(std::string(256, 'm')));
    NamingRun vanished =
        RunCommand({MakeDirCommand, parent / "gone", 0, elsewhere.path, true}, Typed("x"));
    for (const NamingRun &done : {too_long, vanished}) {
        ASSERT_EQ(done.status, 0) << done.out;
        EXPECT_EQ(done["popup"], "mkdir() failed");
        EXPECT_EQ(CountOf(done.out, "mkdir: "), 0);
    }
    EXPECT_EQ(too_long["active"], "../ gone/ ");
    EXPECT_FALSE(Exists(elsewhere / "x"));
    EXPECT_FALSE(Exists(parent / "x"));
}

TEST(NamingCommands, AnyEntryOfTheNameIsTakenLinksIncluded) {
    TempDir dir;
    WriteFile(dir / "a", "a");
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    ASSERT_EQ(symlink("looping", (dir / "looping").c_str()), 0);
    for (std::string link : {"dangling", "looping"}) {
        NamingRun renamed = RunCommand({RenameCommand, dir.path, 1}, Typed(link, 1));
        ASSERT_EQ(renamed.status, 0) << renamed.out;
        EXPECT_EQ(renamed["popup"], "\"" + link + "\" already exists");
        EXPECT_EQ(CountOf(renamed.out, "rename: "), 0);
        NamingRun made = RunCommand({MakeDirCommand, dir.path, 1}, Typed(link));
        ASSERT_EQ(made.status, 0) << made.out;
        EXPECT_EQ(made["popup"], "\"" + link + "\" already exists");
        EXPECT_EQ(CountOf(made.out, "mkdir: "), 0);
    }
    EXPECT_EQ(ReadFile(dir / "a"), "a");
    char target[64] = {};
    EXPECT_GT(readlink((dir / "dangling").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), dir / "nowhere");
    EXPECT_FALSE(Exists(dir / "nowhere"));
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

TEST(Options, UsageErrorsSizesOutOfRangeAndAMissingFont) {
    const struct {
        std::vector<std::string> arguments;
        std::string out; // how what the program printed ends, standard error included
    } cases[] = {
        {{"-x"}, "Usage: zorvel [option]\n -s #         : font size\n -f fontfile  : font file\n"},
        {{"-s"}, "Usage: zorvel [option]\n -s #         : font size\n -f fontfile  : font file\n"},
        // Sizes outside 8 to 14 are ignored; a font that cannot be opened fails the start.
        {{"-s", "8", "-s", "7", "-s", "15", "-s", "big", "-s", "14", "-f", "/nonexistent/f.ttf"},
         "font size: 8\nfont size: 14\nfont file: /nonexistent/f.ttf\nerror: init failed\n"},
    };
    for (const auto &c : cases) {
        ChildResult run = RunProgram(c.arguments);
        EXPECT_EQ(run.status, 1) << c.arguments[0];
        // The C library's own complaint may come first.
        size_t from = run.out.size() - std::min(run.out.size(), c.out.size());
        EXPECT_EQ(run.out.substr(from), c.out) << c.arguments[0];
        EXPECT_EQ(run.out.find("font height"), std::string::npos) << c.arguments[0];
    }
}
