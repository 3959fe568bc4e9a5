#include "app/fs/copydialog.h"

#include <memory>

#include "common/display.h"
#include "common/globals.h"
#include "common/limits.h"
#include "common/rect.h"
#include "dialogs/dialogbox.h"
#include "app/fs/fileops.h"

// The copy dialog. The name's area and the track lie one and two line heights below these tops.
static const int kCopyDialogWidth = 200;
static const int kCopyDialogHeight = 80;
static const int kCopyTextLeft = 70;
static const int kCopyTextTop = 95;
static const int kCopyTextWidth = 180;
static const int kCopyTextHeight = 60;
static const int kTrackTop = 100;
static const int kCellWidth = 9;
static const int kCellHeight = 10;
static const SDL_Color kTrackColor = {50, 50, 50, 0};
static const SDL_Color kCellColor = {255, 255, 255, 0};
// The dialog box's frame around its panel.
static const int kPanelInset = 5;

// The copy dialog that the last file left on the screen, with the area its name took.
struct CopyDialogShown {
    bool valid;
    unsigned long screen_changes;
    int font_height;
    SDL_Rect name;
};
static CopyDialogShown dialog_shown = {false, 0, 0, {0, 0, 0, 0}};

static SDL_Rect CopyDialogPanel() {
    return {(kScreenWidth - kCopyDialogWidth) / 2 + kPanelInset,
            (kScreenHeight - kCopyDialogHeight) / 2 + kPanelInset,
            kCopyDialogWidth - 2 * kPanelInset, kCopyDialogHeight - 2 * kPanelInset};
}

static bool Inside(const SDL_Rect &inner, const SDL_Rect &outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

// While nothing else has drawn on the screen since the last file's dialog, and that file's name
// stayed on the panel, the box, panel and title stand there as a new dialog would draw them:
// only the name's area goes back to the panel's colour.
static void DrawCopyDialog() {
    if (dialog_shown.valid && dialog_shown.screen_changes == ScreenChanges() &&
        dialog_shown.font_height == option.font_height &&
        Inside(dialog_shown.name, CopyDialogPanel())) {
        FillPanel(dialog_shown.name);
        return;
    }
    DrawDialogBox(-1, -1, kCopyDialogWidth, kCopyDialogHeight, "Copying");
}

Progress StartProgress(const char *source_path, int64_t size) {
    Progress progress = {size / kProgressCells, 0, 0, kTrackTop + 2 * option.font_height};
    DrawCopyDialog();
    auto name = std::make_unique<char[]>(kMessageSize);
    BaseName(name.get(), source_path, kMessageSize);
    SDL_Rect text_area = Rect(kCopyTextLeft, kCopyTextTop + option.font_height, kCopyTextWidth,
                              kCopyTextHeight - option.font_height);
    SDL_Rect name_drawn = DrawText(text_area, name.get());
    SDL_Rect track =
        Rect(kCopyTextLeft, progress.track_y, kProgressCells * kCellWidth, kCellHeight);
    SDL_FillRect(gScreenSurface, &track, MapColor(gScreenSurface, kTrackColor));
    MarkScreenArea(track);
    ShowChangedAreas();
    dialog_shown = {true, ScreenChanges(), option.font_height, name_drawn};
    return progress;
}

void AdvanceProgress(Progress &progress, int64_t count) {
    progress.running += count;
    while (progress.running > progress.step && progress.cells < kProgressCells) {
        SDL_Rect cell = Rect(kCopyTextLeft + kCellWidth * progress.cells, progress.track_y,
                             kCellWidth, kCellHeight);
        SDL_FillRect(gScreenSurface, &cell, MapColor(gScreenSurface, kCellColor));
        MarkScreenArea(cell);
        ShowChangedAreas();
        dialog_shown.screen_changes = ScreenChanges();
        progress.cells++;
        progress.running -= progress.step;
    }
}
