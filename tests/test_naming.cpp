// Creating directories and renaming entries with a typed name, on real trees.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/naming.h"
#include "app/panes.h"
#include "common/globals.h"
#include "keyboard/dingux_vexpad.h"
#include "tests/harness.h"

constexpr SDLKey kDown = SDLK_DOWN, kA = SDLK_LCTRL, kX = SDLK_SPACE, kY = SDLK_LSHIFT;
constexpr SDLKey kR = SDLK_BACKSPACE, kStart = SDLK_RETURN, kSelect = SDLK_ESCAPE;

static int CountOf(const std::string &text, const std::string &piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        count++;
    return count;
}

static bool IsDir(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
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

TEST(MakeDirCommand, CreatesOnlyANewNameThenLogsAndRelistsTheActivePane) {
    TempDir dir;
    WriteFile(dir / "f", "x");
    MakeDir(dir / "d");
    for (std::string name : {"", "f", "d", "new"}) {
        NamingRun done = RunCommand({MakeDirCommand, dir.path, 1}, Typed(name));
        ASSERT_EQ(done.status, 0) << done.out;
        bool taken = name == "f" || name == "d", made = name == "new";
        EXPECT_EQ(done["popup"], taken ? "\"" + name + "\" already exists" : "");
        EXPECT_EQ(CountOf(done.out, made ? "mkdir: new in " + dir.path + "\n" : "mkdir: "), made);
        EXPECT_EQ(done["cursor"], made ? "0" : "1");
        EXPECT_EQ(done["active"], made ? "../ d/ new/ f " : "../ d/ f ");
        EXPECT_EQ(done["other"], "../ d/ f ");
        EXPECT_EQ(done["cwd"], dir.path);
    }
    EXPECT_TRUE(IsDir(dir / "new"));
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

TEST(RenameCommand, UnchangedEmptyOrTwoDotNamesRenameNothing) {
    TempDir dir;
    MakeDir(dir / "sub");
    WriteFile(dir / "..dots", "x");
    // sub/ opens as "sub", kept or erased; ../ and ..dots open no dialog.
    const int cases[][2] = {{1, 0}, {1, 3}, {0, 0}, {2, 0}};
    for (const auto &c : cases) {
        NamingRun done = RunCommand({RenameCommand, dir.path, c[0]}, Typed("", c[1]));
        ASSERT_EQ(done.status, 0) << done.out;
        bool dialog = c[0] == 1;
        EXPECT_EQ(done["drawn"].substr(0, 13), dialog ? "rename\nsub\n \n" : "");
        EXPECT_EQ(done["cwd"], dialog ? dir.path : "/");
        EXPECT_EQ(done["popup"], "");
        EXPECT_EQ(CountOf(done.out, "rename: "), 0);
        EXPECT_EQ(done["cursor"], std::to_string(c[0]));
    }
    EXPECT_TRUE(IsDir(dir / "sub"));
    EXPECT_TRUE(Exists(dir / "..dots"));
}

TEST(RenameCommand, RenamesInPlaceAndIntoADirectoryRelistingOnlyTheActivePane) {
    TempDir dir;
    MakeDir(dir / "old");
    WriteFile(dir / "f", "x");
    NamingRun done = RunCommand({RenameCommand, dir.path, 2}, Typed("g", 1));
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_EQ(ReadFile(dir / "g"), "x");
    EXPECT_EQ(CountOf(done.out, "rename: f to g\n"), 1);
    EXPECT_EQ(done["popup"], "");
    EXPECT_EQ(done["cursor"], "0");
    EXPECT_EQ(done["active"], "../ old/ g ");
    EXPECT_EQ(done["other"], "../ old/ f ");

    done = RunCommand({RenameCommand, dir.path, 2}, Typed("old/x", 1));
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_EQ(ReadFile(dir / "old/x"), "x");
    EXPECT_EQ(CountOf(done.out, "rename: g to old/x\n"), 1);
    EXPECT_EQ(done["active"], "../ old/ ");
}

TEST(RenameCommand, ATakenNameOrAFailedRenameShowsAnErrorAndLeavesBothEntries) {
    TempDir dir;
    MakeDir(dir / "sub");
    WriteFile(dir / "f", "x");
    // A taken name is never tried; a directory cannot move into itself, but the try is logged.
    struct {
        int cursor, erase;
        const char *text, *popup, *log;
    } cases[] = {{2, 1, "sub", "\"sub\" already exists", ""},
                 {1, 0, "/x", "rename() failed", "rename: sub to sub/x\n"}};
    for (const auto &c : cases) {
        NamingRun done = RunCommand({RenameCommand, dir.path, c.cursor}, Typed(c.text, c.erase));
        ASSERT_EQ(done.status, 0) << done.out;
        EXPECT_EQ(done["popup"], c.popup);
        EXPECT_EQ(CountOf(done.out, "rename: "), *c.log ? 1 : 0);
        EXPECT_LT(done.out.find(c.log), done.out.find("\npopup ["));
        EXPECT_EQ(done["cursor"], std::to_string(c.cursor));
        EXPECT_EQ(done["active"], "../ sub/ f ");
    }
    EXPECT_EQ(ReadFile(dir / "f"), "x");
    EXPECT_TRUE(IsDir(dir / "sub"));
}

TEST(NamingInTheBrowser, CreateThenRenameWithTheCursorBackOnTheFirstRow) {
    // The start directory holds the keyboard's images, as the program's folder does.
    TempDir root;
    ASSERT_EQ(symlink(ZORVEL_GRAPHICS_DIR, (root / "graphics").c_str()), 0);
    MakeDir(root / "data");
    MakeDir(root / "data/zz");
    ScriptClear();
    ScriptLimit(20000);
    KeyPlan plan;
    plan.Tap(kDown); // ../ data/ graphics
    plan.Tap(kA);
    plan.Tap(kDown); // zz/
    // Each dialog's first read acts on no key.
    plan.With(kSelect, kY);
    plan.Wait(1);
    TypeText(plan, "new");
    plan.Tap(kStart);
    // Relisted: ../ new/ zz/ with the cursor on ../, so new/ is one row down.
    plan.Tap(kDown);
    plan.With(kSelect, kX);
    plan.Wait(1);
    plan.Tap(kX, 3);
    TypeText(plan, "box");
    plan.Tap(kStart);
    plan.Tap(kDown);
    plan.Tap(kA);
    plan.Wait(4);
    plan.Quit();
    ChildResult run = RunBrowser(root.path);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(CountOf(run.out, "mkdir: new in " + root / "data\n"), 1);
    EXPECT_EQ(CountOf(run.out, "rename: new to box\n"), 1);
    EXPECT_TRUE(IsDir(root / "data/box"));
    EXPECT_EQ(CountOf(run.out, "chdir: " + root / "data/box\n"), 1);
}

// The dialog waits until the buttons that opened it are let go: held on into it, they type
// nothing, even on the keyboard's first opening of the session.
TEST(NamingInTheBrowser, TheOpeningButtonsHeldIntoTheDialogTypeNothing) {
    for (SDLKey opener : {kY, kX}) {
        TempDir root;
        ASSERT_EQ(symlink(ZORVEL_GRAPHICS_DIR, (root / "graphics").c_str()), 0);
        MakeDir(root / "zz");
        ScriptClear();
        ScriptLimit(2000);
        KeyPlan plan;
        plan.Tap(kDown, 2); // ../ graphics zz/
        ScriptHold(kSelect, plan.pass, plan.pass + 30);
        ScriptHold(opener, plan.pass, plan.pass + 30);
        plan.Wait(34);
        plan.Tap(kStart);
        plan.Wait(4);
        plan.Quit();
        ChildResult run = RunBrowser(root.path);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(CountOf(run.out, "mkdir: "), 0) << run.out;
        EXPECT_EQ(CountOf(run.out, "rename: "), 0) << run.out;
        EXPECT_TRUE(IsDir(root / "zz"));
    }
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
