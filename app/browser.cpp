#include "app/browser.h"

#include <SDL_ttf.h>
#include <memory>

#include "app/frame_steps.h"
#include "app/panes.h"
#include "app/session.h"
#include "app/shown_text.h"
#include "common/display.h"
#include "common/globals.h"
#include "common/rect.h"
#include "dialogs/dialogbox.h"
#include "input/input.h"

static const char kHelpText[] =
    "A: chdir  B: up     X: move   Y: copy   L: info   R: disk   START:        ";
static const char kHelpTextSelect[] =
    "A: exec   B: delete X: rename Y: mkdir  L:        R:        START: quit   ";
static_assert(sizeof kHelpText == 75 && sizeof kHelpTextSelect == 75, "help columns line up");

// The pixels from a pane's left edge to its text.
static const int kPaneStride = 161;
static const int kPaneMargin = 2;
static const int kRowClipWidth = 155;

void FillScreen(SDL_Color color) {
    SDL_Rect whole = {0, 0, kScreenWidth, kScreenHeight};
    SDL_FillRect(gScreenSurface, &whole, MapColor(gScreenSurface, color));
    MarkWholeScreen();
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
    browser->row_clip = Rect(0, 0, kRowClipWidth, option.font_height);
    OpenPanes(*browser);
    while (RunFrame(*browser)) {
    }
    return 1;
}
