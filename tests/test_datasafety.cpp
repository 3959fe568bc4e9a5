// Data safety through the real loop: deletes that stop at other file systems, copies that never
// copy their own output, files that take their name only when complete, flushes before the
// result shows, panes whose directory vanished, a closed standard output, questions about names
// that are not UTF-8, and keys that opened a dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "app/browser.h"
#include "app/session.h"
#include "app/fs/copytree.h"
#include "app/fs/fileops.h"
#include "common/globals.h"
#include "tests/harness.h"

constexpr SDLKey kUp = SDLK_UP, kDown = SDLK_DOWN, kLeft = SDLK_LEFT, kRight = SDLK_RIGHT;
constexpr SDLKey kA = SDLK_LCTRL, kB = SDLK_LALT, kX = SDLK_SPACE, kY = SDLK_LSHIFT;
constexpr SDLKey kStart = SDLK_RETURN, kSelect = SDLK_ESCAPE;

// The calls that flush a file system or name a file, as the program made them: "syncfs <path>",
// "sync", "fsync <path>", "sync_file_range <path>" or "rename <from> <to>", one a line, and
// "opendir" for every directory opened after the first flush was asked for.
static std::string flush_log;
// While set, syncfs and renameat2 answer as a kernel without them does.
static bool refuse_new_calls = false;
// While set, the storage refuses what is flushed to it, as a worn card does: EIO.
static bool storage_fails = false;
// While set, every file system says it is FAT.
static bool all_fat = false;

extern "C" {
long __real_syscall(long number, ...);
long __wrap_syscall(long number, ...);
void __real_sync();
void __wrap_sync();
int __real_fsync(int descriptor);
int __wrap_fsync(int descriptor);
int __real_rename(const char *from, const char *to);
int __wrap_rename(const char *from, const char *to);
int __real_statfs(const char *path, struct statfs *status);
int __wrap_statfs(const char *path, struct statfs *status);
int __real_statfs64(const char *path, struct statfs64 *status);
int __wrap_statfs64(const char *path, struct statfs64 *status);
int __real_sync_file_range(int descriptor, off64_t offset, off64_t length, unsigned flags);
int __wrap_sync_file_range(int descriptor, off64_t offset, off64_t length, unsigned flags);
}

static std::string DescriptorPath(long descriptor) {
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%ld", descriptor);
    ssize_t length = readlink(link, target, sizeof target - 1);
    return length < 0 ? "?" : std::string(target, length);
}

long __wrap_syscall(long number, ...) {
    va_list arguments;
    va_start(arguments, number);
    long a[6];
    for (long &argument : a)
        argument = va_arg(arguments, long);
    va_end(arguments);
#ifdef SYS_syncfs
    if (number == SYS_syncfs) {
        flush_log +=
            (refuse_new_calls ? "refused syncfs " : "syncfs ") + DescriptorPath(a[0]) + "\n";
        if (refuse_new_calls || storage_fails) {
            errno = refuse_new_calls ? ENOSYS : EIO;
            return -1;
        }
    }
#endif
#ifdef SYS_renameat2
    if (number == SYS_renameat2 && refuse_new_calls) {
        errno = ENOSYS;
        return -1;
    }
    if (number == SYS_renameat2)
        flush_log += std::string("rename ") + reinterpret_cast<const char *>(a[1]) + " " +
                     reinterpret_cast<const char *>(a[3]) + "\n";
#endif
    return __real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

void __wrap_sync() {
    flush_log += "sync\n";
    __real_sync();
}

int __wrap_fsync(int descriptor) {
    flush_log += "fsync " + DescriptorPath(descriptor) + "\n";
    if (storage_fails) {
        errno = EIO;
        return -1;
    }
    return __real_fsync(descriptor);
}

// FAT's magic number in statfs's f_type.
static const long kFatMagic = 0x4d44;

int __wrap_statfs(const char *path, struct statfs *status) {
    int result = __real_statfs(path, status);
    if (result == 0 && all_fat)
        status->f_type = kFatMagic;
    return result;
}

int __wrap_statfs64(const char *path, struct statfs64 *status) {
    int result = __real_statfs64(path, status);
    if (result == 0 && all_fat)
        status->f_type = kFatMagic;
    return result;
}

int __wrap_sync_file_range(int descriptor, off64_t offset, off64_t length, unsigned flags) {
    flush_log += "sync_file_range " + DescriptorPath(descriptor) + "\n";
    if (storage_fails) {
        errno = EIO;
        return -1;
    }
    return __real_sync_file_range(descriptor, offset, length, flags);
}

int __wrap_rename(const char *from, const char *to) {
    flush_log += std::string("rename ") + from + " " + to + "\n";
    return __real_rename(from, to);
}

static int CountOf(const std::string &text, const std::string &piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        count++;
    return count;
}

static std::vector<std::string> Names(const std::string &dir) {
    std::vector<std::string> names;
    DIR *stream = opendir(dir.c_str());
    if (stream == nullptr)
        return names;
    while (dirent *entry = readdir(stream))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    closedir(stream);
    std::sort(names.begin(), names.end());
    return names;
}

// What a browser run did: its status and log, the "Error" popups it showed, every text drawn
// anti-aliased (popup texts, copied names), what the check after the run reported, and the
// flush log.
struct LoopRun {
    int status = -1;
    std::string out;
    int popups = -1;
    std::string drawn;
    std::string checked;
    std::string flushes;
};

// Runs the browser in dir in a child with the scripted keys: setup first (a nonzero result ends
// the child with it), check after the loop, while the child's mounts still stand.
static LoopRun RunLoop(const std::string &dir, const std::function<int()> &setup = nullptr,
                       const std::function<std::string()> &check = nullptr) {
    ChildResult child = RunChild([&] {
        if (setup) {
            int status = setup();
            if (status != 0)
                return status;
        }
        if (chdir(dir.c_str()) != 0)
            return 98;
        if (!OpenTestDisplay())
            return 97;
        TakeShadedText();
        TakeDrawnText();
        flush_log.clear();
        for (int call = 1; call < 400; call++)
            ScriptOnOpenDir(call, [] {
                if (!flush_log.empty())
                    flush_log += "opendir\n";
            });
        MainLoop();
        std::string shaded = TakeShadedText();
        std::string flushes = flush_log;
        End();
        printf("\x1e%d\x1e%s\x1e%s\x1e%s", CountOf(shaded, "Error\n"), TakeDrawnText().c_str(),
               check ? check().c_str() : "", flushes.c_str());
        return 0;
    });
    LoopRun run;
    run.status = child.status;
    size_t start = child.out.find('\x1e');
    run.out = child.out.substr(0, start);
    if (start == std::string::npos)
        return run;
    std::string fields[4];
    for (std::string &field : fields) {
        size_t end = child.out.find('\x1e', start + 1);
        field = child.out.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        start = end;
    }
    run.popups = atoi(fields[0].c_str());
    run.drawn = fields[1];
    run.checked = fields[2];
    run.flushes = fields[3];
    return run;
}

// A mount namespace of the child's own, so that no mount outlives it; 77 when refused.
static int OwnMounts() {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        return 77;
    return 0;
}

// Starts a plan that leaves the left pane active in the start directory and the right pane in the
// directory reached by entering, one after another, the entries at right_rows (each row counted
// from the top of the listing it is in).
static KeyPlan TwoPanePlan(const std::vector<int> &right_rows) {
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan plan;
    plan.Tap(kRight);
    for (int row : right_rows) {
        plan.Tap(kDown, row);
        plan.Tap(kA);
    }
    plan.Tap(kLeft);
    return plan;
}

// ---- A delete stops at other file systems.

TEST(DeleteAcrossMounts, StopsAtAMountPointAndTouchesNothingMountedThere) {
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    enum Kind { kTmpfs, kBindOfOtherFileSystem, kBindOfSameFileSystem };
    for (Kind kind : {kTmpfs, kBindOfOtherFileSystem, kBindOfSameFileSystem}) {
        TempDir root, other;
        MakeDir(root / "d");
        MakeDir(root / "d/a");
        WriteFile(root / "d/a/f", "gone");
        MakeDir(root / "d/m");
        WriteFile(root / "d/z", "stays");
        MakeDir(root / "keep");
        WriteFile(root / "keep/precious", "precious");
        auto setup = [&]() -> int {
            if (OwnMounts() != 0)
                return 77;
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
        plan.With(kSelect, kB);
        plan.Tap(kRight);
        plan.Tap(kA);
        plan.Wait(2);
        plan.Tap(kA); // closes the error popup
        plan.Wait(4);
        plan.Quit();
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
        plan.Tap(kY);
        plan.Wait(2);
        plan.Tap(kA);
        plan.Wait(4);
        plan.Quit();
        LoopRun run = RunLoop(root.path);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.popups, 1);
        EXPECT_EQ(run.drawn, "path too long");
        EXPECT_EQ(Names(root / "A"), (std::vector<std::string>{"f", "sub"}));
        EXPECT_TRUE(Names(root / "A/sub").empty());
    }
}

TEST(CopyIntoItself, ADirectoryMetAgainThroughALinkIsNotEntered) {
    // A link to the entry itself, to its parent, and to the destination that holds the output.
    for (std::string target : {"A", ".", "B"}) {
        TempDir root;
        MakeDir(root / "A");
        MakeDir(root / "B");
        WriteFile(root / "A/f", "data");
        ASSERT_EQ(symlink((root / target).c_str(), (root / "A/link").c_str()), 0);
        KeyPlan plan = TwoPanePlan({2}); // ../ A/ B/
        plan.Tap(kDown);                 // A/
        plan.Tap(kY);
        plan.Wait(2);
        plan.Tap(kA);
        plan.Wait(4);
        plan.Quit();
        LoopRun run = RunLoop(root.path);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.popups, 1) << target;
        // The file before the link was copied once. A link to the entry or to the destination
        // is not entered; the parent is entered once and stops at the entry met again.
        EXPECT_EQ(run.drawn, "fpath too long") << target;
        EXPECT_EQ(ReadFile(root / "B/A/f"), "data") << target;
        bool parent = target == ".";
        std::vector<std::string> copied = {"f"};
        if (parent)
            copied.push_back("link");
        EXPECT_EQ(Names(root / "B/A"), copied) << target;
        if (parent) {
            EXPECT_TRUE(Names(root / "B/A/link").empty());
        }
    }
}

// ---- A file takes its final name only when complete.

// Bytes that differ from one position to the next.
static std::string Pattern(size_t size) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; i++)
        content[i] = static_cast<char>(i * 31 + i / 1000);
    return content;
}

TEST(CopyUnderATemporaryName, ACopyEndedMidwayLeavesNoCutShortFileUnderTheRealName) {
    TempDir src, dst;
    const std::string big = Pattern(3 * kCopyBlockSize + 5);
    WriteFile(src / "big", big);
    // The battery goes flat after the first cells: the process ends there.
    OperationRun killed = RunFileOperation([&] {
        ScriptOnFlip(3, [] { _exit(42); });
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "big");
    });
    EXPECT_EQ(killed.status, 42);
    EXPECT_FALSE(Exists(dst / "big"));
    std::vector<std::string> left = Names(dst.path);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].find("big"), std::string::npos);
    EXPECT_NE(left[0].find("part"), std::string::npos) << left[0];

    // A retry is not refused, and its file is whole under the real name.
    OperationRun retry =
        RunFileOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "big"); });
    EXPECT_EQ(retry.result, 1);
    EXPECT_EQ(retry.popups, 0);
    EXPECT_TRUE(ReadFile(dst / "big") == big);

    // A name with no room for the suffix is cut to make room, never at a character's middle:
    // cut short, it is not under its final name either, and a retry completes it.
    // The suffix ".zorvel-part" and a digit leave 242 bytes of a 255-byte name.
    const std::string accent = std::string(241, 'n') + "\xc3\xa9" + std::string(12, 'e');
    const std::pair<std::string, std::string> cases[] = {
        {std::string(255, 'n'), std::string(242, 'n')}, {accent, std::string(241, 'n')}};
    for (const auto &[longest, kept] : cases) {
        TempDir out;
        WriteFile(src / longest, big);
        OperationRun cut = RunFileOperation([&] {
            ScriptOnFlip(3, [] { _exit(42); });
            return CopyDirEntry(out.path.c_str(), src.path.c_str(), longest.c_str());
        });
        EXPECT_EQ(cut.status, 42);
        EXPECT_FALSE(Exists(out / longest));
        left = Names(out.path);
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0], kept + ".zorvel-part");
        OperationRun whole = RunFileOperation(
            [&] { return CopyDirEntry(out.path.c_str(), src.path.c_str(), longest.c_str()); });
        EXPECT_EQ(whole.result, 1);
        EXPECT_TRUE(ReadFile(out / longest) == big);
        unlink((src / longest).c_str());
    }
}

TEST(CopyUnderATemporaryName, NeverReplacesAnEntryThatAppearedMeanwhile) {
    for (bool old_kernel : {false, true}) {
        TempDir src, dst;
        WriteFile(src / "big", Pattern(2 * kCopyBlockSize));
        OperationRun copy = RunFileOperation([&] {
            refuse_new_calls = old_kernel;
            ScriptOnFlip(3, [&] { WriteFile(dst / "big", "theirs"); });
            return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "big");
        });
        EXPECT_EQ(copy.result, 0) << old_kernel;
        EXPECT_EQ(copy.popups, 1) << old_kernel;
        EXPECT_EQ(copy.drawn, "big" + dst.path + "/big already exists") << old_kernel;
        EXPECT_TRUE(ReadFile(dst / "big") == "theirs") << old_kernel;
        EXPECT_EQ(Names(dst.path), std::vector<std::string>{"big"}) << old_kernel;
    }
}

// ---- The file system written to is flushed before the result shows.

TEST(FlushAfterCommands, EachChangeIsFlushedInItsDirectoryBeforeThePaneIsRelisted) {
    // With syncfs, and on a kernel without it, where the whole machine is flushed instead.
    for (bool old_kernel : {false, true}) {
        TempDir root;
        MakeDir(root / "A");
        MakeDir(root / "B");
        for (const char *name : {"c", "d", "m", "n"})
            WriteFile(root / (std::string("A/") + name), name);
        WriteFile(root / "B/c", "taken");
        KeyPlan plan = TwoPanePlan({2}); // ../ A/ B/
        plan.Tap(kDown);
        plan.Tap(kA); // left in A: ../ c d m n
        plan.Tap(kDown);
        plan.Tap(kY); // c is taken in B: nothing changes, nothing is flushed
        plan.Wait(2);
        plan.Tap(kA);
        plan.Tap(kDown, 3);
        plan.Tap(kY); // n
        plan.Tap(kUp);
        plan.Tap(kX); // m
        plan.Tap(kDown, 2);
        plan.With(kSelect, kB); // relisted ../ c d n: d
        plan.Tap(kRight);
        plan.Tap(kA);
        plan.Wait(4);
        plan.Quit();
        LoopRun run = RunLoop(root.path, [&] {
            refuse_new_calls = old_kernel;
            return 0;
        });
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.popups, 1);
        EXPECT_EQ(ReadFile(root / "B/n"), "n");
        EXPECT_EQ(ReadFile(root / "B/m"), "m");
        EXPECT_FALSE(Exists(root / "A/d"));
        auto flush = [&](const std::string &dir) {
            return old_kernel ? "refused syncfs " + dir + "\nsync\nfsync " + dir + "\n"
                              : "syncfs " + dir + "\n";
        };
        const std::string part = root / "B/n.zorvel-part";
        // With syncfs the file system is flushed once and the file's own errors asked for; without
        // it, the file is flushed by itself.
        const std::string stored = old_kernel
                                       ? "refused syncfs " + part + "\nfsync " + part + "\n"
                                       : "syncfs " + part + "\nsync_file_range " + part + "\n";
        const std::string relist = "opendir\nopendir\n";
        // The copy's data reaches the storage before it takes its name, then B is flushed before
        // it is relisted; the move flushes B before B and A; the delete A.
        EXPECT_EQ(run.flushes, stored + "rename " + part + " " + root / "B/n" + "\n" +
                                   flush(root / "B") + relist + "rename " + root / "A/m" + " " +
                                   root / "B/m" + "\n" + flush(root / "B") + relist + relist +
                                   flush(root / "A") + relist);
    }
}

TEST(FlushAfterCommands, CreatingAndRenamingFlushTheirDirectory) {
    TempDir root;
    ASSERT_EQ(symlink(ZORVEL_GRAPHICS_DIR, (root / "graphics").c_str()), 0);
    WriteFile(root / "abc", "x");
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan plan;
    plan.With(kSelect, kY);
    plan.Wait(1);
    plan.Tap(kY); // "m" from the centre cell
    plan.Tap(kStart);
    plan.Tap(kDown, 2); // relisted ../ m/ abc graphics: abc
    plan.With(kSelect, kX);
    plan.Wait(1);
    plan.Tap(kY);
    plan.Tap(kStart);
    plan.Wait(4);
    plan.Quit();
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
    MakeDir(root / "A");
    MakeDir(root / "B");
    WriteFile(root / "A/n", "n");
    KeyPlan plan = TwoPanePlan({2}); // ../ A/ B/
    plan.Tap(kDown);
    plan.Tap(kA); // left in A: ../ n
    plan.Tap(kDown);
    plan.Tap(kY);
    plan.Wait(2);
    plan.Quit();
    LoopRun run = RunLoop(root.path, [] {
        all_fat = true;
        return 0;
    });
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
    MakeDir(root / "A");
    MakeDir(root / "B");
    MakeDir(root / "A/d.");
    WriteFile(root / "A/d./f", "f");
    WriteFile(root / "A/m ", "m");
    WriteFile(root / "A/x.", "x");
    KeyPlan plan = TwoPanePlan({2}); // ../ A/ B/
    plan.Tap(kDown);
    plan.Tap(kA); // left in A: ../ d./ m  x.
    // Copy d./, move "m " (after which A is listed anew, the cursor on top), copy x.
    for (auto [rows, key] : {std::pair{1, kY}, std::pair{1, kX}, std::pair{3, kY}}) {
        plan.Tap(kDown, rows);
        plan.Tap(key);
        plan.Wait(2);
        plan.Tap(kA);
    }
    plan.Quit();
    LoopRun run = RunLoop(root.path, [] {
        all_fat = true;
        return 0;
    });
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.popups, 3);
    EXPECT_EQ(run.drawn, "can't create dir " + root / "B/d./" + "rename() failed" +
                             "can't create " + root / "B/x.");
    EXPECT_TRUE(Names(root / "B").empty());
    EXPECT_EQ(ReadFile(root / "A/m "), "m");
}

TEST(FlushAfterCommands, AStorageThatRefusesTheFlushIsShownOnceACommand) {
    TempDir root;
    MakeDir(root / "A");
    MakeDir(root / "B");
    WriteFile(root / "A/m", "m");
    WriteFile(root / "A/n", "n");
    KeyPlan plan = TwoPanePlan({2}); // ../ A/ B/
    plan.Tap(kDown);
    plan.Tap(kA); // left in A: ../ m n
    plan.Tap(kDown, 2);
    plan.Tap(kY); // n: its data is refused, so it keeps its unfinished name
    plan.Wait(2);
    plan.Tap(kA);
    plan.Tap(kUp);
    plan.Tap(kX); // m: renamed, and the flush of B after it is refused
    plan.Wait(2);
    plan.Tap(kA);
    plan.Wait(2);
    plan.Quit();
    LoopRun run = RunLoop(root.path, [] {
        storage_fails = true;
        return 0;
    });
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.popups, 2);
    EXPECT_EQ(run.drawn, "nwrite " + root / "B/n" + " failedwrite " + root / "B" + " failed");
    EXPECT_FALSE(Exists(root / "B/n"));
    EXPECT_EQ(ReadFile(root / "B/n.zorvel-part"), "n");
    EXPECT_EQ(ReadFile(root / "B/m"), "m");
}

// ---- A pane whose directory vanished lists its nearest existing ancestor.

// Left pane in root/A/sub; the right pane (in root) deletes A.
static KeyPlan VanishedLeftPane() {
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan plan;
    plan.Tap(kDown); // ../ A/ f
    plan.Tap(kA);
    plan.Tap(kDown); // ../ sub/
    plan.Tap(kA);
    plan.Tap(kRight);
    plan.Tap(kDown);
    plan.With(kSelect, kB);
    plan.Tap(kRight);
    plan.Tap(kA);
    plan.Wait(2);
    return plan;
}

TEST(VanishedPane, ACopyIntoItShowsTheErrorThenListsTheNearestExistingAncestor) {
    TempDir root;
    MakeDir(root / "A");
    MakeDir(root / "A/sub");
    WriteFile(root / "f", "f");
    KeyPlan plan = VanishedLeftPane();
    plan.Tap(kDown); // relisted: ../ f
    plan.Tap(kY);
    plan.Wait(2);
    plan.Tap(kA);
    // The left pane now shows root: A enters nothing there, DOWN reaches f, B goes up.
    plan.Tap(kLeft);
    plan.Tap(kB);
    plan.Wait(4);
    plan.Quit();
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

TEST(VanishedPane, GoingUpMakesBothChangesOfDirectory) {
    TempDir root;
    MakeDir(root / "A");
    MakeDir(root / "A/sub");
    MakeDir(root / "C");
    // The process stands in the vanished directory itself: going up reads back nothing, and
    // the pane lists its nearest existing ancestor.
    KeyPlan plan = VanishedLeftPane();
    plan.Tap(kLeft);
    plan.Tap(kB);
    plan.Wait(4);
    plan.Quit();
    LoopRun run = RunLoop(root.path);
    ASSERT_EQ(run.status, 0) << run.out;
    std::string deleted = "delete: A/\n";
    ASSERT_NE(run.out.find(deleted), std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.find(deleted) + deleted.size()),
              "chdir: " + root.path + "\nsync disc\n");

    // The process stands in another directory (the right pane entered C and came back up): the
    // change to the pane's path fails, and ".." is taken from where the process stands.
    MakeDir(root / "A");
    MakeDir(root / "A/sub");
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan other;
    other.Tap(kDown); // ../ A/ C/
    other.Tap(kA);
    other.Tap(kDown);
    other.Tap(kA); // left in root/A/sub
    other.Tap(kRight);
    other.Tap(kDown, 2);
    other.Tap(kA); // right in root/C
    other.Tap(kB); // right back in root, and so is the process
    other.Tap(kDown);
    other.With(kSelect, kB);
    other.Tap(kRight);
    other.Tap(kA);
    other.Tap(kLeft);
    other.Tap(kB);
    other.Wait(4);
    other.Quit();
    run = RunLoop(root.path);
    ASSERT_EQ(run.status, 0) << run.out;
    ASSERT_NE(run.out.find(deleted), std::string::npos) << run.out;
    std::string parent = root.path.substr(0, root.path.rfind('/'));
    EXPECT_EQ(run.out.substr(run.out.find(deleted) + deleted.size()),
              "chdir: " + parent + "\nsync disc\n");
}

// ---- A closed standard output loses log lines, nothing else.

TEST(ClosedOutput, ACopyGoesOnWhenTheLogCannotBeWritten) {
    TempDir root;
    MakeDir(root / "A");
    MakeDir(root / "B");
    MakeDir(root / "A/many");
    for (int i = 0; i < 40; i++)
        WriteFile(root / ("A/many/f" + std::to_string(i)), std::to_string(i));
    KeyPlan plan = TwoPanePlan({2});
    plan.Tap(kDown);
    plan.Tap(kA);
    plan.Tap(kDown); // many/
    plan.Tap(kY);
    plan.Wait(4);
    plan.Quit();
    signal(SIGPIPE, SIG_DFL);
    LoopRun run = RunLoop(root.path, [] {
        int ends[2];
        if (pipe(ends) != 0)
            return 96;
        close(ends[0]);
        dup2(ends[1], STDOUT_FILENO);
        setvbuf(stdout, nullptr, _IONBF, 0);
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Names(root / "B/many").size(), 40u);
}

// ---- A question shows a name that is not UTF-8 with "?" for each stray byte.

TEST(Questions, ANameThatIsNotUtf8IsShownWithQuestionMarksAndActedOnAsItIs) {
    TempDir root;
    std::string name = "bad\xff\xe2\x82name\xc3\xa9\x80";
    WriteFile(root / name, "x");
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan plan;
    plan.Tap(kDown);
    plan.With(kSelect, kA); // execute: Cancel
    plan.Tap(kB);
    plan.With(kSelect, kB); // delete: Ok
    plan.Tap(kRight);
    plan.Tap(kA);
    plan.Wait(4);
    plan.Quit();
    LoopRun run = RunLoop(root.path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.drawn, "execute \"bad???name\xc3\xa9?\"  Ok?"
                         "delete \"bad???name\xc3\xa9?\"  Ok?");
    EXPECT_EQ(CountOf(run.out, "delete: " + name + "\n"), 1);
    EXPECT_FALSE(Exists(root / name));
}

// ---- A directory whose name leaves no room for its "/" is left out.

TEST(LongestDirectoryName, IsLeftOutOfTheListingAndStopsACopy) {
    TempDir root;
    MakeDir(root / "d");
    std::string longest(255, 'L');
    MakeDir(root / ("d/" + longest));
    for (int i = 0; i < 249; i++)
        WriteFile(root / ("d/f" + std::to_string(1000 + i)), "");
    MakeDir(root / "B");
    KeyPlan plan = TwoPanePlan({1}); // ../ B/ d/
    plan.Tap(kDown, 2);
    plan.Tap(kA); // the left pane enters d, 249 files and the long directory
    plan.Tap(kB);
    plan.Tap(kDown, 2);
    plan.Tap(kY); // copies d into B: the directory it cannot list stops the copy
    plan.Wait(2);
    plan.Tap(kA);
    plan.Wait(4);
    plan.Quit();
    LoopRun run = RunLoop(root.path);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.popups, 1);
    EXPECT_EQ(run.drawn, "path too long");
    EXPECT_TRUE(Names(root / "B/d").empty());
}

// ---- The destination test of copy and move.

TEST(DestinationTest, OnlyAnEntryThereIsTakenOtherFailuresReachTheirOwnMessage) {
    TempDir src, tmp;
    WriteFile(src / "f", "f");
    MakeDir(src / "d");
    WriteFile(tmp / "file", "not a directory");
    std::string not_dir = tmp / "file";
    struct {
        std::function<int()> operation;
        std::string drawn;
    } cases[] = {
        {[&] { return CopyDirEntry(not_dir.c_str(), src.path.c_str(), "f"); },
         "can't create " + not_dir + "/f"},
        {[&] { return CopyDirEntry(not_dir.c_str(), src.path.c_str(), "d/"); },
         "can't create dir " + not_dir + "/d/"},
        {[&] { return MoveDirEntry(not_dir.c_str(), src.path.c_str(), "f"); }, "rename() failed"},
    };
    for (const auto &c : cases) {
        OperationRun run = RunFileOperation(c.operation);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.popups, 1);
        EXPECT_EQ(run.drawn, c.drawn);
    }

    // No search permission on the destination: the user meets the creation's own message.
    TempDir shut;
    chmod(src.path.c_str(), 0755);
    chmod(shut.path.c_str(), 0);
    OperationRun denied = RunFileOperation([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return -9;
        return CopyDirEntry(shut.path.c_str(), src.path.c_str(), "f");
    });
    EXPECT_EQ(denied.result, 0);
    EXPECT_EQ(denied.drawn, "can't create " + shut.path + "/f");
}

// ---- The keys that open a naming dialog type nothing into it.

TEST(FirstDialog, TheKeyThatOpenedItTypesNothing) {
    TempDir root;
    ASSERT_EQ(symlink(ZORVEL_GRAPHICS_DIR, (root / "graphics").c_str()), 0);
    WriteFile(root / "abc", "x");
    // SELECT goes up first, the dialog opens with Y or X still held.
    for (SDLKey key : {kY, kX}) {
        ScriptClear();
        ScriptLimit(5000);
        KeyPlan plan;
        plan.Tap(kDown); // ../ abc graphics
        ScriptHold(kSelect, plan.pass, plan.pass + 2);
        ScriptHold(key, plan.pass + 1, plan.pass + 8);
        plan.Wait(10);
        plan.Tap(kStart);
        plan.Wait(4);
        plan.Quit();
        LoopRun run = RunLoop(root.path);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(CountOf(run.out, "mkdir: "), 0) << run.out;
        EXPECT_EQ(CountOf(run.out, "rename: "), 0) << run.out;
        EXPECT_EQ(Names(root.path), (std::vector<std::string>{"abc", "graphics"}));
    }
}
