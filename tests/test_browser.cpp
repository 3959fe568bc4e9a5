// The browser through its real loop: moving, the help bar, and the commands on real trees
// (copy, delete, execute, create a folder, rename) as the user's buttons drive them; the options.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "common/globals.h"
#include "tests/harness.h"

// Each row ends with the names at the top of its tree as they were. A question left open holds
// the loop past the pass limit.
TEST(Browser, ButtonsMoveEnterAndRunCommandsOnRealTrees) {
    TempDir scripts;
    // Run, an entry prints its own path: each is a link to this script.
    const std::string script = scripts / "print";
    WriteFile(script, "#!/bin/sh\necho \"ran $0\"\n");
    chmod(script.c_str(), 0755);
    // A name runs only its own file, whatever the shell would make of it.
    const std::string odd = "my x;touch INJECTED z'q';touch QUOTED;'";
    const std::string ran = "execute: ~/" + odd + "\nsync disc\nran ~/" + odd + "\n";
    std::vector<std::string> forty; // d00/ to d39/
    for (int i = 0; i < 40; i++)
        forty.push_back((i < 10 ? "d0" : "d") + std::to_string(i) + "/");
    const struct {
        std::vector<std::string> tree;
        std::string buttons, told;
        int cursor_row; // the row the left cursor shows on at C
    } rows[] = {
        // A press moves once, a held direction again on its 30th pass; a held A acts once; B goes
        // up. Down stops on the last entry, with the cursor on the last row when the list scrolls.
        {forty, "DDDUA9BD31ABD200DDCA",
         "chdir: ~/d01\nchdir: ~\nchdir: ~/d01\nchdir: ~\nchdir: ~/d39\nsync disc\n", 17},
        // Down stops on the last entry of a short list too; A on a file does nothing, on ../ it
        // goes up.
        {{"sub/", "sub/file"}, "DDADAUA", "chdir: ~/sub\nchdir: ~\nsync disc\n", -1},
        // Copy and move need an entry of their own and two folders; delete never offers ../.
        {{"..dots", "f"}, "^BYXDYXDYXC", "sync disc\n", 2},
        // Delete's Ok, then back to Cancel.
        {{"f"}, "D^BRLA.", "sync disc\ndelete \"f\"  Ok?", -1},
        // The entry replaces the browser: what it printed ends the log, and no popup is recorded.
        {{odd + "->" + script}, "D^ARA", ran, -1},
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
        ScriptOnFlip(1, [] { CopyString(option.start_dir, kPathSize, ZORVEL_GRAPHICS_DIR "/.."); });
        TestRun run = RunLoop(root.path);
        EXPECT_EQ(run.status, 0) << row.buttons;
        // The log after the start, then the popups' texts, each root in them written "~".
        std::string told =
            run.out.substr(run.out.find('\n', run.out.find("path: ")) + 1) + run.drawn;
        for (size_t at = 0; (at = told.find(root.path, at)) != std::string::npos;)
            told.replace(at, root.path.size(), "~");
        EXPECT_EQ(told, row.told) << row.buttons;
        EXPECT_EQ(Names(root.path), before) << row.buttons;
        if (row.cursor_row < 0)
            continue;
        SDL_Surface *screen = SDL_LoadBMP((shots / "cursor.bmp").c_str());
        ASSERT_NE(screen, nullptr);
        // Lines of VL Gothic at size 10 are 11 pixels high: 18 rows fit, 12 apart.
        for (int shown = 0; shown < 18; shown++)
            EXPECT_EQ(ColorIs(screen, 3, shown * 12 + 17, {255, 0, 0, 0}), shown == row.cursor_row)
                << row.buttons << " row " << shown;
        SDL_FreeSurface(screen);
    }
}

TEST(Browser, HelpBarChangesWhileSelectIsHeld) {
    TempDir dir;
    KeyPlan plan = Plan();
    ScriptHold(kSelect, 1, 5); // from the pass after the first capture
    plan.Press("C.C...CQ", {dir / "plain.bmp", dir / "held.bmp", dir / "released.bmp"});
    RunLoop(dir.path);
    // Nothing but the help bar changes on the screen.
    EXPECT_NE(ReadFile(dir / "held.bmp"), ReadFile(dir / "plain.bmp"));
    EXPECT_EQ(ReadFile(dir / "released.bmp"), ReadFile(dir / "plain.bmp"));
}

// Sizes outside 8 to 14 are ignored; a font that cannot be opened fails the start.
TEST(Options, SizesOutOfRangeAreIgnoredAndAMissingFontFailsTheStart) {
    TestRun run = RunChild([] {
        dup2(STDOUT_FILENO, STDERR_FILENO);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        execl(ZORVEL_PROGRAM, ZORVEL_PROGRAM, "-s", "8", "-s", "7", "-s", "15", "-s", "big", "-s",
              "14", "-f", "/nonexistent/f.ttf", nullptr);
        return 97;
    });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "font size: 8\nfont size: 14\nfont file: /nonexistent/f.ttf\nerror: init failed\n");
}
