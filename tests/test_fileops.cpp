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

// Hundreds of levels may cost a few MiB; the 500-name tables of a naive level would cost 80.
// Under the address sanitizer its shadow memory and its quarantine of freed blocks add more.
#if defined(__SANITIZE_ADDRESS__)
static const long kPeakGrowthKiB = 48 * 1024;
#else
static const long kPeakGrowthKiB = 8 * 1024;
#endif

