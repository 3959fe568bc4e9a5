// The browser through its real loop: moving, the help bar, and the commands on real trees
// (copy, delete, execute, create a folder, rename) as the user's buttons drive them.
#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/naming.h"
#include "app/panes.h"
#include "common/globals.h"
#include "keyboard/dingux_vexpad.h"
#include "tests/harness.h"

// The "chdir: " lines of a log, each less that prefix and less root.
static std::vector<std::string> Visited(const std::string &log, const std::string &root) {
    std::vector<std::string> visited;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("chdir: " + root, 0) == 0)
            visited.push_back(line.substr(7 + root.size()));
    return visited;
}

// Makes the entries in dir: names ending in "/" are directories, the others files.
static void MakeEntries(const TempDir &dir, const std::vector<std::string> &entries) {
    for (const std::string &entry : entries)
        entry.back() == '/' ? MakeDir(dir / entry) : WriteFile(dir / entry, "x");
}

// The directories d00/ to d(count-1)/.
static std::vector<std::string> Numbered(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; i++)
        names.push_back((i < 10 ? "d0" : "d") + std::to_string(i) + "/");
    return names;
}

// The colours the user sees, written out: a changed colour constant must fail these tests.
static const SDL_Color kWhite = {255, 255, 255, 0}, kRed = {255, 0, 0, 0};

// With font size 10 VL Gothic lines are 11 pixels high, so 18 rows (0 to 17) fit, 12 apart.
static int RowY(int row) {
    return (row + 1) * 12 + 3;
}

TEST(Browser, MovesEntersAndGoesUpAsTheButtonsSay) {
    const struct {
        std::vector<std::string> tree;
        std::string buttons;
        std::vector<std::string> visited; // the folders entered, below the start
    } walks[] = {
        // A press moves once, a held direction again on its 30th pass; B goes up.
        {Numbered(5), "DDDUABD31A", {"/d01", "", "/d01"}},
        {Numbered(3), "DDDDDDDDDDA", {"/d02"}},
        // A on a file does nothing; A on ../ goes up.
        {{"sub/", "sub/file"}, "DADAUA", {"/sub", ""}},
        // Down stops on the last entry, with the cursor on the last row.
        {Numbered(40), "D200CA", {"/d39"}},
    };
    for (const auto &walk : walks) {
        TempDir dir;
        MakeEntries(dir, walk.tree);
        ScriptClear();
        KeyPlan plan;
        plan.Press(walk.buttons, {"bottom.bmp"});
        plan.Quit();
        ChildResult run = RunBrowser(dir.path);
        EXPECT_EQ(Visited(run.out, dir.path), walk.visited) << walk.tree.size();
        SDL_Surface *screen = LoadCapture(dir / "bottom.bmp");
        ASSERT_EQ(screen != nullptr, walk.tree.size() == 40);
        if (screen != nullptr) {
            EXPECT_TRUE(ColorIs(screen, 3, RowY(17) + 2, kRed));
            EXPECT_FALSE(ColorIs(screen, 3, RowY(16) + 2, kRed));
            SDL_FreeSurface(screen);
        }
    }
}

TEST(Browser, HelpBarChangesWhileSelectIsHeld) {
    TempDir dir;
    ScriptClear();
    ScriptCapture(2, dir / "plain.bmp");
    ScriptHold(kSelect, 4, 8);
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
    int before = 0, after = 0;
    TTF_SizeUTF8(small, bar.c_str(), &before, nullptr);
    TTF_SizeUTF8(small, (bar + "quit").c_str(), &after, nullptr);
    TTF_CloseFont(small);

    for (const std::string name : {"plain.bmp", "select.bmp", "released.bmp"}) {
        SDL_Surface *screen = LoadCapture(dir / name);
        ASSERT_NE(screen, nullptr);
        bool text = false; // any dark pixel where "quit" stands
        for (int x = 2 + before; x < 2 + after; x++)
            for (int y = 231; y < 237; y++)
                text = text || ColorAt(screen, x, y).r < 128;
        EXPECT_EQ(text, name == "select.bmp") << name;
        EXPECT_TRUE(ColorIs(screen, 2 + before, 231, kWhite)) << name;
        SDL_FreeSurface(screen);
    }
}

// Copy and move need an entry of their own and two folders; delete never offers ../ and Cancel
// keeps the entry. A question left open holds the loop past the pass limit.
TEST(Commands, RefusedOrCancelledChangeNothing) {
    const struct {
        std::vector<std::string> tree;
        std::string buttons;
    } cases[] = {
        // Y then X on ../, on ..dots, and on f with both panes in one folder.
        {{"..dots", "f"}, "YXDYXDYX"},
        // Ok, then back to Cancel.
        {{"f"}, "D^BRLA."},
        {{}, "^B"},
    };
    for (const auto &c : cases) {
        TempDir root;
        MakeEntries(root, c.tree);
        ScriptClear();
        ScriptLimit(100);
        KeyPlan plan;
        plan.Press(c.buttons);
        plan.Quit();
        ChildResult run = RunBrowser(root.path);
        EXPECT_EQ(run.status, 0) << c.tree.size();
        for (const char *change : {"copy: ", "move: ", "delete: "})
            EXPECT_EQ(CountOf(run.out, change), 0) << c.tree.size();
        EXPECT_EQ(Names(root.path).size(), c.tree.size());
    }
}

TEST(ExecuteCommand, NamesRunOnlyThemselves) {
    TempDir root, markers;
    const std::string names[] = {"my script", "x;touch INJECTED", "z'q';touch QUOTED;'"};
    for (int row = 1; row <= 3; row++) { // the listing's order
        // Each script writes its own name into its marker file.
        const std::string script = root / names[row - 1];
        WriteFile(script, "#!/bin/sh\necho \"ran $0\" > '" + markers / std::to_string(row) + "'\n");
        chmod(script.c_str(), 0755);
        ScriptClear();
        KeyPlan plan;
        plan.Press(std::string(row, 'D') + "^ARA");
        plan.Quit();
        RunBrowser(root.path);
        EXPECT_EQ(ReadFile(markers / std::to_string(row)), "ran " + script + "\n");
    }
    EXPECT_FALSE(Exists(root / "INJECTED"));
    EXPECT_FALSE(Exists(root / "QUOTED"));
    EXPECT_FALSE(Exists("/INJECTED"));
}

// Types lower-case letters on the keyboard's first page, each with the directions and face key
// of its cell held for one pass.
static void TypeText(KeyPlan &plan, const std::string &text) {
    static const SDLKey kFaces[] = {kX, kY, kB, kA};
    for (char character : text) {
        int cell = 0;
        while (cell < 35 && vexpad_charAt(0, cell / 12, cell / 4 % 3, cell % 4) != character)
            cell++;
        int row = cell / 12, column = cell / 4 % 3;
        if (row != 1)
            ScriptTap(row == 0 ? kUp : kDown, plan.pass);
        if (column != 1)
            ScriptTap(column == 0 ? kLeft : kRight, plan.pass);
        plan.Tap(kFaces[cell % 4]);
    }
}

// Runs the command in a child, on a browser whose panes both show dir with the left cursor on
// row cursor: erases `erase` bytes, types text, finishes with START and closes the popup that
// follows with A. Prints the popup's text after "popup: ".
static ChildResult RunNaming(void (*command)(Browser &), const std::string &dir, int cursor,
                             const std::string &stand_in, bool vanish, int erase,
                             const std::string &text) {
    return RunChild([&] {
        if (!OpenKeyboardTestDisplay())
            return 97;
        ScriptClear();
        KeyPlan plan;
        plan.Press("." + std::string(erase, 'X'));
        TypeText(plan, text);
        plan.Press("S.A");
        ScriptLimit(plan.pass + 20);
        auto browser = std::make_unique<Browser>();
        for (int index = 0; index < 2; index++) {
            CopyString(browser->pane[index].path, kPathSize, dir.c_str());
            RelistPane(*browser, index);
        }
        browser->pane[0].cursor = cursor;
        // The pane's directory may vanish after it was listed.
        if ((vanish && rmdir(dir.c_str()) != 0) || chdir(stand_in.c_str()) != 0)
            return 96;
        TakeDrawnText();
        command(*browser);
        printf("\npopup: %s", TakeDrawnText().c_str());
        return 0;
    });
}

// A name is never made where it cannot be, nor over any entry of that name, links included.
TEST(NamingCommands, AFailureShowsAnErrorAndChangesNothing) {
    TempDir parent, elsewhere, links;
    MakeDir(parent / "gone");
    WriteFile(links / "a", "a");
    ASSERT_EQ(symlink((links / "nowhere").c_str(), (links / "dangling").c_str()), 0);
    ASSERT_EQ(symlink("looping", (links / "looping").c_str()), 0);
    const struct {
        void (*command)(Browser &);
        std::string dir;
        int cursor;
        std::string stand_in; // where the process stands when the command begins
        bool vanish;
        int erase;
        std::string typed, popup;
    } cases[] = {
        // 256 bytes, one more than a name may have.
        {MakeDirCommand, parent.path, 0, "/", false, 0, std::string(256, 'm'), "mkdir() failed"},
        {MakeDirCommand, parent / "gone", 0, elsewhere.path, true, 0, "x", "mkdir() failed"},
        {RenameCommand, links.path, 1, "/", false, 1, "dangling", "\"dangling\" already exists"},
        {RenameCommand, links.path, 1, "/", false, 1, "looping", "\"looping\" already exists"},
        {MakeDirCommand, links.path, 1, "/", false, 0, "dangling", "\"dangling\" already exists"},
        {MakeDirCommand, links.path, 1, "/", false, 0, "looping", "\"looping\" already exists"},
    };
    for (const auto &c : cases) {
        ChildResult run =
            RunNaming(c.command, c.dir, c.cursor, c.stand_in, c.vanish, c.erase, c.typed);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out.substr(run.out.rfind("\npopup: ") + 8), c.popup);
        EXPECT_EQ(CountOf(run.out, "mkdir: ") + CountOf(run.out, "rename: "), 0) << c.typed;
    }
    EXPECT_EQ(Names(parent.path).size() + Names(elsewhere.path).size(), 0u);
    EXPECT_EQ(Names(links.path), (std::vector<std::string>{"a", "dangling", "looping"}));
    EXPECT_EQ(ReadFile(links / "a"), "a");
    char target[64] = {};
    EXPECT_GT(readlink((links / "dangling").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), links / "nowhere");
}

TEST(Options, UsageErrorsSizesOutOfRangeAndAMissingFont) {
    const std::string usage =
        "Usage: zorvel [option]\n -s #         : font size\n -f fontfile  : font file\n";
    const struct {
        std::vector<std::string> arguments;
        std::string out; // how what the program printed ends, standard error included
    } cases[] = {
        {{"-x"}, usage},
        {{"-s"}, usage},
        // Sizes outside 8 to 14 are ignored; a font that cannot be opened fails the start.
        {{"-s", "8", "-s", "7", "-s", "15", "-s", "big", "-s", "14", "-f", "/nonexistent/f.ttf"},
         "font size: 8\nfont size: 14\nfont file: /nonexistent/f.ttf\nerror: init failed\n"},
    };
    for (auto c : cases) {
        ChildResult run = RunChild([&] {
            dup2(STDOUT_FILENO, STDERR_FILENO);
            std::vector<char *> argv = {const_cast<char *>(ZORVEL_PROGRAM)};
            for (std::string &argument : c.arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            execv(ZORVEL_PROGRAM, argv.data());
            return 97;
        });
        EXPECT_EQ(run.status, 1) << c.arguments[0];
        // The C library's own complaint may come first.
        size_t from = run.out.size() - std::min(run.out.size(), c.out.size());
        EXPECT_EQ(run.out.substr(from), c.out) << c.arguments[0];
        EXPECT_EQ(run.out.find("font height"), std::string::npos) << c.arguments[0];
    }
}
