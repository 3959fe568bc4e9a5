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

TEST(CopyCommand, CopiesIntoTheOtherPaneAndLogs) {
    TwoPanes panes;
    WriteFile(panes.A("f"), "payload");
    panes.plan.Tap(SDLK_DOWN);
    panes.plan.Tap(SDLK_LSHIFT);
    ChildResult run = panes.Run();
    EXPECT_EQ(ReadFile(panes.B("f")), "payload");
    EXPECT_EQ(CountOf(run.out, "copy: f from " + panes.root / "A to " + panes.root / "B\n"), 1);
    EXPECT_EQ(run.status, 0);
}

TEST(CopyCommand, RefusedForParentNamesAndForOneDirectory) {
    TempDir root;
    WriteFile(root / "..dots", "x");
    WriteFile(root / "f", "x");
    ScriptClear();
    KeyPlan plan;
    plan.Tap(SDLK_LSHIFT); // ../
    plan.Tap(SDLK_SPACE);
    plan.Tap(SDLK_DOWN); // ..dots
    plan.Tap(SDLK_LSHIFT);
    plan.Tap(SDLK_SPACE);
    plan.Tap(SDLK_DOWN); // f, but both panes show the same directory
    plan.Tap(SDLK_LSHIFT);
    plan.Tap(SDLK_SPACE);
    plan.Quit();
    ChildResult run = RunBrowser(root.path);
    EXPECT_EQ(CountOf(run.out, "copy: "), 0);
    EXPECT_EQ(CountOf(run.out, "move: "), 0);
    EXPECT_TRUE(Exists(root / "f"));
}

TEST(CopyCommand, OntoAnExistingNameLogsShowsOneErrorAndRelistsTheOtherPane) {
    TwoPanes panes;
    WriteFile(panes.A("f"), "new");
    WriteFile(panes.B("f"), "old");
    MakeDir(panes.B("sub"));
    // The right pane's cursor goes down to f, then the left pane copies f twice.
    panes.plan.Tap(SDLK_RIGHT);
    panes.plan.Tap(SDLK_DOWN, 2);
    panes.plan.Tap(SDLK_LEFT);
    panes.plan.Tap(SDLK_DOWN);
    panes.plan.Tap(SDLK_LSHIFT);
    panes.plan.Tap(SDLK_LCTRL); // closes the error popup
    // The right pane was relisted: its cursor is back on ../ and A goes up.
    panes.plan.Tap(SDLK_RIGHT);
    panes.plan.Tap(SDLK_LCTRL);
    ChildResult run = panes.Run();
    EXPECT_EQ(CountOf(run.out, "copy: f from "), 1);
    EXPECT_EQ(ReadFile(panes.B("f")), "old");
    EXPECT_EQ(CountOf(run.out, "chdir: " + panes.root.path + "\n"), 1);
    EXPECT_EQ(run.status, 0);
}

TEST(MoveCommand, MovesAndRelistsBothPanes) {
    TwoPanes panes;
    MakeDir(panes.A("d"));
    WriteFile(panes.A("d/inner"), "x");
    WriteFile(panes.A("z"), "x");
    panes.plan.Tap(SDLK_DOWN, 2); // z
    panes.plan.Tap(SDLK_SPACE);
    // The active pane was relisted too: its cursor is back on ../
    panes.plan.Tap(SDLK_LCTRL);
    ChildResult run = panes.Run();
    EXPECT_TRUE(Exists(panes.B("z")));
    EXPECT_FALSE(Exists(panes.A("z")));
    EXPECT_TRUE(Exists(panes.A("d/inner")));
    EXPECT_EQ(CountOf(run.out, "move: z from " + panes.root / "A to " + panes.root / "B\n"), 1);
    EXPECT_EQ(CountOf(run.out, "chdir: " + panes.root.path + "\n"), 1);
}

TEST(DeleteCommand, CancelDoesNothingOkDeletes) {
    TempDir root;
    MakeDir(root / "victim");
    WriteFile(root / "victim/inside", "x");
    WriteFile(root / "zzz", "x");
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan plan;
    plan.Tap(SDLK_DOWN);
    plan.With(SDLK_ESCAPE, SDLK_LALT);
    plan.Tap(SDLK_LCTRL); // Cancel is selected first
    plan.Tap(SDLK_DOWN);  // no relist after Cancel: the cursor goes from victim/ to zzz
    plan.Tap(SDLK_UP);
    plan.With(SDLK_ESCAPE, SDLK_LALT);
    plan.Tap(SDLK_RIGHT);
    plan.Tap(SDLK_LCTRL);
    plan.Quit();
    ChildResult run = RunBrowser(root.path);
    EXPECT_FALSE(Exists(root / "victim"));
    EXPECT_TRUE(Exists(root / "zzz"));
    EXPECT_EQ(CountOf(run.out, "delete: "), 1);
    EXPECT_EQ(CountOf(run.out, "delete: victim/\n"), 1);
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

TEST(ExecuteCommand, RunsTheEntryAfterOk) {
    TempDir root;
    MakeScript(root / "go.sh", root / "marker");
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan plan;
    plan.Tap(SDLK_DOWN);
    plan.With(SDLK_ESCAPE, SDLK_LCTRL);
    plan.Tap(SDLK_RIGHT);
    plan.Tap(SDLK_LCTRL);
    plan.Quit();
    ChildResult run = RunBrowser(root.path);
    EXPECT_EQ(run.out, "font height = 11\npath: " + root.path + "\nexecute: " + root.path +
                           "/go.sh\nsync disc\n");
    EXPECT_EQ(ReadFile(root / "marker"), "ran " + root.path + "/go.sh\n");
    EXPECT_EQ(run.status, 0);
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

TEST(ExecuteCommand, CancelRunsNothing) {
    TempDir root;
    MakeScript(root / "go.sh", root / "marker");
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan plan;
    plan.Tap(SDLK_DOWN);
    plan.With(SDLK_ESCAPE, SDLK_LCTRL);
    plan.Tap(SDLK_LALT); // B answers Cancel, and the rest of the frame sees no B
    plan.Quit();
    ChildResult run = RunBrowser(root.path);
    EXPECT_EQ(run.out, "font height = 11\npath: " + root.path + "\nsync disc\n");
    EXPECT_FALSE(Exists(root / "marker"));
}

// Names that begin with two dots are refused on their own account, not only because both panes
// show one directory.
TEST(CopyAndMove, RefuseParentNamesBetweenTwoDirectories) {
    TwoPanes panes;
    WriteFile(panes.A("..dots"), "x");
    panes.plan.Tap(SDLK_LSHIFT); // ../
    panes.plan.Tap(SDLK_SPACE);
    panes.plan.Tap(SDLK_DOWN); // ..dots
    panes.plan.Tap(SDLK_LSHIFT);
    panes.plan.Tap(SDLK_SPACE);
    ChildResult run = panes.Run();
    EXPECT_EQ(CountOf(run.out, "copy: "), 0);
    EXPECT_EQ(CountOf(run.out, "move: "), 0);
    EXPECT_TRUE(Exists(panes.A("..dots")));
    EXPECT_FALSE(Exists(panes.B("..dots")));
    EXPECT_EQ(run.status, 0);
}
