// Data safety through the real loop: deletes that stop at other file systems, copies that never
// copy their own output, files that take their name only when complete, flushes before the
// result shows, panes whose directory vanished and questions about names that are not UTF-8.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/fs/copytree.h"
#include "common/limits.h"
#include "tests/harness.h"

// Starts a plan with every scripted key forgotten.
static KeyPlan NewPlan() {
    ScriptClear();
    ScriptLimit(5000);
    return {};
}

// Starts a plan that leaves the left pane active in the start directory and the right pane in the
// directory reached by entering, one after another, the entries at right_rows (each row counted
// from the top of the listing it is in).
static KeyPlan TwoPanePlan(const std::vector<int> &right_rows) {
    KeyPlan plan = NewPlan();
    plan.Tap(kRight);
    for (int row : right_rows) {
        plan.Tap(kDown, row);
        plan.Tap(kA);
    }
    plan.Tap(kLeft);
    return plan;
}

// Makes folders A and B in root and starts a plan that leaves the left pane active in A, the
// right pane in B.
static KeyPlan FromAToB(const TempDir &root) {
    MakeDir(root / "A");
    MakeDir(root / "B");
    KeyPlan plan = TwoPanePlan({2}); // ../ A/ B/
    plan.Tap(kDown);
    plan.Tap(kA);
    return plan;
}

// Gives the command of key, whose popup A closes.
static void Popup(KeyPlan &plan, SDLKey key) {
    plan.Tap(key);
    plan.Wait(2);
    plan.Tap(kA);
}

// Deletes the entry under the cursor, answering Ok.
static void Delete(KeyPlan &plan) {
    plan.With(kSelect, kB);
    plan.Tap(kRight);
    plan.Tap(kA);
}

// Names through the dialog that SELECT with key opens: "m", from the keyboard's centre cell.
static void TypeM(KeyPlan &plan, SDLKey key) {
    plan.With(kSelect, key);
    plan.Wait(1);
    plan.Tap(kY);
    plan.Tap(kStart);
}

// Lets the last command end, then quits.
static void Finish(KeyPlan &plan) {
    plan.Wait(4);
    plan.Quit();
}

// A browser run on a file system that says it is FAT.
static LoopRun RunOnFat(const std::string &dir) {
    return RunLoop(dir, [] {
        PretendFat(true);
        return 0;
    });
}

// ---- A delete stops at other file systems.

TEST(DeleteAcrossMounts, StopsAtAMountPointAndTouchesNothingMountedThere) {
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    enum Kind { kTmpfs, kBindOfOtherFileSystem, kBindOfSameFileSystem };
    // A kernel before 5.8 tells no mount point on the same file system (README): there only a
    // mount of another file system stops the delete.
    for (int old = 0; old < 2; old++)
        for (Kind kind : {kTmpfs, kBindOfOtherFileSystem, kBindOfSameFileSystem}) {
            if (old && kind == kBindOfSameFileSystem)
                continue;
            TempDir root, other;
            MakeDir(root / "d");
            MakeDir(root / "d/a");
            WriteFile(root / "d/a/f", "gone");
            MakeDir(root / "d/m");
            WriteFile(root / "d/z", "stays");
            MakeDir(root / "keep");
            WriteFile(root / "keep/precious", "precious");
            auto setup = [&]() -> int {
                // A mount namespace of the child's own, so that no mount outlives it.
                if (unshare(CLONE_NEWNS) != 0 ||
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                    return 77;
                SetKernel(old ? Kernel::kOld : Kernel::kCurrent);
                std::string source = root / "keep";
                if (kind == kTmpfs) {
                    if (mount("tmpfs", (root / "d/m").c_str(), "tmpfs", 0, "size=1m") != 0)
                        return 77;
                    WriteFile(root / "d/m/precious", "precious");
                    return 0;
                }
                if (kind == kBindOfOtherFileSystem) {
                    if (mount("tmpfs", other.path.c_str(), "tmpfs", 0, "size=1m") != 0)
                        return 77;
                    MakeDir(other / "x");
                    WriteFile(other / "x/precious", "precious");
                    source = other / "x";
                }
                return mount(source.c_str(), (root / "d/m").c_str(), nullptr, MS_BIND, nullptr) == 0
                           ? 0
                           : 77;
            };
            auto check = [&] { return ReadFile(root / "d/m/precious"); };
            KeyPlan plan = TwoPanePlan({});
            plan.Tap(kDown, 2); // ../ d/ keep/
            plan.Tap(kUp);
            Delete(plan);
            plan.Wait(2);
            plan.Tap(kA); // closes the error popup
            Finish(plan);
            LoopRun run = RunLoop(root.path, setup, check);
            if (run.status == 77)
                GTEST_SKIP() << "mounting is refused here";
            ASSERT_EQ(run.status, 0) << run.out;
            EXPECT_EQ(run.checked, "precious") << kind;
            EXPECT_EQ(run.popups, 1) << kind;
            EXPECT_EQ(run.drawn, "delete \"d/\"  Ok?rmdir() failed") << kind;
            EXPECT_EQ(CountOf(run.out, "delete: d/\n"), 1) << kind;
            // What sorts before the mount point went; what comes after it stays.
            EXPECT_FALSE(Exists(root / "d/a")) << kind;
            EXPECT_EQ(ReadFile(root / "d/z"), "stays") << kind;
            EXPECT_EQ(ReadFile(root / "keep/precious"), "precious") << kind;
        }
}

// ---- A copy never copies its own output.

TEST(CopyIntoItself, IsRefusedBeforeAnythingIsCreated) {
    // The right pane shows the entry itself, then a directory below it.
    for (const std::vector<int> &right : {std::vector<int>{1}, std::vector<int>{1, 1}}) {
        TempDir root;
        MakeDir(root / "A");
        WriteFile(root / "A/f", std::string(4096, 'f'));
        MakeDir(root / "A/sub");
        KeyPlan plan = TwoPanePlan(right);
        plan.Tap(kDown); // A/
        Popup(plan, kY);
        Finish(plan);
        LoopRun run = RunLoop(root.path);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.popups, 1);
        EXPECT_EQ(run.drawn, "path too long");
        EXPECT_EQ(Names(root / "A"), (std::vector<std::string>{"f", "sub"}));
        EXPECT_TRUE(Names(root / "A/sub").empty());
    }
}

TEST(CopyIntoItself, ADirectoryMetAgainThroughALinkIsNotEntered) {
    // A link to the entry itself, to its parent, to the destination that holds the output, and
    // to the output itself, which exists only once the copy made it.
    for (std::string target : {"A", ".", "B", "B/A"}) {
        TempDir root;
        MakeDir(root / "A");
        MakeDir(root / "B");
        WriteFile(root / "A/f", "data");
        ASSERT_EQ(symlink((root / target).c_str(), (root / "A/link").c_str()), 0);
        KeyPlan plan = TwoPanePlan({2}); // ../ A/ B/
        plan.Tap(kDown);                 // A/
        Popup(plan, kY);
        Finish(plan);
        LoopRun run = RunLoop(root.path);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.popups, 1) << target;
        // The file before the link was copied once. A link to the entry or to the destination
        // is not entered; the parent is entered once and stops at the entry met again.
        EXPECT_EQ(run.drawn, "fpath too long") << target;
        EXPECT_EQ(ReadFile(root / "B/A/f"), "data") << target;
        const std::vector<std::string> copied =
            target == "." ? std::vector<std::string>{"f", "link"} : std::vector<std::string>{"f"};
        EXPECT_EQ(Names(root / "B/A"), copied) << target;
        EXPECT_TRUE(Names(root / "B/A/link").empty()) << target;
    }
}

// ---- A file takes its final name only when complete.

TEST(CopyUnderATemporaryName, ACopyEndedMidwayLeavesNoCutShortFileUnderTheRealName) {
    TempDir src, dst;
    const std::string big = Pattern(3 * kCopyBlockSize + 5);
    WriteFile(src / "big", big);
    // The battery goes flat after the first cells: the process ends there. A copy written
    // without a name leaves nothing; on the console's kernel it leaves its unfinished name, and
    // the second such copy is written beside the first, with a digit.
    auto cut_short = [&](const std::string &dir, const std::string &name, Kernel answers) {
        OperationRun killed = RunFileOperation([&] {
            SetKernel(answers);
            ScriptOnFlip(3, [] { _exit(42); });
            return CopyDirEntry(dir.c_str(), src.path.c_str(), name.c_str());
        });
        EXPECT_EQ(killed.status, 42);
    };
    // A retry is not refused, and its file is whole under the real name.
    auto retry = [&](const std::string &dir, const std::string &name) {
        OperationRun whole = RunFileOperation(
            [&] { return CopyDirEntry(dir.c_str(), src.path.c_str(), name.c_str()); });
        EXPECT_EQ(whole.result, 1);
        EXPECT_EQ(whole.popups, 0);
        EXPECT_TRUE(ReadFile(dir + "/" + name) == big);
    };
    cut_short(dst.path, "big", Kernel::kCurrent);
    EXPECT_EQ(Names(dst.path), std::vector<std::string>{});
    cut_short(dst.path, "big", Kernel::kOld);
    cut_short(dst.path, "big", Kernel::kOld);
    EXPECT_EQ(Names(dst.path), (std::vector<std::string>{"big.zorvel-part", "big.zorvel-part1"}));
    retry(dst.path, "big");

    // A name with no room for the suffix is cut to make room, never at a character's middle:
    // cut short, it is not under its final name either, and a retry completes it.
    // The suffix ".zorvel-part" and a digit leave 242 bytes of a 255-byte name.
    const std::string accent = std::string(241, 'n') + "\xc3\xa9" + std::string(12, 'e');
    const std::pair<std::string, std::string> cases[] = {
        {std::string(255, 'n'), std::string(242, 'n')}, {accent, std::string(241, 'n')}};
    for (const auto &[longest, kept] : cases) {
        TempDir out;
        WriteFile(src / longest, big);
        cut_short(out.path, longest, Kernel::kOld);
        EXPECT_EQ(Names(out.path), std::vector<std::string>{kept + ".zorvel-part"});
        retry(out.path, longest);
        unlink((src / longest).c_str());
    }
}

TEST(CopyUnderATemporaryName, NeverReplacesAnEntryThatAppearedMeanwhile) {
    // With the no-replace rename, on a kernel without it, and on a file system that refuses it;
    // and as a user without root's rights, who names a nameless copy another way.
    const struct {
        Kernel kernel;
        bool ordinary_user;
    } cases[] = {{Kernel::kCurrent, false},
                 {Kernel::kOld, false},
                 {Kernel::kNoReplaceFlag, false},
                 {Kernel::kCurrent, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kernel) + 10 * c.ordinary_user);
        TempDir src, dst;
        const std::string big = Pattern(2 * kCopyBlockSize);
        WriteFile(src / "big", big);
        chmod(src.path.c_str(), 0755);
        chmod(dst.path.c_str(), 0777);
        // A plain copy first, then one during which an entry of that name appears.
        OperationRun copy;
        for (bool appears : {false, true}) {
            unlink((dst / "big").c_str());
            copy = RunFileOperation([&] {
                SetKernel(c.kernel);
                if (c.ordinary_user && getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                    _exit(3);
                if (appears)
                    ScriptOnFlip(3, [&] { WriteFile(dst / "big", "theirs"); });
                return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "big");
            });
            EXPECT_EQ(copy.result, appears ? 0 : 1);
            EXPECT_TRUE(appears || ReadFile(dst / "big") == big);
        }
        EXPECT_EQ(copy.popups, 1);
        EXPECT_EQ(copy.drawn, "big" + dst.path + "/big already exists");
        EXPECT_TRUE(ReadFile(dst / "big") == "theirs");
        EXPECT_EQ(Names(dst.path), std::vector<std::string>{"big"});
    }
}

// ---- The file system written to is flushed before the result shows.

TEST(FlushAfterCommands, EachChangeIsFlushedInItsDirectoryBeforeThePaneIsRelisted) {
    // With syncfs, and on a kernel without it, where the whole machine is flushed instead.
    for (bool old_kernel : {false, true}) {
        TempDir root;
        KeyPlan plan = FromAToB(root); // left in A: ../ e/ c d m n
        MakeDir(root / "A/e");
        for (const char *name : {"c", "d", "m", "n"})
            WriteFile(root / (std::string("A/") + name), name);
        WriteFile(root / "B/c", "taken");
        plan.Tap(kDown, 2);
        Popup(plan, kY); // c is taken in B: nothing changes, nothing is flushed
        plan.Tap(kDown, 3);
        plan.Tap(kY); // n
        plan.Tap(kUp);
        plan.Tap(kX); // m
        plan.Tap(kDown, 3);
        Delete(plan); // relisted ../ e/ c d n: d
        plan.Tap(kDown, 2);
        Popup(plan, kY); // relisted ../ e/ c n: c, taken again, and again nothing is flushed
        plan.Tap(kUp);
        Delete(plan); // the empty folder e
        Finish(plan);
        LoopRun run = RunLoop(root.path, [&] {
            SetKernel(old_kernel ? Kernel::kOld : Kernel::kCurrent);
            return 0;
        });
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.popups, 2);
        EXPECT_EQ(ReadFile(root / "B/n"), "n");
        EXPECT_EQ(ReadFile(root / "B/m"), "m");
        EXPECT_EQ(Names(root / "A"), (std::vector<std::string>{"c", "n"}));
        auto flush = [&](const std::string &dir) {
            return old_kernel ? "refused syncfs " + dir + "\nsync\nfsync " + dir + "\n"
                              : "syncfs " + dir + "\n";
        };
        // Written without a name, the copy is flushed with its file system and its own errors
        // asked for, then linked; the console's kernel has neither, and its copy is flushed by
        // itself under an unfinished name, then renamed.
        const std::string part = root / "B/n.zorvel-part";
        const std::string nameless = root / "B/(nameless)";
        const std::string named = old_kernel
                                      ? "refused syncfs " + part + "\nfsync " + part + "\nrename " +
                                            part + " " + root / "B/n" + "\n"
                                      : "syncfs " + nameless + "\nsync_file_range " + nameless +
                                            "\nlink " + nameless + " " + root / "B/n" + "\n";
        const std::string relist = "opendir\nopendir\n";
        // The copy's data reaches the storage before it takes its name, then B is flushed before
        // it is relisted; the move flushes B before B and A; each delete A, after reading the
        // folder it deletes; the second refused copy only relists B.
        EXPECT_EQ(run.flushes, named + flush(root / "B") + relist + "rename " + root / "A/m" + " " +
                                   root / "B/m" + "\n" + flush(root / "B") + relist + relist +
                                   flush(root / "A") + relist + relist + relist +
                                   flush(root / "A") + relist);
    }
}

TEST(FlushAfterCommands, CreatingAndRenamingFlushTheirDirectory) {
    TempDir root;
    ASSERT_EQ(symlink(ZORVEL_GRAPHICS_DIR, (root / "graphics").c_str()), 0);
    WriteFile(root / "abc", "x");
    KeyPlan plan = NewPlan();
    TypeM(plan, kY);
    plan.Tap(kDown, 2); // relisted ../ m/ abc graphics: abc
    TypeM(plan, kX);
    Finish(plan);
    LoopRun run = RunLoop(root.path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(CountOf(run.out, "mkdir: m in " + root.path + "\n"), 1);
    EXPECT_EQ(CountOf(run.out, "rename: abc to abcm\n"), 1);
    EXPECT_EQ(run.flushes, "syncfs " + root.path + "\nopendir\nopendir\nrename abc abcm\nsyncfs " +
                               root.path + "\nopendir\nopendir\n");
}

TEST(FlushAfterCommands, OnFatARenamedCopyIsWrittenOutWithItsFolderAtOnce) {
    // FAT fills a renamed file's entry in only when the file is written back.
    TempDir root;
    KeyPlan plan = FromAToB(root); // left in A: ../ n
    WriteFile(root / "A/n", "n");
    plan.Tap(kDown);
    plan.Tap(kY);
    plan.Wait(2);
    plan.Quit();
    LoopRun run = RunOnFat(root.path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.popups, 0);
    EXPECT_EQ(ReadFile(root / "B/n"), "n");
    const std::string part = root / "B/n.zorvel-part";
    EXPECT_EQ(run.flushes.substr(0, run.flushes.find("opendir")),
              "syncfs " + part + "\nsync_file_range " + part + "\nrename " + part + " " +
                  root / "B/n" + "\nfsync " + root / "B/n" + "\nfsync " + root / "B" + "\nsyncfs " +
                  root / "B" + "\n");
}

TEST(FatNames, ANameFatWouldCutShortIsRefusedAndNothingIsMade) {
    // FAT drops a trailing dot or space without a word: "x." would stand there as "x".
    TempDir root;
    KeyPlan plan = FromAToB(root); // left in A: ../ d./ m  x.
    MakeDir(root / "A/d.");
    WriteFile(root / "A/d./f", "f");
    WriteFile(root / "A/m ", "m");
    WriteFile(root / "A/x.", "x");
    // Copy d./, move "m " (after which A is listed anew, the cursor on top), copy x.
    for (auto [rows, key] : {std::pair{1, kY}, std::pair{1, kX}, std::pair{3, kY}}) {
        plan.Tap(kDown, rows);
        Popup(plan, key);
    }
    plan.Quit();
    LoopRun run = RunOnFat(root.path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.popups, 3);
    EXPECT_EQ(run.drawn, "can't create dir " + root / "B/d./" + "rename() failed" +
                             "can't create " + root / "B/x.");
    EXPECT_TRUE(Names(root / "B").empty());
    EXPECT_EQ(ReadFile(root / "A/m "), "m");
}

TEST(FlushAfterCommands, AStorageThatRefusesTheFlushIsShownOnceACommand) {
    for (bool quiet : {false, true}) {
        TempDir root;
        ASSERT_EQ(symlink(ZORVEL_GRAPHICS_DIR, (root / "graphics").c_str()), 0);
        KeyPlan plan = FromAToB(root); // left in A: ../ m n
        WriteFile(root / "A/m", "m");
        WriteFile(root / "A/n", "n");
        plan.Tap(kDown, 2);
        Popup(plan, kY); // n: its data is refused, so it keeps its unfinished name
        plan.Tap(kUp);
        Popup(plan, kX); // m: renamed, and the flush of B after it is refused
        TypeM(plan, kY); // a folder "m" in A, whose flush is refused
        plan.Wait(2);
        plan.Tap(kA);
        plan.Wait(2);
        plan.Quit();
        LoopRun run = RunLoop(root.path, [&] {
            FailStorage(true);
            SetKernel(quiet ? Kernel::kQuietSyncfs : Kernel::kCurrent);
            return 0;
        });
        ASSERT_EQ(run.status, 0) << run.out;
        // A kernel whose syncfs tells nothing still tells each copied file's own failure.
        EXPECT_EQ(run.popups, quiet ? 1 : 3);
        std::string flushes_refused =
            quiet ? "" : "write " + root / "B" + " failedwrite " + root / "A" + " failed";
        EXPECT_EQ(run.drawn, "nwrite " + root / "B/n" + " failed" + flushes_refused);
        EXPECT_FALSE(Exists(root / "B/n"));
        EXPECT_EQ(ReadFile(root / "B/n.zorvel-part"), "n");
        EXPECT_EQ(ReadFile(root / "B/m"), "m");
    }
}

// ---- A pane whose directory vanished lists its nearest existing ancestor.

TEST(VanishedPane, ACopyIntoItShowsTheErrorThenListsTheNearestExistingAncestor) {
    TempDir root;
    MakeDir(root / "A");
    MakeDir(root / "A/sub");
    WriteFile(root / "f", "f");
    // Left pane in root/A/sub; the right pane (in root) deletes A.
    KeyPlan plan = NewPlan();
    plan.Tap(kDown); // ../ A/ f
    plan.Tap(kA);
    plan.Tap(kDown); // ../ sub/
    plan.Tap(kA);
    plan.Tap(kRight);
    plan.Tap(kDown);
    Delete(plan);
    plan.Wait(2);
    plan.Tap(kDown); // relisted: ../ f
    Popup(plan, kY);
    // The left pane now shows root: A enters nothing there, DOWN reaches f, B goes up.
    plan.Tap(kLeft);
    plan.Tap(kB);
    Finish(plan);
    LoopRun run = RunLoop(root.path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.popups, 1);
    EXPECT_EQ(run.drawn, "delete \"A/\"  Ok?can't create " + root / "A/sub/f");
    std::string copied = "copy: f from " + root.path + " to " + root / "A/sub\n";
    ASSERT_NE(run.out.find(copied), std::string::npos) << run.out;
    std::string after = run.out.substr(run.out.find(copied) + copied.size());
    std::string parent = root.path.substr(0, root.path.rfind('/'));
    EXPECT_EQ(after, "chdir: " + root.path + "\nchdir: " + parent + "\nsync disc\n");
}

// ---- A question shows a name that is not UTF-8 with "?" for each stray byte.

TEST(Questions, ANameThatIsNotUtf8IsShownWithQuestionMarksAndActedOnAsItIs) {
    TempDir root;
    // A stray byte, a character cut short, an overlong form, a surrogate, a stray continuation.
    std::string name = "bad\xff\xe2\x82name\xc0\xaf\xed\xa0\x80\xc3\xa9\x80";
    WriteFile(root / name, "x");
    KeyPlan plan = NewPlan();
    plan.Tap(kDown);
    plan.With(kSelect, kA); // execute: Cancel
    plan.Tap(kB);
    Delete(plan);
    Finish(plan);
    LoopRun run = RunLoop(root.path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.drawn, "execute \"bad???name?????\xc3\xa9?\"  Ok?"
                         "delete \"bad???name?????\xc3\xa9?\"  Ok?");
    EXPECT_EQ(CountOf(run.out, "delete: " + name + "\n"), 1);
    EXPECT_FALSE(Exists(root / name));
}
