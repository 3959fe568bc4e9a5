// The browser through its real loop: moving, the help bar, and the commands on real trees
// (copy, delete, execute, create a folder, rename) as the user's buttons drive them; the options.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/globals.h"
#include "tests/harness.h"

static const std::string kGraphics = ZORVEL_GRAPHICS_DIR;
static const std::string kBuildDir = kGraphics.substr(0, kGraphics.rfind('/'));

// The directories d00/ to d(count-1)/.
static std::vector<std::string> Numbered(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; i++)
        names.push_back((i < 10 ? "d0" : "d") + std::to_string(i) + "/");
    return names;
}

// The log after the start, then the popups' texts, each root in them written "~".
static std::string Told(const TestRun &run, const std::string &root) {
    size_t start = run.out.find('\n', run.out.find("path: "));
    std::string told = (start == std::string::npos ? "" : run.out.substr(start + 1)) + run.drawn;
    for (size_t at = 0; (at = told.find(root, at)) != std::string::npos;)
        told.replace(at, root.size(), "~");
    return told;
}

static const SDL_Color kRed = {255, 0, 0, 0};

// With font size 10 VL Gothic lines are 11 pixels high, so 18 rows (0 to 17) fit, 12 apart.
static int RowY(int row) {
    return (row + 1) * 12 + 3;
}

// Each row ends with the names at the top of its tree as they were. A question left open holds
// the loop past the pass limit.
TEST(Browser, ButtonsMoveEnterAndRunCommandsOnRealTrees) {
    TempDir scripts;
    // Run, an entry prints its own path: each is a link to this script.
    const std::string script = scripts / "print";
    WriteFile(script, "#!/bin/sh\necho \"ran $0\"\n");
    chmod(script.c_str(), 0755);
    struct Row {
        std::vector<std::string> tree;
        std::string buttons, told;
        int cursor_row; // the row the left cursor shows on at C
    };
    // A name runs only its own file, whatever the shell would make of it. The entry replaces the
    // browser, so what it printed ends the log and no popup's text is recorded.
    auto run_entry = [&](const std::string &name) {
        return Row{{name + "->" + script},
                   "D^ARA",
                   "execute: ~/" + name + "\nsync disc\nran ~/" + name + "\n",
                   -1};
    };
    const Row rows[] = {
        // A press moves once, a held direction again on its 30th pass; B goes up.
        {Numbered(5), "DDDUABD31A", "chdir: ~/d01\nchdir: ~\nchdir: ~/d01\nsync disc\n", -1},
        // Down stops on the last entry, with the cursor on the last row.
        {Numbered(3), "DDDDDDDDDDA", "chdir: ~/d02\nsync disc\n", -1},
        {Numbered(40), "D200CA", "chdir: ~/d39\nsync disc\n", 17},
        // A on a file does nothing; A on ../ goes up.
        {{"sub/", "sub/file"}, "DADAUA", "chdir: ~/sub\nchdir: ~\nsync disc\n", -1},
        // Copy and move need an entry of their own and two folders; delete never offers ../.
        {{"..dots", "f"}, "^BYXDYXDYXC", "sync disc\n", 2},
        // Delete's Ok, then back to Cancel.
        {{"f"}, "D^BRLA.", "sync disc\ndelete \"f\"  Ok?", -1},
        run_entry("my script"),
        run_entry("x;touch INJECTED"),
        run_entry("z'q';touch QUOTED;'"),
        // No name is made over an entry, a link to nowhere or to itself included,
        {{"a", "m->nowhere"}, "D^X,XYS.A", "sync disc\n\"m\" already exists", -1},
        {{"m->m"}, "^Y,YS.A", "sync disc\n\"m\" already exists", -1},
        // nor anywhere else when the pane's folder was deleted from the other pane.
        {{"a/", "a/gone/", "elsewhere/"},
         "DADAR DAD^BRA BDDA L^Y,YS.A",
         "chdir: ~/a\nchdir: ~/a/gone\nchdir: ~/a\ndelete: gone/\nchdir: ~\nchdir: ~/elsewhere\n"
         "sync disc\ndelete \"gone/\"  Ok?mkdir() failed",
         -1},
    };
    for (const auto &row : rows) {
        TempDir root, shots;
        MakeTree(root.path, row.tree);
        const std::vector<std::string> before = Names(root.path);
        KeyPlan plan = Plan();
        plan.Press(row.buttons + "Q", {shots / "cursor.bmp"});
        ScriptLimit(plan.pass + 20);
        // The keyboard's images are where the build drew them, not beside the program.
        ScriptOnFlip(1, [] { CopyString(option.start_dir, kPathSize, kBuildDir.c_str()); });
        TestRun run = RunLoop(root.path);
        EXPECT_EQ(run.status, 0) << row.buttons;
        EXPECT_EQ(Told(run, root.path), row.told) << row.buttons;
        EXPECT_EQ(Names(root.path), before) << row.buttons;
        if (row.cursor_row < 0)
            continue;
        SDL_Surface *screen = SDL_LoadBMP((shots / "cursor.bmp").c_str());
        ASSERT_NE(screen, nullptr);
        for (int shown = 0; shown < 18; shown++)
            EXPECT_EQ(ColorIs(screen, 3, RowY(shown) + 2, kRed), shown == row.cursor_row)
                << row.buttons << " row " << shown;
        SDL_FreeSurface(screen);
    }
}

// The bar's pixels where the help text stands.
static std::string HelpBar(const std::string &bmp) {
    std::string pixels;
    SDL_Surface *screen = SDL_LoadBMP(bmp.c_str());
    for (int y = 231; screen != nullptr && y < 237; y++)
        for (int x = 0; x < 320; x++)
            pixels += ColorAt(screen, x, y).r < 128 ? '#' : ' ';
    SDL_FreeSurface(screen);
    return pixels;
}

TEST(Browser, HelpBarChangesWhileSelectIsHeld) {
    TempDir dir;
    KeyPlan plan = Plan();
    plan.Press("C", {dir / "plain.bmp"});
    ScriptHold(kSelect, plan.pass, plan.pass + 4);
    plan.Press(".C...CQ", {dir / "held.bmp", dir / "released.bmp"});
    RunLoop(dir.path);
    EXPECT_NE(HelpBar(dir / "held.bmp"), HelpBar(dir / "plain.bmp"));
    EXPECT_EQ(HelpBar(dir / "released.bmp"), HelpBar(dir / "plain.bmp"));
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
        TestRun run = RunChild([&] {
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
