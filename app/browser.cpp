#include "app/browser.h"

#include <SDL_ttf.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "app/commands.h"
#include "app/shown_text.h"
#include "common/display.h"
#include "common/globals.h"
#include "dialogs/dialogbox.h"
#include "input/input.h"

static const char kHelpText[] =
    "A: chdir  B: up     X: move   Y: copy   L: info   R: disk   START:        ";
static const char kHelpTextSelect[] =
    "A: exec   B: delete X: rename Y: mkdir  L:        R:        START: quit   ";
static_assert(sizeof kHelpText == 75 && sizeof kHelpTextSelect == 75, "help columns line up");

// Top of the help bar, and the pixels from a pane's left edge to its text.
static const int kHelpBarY = 230;
static const int kPaneStride = 161;
static const int kPaneMargin = 2;
static const int kRowClipWidth = 155;

int Init() {
    // A log line that cannot be written (standard output a pipe nobody reads) is lost; it must
    // not end the program in the middle of a copy.
    signal(SIGPIPE, SIG_IGN);
    if (SDL_Init(SDL_INIT_VIDEO) < 0)
        return 0;
    gScreenSurface = SDL_SetVideoMode(kScreenWidth, kScreenHeight, kScreenDepth, 0);
    if (gScreenSurface == nullptr)
        return 0;
    // A new screen shows nothing that was drawn on the one before.
    MarkWholeScreen();
    SDL_ShowCursor(0);
    if (TTF_Init() != 0)
        return 0;
    FilePtr font_check(fopen(option.font_file, "r"));
    if (!font_check)
        return 0;
    font_check.reset();
    font = TTF_OpenFont(option.font_file, option.font_size);
    font_small =
        TTF_OpenFont(option.font_file, option.font_size - 2 < 4 ? 4 : option.font_size - 2);
    if (font == nullptr || font_small == nullptr)
        return 0;
    option.font_height = TTF_FontHeight(font);
    printf("font height = %d\n", option.font_height);
    // The rows below the titles that fit above the help bar.
    option.last_row = kHelpBarY / (option.font_height + 1) - 2;
    if (getcwd(option.start_dir, sizeof option.start_dir) == nullptr) {
        puts("dirname of zorvel too long");
        return 0;
    }
    return 1;
}

void End() {
    sync();
    puts("sync disc");
    CloseDisplay();
}

void CloseDisplay() {
    if (font != nullptr)
        TTF_CloseFont(font);
    if (font_small != nullptr)
        TTF_CloseFont(font_small);
    font = nullptr;
    font_small = nullptr;
    if (gScreenSurface != nullptr)
        SDL_FreeSurface(gScreenSurface);
    gScreenSurface = nullptr;
    SDL_Quit();
}

void FillScreen(SDL_Color color) {
    SDL_Rect whole = {0, 0, kScreenWidth, kScreenHeight};
    SDL_FillRect(gScreenSurface, &whole, MapColor(gScreenSurface, color));
    MarkWholeScreen();
}

// Reads where the process stands into the pane's path; false, leaving the path as it was, when
// the process stands in a directory that has been removed.
static bool ReadWorkingDir(Pane &pane) {
    // A failed read may leave text in its buffer: the pane's path stays untouched until it works.
    char cwd[kPathSize];
    if (getcwd(cwd, sizeof cwd) != nullptr) {
        CopyString(pane.path, sizeof pane.path, cwd);
        return true;
    }
    if (errno == ERANGE)
        FatalExit("error: pathname too long\n");
    return false;
}

// Whether the directory at path is gone: a component of it missing or not a directory.
static bool Vanished(const char *path) {
    struct stat status;
    if (stat(path, &status) != 0)
        return errno == ENOENT || errno == ENOTDIR;
    return !S_ISDIR(status.st_mode);
}

// A pane whose directory was removed or moved away (by the other pane, say) shows its nearest
// existing ancestor instead. Any other trouble with the directory is left to the listing.
static void KeepToExistingDir(Pane &pane) {
    if (!Vanished(pane.path))
        return;
    do {
        char *slash = strrchr(pane.path, '/');
        if (slash == nullptr || slash == pane.path)
            CopyString(pane.path, sizeof pane.path, "/");
        else
            *slash = '\0';
    } while (strcmp(pane.path, "/") != 0 && Vanished(pane.path));
    printf("chdir: %s\n", pane.path);
}

static void ListPane(Pane &pane) {
    KeepToExistingDir(pane);
    pane.count = CountDir(pane.path);
    int stored = SeekDir(pane.path, pane.entries, kPaneEntries);
    if (stored < pane.count)
        pane.count = stored;
}

void RelistPane(Browser &browser, int index) {
    Pane &pane = browser.pane[index];
    ListPane(pane);
    pane.top = 0;
    pane.cursor = 0;
    browser.redraw = true;
}

Pane &ActivePane(Browser &browser) {
    return browser.pane[browser.active];
}

bool IsParentLike(const char *name) {
    return strncmp(name, "..", 2) == 0;
}

const char *CursorEntry(const Browser &browser) {
    const Pane &pane = browser.pane[browser.active];
    return pane.entries[pane.top + pane.cursor];
}

static void CursorDown(Browser &browser) {
    Pane &pane = browser.pane[browser.active];
    if (pane.cursor < option.last_row) {
        if (pane.cursor < pane.count - 1)
            pane.cursor++;
    } else {
        pane.cursor = option.last_row;
        if (pane.top + option.last_row + 1 < pane.count)
            pane.top++;
    }
    browser.redraw = true;
}

static void CursorUp(Browser &browser) {
    Pane &pane = browser.pane[browser.active];
    if (pane.cursor > 0) {
        pane.cursor--;
    } else {
        pane.cursor = 0;
        if (pane.top > 0)
            pane.top--;
    }
    browser.redraw = true;
}

// Enters name relative to the active pane's directory; a directory that cannot be entered
// leaves the path as it was.
static void ChangeDir(Browser &browser, const char *name) {
    Pane &pane = browser.pane[browser.active];
    // The path is read back from where the process stands, so neither result is needed.
    if (chdir(pane.path) != 0) {
        // The second change is made all the same, relative to where the process stands.
    }
    if (chdir(name) != 0) {
        // A directory that cannot be entered leaves the process where it was.
    }
    if (ReadWorkingDir(pane))
        printf("chdir: %s\n", pane.path);
    RelistPane(browser, browser.active);
}

static void DrawPanes(Browser &browser) {
    FillScreen(color_black);
    for (int index = 0; index < 2; index++) {
        const Pane &pane = browser.pane[index];
        bool active = index == browser.active;
        int x = kPaneStride * index + kPaneMargin;
        // A title is not clipped to its pane, only by the screen's edge.
        RenderShownShaded(font, pane.path, kScreenWidth - x, color_blue,
                          active ? color_white : color_gray);
        BlitTextSurface(x, 3, nullptr);

        int last = pane.count - 1 < option.last_row ? pane.count - 1 : option.last_row;
        for (int row = 0; row <= last; row++) {
            SDL_Color background;
            if (row == pane.cursor)
                background = active ? color_red : color_blue;
            else
                background = active ? color_white : color_gray;
            RenderShownShaded(font, pane.entries[pane.top + row], browser.row_clip.w, color_black,
                              background);
            BlitTextSurface(x, (row + 1) * (option.font_height + 1) + 3, &browser.row_clip);
        }
    }
    browser.redraw = false;
}

static void DrawHelpBar() {
    TextSurface = TTF_RenderUTF8_Shaded(font_small,
                                        button_to_process[BTN_SELECT] ? kHelpTextSelect : kHelpText,
                                        color_black, color_white);
    BlitTextSurface(kPaneMargin, kHelpBarY, nullptr);
}

static void ActivateRight(Browser &browser) {
    if (browser.active == 0) {
        browser.active = 1;
        browser.redraw = true;
    }
}

static void ActivateLeft(Browser &browser) {
    if (browser.active == 1) {
        browser.active = 0;
        browser.redraw = true;
    }
}

// L and R redraw the panes in the frame in which their popups close.
static void AskRedraw(Browser &browser) {
    browser.redraw = true;
}

// Only a directory entry, "../" included, holds a "/"; A on a file does nothing.
static void EnterCursorDir(Browser &browser) {
    if (strchr(CursorEntry(browser), '/') != nullptr)
        ChangeDir(browser, CursorEntry(browser));
}

static void GoUp(Browser &browser) {
    ChangeDir(browser, "..");
}

// Whether a step wants SELECT held, wants it up, or runs either way.
enum class WithSelect { kAny, kHeld, kUp };

// A step of the frame runs when its button has an event and SELECT is as the step wants it.
struct FrameStep {
    Button button;
    WithSelect select;
    void (*action)(Browser &browser);
};

// The frame's steps between sampling the buttons and drawing, tested in this order; every step
// whose test holds runs, and sees what the steps before it left.
static const FrameStep kFrameSteps[] = {
    {BTN_DOWN, WithSelect::kAny, CursorDown},
    {BTN_UP, WithSelect::kAny, CursorUp},
    {BTN_RIGHT, WithSelect::kAny, ActivateRight},
    {BTN_LEFT, WithSelect::kAny, ActivateLeft},
    {BTN_L, WithSelect::kAny, AskRedraw},
    {BTN_R, WithSelect::kAny, AskRedraw},
    {BTN_A, WithSelect::kUp, EnterCursorDir},
    {BTN_A, WithSelect::kHeld, ExecuteCommand},
    {BTN_B, WithSelect::kUp, GoUp},
    {BTN_B, WithSelect::kHeld, DeleteCommand},
    {BTN_Y, WithSelect::kUp, CopyCommand},
    {BTN_Y, WithSelect::kHeld, MakeDirCommand},
    {BTN_X, WithSelect::kUp, MoveCommand},
    {BTN_X, WithSelect::kHeld, RenameCommand},
    {BTN_L, WithSelect::kAny, FileInfoCommand},
    {BTN_R, WithSelect::kAny, DiskInfoCommand},
};

// Tests the events as they stand at the moment of the test.
static bool StepApplies(const FrameStep &step) {
    if (!button_to_process[step.button])
        return false;
    bool select = button_to_process[BTN_SELECT] != 0;
    return step.select == WithSelect::kAny || select == (step.select == WithSelect::kHeld);
}

// Runs the steps in order. A popup samples the buttons itself, so after a step that opened one
// the later steps see no events: what the popup left must not drive them.
static void RunFrameSteps(Browser &browser) {
    for (const FrameStep &step : kFrameSteps) {
        if (!StepApplies(step))
            continue;
        unsigned long passes_before = input_pass_count;
        step.action(browser);
        if (input_pass_count != passes_before)
            for (int &event : button_to_process)
                event = 0;
    }
}

// One frame of the browser; false when the user quits.
static bool RunFrame(Browser &browser) {
    SDL_Delay(10);
    SDL_Event event;
    if (SDL_PollEvent(&event) && event.type == SDL_QUIT)
        return false;
    GetInput();
    if (button_to_process[BTN_START] && button_to_process[BTN_SELECT])
        return false;
    RunFrameSteps(browser);
    if (browser.redraw)
        DrawPanes(browser);
    DrawHelpBar();
    ShowChangedAreas();
    return true;
}

int MainLoop() {
    // The panes hold two 128 KB tables: too large for the stack of a small machine.
    auto browser = std::make_unique<Browser>();
    browser->redraw = true;
    browser->active = 0;
    browser->row_clip = {0, 0, kRowClipWidth, static_cast<Uint16>(option.font_height)};
    ReadWorkingDir(browser->pane[0]);
    printf("path: %s\n", browser->pane[0].path);
    CopyString(browser->pane[1].path, kPathSize, browser->pane[0].path);
    ListPane(browser->pane[0]);
    ListPane(browser->pane[1]);
    while (RunFrame(*browser)) {
    }
    return 1;
}
