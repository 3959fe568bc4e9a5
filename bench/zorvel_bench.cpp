// Runs one of the file manager's own operations on the dummy display for bench/run.sh, with the
// buttons scripted pass by pass where the operation waits for them:
//   zorvel_bench copy DEST_DIR SOURCE_DIR NAME  one CopyDirEntry, its dialogs drawn
//   zorvel_bench copyflush DEST_DIR SOURCE_DIR NAME  the same, then the flush of DEST_DIR's file
//                                               system that the copy command makes
//   zorvel_bench delete DIR NAME                one DeleteDirEntry
//   zorvel_bench list DIR COUNT                 COUNT listings of DIR (CountDir, then SeekDir)
//   zorvel_bench idle FRAMES                    the browser in the working directory: FRAMES
//                                               frames without a button, then quit
//   zorvel_bench move FRAMES                    FRAMES frames, each with a fresh DOWN or UP press,
//                                               so that both panes are drawn, then quit
//   zorvel_bench popup COUNT                    COUNT message popups, each opened and closed by A
//   zorvel_bench deepcopy                       the browser in a directory that holds d/, a chain
//                                               of directories deeper than a path reaches, and
//                                               e/: the right pane enters e/, the left pane
//                                               copies d/ into it until "path too long", A
//                                               closes the popup, then quit
// The 10 ms pause of each pass is skipped: it sleeps and counts for neither time nor
// instructions. Results go to standard output after Init's log line, one "bench NAME VALUE" a
// line, the process's peak resident memory last. The status is 0 when the operation did what
// it should.
#include <SDL.h>
#include <algorithm>
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
#include "app/fileops.h"
#include "common/globals.h"
#include "app/listing.h"
#include "dialogs/dialogbox.h"

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

extern "C" {
Uint8 *__real_SDL_GetKeyState(int *numkeys);
Uint8 *__wrap_SDL_GetKeyState(int *numkeys);
void __wrap_SDL_Delay(Uint32 ms);
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
        FlushChanges(dest_dir);
    printf("bench seconds %.3f\n", Seconds(start, Now()));
    return result == 1 ? 0 : 1;
}

static int RunDelete(const char *dir, const char *name) {
    if (!OpenDisplay())
        return 1;
    timespec start = Now();
    int result = DeleteDirEntry(dir, name);
    printf("bench seconds %.3f\n", Seconds(start, Now()));
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
    printf("bench seconds %.3f\n", Seconds(start, Now()));
    printf("bench entries %d\n", listed);
    return 0;
}

static int RunBrowser() {
    std::stable_sort(key_script.begin(), key_script.end(),
                     [](const KeyChange &a, const KeyChange &b) { return a.pass < b.pass; });
    if (!OpenDisplay())
        return 1;
    timespec start = Now();
    MainLoop();
    printf("bench seconds %.3f\n", Seconds(start, Now()));
    printf("bench passes %d\n", pass_count);
    return 0;
}

static int RunIdle(int frames) {
    QuitAt(frames);
    return RunBrowser();
}

// DOWN and UP take turns, so that every frame sees a fresh press and the cursor stays near the
// top of full panes.
static int RunMove(int frames) {
    for (int frame = 0; frame < frames; frame++)
        Tap(frame % 2 == 0 ? SDLK_DOWN : SDLK_UP, frame);
    QuitAt(frames);
    return RunBrowser();
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
    printf("bench seconds %.3f\n", Seconds(start, Now()));
    printf("bench passes %d\n", pass_count);
    return 0;
}

// The browser starts with both panes in a directory whose entries are "../" and "d/". Each
// press is one pass long with a free pass after it; the copy samples no buttons until its
// popup, which releases at pass 11 and is closed by A at pass 12.
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
    fputs("usage: zorvel_bench copy|copyflush DEST_DIR SOURCE_DIR NAME | delete DIR NAME | list "
          "DIR COUNT"
          " | idle FRAMES | move FRAMES | popup COUNT | deepcopy\n",
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
    if (strcmp(mode, "delete") == 0 && argc == 4)
        return RunDelete(argv[2], argv[3]);
    if (strcmp(mode, "list") == 0 && argc == 4)
        return RunList(argv[2], atoi(argv[3]));
    if (strcmp(mode, "idle") == 0 && argc == 3)
        return RunIdle(atoi(argv[2]));
    if (strcmp(mode, "move") == 0 && argc == 3)
        return RunMove(atoi(argv[2]));
    if (strcmp(mode, "popup") == 0 && argc == 3)
        return RunPopups(atoi(argv[2]));
    if (strcmp(mode, "deepcopy") == 0 && argc == 2)
        return RunDeepCopy();
    return Usage();
}

int main(int argc, char *argv[]) {
    int status = Run(argc, argv);
    if (status != 2)
        ReportPeakMemory();
    fflush(stdout);
    return status;
}
