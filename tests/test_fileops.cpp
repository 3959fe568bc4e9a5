// Copy, move and delete on real temporary trees, with their progress dialog and error popups.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/fs/copyfile.h"
#include "app/fs/copytree.h"
#include "app/fs/fileops.h"
#include "common/globals.h"
#include "tests/harness.h"

// A filled cell of the progress bar.
static const SDL_Color kCellWhite = {255, 255, 255, 0};

// What an operation run in a child did and drew.
struct Outcome {
    int result = -1;
    int flips = 0;
    int popups = 0;      // "Error" popups, each closed by a scripted A
    std::string drawn;   // the copied files' names and the messages, run together
    std::string out;     // what the child printed after Init's log line, before its record
    int line_height = 0; // the font height that Init logged
};

// Runs operation in a child with the display open; A is tapped every ten passes for the popups.
// capture, when given, receives the screen as the last flip before any popup left it.
static Outcome RunOperation(const std::function<int()> &operation,
                            const std::string &capture = "") {
    ChildResult child = RunChild([&] {
        if (!OpenTestDisplay())
            return 98;
        ScriptClear();
        for (int tap = 0; tap < 40; tap++)
            ScriptTap(SDLK_LCTRL, 10 * tap + 5);
        ScriptLimit(400);
        if (!capture.empty())
            ScriptCapture(-1, capture);
        TakeDrawnText();
        TakeShadedText();
        int result = operation();
        printf("\x1e%d\x1e%d\x1e%s\x1e%s", result, FlipCount(), TakeDrawnText().c_str(),
               TakeShadedText().c_str());
        return 0;
    });
    Outcome outcome;
    EXPECT_EQ(child.status, 0) << child.out;
    size_t start = child.out.find('\x1e');
    if (start == std::string::npos)
        return outcome;
    outcome.out = child.out.substr(child.out.find('\n') + 1, start - child.out.find('\n') - 1);
    std::string fields[4];
    for (int i = 0; i < 4; i++) {
        size_t end = child.out.find('\x1e', start + 1);
        fields[i] = child.out.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        start = end;
    }
    sscanf(child.out.c_str(), "font height = %d", &outcome.line_height);
    outcome.result = atoi(fields[0].c_str());
    outcome.flips = atoi(fields[1].c_str());
    outcome.drawn = fields[2];
    for (size_t at = fields[3].find("Error\n"); at != std::string::npos;
         at = fields[3].find("Error\n", at + 1))
        outcome.popups++;
    return outcome;
}

static mode_t ModeOf(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

TEST(CopyDirEntry, CopiesATreeAsNewFilesDirectoriesFirst) {
    TempDir src, dst;
    MakeDir(src / "d");
    MakeDir(src / "d/sub");
    WriteFile(src / "d/f1", "one");
    WriteFile(src / "d/e", "");
    WriteFile(src / "d/sub/f2", "two");
    chmod((src / "d/f1").c_str(), 0600);
    Outcome copy =
        RunOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/"); });
    EXPECT_EQ(copy.result, 1);
    EXPECT_EQ(copy.popups, 0);
    EXPECT_EQ(copy.drawn, "f2ef1");
    EXPECT_EQ(ReadFile(dst / "d/f1"), "one");
    EXPECT_TRUE(Exists(dst / "d/e"));
    EXPECT_EQ(ReadFile(dst / "d/sub/f2"), "two");
}

TEST(CopyDirEntry, ACopyIsNoMoreOpenThanItsSource) {
    // Permission bits of the source, less the creation mask, and nothing else of it.
    struct Case {
        mode_t mask;
        mode_t dir, file;               // the source's
        mode_t copied_dir, copied_file; // the copy's
    };
    const Case cases[] = {
        {022, 0700, 0600, 0700, 0600}, // a private key in a private folder
        {022, 0755, 0755, 0755, 0755}, // a program stays runnable
        {022, 0777, 0666, 0755, 0644},   {077, 0755, 0755, 0700, 0700},
        {022, 0555, 0444, 0555, 0444},   // read-only, yet filled
        {002, 02775, 04775, 0775, 0775}, // special bits are not carried over
    };
    for (const Case &c : cases) {
        TempDir src, dst;
        MakeDir(src / "d");
        WriteFile(src / "d/f", "f");
        chmod((src / "d/f").c_str(), c.file);
        chmod((src / "d").c_str(), c.dir);
        Outcome copy = RunOperation([&] {
            umask(c.mask);
            return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/");
        });
        EXPECT_EQ(copy.result, 1) << std::oct << c.dir;
        EXPECT_EQ(ReadFile(dst / "d/f"), "f") << std::oct << c.dir;
        EXPECT_EQ(ModeOf(dst / "d"), c.copied_dir) << std::oct << c.dir;
        EXPECT_EQ(ModeOf(dst / "d/f"), c.copied_file) << std::oct << c.file;
        chmod((src / "d").c_str(), 0700);
        chmod((dst / "d").c_str(), 0700);
    }
}

TEST(CopyDirEntry, DeeperPathsKeepTheirDoubledSlashes) {
    TempDir src, dst;
    MakeDir(src / "sub");
    WriteFile(src / "sub/f", "x");
    // Only one descriptor is left, so the source opens and the destination cannot be created.
    Outcome copy = RunOperation([&] {
        int lowest_free = open("/dev/null", O_RDONLY);
        close(lowest_free);
        rlimit limit = {static_cast<rlim_t>(lowest_free + 1), static_cast<rlim_t>(lowest_free + 1)};
        setrlimit(RLIMIT_NOFILE, &limit);
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "sub/");
    });
    EXPECT_EQ(copy.result, 0);
    EXPECT_EQ(copy.popups, 1);
    EXPECT_EQ(copy.drawn, "can't create " + dst.path + "/sub//f");
    EXPECT_FALSE(Exists(dst / "sub/f"));

    // With no descriptor left at all the source fails first and the destination is not made.
    WriteFile(src / "g", "y");
    Outcome single = RunOperation([&] {
        int lowest_free = open("/dev/null", O_RDONLY);
        close(lowest_free);
        rlimit limit = {static_cast<rlim_t>(lowest_free), static_cast<rlim_t>(lowest_free)};
        setrlimit(RLIMIT_NOFILE, &limit);
        return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "g");
    });
    EXPECT_EQ(single.drawn, "can't open " + src.path + "/g");
    EXPECT_FALSE(Exists(dst / "g"));
}

TEST(CopyAndMove, NeverWriteOverAnExistingName) {
    TempDir src, dst;
    WriteFile(src / "f", "new");
    MakeDir(src / "d");
    WriteFile(src / "d/n", "new");
    WriteFile(dst / "f", "old");
    // Dated past what a 32-bit time holds: a query that cannot tell must not mean "free".
    struct timespec later[2] = {{2208988800, 0}, {2208988800, 0}};
    utimensat(AT_FDCWD, (dst / "f").c_str(), later, 0);
    MakeDir(dst / "d");
    WriteFile(dst / "d/keep", "old");
    symlink((dst / "nowhere").c_str(), (dst / "g").c_str());
    WriteFile(src / "g", "new");

    Outcome file =
        RunOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "f"); });
    EXPECT_EQ(file.result, 0);
    EXPECT_EQ(file.popups, 1);
    EXPECT_EQ(file.drawn, dst.path + "/f already exists");
    EXPECT_EQ(ReadFile(dst / "f"), "old");

    Outcome dir =
        RunOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/"); });
    EXPECT_EQ(dir.drawn, dst.path + "/d/ already exists");
    EXPECT_FALSE(Exists(dst / "d/n"));

    // A dangling link is a name there too; nothing is written through it.
    Outcome link =
        RunOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "g"); });
    EXPECT_EQ(link.drawn, dst.path + "/g already exists");
    EXPECT_FALSE(Exists(dst / "nowhere"));

    Outcome move =
        RunOperation([&] { return MoveDirEntry(dst.path.c_str(), src.path.c_str(), "f"); });
    EXPECT_EQ(move.result, 0);
    EXPECT_EQ(move.drawn, dst.path + "/f already exists");
    EXPECT_EQ(ReadFile(src / "f"), "new");
}

TEST(CopyDirEntry, AnEntryOfUnknownTypeStopsTheCopyWithOnePopup) {
    TempDir src, dst;
    MakeDir(src / "d");
    MakeDir(src / "d/a");
    WriteFile(src / "d/a/x", "x");
    WriteFile(src / "d/b", "b");
    mkfifo((src / "d/p").c_str(), 0644);
    WriteFile(src / "d/z", "z");
    Outcome copy =
        RunOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "d/"); });
    EXPECT_EQ(copy.result, 0);
    EXPECT_EQ(copy.popups, 1);
    EXPECT_EQ(copy.drawn, "xbunknown file type");
    EXPECT_TRUE(Exists(dst / "d/a/x"));
    EXPECT_TRUE(Exists(dst / "d/b"));
    EXPECT_FALSE(Exists(dst / "d/p"));
    EXPECT_FALSE(Exists(dst / "d/z"));

    symlink((src / "missing").c_str(), (src / "dangling").c_str());
    Outcome dangling =
        RunOperation([&] { return CopyDirEntry(dst.path.c_str(), src.path.c_str(), "dangling"); });
    EXPECT_EQ(dangling.drawn, "unknown file type");
    EXPECT_FALSE(Exists(dst / "dangling"));
}

// Makes the directories of a path of exactly length bytes under base and returns it.
static std::string MakeLongDir(const std::string &base, size_t length) {
    std::string path = base;
    while (path.size() < length) {
        size_t component = std::min<size_t>(200, length - path.size() - 1);
        if (length - path.size() - 1 - component == 1)
            component--; // never leave a remainder too short for "/" and a name
        path += "/" + std::string(component, 'a' + path.size() % 26);
        MakeDir(path);
    }
    return path;
}

TEST(FileOps, PathsOfUpTo2047BytesAreAccepted) {
    TempDir tmp;
    MakeDir(tmp / "long");
    std::string fits = MakeLongDir(tmp / "long", 2045);
    std::string over = fits + "b";
    MakeDir(over);
    ASSERT_EQ(fits.size() + strlen("f") + 2, 2048u);
    WriteFile(tmp / "f", "data");

    Outcome into = RunOperation([&] { return CopyDirEntry(fits.c_str(), tmp.path.c_str(), "f"); });
    EXPECT_EQ(into.result, 1);
    EXPECT_EQ(ReadFile(fits + "/f"), "data");
    Outcome too_long =
        RunOperation([&] { return CopyDirEntry(over.c_str(), tmp.path.c_str(), "f"); });
    EXPECT_EQ(too_long.drawn, "path too long");
    EXPECT_EQ(too_long.popups, 1);
    EXPECT_FALSE(Exists(over + "/f"));

    WriteFile(over + "/f", "data");
    MakeDir(tmp / "out");
    Outcome from =
        RunOperation([&] { return CopyDirEntry((tmp / "out").c_str(), fits.c_str(), "f"); });
    EXPECT_EQ(from.result, 1);
    Outcome from_over =
        RunOperation([&] { return CopyDirEntry((tmp / "out").c_str(), over.c_str(), "g"); });
    EXPECT_EQ(from_over.drawn, "path too long");

    EXPECT_EQ(RunOperation([&] { return DeleteDirEntry(over.c_str(), "f"); }).drawn,
              "path too long");
    EXPECT_EQ(RunOperation([&] { return DeleteDirEntry(fits.c_str(), "f"); }).result, 1);
    EXPECT_FALSE(Exists(fits + "/f"));
    EXPECT_EQ(RunOperation([&] { return MoveDirEntry(over.c_str(), fits.c_str(), "x"); }).drawn,
              "path too long");
}

// The cells of the copy bar that a captured screen shows white, from the left, or -2 when the
// rest of the track is not empty; misplaced tells whether the dialog or its track is off place.
static int WhiteCells(const std::string &capture, int line_height, bool *misplaced) {
    SDL_Surface *screen = LoadCapture(capture);
    if (screen == nullptr)
        return -1;
    int track_y = 100 + 2 * line_height;
    int cells = 0;
    while (cells < 20 && ColorIs(screen, 70 + 9 * cells + 4, track_y + 5, kCellWhite))
        cells++;
    for (int cell = cells; cell < 20; cell++)
        if (!ColorIs(screen, 70 + 9 * cell + 4, track_y + 5, {50, 50, 50, 0}))
            cells = -2;
    const SDL_Color panel = {230, 230, 230, 0};
    const SDL_Color frame = {100, 100, 255, 0};
    *misplaced = !ColorIs(screen, 254, track_y + 5, panel) ||
                 !ColorIs(screen, 69, track_y, panel) || !ColorIs(screen, 70, track_y - 1, panel) ||
                 !ColorIs(screen, 249, track_y + 10, panel) || !ColorIs(screen, 60, 80, frame) ||
                 !ColorIs(screen, 259, 159, frame) || ColorIs(screen, 59, 80, frame) ||
                 ColorIs(screen, 60, 79, frame) || ColorIs(screen, 259, 160, frame);
    SDL_FreeSurface(screen);
    return cells;
}

TEST(CopyFile, FillsOneCellPerTwentiethAfterEachBlock) {
    TempDir tmp;
    struct Case {
        size_t size;
        int cells;
    };
    // A strict test against the step: a multiple of 20 ends one cell short.
    const Case cases[] = {{0, 0},   {1, 20},       {19, 20},      {20, 19},     {39, 20},
                          {40, 19}, {1048576, 20}, {2097160, 19}, {3145735, 20}};
    for (const Case &one : cases) {
        std::string name = "s" + std::to_string(one.size);
        std::string content(one.size, '\0');
        for (size_t i = 0; i < one.size; i++)
            content[i] = static_cast<char>(i * 7 + i / 4096);
        WriteFile(tmp / name, content);
        std::string capture = tmp / (name + ".bmp");
        Outcome copy = RunOperation(
            [&] { return CopyFile((tmp / (name + ".copy")).c_str(), (tmp / name).c_str()); },
            capture);
        bool misplaced = true;
        EXPECT_EQ(copy.result, 1) << one.size;
        EXPECT_EQ(WhiteCells(capture, copy.line_height, &misplaced), one.cells) << one.size;
        EXPECT_FALSE(misplaced) << one.size;
        EXPECT_EQ(copy.flips, 1 + one.cells) << one.size;
        EXPECT_EQ(copy.drawn, name);
        EXPECT_TRUE(ReadFile(tmp / (name + ".copy")) == content) << one.size;
    }
}

TEST(CopyFile, FailingWritesAndReadsAreReportedAsSuch) {
    TempDir tmp;
    std::string big(1048576 + 200, 'x');
    WriteFile(tmp / "big", big);
    // A copy from another file system takes the plain path instead of the kernel's.
    std::string shm = "/dev/shm/zorvel-fileops-" + std::to_string(getpid());
    if (mkdir(shm.c_str(), 0700) == 0) {
        WriteFile(shm + "/big", big);
        MakeDir(tmp / "across");
        Outcome across = RunOperation(
            [&] { return CopyDirEntry((tmp / "across").c_str(), shm.c_str(), "big"); });
        EXPECT_EQ(across.result, 1);
        EXPECT_TRUE(ReadFile(tmp / "across/big") == big);
    }
    // A file size limit makes the destination fail after its first block.
    for (const std::string &source_dir : {tmp.path, shm}) {
        if (!Exists(source_dir + "/big"))
            continue;
        std::string dest_dir = tmp / ("limited" + std::to_string(source_dir == shm));
        MakeDir(dest_dir);
        Outcome limited = RunOperation([&] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {1048576 + 100, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &limit);
            return CopyDirEntry(dest_dir.c_str(), source_dir.c_str(), "big");
        });
        EXPECT_EQ(limited.result, 0) << source_dir;
        EXPECT_EQ(limited.popups, 1) << source_dir;
        EXPECT_EQ(limited.drawn, "bigwrite " + dest_dir + "/big failed");
        EXPECT_LE(ReadFile(dest_dir + "/big").size(), 1048576u + 100);
    }
    unlink((shm + "/big").c_str());
    rmdir(shm.c_str());

    // A process's own memory opens but cannot be read at offset 0.
    MakeDir(tmp / "mem");
    Outcome unreadable =
        RunOperation([&] { return CopyDirEntry((tmp / "mem").c_str(), "/proc/self", "mem"); });
    EXPECT_EQ(unreadable.result, 0);
    EXPECT_EQ(unreadable.popups, 1);
    EXPECT_EQ(unreadable.drawn, "memread /proc/self/mem failed");
}

TEST(MoveDirEntry, RenamesOrFailsLeavingTheSource) {
    TempDir src, dst;
    MakeDir(src / "d");
    WriteFile(src / "d/f", "f");
    Outcome moved =
        RunOperation([&] { return MoveDirEntry(dst.path.c_str(), src.path.c_str(), "d/"); });
    EXPECT_EQ(moved.result, 1);
    EXPECT_EQ(moved.popups, 0);
    EXPECT_EQ(ReadFile(dst / "d/f"), "f");
    EXPECT_FALSE(Exists(src / "d"));

    Outcome missing =
        RunOperation([&] { return MoveDirEntry(dst.path.c_str(), src.path.c_str(), "x"); });
    EXPECT_EQ(missing.result, 0);
    EXPECT_EQ(missing.drawn, "rename() failed");
    std::string shm = "/dev/shm/zorvel-move-" + std::to_string(getpid());
    if (mkdir(shm.c_str(), 0700) == 0) {
        WriteFile(src / "g", "g");
        Outcome across =
            RunOperation([&] { return MoveDirEntry(shm.c_str(), src.path.c_str(), "g"); });
        EXPECT_EQ(across.drawn, "rename() failed");
        EXPECT_TRUE(Exists(src / "g"));
        rmdir(shm.c_str());
    }
}

TEST(DeleteDirEntry, RemovesSubdirectoriesThenFilesThenTheDirectory) {
    TempDir tmp;
    MakeDir(tmp / "d");
    MakeDir(tmp / "d/s1");
    MakeDir(tmp / "d/s1/deeper");
    WriteFile(tmp / "d/s1/deeper/x", "x");
    MakeDir(tmp / "d/s2");
    WriteFile(tmp / "d/a", "a");
    WriteFile(tmp / "d/b", "b");
    Outcome gone = RunOperation([&] { return DeleteDirEntry(tmp.path.c_str(), "d/"); });
    EXPECT_EQ(gone.result, 1);
    EXPECT_EQ(gone.popups, 0);
    EXPECT_FALSE(Exists(tmp / "d"));
}

TEST(DeleteDirEntry, AFileThatCannotBeRemovedStopsTheDeleteThere) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the tree to another user";
    // In a sticky directory only an entry's owner may remove it: the child runs as nobody and
    // b alone stays root's.
    const uid_t nobody = 65534;
    TempDir tmp;
    chmod(tmp.path.c_str(), 0755);
    std::string dir = tmp / "d";
    MakeDir(dir);
    chmod(dir.c_str(), 01777);
    for (const char *sub : {"s1", "s2", "s1/x"})
        MakeDir(dir + "/" + sub);
    for (const char *file : {"a", "b", "c", "s1/x/f"})
        WriteFile(dir + "/" + file, file);
    for (const char *entry : {"s1", "s2", "s1/x", "s1/x/f", "a", "c"})
        ASSERT_EQ(chown((dir + "/" + entry).c_str(), nobody, nobody), 0);
    Outcome stopped = RunOperation([&] {
        if (setgid(nobody) != 0 || setuid(nobody) != 0)
            return -9;
        return DeleteDirEntry(tmp.path.c_str(), "d/");
    });
    EXPECT_EQ(stopped.result, 0);
    EXPECT_EQ(stopped.popups, 1);
    EXPECT_EQ(stopped.drawn, "unlink() failed");
    EXPECT_FALSE(Exists(dir + "/s1"));
    EXPECT_FALSE(Exists(dir + "/s2"));
    EXPECT_FALSE(Exists(dir + "/a"));
    EXPECT_TRUE(Exists(dir + "/b"));
    EXPECT_TRUE(Exists(dir + "/c"));
}

TEST(DeleteDirEntry, RemovesLinksAsLinksAndNothingOutsideTheEntry) {
    TempDir tmp;
    MakeDir(tmp / "outside");
    WriteFile(tmp / "outside/keep", "keep");
    MakeDir(tmp / "d");
    symlink((tmp / "outside").c_str(), (tmp / "d/to_dir").c_str());
    symlink((tmp / "outside/keep").c_str(), (tmp / "d/to_file").c_str());
    symlink((tmp / "missing").c_str(), (tmp / "d/dangling").c_str());
    symlink((tmp / "outside").c_str(), (tmp / "top").c_str());
    mkfifo((tmp / "pipe").c_str(), 0644);

    EXPECT_EQ(RunOperation([&] { return DeleteDirEntry(tmp.path.c_str(), "d/"); }).result, 1);
    EXPECT_FALSE(Exists(tmp / "d"));
    // Even named as a directory, a link is removed as a link.
    EXPECT_EQ(RunOperation([&] { return DeleteDirEntry(tmp.path.c_str(), "top/"); }).result, 1);
    EXPECT_FALSE(Exists(tmp / "top"));
    EXPECT_EQ(ReadFile(tmp / "outside/keep"), "keep");

    Outcome pipe = RunOperation([&] { return DeleteDirEntry(tmp.path.c_str(), "pipe"); });
    EXPECT_EQ(pipe.drawn, "unknown file type");
    EXPECT_TRUE(Exists(tmp / "pipe"));
    EXPECT_EQ(RunOperation([&] { return DeleteDirEntry(tmp.path.c_str(), "gone"); }).drawn,
              "unknown file type");
}

// Hundreds of levels may cost a few MiB; the 500-name tables of a naive level would cost 80.
// Under the address sanitizer its shadow memory and its quarantine of freed blocks add more.
#if defined(__SANITIZE_ADDRESS__)
static const long kPeakGrowthKiB = 48 * 1024;
#else
static const long kPeakGrowthKiB = 8 * 1024;
#endif

// Copies the directory "d/" of source_dir into dest_dir and prints how much the peak resident
// size grew, in KiB.
static int CopyMeasured(const std::string &dest_dir, const std::string &source_dir) {
    rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    int result = CopyDirEntry(dest_dir.c_str(), source_dir.c_str(), "d/");
    getrusage(RUSAGE_SELF, &after);
    printf("%ld\n", after.ru_maxrss - before.ru_maxrss);
    return result;
}

// The number of directories named d nested under path.
static int NestedDepth(std::string path) {
    int depth = 0;
    while (Exists(path + "/d")) {
        path += "/d";
        depth++;
    }
    return depth;
}

TEST(CopyDirEntry, ADeepTreeEndsWithPathTooLongInLittleMemory) {
    TempDir tmp;
    // Deeper than the composed paths reach: every level adds "d/" and a slash to them.
    std::string path = tmp / "src";
    MakeDir(path);
    for (int level = 0; level < 700; level++) {
        path += "/d";
        MakeDir(path);
    }
    MakeDir(tmp / "dst");
    Outcome deep = RunOperation([&] { return CopyMeasured(tmp / "dst", tmp / "src"); });
    EXPECT_EQ(deep.result, 0);
    EXPECT_EQ(deep.popups, 1);
    EXPECT_EQ(deep.drawn, "path too long");
    EXPECT_GT(NestedDepth(tmp / "dst"), 600);
    EXPECT_LT(atol(deep.out.c_str()), kPeakGrowthKiB) << "KiB of peak growth";

    // Through a link to an ancestor: the ancestor is copied once, and the directory met again
    // below it is not entered.
    MakeDir(tmp / "loop");
    MakeDir(tmp / "loop/d");
    symlink("..", (tmp / "loop/d/d").c_str());
    MakeDir(tmp / "out");
    Outcome linked = RunOperation([&] { return CopyMeasured(tmp / "out", tmp / "loop"); });
    EXPECT_EQ(linked.result, 0);
    EXPECT_EQ(linked.popups, 1);
    EXPECT_EQ(linked.drawn, "path too long");
    EXPECT_EQ(NestedDepth(tmp / "out"), 2);
}

TEST(BaseName, GivesTheLastComponent) {
    char out[16];
    EXPECT_STREQ(BaseName(out, "/a/b", sizeof out), "b");
    EXPECT_STREQ(BaseName(out, "/a/b/", sizeof out), "b");
    EXPECT_STREQ(BaseName(out, "/a//bc//", sizeof out), "bc");
    EXPECT_STREQ(BaseName(out, "b", sizeof out), "b");
    EXPECT_STREQ(BaseName(out, "/", sizeof out), "");
    EXPECT_STREQ(BaseName(out, "", sizeof out), "");
    EXPECT_STREQ(BaseName(out, "/x/abc", 4), "abc");
    ChildResult full = RunChild([] {
        char small[4];
        BaseName(small, "/x/abcd", sizeof small);
        return 0;
    });
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.out, "error: BaseName() buffer full\n");
}
