// Creating directories and renaming entries with a typed name, on real trees.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/browser.h"
#include "app/commands.h"
#include "app/globals.h"
#include "keyboard/dingux_vexpad.h"
#include "tests/harness.h"

constexpr SDLKey kUp = SDLK_UP, kDown = SDLK_DOWN, kLeft = SDLK_LEFT, kRight = SDLK_RIGHT;
constexpr SDLKey kA = SDLK_LCTRL, kB = SDLK_LALT, kX = SDLK_SPACE, kY = SDLK_LSHIFT;
constexpr SDLKey kR = SDLK_BACKSPACE, kStart = SDLK_RETURN, kSelect = SDLK_ESCAPE;

// The build folder holds the keyboard's images in graphics/, as a start directory does.
static std::string BuildDir() {
    std::string graphics = ZORVEL_GRAPHICS_DIR;
    return graphics.substr(0, graphics.rfind('/'));
}

static int CountOf(const std::string &text, const std::string &piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        count++;
    return count;
}

// Types one character of the given page with the directions and face key of its cell: all down
// for one pass, then one pass with everything up.
static void TypeOn(KeyPlan &plan, int page, char character) {
    static const SDLKey kFaces[] = {kX, kY, kB, kA};
    for (int row = 0; row < 3; row++)
        for (int column = 0; column < 3; column++)
            for (int slot = 0; slot < 4; slot++) {
                if (vexpad_charAt(page, row, column, slot) != character)
                    continue;
                if (row != 1)
                    ScriptTap(row == 0 ? kUp : kDown, plan.pass);
                if (column != 1)
                    ScriptTap(column == 0 ? kLeft : kRight, plan.pass);
                plan.Tap(kFaces[slot]);
                return;
            }
    ADD_FAILURE() << "no key types " << character;
}

// Types lower-case letters, and "/" from the shifted letter page.
static void TypeText(KeyPlan &plan, const std::string &text) {
    for (char character : text) {
        if (character != '/') {
            TypeOn(plan, 0, character);
            continue;
        }
        plan.Tap(kR);
        TypeOn(plan, 1, '/');
        plan.Tap(kR);
    }
}

// Finishes the dialog with START.
static void Finish(KeyPlan &plan) {
    plan.Tap(kStart);
}

// Closes the message popup that follows the dialog; it waits for a fresh press of A.
static void ClosePopup(KeyPlan &plan) {
    plan.Wait(2);
    plan.Tap(kA);
}

struct CommandCall {
    void (*command)(Browser &) = nullptr;
    std::string dir;         // both panes show it
    int cursor = 0;          // row of the left pane's cursor
    std::string before_dir;  // where the process stands when the command begins
    bool remove_dir = false; // the directory disappears after it was listed
};

static CommandCall Call(void (*command)(Browser &), const std::string &dir, int cursor) {
    CommandCall call;
    call.command = command;
    call.dir = dir;
    call.cursor = cursor;
    return call;
}

// What a command left behind, in the order printed by its child.
struct CommandOutcome {
    int status = -1;
    std::string out;   // the log lines and the report
    std::string popup; // the text of a message popup; empty when none was shown
    std::string drawn; // every text drawn on a solid background
    std::string cwd;
    std::string active_rows; // the left pane's rows, each followed by a space
    std::string other_rows;
    int cursor = -1;
};

static std::string Rows(const Pane &pane) {
    std::string rows;
    for (int row = 0; row < pane.count; row++)
        rows += std::string(pane.entries[row]) + " ";
    return rows;
}

// Runs the command in a child, on a browser whose panes both show the directory, with the keys
// that plan_keys scripts.
static CommandOutcome RunCommand(const CommandCall &call,
                                 const std::function<void(KeyPlan &)> &plan_keys) {
    ChildResult run = RunChild([&] {
        if (!OpenTestDisplay())
            return 97;
        CopyString(option.start_dir, sizeof option.start_dir, BuildDir().c_str());
        memset(SDL_GetKeyState(nullptr), 0, SDLK_LAST);
        ScriptClear();
        KeyPlan plan;
        plan.Wait(2);
        plan_keys(plan);
        ScriptLimit(plan.pass + 20);

        auto browser = std::make_unique<Browser>();
        for (int index = 0; index < 2; index++) {
            CopyString(browser->pane[index].path, kPathSize, call.dir.c_str());
            RelistPane(*browser, index);
        }
        browser->active = 0;
        browser->pane[0].cursor = call.cursor;
        if (call.remove_dir && rmdir(call.dir.c_str()) != 0)
            return 96;
        if (chdir(call.before_dir.empty() ? "/" : call.before_dir.c_str()) != 0)
            return 95;
        TakeDrawnText();
        TakeShadedText();
        call.command(*browser);

        char cwd[kPathSize] = "";
        if (getcwd(cwd, sizeof cwd) == nullptr)
            CopyString(cwd, sizeof cwd, "(none)");
        printf("popup [%s]\ncwd [%s]\ncursor %d\n", TakeDrawnText().c_str(), cwd,
               browser->pane[0].cursor);
        printf("active [%s]\nother [%s]\ndrawn [%s]\n", Rows(browser->pane[0]).c_str(),
               Rows(browser->pane[1]).c_str(), TakeShadedText().c_str());
        return 0;
    });
    CommandOutcome outcome;
    outcome.status = run.status;
    outcome.out = run.out;
    auto field = [&](const std::string &name) {
        size_t begin = run.out.find("\n" + name + " [");
        if (begin == std::string::npos)
            return std::string("(missing)");
        begin += name.size() + 3;
        return run.out.substr(begin, run.out.find("]\n", begin) - begin);
    };
    outcome.popup = field("popup");
    outcome.cwd = field("cwd");
    outcome.active_rows = field("active");
    outcome.other_rows = field("other");
    outcome.drawn = field("drawn");
    size_t at = run.out.find("\ncursor ");
    if (at != std::string::npos)
        outcome.cursor = atoi(run.out.c_str() + at + 8);
    return outcome;
}

static bool IsDir(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

TEST(MakeDirCommand, AnEmptyLineDoesNothingButStandsInThePanesDirectory) {
    TempDir dir;
    WriteFile(dir / "f", "x");
    CommandOutcome done = RunCommand(Call(MakeDirCommand, dir.path, 1), Finish);
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_EQ(done.popup, "");
    EXPECT_EQ(CountOf(done.out, "mkdir: "), 0);
    EXPECT_EQ(done.cursor, 1);
    EXPECT_EQ(done.cwd, dir.path);
    EXPECT_EQ(CountOf(done.drawn, "create dir\n"), 1);
}

TEST(MakeDirCommand, ATakenNameShowsItInQuotesAndCreatesNothing) {
    TempDir dir;
    WriteFile(dir / "f", "x");
    MakeDir(dir / "d");
    for (const char *name : {"f", "d"}) {
        CommandOutcome done = RunCommand(Call(MakeDirCommand, dir.path, 1), [&](KeyPlan &plan) {
            TypeText(plan, name);
            Finish(plan);
            ClosePopup(plan);
        });
        ASSERT_EQ(done.status, 0) << done.out;
        EXPECT_EQ(done.popup, "\"" + std::string(name) + "\" already exists");
        EXPECT_EQ(CountOf(done.drawn, "Error\n"), 1);
        EXPECT_EQ(CountOf(done.out, "mkdir: "), 0);
        EXPECT_EQ(done.cursor, 1);
    }
    EXPECT_EQ(ReadFile(dir / "f"), "x");
}

TEST(MakeDirCommand, CreatesLogsAndRelistsOnlyTheActivePane) {
    TempDir dir;
    MakeDir(dir / "d");
    CommandOutcome done = RunCommand(Call(MakeDirCommand, dir.path, 1), [](KeyPlan &plan) {
        TypeText(plan, "new");
        Finish(plan);
    });
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_TRUE(IsDir(dir / "new"));
    struct stat status;
    ASSERT_EQ(stat((dir / "new").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0755u);
    EXPECT_EQ(CountOf(done.out, "mkdir: new in " + dir.path + "\n"), 1);
    EXPECT_EQ(done.popup, "");
    EXPECT_EQ(done.cursor, 0);
    EXPECT_EQ(done.active_rows, "../ d/ new/ ");
    EXPECT_EQ(done.other_rows, "../ d/ ");
}

TEST(MakeDirCommand, AFailedCreationShowsAnErrorAndLogsNothing) {
    TempDir dir;
    // 256 bytes: one more than a name may have.
    CommandOutcome done = RunCommand(Call(MakeDirCommand, dir.path, 0), [](KeyPlan &plan) {
        plan.Tap(kY, 256);
        Finish(plan);
        ClosePopup(plan);
    });
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_EQ(done.popup, "mkdir() failed");
    EXPECT_EQ(CountOf(done.out, "mkdir: "), 0);
    EXPECT_EQ(done.active_rows, "../ ");
}

TEST(MakeDirCommand, AVanishedDirectoryIsNeverReplacedByTheCurrentOne) {
    TempDir parent;
    TempDir elsewhere;
    MakeDir(parent / "gone");
    CommandCall call = Call(MakeDirCommand, parent / "gone", 0);
    call.before_dir = elsewhere.path;
    call.remove_dir = true;
    CommandOutcome done = RunCommand(call, [](KeyPlan &plan) {
        TypeText(plan, "x");
        Finish(plan);
        ClosePopup(plan);
    });
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_EQ(done.popup, "mkdir() failed");
    EXPECT_FALSE(Exists(elsewhere / "x"));
    EXPECT_FALSE(Exists(parent / "x"));
}

TEST(RenameCommand, ADirectoryOpensWithoutItsSlashAndUnchangedOrEmptyDoesNothing) {
    TempDir dir;
    MakeDir(dir / "sub");
    // Unchanged, then emptied with three backspaces.
    for (int backspaces : {0, 3}) {
        CommandOutcome done = RunCommand(Call(RenameCommand, dir.path, 1), [&](KeyPlan &plan) {
            plan.Tap(kX, backspaces);
            Finish(plan);
        });
        ASSERT_EQ(done.status, 0) << done.out;
        // The title, then the field's text and its cursor cell.
        EXPECT_EQ(done.drawn.substr(0, 13), "rename\nsub\n \n");
        EXPECT_EQ(done.popup, "");
        EXPECT_EQ(CountOf(done.out, "rename: "), 0);
        EXPECT_EQ(done.cursor, 1);
        EXPECT_EQ(done.cwd, dir.path);
    }
    EXPECT_TRUE(IsDir(dir / "sub"));
}

TEST(RenameCommand, NamesBeginningWithTwoDotsOpenNoDialog) {
    TempDir dir;
    WriteFile(dir / "..dots", "x");
    for (int row : {0, 1}) { // ../ and ..dots
        CommandOutcome done = RunCommand(Call(RenameCommand, dir.path, row), [](KeyPlan &plan) {
            TypeText(plan, "z");
            Finish(plan);
        });
        ASSERT_EQ(done.status, 0) << done.out;
        EXPECT_EQ(done.drawn, "");
        EXPECT_EQ(done.cwd, "/");
        EXPECT_EQ(CountOf(done.out, "rename: "), 0);
    }
    EXPECT_TRUE(Exists(dir / "..dots"));
}

TEST(RenameCommand, OntoATakenNameShowsItAndLeavesBothEntries) {
    TempDir dir;
    MakeDir(dir / "sub");
    WriteFile(dir / "f", "x");
    CommandOutcome done = RunCommand(Call(RenameCommand, dir.path, 2), [](KeyPlan &plan) {
        plan.Tap(kX);
        TypeText(plan, "sub");
        Finish(plan);
        ClosePopup(plan);
    });
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_EQ(done.popup, "\"sub\" already exists");
    EXPECT_EQ(CountOf(done.out, "rename: "), 0);
    EXPECT_EQ(ReadFile(dir / "f"), "x");
    EXPECT_TRUE(IsDir(dir / "sub"));
    EXPECT_EQ(done.cursor, 2);
}

TEST(RenameCommand, RenamesLogsAndRelistsOnlyTheActivePane) {
    TempDir dir;
    WriteFile(dir / "f", "x");
    CommandOutcome done = RunCommand(Call(RenameCommand, dir.path, 1), [](KeyPlan &plan) {
        plan.Tap(kX);
        TypeText(plan, "g");
        Finish(plan);
    });
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_EQ(ReadFile(dir / "g"), "x");
    EXPECT_FALSE(Exists(dir / "f"));
    EXPECT_EQ(CountOf(done.out, "rename: f to g\n"), 1);
    EXPECT_EQ(done.popup, "");
    EXPECT_EQ(done.cursor, 0);
    EXPECT_EQ(done.active_rows, "../ g ");
    EXPECT_EQ(done.other_rows, "../ f ");
}

TEST(RenameCommand, ATypedSlashMovesTheEntryIntoADirectory) {
    TempDir dir;
    MakeDir(dir / "old");
    WriteFile(dir / "f", "x");
    CommandOutcome done = RunCommand(Call(RenameCommand, dir.path, 2), [](KeyPlan &plan) {
        plan.Tap(kX);
        TypeText(plan, "old/x");
        Finish(plan);
    });
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_EQ(ReadFile(dir / "old/x"), "x");
    EXPECT_EQ(CountOf(done.out, "rename: f to old/x\n"), 1);
    EXPECT_EQ(done.active_rows, "../ old/ ");
}

TEST(RenameCommand, AFailedRenameIsLoggedBeforeItsError) {
    TempDir dir;
    MakeDir(dir / "sub");
    // A directory cannot move into itself.
    CommandOutcome done = RunCommand(Call(RenameCommand, dir.path, 1), [](KeyPlan &plan) {
        TypeText(plan, "/x");
        Finish(plan);
        ClosePopup(plan);
    });
    ASSERT_EQ(done.status, 0) << done.out;
    EXPECT_EQ(done.popup, "rename() failed");
    EXPECT_EQ(CountOf(done.out, "rename: sub to sub/x\n"), 1);
    EXPECT_LT(done.out.find("rename: sub to sub/x\n"), done.out.find("popup ["));
    EXPECT_TRUE(IsDir(dir / "sub"));
    EXPECT_EQ(done.cursor, 1);
}

// The start directory holds the keyboard's images (as the program's folder does) and the
// directory "data", which the left pane enters first.
struct StartFolder {
    TempDir root;
    KeyPlan plan;
    StartFolder() {
        if (symlink(ZORVEL_GRAPHICS_DIR, (root / "graphics").c_str()) != 0)
            ADD_FAILURE() << "no graphics link";
        MakeDir(root / "data");
        ScriptClear();
        ScriptLimit(20000);
        plan.Tap(kDown); // ../ data/ graphics
        plan.Tap(kA);
    }
    std::string Data(const std::string &name = "") const { return root / ("data" + name); }
    // Opens a dialog with SELECT and the face key; its first read acts on no key.
    void Open(SDLKey face) {
        plan.With(kSelect, face);
        plan.Wait(1);
    }
    ChildResult Run() {
        plan.Wait(4);
        plan.Quit();
        return RunBrowser(root.path);
    }
};

TEST(NamingInTheBrowser, CreateThenRenameWithTheCursorBackOnTheFirstRow) {
    StartFolder start;
    MakeDir(start.Data("/zz"));
    start.plan.Tap(kDown); // zz/
    start.Open(kY);
    TypeText(start.plan, "new");
    Finish(start.plan);
    // Relisted: ../ new/ zz/ with the cursor on ../, so new/ is one row down.
    start.plan.Tap(kDown);
    start.Open(kX);
    start.plan.Tap(kX, 3);
    TypeText(start.plan, "box");
    Finish(start.plan);
    start.plan.Tap(kDown);
    start.plan.Tap(kA);
    ChildResult run = start.Run();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(CountOf(run.out, "mkdir: new in " + start.Data() + "\n"), 1);
    EXPECT_EQ(CountOf(run.out, "rename: new to box\n"), 1);
    EXPECT_TRUE(IsDir(start.Data("/box")));
    EXPECT_EQ(CountOf(run.out, "chdir: " + start.Data("/box") + "\n"), 1);
}
