// Data safety through the real loop: deletes that stop at other file systems, copies that never
// copy their own output, files that take their name only when complete, flushes before the
// result shows, panes whose directory vanished and questions about names that are not UTF-8.
#include <gtest/gtest.h>

#include <regex>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/fs/copytree.h"
#include "common/limits.h"
#include "tests/harness.h"

// A text about root: "@" stands for root's path, "^" for its parent's and "*" for the relisting
// of a pane (two directories opened).
static std::string About(const std::string &root, const std::string &text) {
    std::string out;
    for (char c : text)
        out += c == '@'   ? root
               : c == '^' ? root.substr(0, root.rfind('/'))
               : c == '*' ? "opendir\nopendir\n"
                          : std::string(1, c);
    return out;
}

// The entries of a list separated by ", ".
static std::vector<std::string> Entries(const std::string &list) {
    static const std::regex comma(", ");
    return {std::sregex_token_iterator(list.begin(), list.end(), comma, -1), {}};
}

// Checks entries in root: "NAME=TEXT" a file holding TEXT, "NAME/" an empty directory, "-NAME"
// nothing there, any other NAME something there.
static void ExpectEntries(const std::string &root, const std::string &list) {
    for (const std::string &entry : Entries(list)) {
        const size_t equals = entry.find('=');
        const std::string path = root + "/" + entry.substr(entry[0] == '-', equals);
        EXPECT_TRUE(entry[0] == '-' ? !Exists(path)
                    : equals != std::string::npos
                        ? ReadFile(path) == entry.substr(equals + 1)
                        : Exists(path) && (entry.back() != '/' || Names(path).empty()))
            << entry;
    }
}

// How the storage answers in a browser run.
enum { kPlain, kOldKernel, kQuietSyncfs, kFat = 4, kFailing = 8, kCardAtM = 16, kBindAtM = 32 };

// A browser run: buttons pressed on a tree (entries as MakeTree reads them), and what the user is
// then shown and left with (entries as ExpectEntries reads them; with a card mounted or a bind
// at d/m, a file d/m/precious is written first and read before the mount goes). The texts
// are read by About; an empty one is not checked.
struct LoopCase {
    int storage, popups;
    std::string tree, buttons, drawn, after, flushes = "", output_end = "";
};

static void RunCases(const std::vector<LoopCase> &cases) {
    for (const LoopCase &c : cases) {
        SCOPED_TRACE(&c - &cases[0]);
        TempDir root;
        MakeTree(root.path, Entries(c.tree));
        Plan(c.buttons);
        const bool mounts = c.storage & (kCardAtM | kBindAtM);
        TestRun run = RunLoop(
            root.path,
            [&] {
                // A mount namespace of the child's own, so that no mount outlives it; d/m bound
                // onto itself is a mount point on the same file system.
                const std::string at = root / "d/m";
                if (mounts && (unshare(CLONE_NEWNS) != 0 ||
                               mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                               mount(c.storage & kBindAtM ? at.c_str() : "tmpfs", at.c_str(),
                                     "tmpfs", c.storage & kBindAtM ? MS_BIND : 0, "size=1m") != 0))
                    return 77;
                if (mounts)
                    WriteFile(at + "/precious", "precious");
                if (c.storage & (kOldKernel | kQuietSyncfs))
                    SetKernel(c.storage & kOldKernel ? Kernel::kOld : Kernel::kQuietSyncfs);
                PretendFat(c.storage & kFat);
                FailStorage(c.storage & kFailing);
                return 0;
            },
            [&] { return ReadFile(root / "d/m/precious"); });
        if (run.status == 77)
            GTEST_SKIP() << "mounting is refused here";
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.popups, c.popups);
        EXPECT_EQ(run.checked, mounts ? "precious" : "");
        EXPECT_EQ(c.drawn.empty() ? "" : run.drawn, About(root.path, c.drawn));
        ExpectEntries(root.path, c.after);
        EXPECT_EQ(c.flushes.empty() ? "" : run.flushes, About(root.path, c.flushes));
        const std::string end = About(root.path, c.output_end);
        EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), end.size())), end);
    }
}

// ---- A delete stops at other file systems.

TEST(DeleteAcrossMounts, StopsAtAMountPointAndTouchesNothingMountedThere) {
    // What sorts before the mount point goes; what comes after it stays. A kernel before 5.8
    // tells no mount point on the same file system (README): there only a card stops the delete.
    const std::string tree = "d/, d/a/, d/a/f, d/m/, d/z", keys = "D^BRA.A..Q";
    const std::string shown = "delete \"d/\"  Ok?rmdir() failed", left = "-d/a, d/z=z, d/m";
    // A card mounted, on the console's kernel too, and a folder bound.
    RunCases({{kCardAtM, 1, tree, keys, shown, left, "", "delete: d/\nsync disc\n"},
              {kCardAtM | kOldKernel, 1, tree, keys, shown, left, "", "delete: d/\nsync disc\n"},
              {kBindAtM, 1, tree, keys, shown, left, "", "delete: d/\nsync disc\n"}});
}

// ---- A copy never copies its own output.

TEST(CopyIntoItself, IsRefusedBeforeAnythingIsMadeAndALinkBackIsNotEntered) {
    // Refused when the right pane shows a folder below it. Copied into B, the folder's file
    // before a link is copied once; a link to the folder, to the destination or to the output is
    // not entered; a link to its parent is, once, and stops at the folder met again.
    std::vector<LoopCase> cases = {{kPlain, 1, "A/, A/f=data, A/sub/, B/", "RDADAL DY.A..Q",
                                    "path too long", "-A/A, A/sub/, A/f=data"},
                                   {kPlain, 1, "A/, A/f=data, A/link->.., B/", "RDDAL DY.A..Q",
                                    "fpath too long", "B/A/f=data, B/A/link/"}};
    for (const std::string target : {".", "../B", "../B/A"})
        cases.push_back({kPlain, 1, "A/, A/f=data, A/link->" + target + ", B/", "RDDAL DY.A..Q",
                         "fpath too long", "B/A/f=data, -B/A/link"});
    RunCases(cases);
}

// ---- A file takes its final name only when complete.

TEST(CopyUnderATemporaryName, TakesItsNameWholeAndNeverFromAnEntryThatAppearedMeanwhile) {
    const std::string big = Pattern(3 * kCopyBlockSize + 5);
    const std::string accent = std::string(241, 'n') + "\xc3\xa9" + std::string(12, 'e');
    // The battery goes flat after the first cells, once or twice. A copy written without a name
    // leaves nothing; on the console's kernel it leaves its unfinished name, a second one beside
    // it with a digit. A name with no room for the suffix and a digit (242 bytes of a 255-byte
    // name are left) is cut to make room, never at a character's middle. Then a whole copy, and
    // (for a name short enough that the message shows it whole) one during which an entry of the
    // name appears: also on a file system that refuses the no-replace rename, and as a user
    // without root's rights, who names a nameless copy another way.
    const struct {
        std::string name;
        Kernel kernel;
        int cuts;
        std::vector<std::string> left;
        bool ordinary_user = false;
    } cases[] = {
        {"big", Kernel::kCurrent, 1, {}},
        {"big", Kernel::kOld, 2, {"big.zorvel-part", "big.zorvel-part1"}},
        {std::string(255, 'n'), Kernel::kOld, 1, {std::string(242, 'n') + ".zorvel-part"}},
        {accent, Kernel::kOld, 1, {std::string(241, 'n') + ".zorvel-part"}},
        {"big", Kernel::kNoReplaceFlag, 0, {}},
        {"big", Kernel::kCurrent, 0, {}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kernel) + 10 * c.ordinary_user);
        TempDir src, dst;
        WriteFile(src / c.name, big);
        chmod(src.path.c_str(), 0755);
        chmod(dst.path.c_str(), 0777);
        auto copy = [&](const std::function<void()> &meanwhile) {
            return RunFileOperation([&] {
                SetKernel(c.kernel);
                if (c.ordinary_user && getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                    _exit(3);
                ScriptOnFlip(3, meanwhile);
                return CopyDirEntry(dst.path.c_str(), src.path.c_str(), c.name.c_str());
            });
        };
        for (int i = 0; i < c.cuts; i++)
            EXPECT_EQ(copy([] { _exit(42); }).status, 42);
        EXPECT_EQ(Names(dst.path), c.left);
        TestRun whole = copy([] {});
        EXPECT_EQ(whole.result, 1);
        EXPECT_EQ(whole.popups, 0);
        EXPECT_TRUE(ReadFile(dst / c.name) == big);
        if (c.name != "big")
            continue;
        for (const std::string &name : Names(dst.path))
            unlink((dst / name).c_str());
        TestRun appeared = copy([&] { WriteFile(dst / c.name, "theirs"); });
        EXPECT_EQ(appeared.result, 0);
        EXPECT_EQ(appeared.popups, 1);
        EXPECT_EQ(appeared.drawn, c.name + dst.path + "/" + c.name + " already exists");
        EXPECT_EQ(Names(dst.path), std::vector<std::string>{c.name});
        EXPECT_EQ(ReadFile(dst / c.name), "theirs");
    }
}

// ---- The file system written to is flushed before the result shows.

TEST(FlushAfterCommands, EachChangeIsFlushedBeforeThePaneIsRelistedAndARefusalShownOnce) {
    // The buttons of a tree with A/ and B/ start with RDDALDA, which leaves the left pane in A
    // and the right pane in B. Left in A: ../ e/ c d m n. Copy c, taken in B: nothing changes,
    // nothing is flushed. Copy n, move m, delete d, copy c again (refused again), delete the empty
    // folder e.
    const std::string changes = "A/, A/e/, A/c, A/d, A/m, A/n, B/, B/c=taken";
    const std::string each = "RDDALDA DDY.A DDDY UX DDD^BRA DDY.A U^BRA..Q";
    const std::string changed = "B/n=n, B/m=m, A/c=c, A/n=n, -A/d, -A/e";
    // Left in A: ../ m n. Copy n (its data refused, it keeps its unfinished name), move m (the
    // flush of B after it refused), make a folder "m" in A (its flush refused).
    const std::string graphics = "graphics->" ZORVEL_GRAPHICS_DIR,
                      card = graphics + ", A/, A/m, A/n, B/";
    const std::string refused = "RDDALDA DDY.A UX.A ^Y,YS.A.Q";
    const std::string kept = "-B/n, B/n.zorvel-part=n, B/m=m";
    RunCases({
        // With syncfs: written without a name, a copy is flushed with its file system, its own
        // errors asked for, then linked; B is flushed before it is relisted, the move flushes B,
        // each delete A after reading the folder it deletes.
        {kPlain, 2, changes, each, "", changed,
         "syncfs @/B/(nameless)\nsync_file_range @/B/(nameless)\nlink @/B/(nameless) @/B/n\n"
         "syncfs @/B\n*rename @/A/m @/B/m\nsyncfs @/B\n**syncfs @/A\n***syncfs @/A\n*"},
        // The console's kernel has neither: its copy is flushed by itself under an unfinished
        // name, then renamed, and the whole machine is flushed for each folder.
        {kOldKernel, 2, changes, each, "", changed,
         "refused syncfs @/B/n.zorvel-part\nfsync @/B/n.zorvel-part\n"
         "rename @/B/n.zorvel-part @/B/n\nrefused syncfs @/B\nsync\nfsync @/B\n*"
         "rename @/A/m @/B/m\nrefused syncfs @/B\nsync\nfsync @/B\n**"
         "refused syncfs @/A\nsync\nfsync @/A\n***refused syncfs @/A\nsync\nfsync @/A\n*"},
        // A new folder and a rename.
        {kPlain, 0, graphics + ", abc=x", "^Y,YS DD^X,YS..Q", "", "m/, abcm=x",
         "syncfs @\n*rename abc abcm\nsyncfs @\n*"},
        // FAT fills a renamed file's entry in only when the file is written back.
        {kFat, 0, "A/, A/n, B/", "RDDALDA DY.Q", "", "B/n=n",
         "syncfs @/B/n.zorvel-part\nsync_file_range @/B/n.zorvel-part\n"
         "rename @/B/n.zorvel-part @/B/n\nfsync @/B/n\nfsync @/B\nsyncfs @/B\n*"},
        // A failing card.
        {kFailing, 3, card, refused, "nwrite @/B/n failedwrite @/B failedwrite @/A failed", kept},
        // A failing card with a kernel whose syncfs tells nothing still tells each copied
        // file's own failure.
        {kFailing | kQuietSyncfs, 1, card, refused, "nwrite @/B/n failed", kept},
        // FAT drops a trailing dot or space without a word: "x." would stand there as "x".
        // Copy d./, move "m " (after which A is listed anew, the cursor on top), copy x.
        {kFat, 3, "A/, A/d./, A/d./f, A/m =m, A/x.=x, B/", "RDDALDA DY.A DX.A DDDY.A Q",
         "can't create dir @/B/d./rename() failedcan't create @/B/x.", "B/, A/m =m"},
    });
}

// ---- What a pane and a question show.

TEST(PanesAndQuestions, AVanishedPaneListsItsNearestAncestorAndStrayBytesShowAsQuestionMarks) {
    // A stray byte, a character cut short, an overlong form, a surrogate, a stray continuation.
    const std::string bad = "bad\xff\xe2\x82name\xc0\xaf\xed\xa0\x80\xc3\xa9\x80";
    const std::string shown = "\"bad???name?????\xc3\xa9?\"  Ok?";
    RunCases({
        // A vanished pane. Left in A/sub; the right pane deletes A and copies f into the left
        // pane's folder, after which the left pane lists root, and B goes up from there.
        {kPlain, 1, "A/, A/sub/, f", "DADA RD^BRA. DY.A LB..Q",
         "delete \"A/\"  Ok?can't create @/A/sub/f", "-A, f=f", "",
         "copy: f from @ to @/A/sub\nchdir: @\nchdir: ^\nsync disc\n"},
        // A name that is not UTF-8. Executing is cancelled with B, which does not go up as
        // well; deleting acts on the name as it is.
        {kPlain, 0, bad + "=x", "D^AB ^BRA..Q", "execute " + shown + "delete " + shown, "-" + bad,
         "", "delete: " + bad + "\nsync disc\n"},
    });
}
