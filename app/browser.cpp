#include "app/browser.h"

#include <SDL_ttf.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

#include "app/commands.h"
#include "common/globals.h"
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
    if (SDL_Init(SDL_INIT_VIDEO) < 0)
        return 0;
    gScreenSurface = SDL_SetVideoMode(kScreenWidth, kScreenHeight, kScreenDepth, 0);
    if (gScreenSurface == nullptr)
        return 0;
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
    option.last_row = 230 / (option.font_height + 1) - 2;
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
    SDL_FillRect(gScreenSurface, &whole,
                 SDL_MapRGB(gScreenSurface->format, color.r, color.g, color.b));
}

static void ReadWorkingDir(Pane &pane) {
    if (getcwd(pane.path, sizeof pane.path) == nullptr)
        FatalExit("error: pathname too long\n");
}

static void ListPane(Pane &pane) {
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
    if (chdir(pane.path) != 0 || chdir(name) != 0) {
        // Nothing to do: the path is read back from where the process stands.
    }
    ReadWorkingDir(pane);
    printf("chdir: %s\n", pane.path);
    RelistPane(browser, browser.active);
}

static void DrawPanes(Browser &browser) {
    FillScreen(color_black);
    for (int index = 0; index < 2; index++) {
        const Pane &pane = browser.pane[index];
        bool active = index == browser.active;
        int x = kPaneStride * index + kPaneMargin;
        TextSurface =
            TTF_RenderUTF8_Shaded(font, pane.path, color_blue, active ? color_white : color_gray);
        BlitTextSurface(x, 3, nullptr);

        int last = pane.count - 1 < option.last_row ? pane.count - 1 : option.last_row;
        for (int row = 0; row <= last; row++) {
            SDL_Color background;
            if (row == pane.cursor)
                background = active ? color_red : color_blue;
            else
                background = active ? color_white : color_gray;
            TextSurface =
                TTF_RenderUTF8_Shaded(font, pane.entries[pane.top + row], color_black, background);
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

// A popup samples the buttons itself; what it leaves must not drive the rest of the frame.
static void RunCommand(Browser &browser, void (*command)(Browser &)) {
    unsigned long passes_before = input_pass_count;
    command(browser);
    if (input_pass_count != passes_before)
        for (int &event : button_to_process)
            event = 0;
}

// One frame of the browser; false when the user quits.
static bool RunFrame(Browser &browser) {
    SDL_Delay(10);
    SDL_Event event;
    if (SDL_PollEvent(&event) && event.type == SDL_QUIT)
        return false;
    GetInput();
    const int *pressed = button_to_process;
    if (pressed[BTN_START] && pressed[BTN_SELECT])
        return false;
    if (pressed[BTN_DOWN])
        CursorDown(browser);
    if (pressed[BTN_UP])
        CursorUp(browser);
    if (pressed[BTN_RIGHT] && browser.active == 0) {
        browser.active = 1;
        browser.redraw = true;
    }
    if (pressed[BTN_LEFT] && browser.active == 1) {
        browser.active = 0;
        browser.redraw = true;
    }
    if (pressed[BTN_L])
        browser.redraw = true;
    if (pressed[BTN_R])
        browser.redraw = true;
    if (pressed[BTN_A] && !pressed[BTN_SELECT] && strchr(CursorEntry(browser), '/') != nullptr)
        ChangeDir(browser, CursorEntry(browser));
    if (pressed[BTN_A] && pressed[BTN_SELECT])
        RunCommand(browser, ExecuteCommand);
    if (pressed[BTN_B] && !pressed[BTN_SELECT])
        ChangeDir(browser, "..");
    if (pressed[BTN_B] && pressed[BTN_SELECT])
        RunCommand(browser, DeleteCommand);
    if (pressed[BTN_Y] && !pressed[BTN_SELECT])
        RunCommand(browser, CopyCommand);
    if (pressed[BTN_Y] && pressed[BTN_SELECT])
        RunCommand(browser, MakeDirCommand);
    if (pressed[BTN_X] && !pressed[BTN_SELECT])
        RunCommand(browser, MoveCommand);
    if (pressed[BTN_X] && pressed[BTN_SELECT])
        RunCommand(browser, RenameCommand);
    if (pressed[BTN_L])
        RunCommand(browser, FileInfoCommand);
    if (pressed[BTN_R])
        RunCommand(browser, DiskInfoCommand);
    if (browser.redraw)
        DrawPanes(browser);
    DrawHelpBar();
    SDL_Flip(gScreenSurface);
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
