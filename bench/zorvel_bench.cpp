// Runs one of the file manager's own operations on the dummy display for bench/run.sh, with the
// buttons scripted pass by pass where the operation waits for them:
//   zorvel_bench copy DEST_DIR SOURCE_DIR NAME  one CopyDirEntry, its dialogs drawn
//   zorvel_bench copyflush DEST_DIR SOURCE_DIR NAME  the same, then the flush of DEST_DIR's file
//                                               system that the copy command makes
//   zorvel_bench copy-plain DEST_DIR SOURCE_DIR NAME
//                                               one CopyDirEntry with copy_file_range refused,
//                                               as on a kernel without it
//   zorvel_bench delete DIR NAME                one DeleteDirEntry
//   zorvel_bench list DIR COUNT                 COUNT listings of DIR (CountDir, then SeekDir)
//   zorvel_bench idle [DIR] FRAMES              the browser in the working directory, or in DIR
//                                               (entered after start-up, so that it may be
//                                               deeper than a start directory can be): FRAMES
//                                               frames without a button, then quit
//   zorvel_bench move [DIR] FRAMES              FRAMES frames, each with a fresh DOWN or UP press,
//                                               so that both panes are drawn, then quit
//   zorvel_bench popup COUNT                    COUNT message popups, each opened and closed by A
//   zorvel_bench lineinput DIR PASSES           the line-input dialog with the keyboard's images
//                                               of DIR/graphics: PASSES passes, then START
//   zorvel_bench deepcopy                       the browser in a directory that holds d/, a chain
//                                               of directories deeper than a path reaches, and
//                                               e/: the right pane enters e/, the left pane
//                                               copies d/ into it until "path too long", A
//                                               closes the popup, then quit
// The 10 ms pause of each pass is skipped: it sleeps and counts for neither time nor
// instructions. Results go to standard output after Init's log line, one "bench NAME VALUE" a
// line, the bytes pushed to the display and the number of showings (flips and updates), then the
// process's peak resident memory last. The status is 0 when the operation did what
// it should.
#include <SDL.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/browser.h"
#include "app/session.h"
#include "app/fs/copytree.h"
#include "app/fs/fileops.h"
#include "app/fs/listing.h"
#include "common/globals.h"
#include "dialogs/dialogbox.h"
#include "dialogs/lineinput.h"

static const char kFontFile[] = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf";
// The popup benchmark's message: the copy's "already exists" with a path of a usual length.
static const char kPopupText[] = "/var/tmp/zorvel/out/tree/ already exists";
static const int kPathMessageWidth = 150;
static const int kPathMessageHeight = 100;
// Passes a scripted browser run may take beyond its script before it counts as stuck.
static const int kSparePasses = 20;

struct KeyChange {
    int pass;
    SDLKey key;
    bool down;
};

// In the order of their passes once the run starts; next_change is the first not yet applied.
static std::vector<KeyChange> key_script;
static size_t next_change = 0;
static int pass_count = 0;
static int pass_limit = 0;
// While set, this key goes down on every even pass and up on every odd one.
static SDLKey toggled_key = SDLK_UNKNOWN;

// Bytes pushed to the display: a flip pushes the whole screen, an update the areas it names.
static long long pushed_bytes = 0;
static long showings = 0;
// While set, copy_file_range fails as on a kernel that does not have it.
static bool refuse_kernel_copy = false;

extern "C" {
Uint8 *__real_SDL_GetKeyState(int *numkeys);
Uint8 *__wrap_SDL_GetKeyState(int *numkeys);
void __wrap_SDL_Delay(Uint32 ms);
int __real_SDL_Flip(SDL_Surface *screen);
int __wrap_SDL_Flip(SDL_Surface *screen);
void __real_SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h);
void __wrap_SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h);
void __real_SDL_UpdateRects(SDL_Surface *screen, int count, SDL_Rect *rects);
void __wrap_SDL_UpdateRects(SDL_Surface *screen, int count, SDL_Rect *rects);
ssize_t __real_copy_file_range(int in, loff_t *in_offset, int out, loff_t *out_offset,
                               size_t length, unsigned int flags);
ssize_t __wrap_copy_file_range(int in, loff_t *in_offset, int out, loff_t *out_offset,
                               size_t length, unsigned int flags);
}

int __wrap_SDL_Flip(SDL_Surface *screen) {
    pushed_bytes += static_cast<long long>(screen->h) * screen->w * screen->format->BytesPerPixel;
    showings++;
    return __real_SDL_Flip(screen);
}

// SDL takes a zero rectangle for the whole screen.
void __wrap_SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h) {
    Uint32 area = x == 0 && y == 0 && w == 0 && h == 0 ? Uint32(screen->w * screen->h) : w * h;
    pushed_bytes += static_cast<long long>(area) * screen->format->BytesPerPixel;
    showings++;
    __real_SDL_UpdateRect(screen, x, y, w, h);
}

void __wrap_SDL_UpdateRects(SDL_Surface *screen, int count, SDL_Rect *rects) {
    for (int i = 0; i < count; i++)
        pushed_bytes +=
            static_cast<long long>(rects[i].w) * rects[i].h * screen->format->BytesPerPixel;
    showings++;
    __real_SDL_UpdateRects(screen, count, rects);
}

ssize_t __wrap_copy_file_range(int in, loff_t *in_offset, int out, loff_t *out_offset,
                               size_t length, unsigned int flags) {
    if (refuse_kernel_copy) {
        errno = ENOSYS;
        return -1;
    }
    return __real_copy_file_range(in, in_offset, out, out_offset, length, flags);
}

// Each sample of the key table is one pass: the script's changes for it are applied first.
Uint8 *__wrap_SDL_GetKeyState(int *numkeys) {
    Uint8 *keys = __real_SDL_GetKeyState(numkeys);
    // One step a pass whatever the script's length, so that the script adds nothing per frame
    // that grows with the number of frames.
    for (; next_change < key_script.size() && key_script[next_change].pass <= pass_count;
         next_change++) {
        const KeyChange &change = key_script[next_change];
        keys[change.key] = change.down ? 1 : 0;
    }
    if (toggled_key != SDLK_UNKNOWN)
        keys[toggled_key] = pass_count % 2 == 0 ? 1 : 0;
    pass_count++;
    if (pass_limit > 0 && pass_count > pass_limit) {
        printf("bench: more than %d passes, the script is stuck\n", pass_limit);
        fflush(stdout);
        _exit(3);
    }
    return keys;
}

void __wrap_SDL_Delay(Uint32) {}

static void Tap(SDLKey key, int pass) {
    key_script.push_back({pass, key, true});
    key_script.push_back({pass + 1, key, false});
}

static void QuitAt(int pass) {
    key_script.push_back({pass, SDLK_ESCAPE, true});
    key_script.push_back({pass, SDLK_RETURN, true});
    pass_limit = pass + kSparePasses;
}

static double Seconds(const timespec &start, const timespec &end) {
    return static_cast<double>(end.tv_sec - start.tv_sec) +
           static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
}

static timespec Now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

static bool OpenDisplay() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    CopyString(option.font_file, sizeof option.font_file, kFontFile);
    if (Init())
        return true;
    puts("error: init failed");
    return false;
}

static void ReportPeakMemory() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("bench maxrss_kib %ld\n", usage.ru_maxrss);
}

// No End() after the file operations: its sync would be timed too, and cp and rm do none.
static int RunCopy(const char *dest_dir, const char *source_dir, const char *name, bool flush) {
    if (!OpenDisplay())
        return 1;
    timespec start = Now();
    int result = CopyDirEntry(dest_dir, source_dir, name);
    if (flush)
        result = FlushChanges(dest_dir, result) && result;
    printf("bench seconds %.6f\n", Seconds(start, Now()));
    return result == 1 ? 0 : 1;
}

static int RunDelete(const char *dir, const char *name) {
    if (!OpenDisplay())
        return 1;
    timespec start = Now();
    int result = DeleteDirEntry(dir, name);
    printf("bench seconds %.6f\n", Seconds(start, Now()));
    return result == 1 ? 0 : 1;
}

// Lists as a pane does, into a table of a pane's size.
static int RunList(const char *dir, int count) {
    auto entries = std::make_unique<EntryName[]>(kPaneEntries);
    int listed = 0;
    timespec start = Now();
    for (int i = 0; i < count; i++) {
        int counted = CountDir(dir);
        listed = SeekDir(dir, entries.get(), kPaneEntries);
        if (listed != counted)
            return 1;
    }
    printf("bench seconds %.6f\n", Seconds(start, Now()));
    printf("bench entries %d\n", listed);
    return 0;
}

static int RunBrowser(const char *dir = nullptr) {
    std::stable_sort(key_script.begin(), key_script.end(),
                     [](const KeyChange &a, const KeyChange &b) { return a.pass < b.pass; });
    if (!OpenDisplay())
        return 1;
    if (dir != nullptr && chdir(dir) != 0)
        return 1;
    timespec start = Now();
    MainLoop();
    printf("bench seconds %.6f\n", Seconds(start, Now()));
    printf("bench passes %d\n", pass_count);
    return 0;
}

static int RunIdle(int frames, const char *dir) {
    QuitAt(frames);
    return RunBrowser(dir);
}

// DOWN and UP take turns, so that every frame sees a fresh press and the cursor stays near the
// top of full panes.
static int RunMove(int frames, const char *dir) {
    for (int frame = 0; frame < frames; frame++)
        Tap(frame % 2 == 0 ? SDLK_DOWN : SDLK_UP, frame);
    QuitAt(frames);
    return RunBrowser(dir);
}

static int RunPopups(int count) {
    if (!OpenDisplay())
        return 1;
    FillScreen(color_gray);
    SDL_Flip(gScreenSurface);
    toggled_key = SDLK_LCTRL;
    pass_limit = 10 * count + kSparePasses;
    timespec start = Now();
    for (int i = 0; i < count; i++)
        if (PopupMessage(kPathMessageWidth, kPathMessageHeight, "Error", kPopupText) != 1)
            return 1;
    printf("bench seconds %.6f\n", Seconds(start, Now()));
    printf("bench passes %d\n", pass_count);
    return 0;
}

// The browser starts with both panes in a directory whose entries are "../" and "d/". Each
// press is one pass long with a free pass after it; the copy samples no buttons until its
// popup, which releases at pass 11 and is closed by A at pass 12.
// The dialog opens over a filled screen; the keyboard stays on its centre cell, idle.
static int RunLineInput(const char *dir, int passes) {
    if (!OpenDisplay())
        return 1;
    CopyString(option.start_dir, sizeof option.start_dir, dir);
    FillScreen(color_gray);
    SDL_Flip(gScreenSurface);
    Tap(SDLK_RETURN, passes);
    pass_limit = passes + kSparePasses;
    char result[kLineCapacity + 1];
    if (LineInput(210, 70, kLineCapacity, 35, "rename", "picture_00001.png", result) != 1)
        return 1;
    printf("bench passes %d\n", pass_count);
    return 0;
}

static int RunDeepCopy() {
    Tap(SDLK_RIGHT, 0);   // the right pane is active
    Tap(SDLK_DOWN, 2);    // its cursor on d/
    Tap(SDLK_DOWN, 4);    // then on e/
    Tap(SDLK_LCTRL, 6);   // A: the right pane enters e/
    Tap(SDLK_LEFT, 8);    // the left pane is active
    Tap(SDLK_DOWN, 10);   // its cursor on d/
    Tap(SDLK_LSHIFT, 12); // Y: copy d/ into e/
    Tap(SDLK_LCTRL, 14);  // A: closes "path too long"
    QuitAt(18);
    if (RunBrowser() != 0 || pass_count != 19)
        return 1;
    // The levels the copy made: e/d, e/d/d and so on, from e/, where entering it left the process.
    std::string path = "d";
    int levels = 0;
    struct stat status;
    while (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        levels++;
        path += "/d";
    }
    printf("bench levels %d\n", levels);
    return 0;
}

static int Usage() {
    fputs("usage: zorvel_bench copy|copyflush|copy-plain DEST_DIR SOURCE_DIR NAME"
          " | delete DIR NAME | list DIR COUNT | idle [DIR] FRAMES | move [DIR] FRAMES"
          " | popup COUNT | lineinput DIR PASSES | deepcopy\n",
          stderr);
    return 2;
}

static int Run(int argc, char *argv[]) {
    if (argc < 2)
        return Usage();
    const char *mode = argv[1];
    if (strcmp(mode, "copy") == 0 && argc == 5)
        return RunCopy(argv[2], argv[3], argv[4], false);
    if (strcmp(mode, "copyflush") == 0 && argc == 5)
        return RunCopy(argv[2], argv[3], argv[4], true);
    if (strcmp(mode, "copy-plain") == 0 && argc == 5) {
        refuse_kernel_copy = true;
        return RunCopy(argv[2], argv[3], argv[4], false);
    }
    if (strcmp(mode, "lineinput") == 0 && argc == 4)
        return RunLineInput(argv[2], atoi(argv[3]));
    if (strcmp(mode, "delete") == 0 && argc == 4)
        return RunDelete(argv[2], argv[3]);
    if (strcmp(mode, "list") == 0 && argc == 4)
        return RunList(argv[2], atoi(argv[3]));
    if (strcmp(mode, "idle") == 0 && (argc == 3 || argc == 4))
        return RunIdle(atoi(argv[argc - 1]), argc == 4 ? argv[2] : nullptr);
    if (strcmp(mode, "move") == 0 && (argc == 3 || argc == 4))
        return RunMove(atoi(argv[argc - 1]), argc == 4 ? argv[2] : nullptr);
    if (strcmp(mode, "popup") == 0 && argc == 3)
        return RunPopups(atoi(argv[2]));
    if (strcmp(mode, "deepcopy") == 0 && argc == 2)
        return RunDeepCopy();
    return Usage();
}

int main(int argc, char *argv[]) {
    int status = Run(argc, argv);
    if (status != 2) {
        printf("bench pushed_bytes %lld\n", pushed_bytes);
        printf("bench showings %ld\n", showings);
        ReportPeakMemory();
    }
    fflush(stdout);
    return status;
}
