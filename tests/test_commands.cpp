// The file commands end to end: scripted buttons through the real loop on real trees.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "tests/harness.h"

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
