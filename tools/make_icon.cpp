// Draws the program's 32x32 icon for the console's menus: the browser in miniature, two panes
// of rows with their titles, the active pane's cursor row and the help bar, in the browser's own
// colours.
//
// usage: make_icon OUTPUT_FILE
#include <SDL.h>
#include <cstdio>

#include "common/globals.h"
#include "common/rect.h"
#include "tools/png_file.h"

constexpr int kIconSize = 32;
constexpr int kPaneWidth = 14;
constexpr int kLeftPaneX = 1;
constexpr int kRightPaneX = 17;
constexpr int kTitleY = 1;
constexpr int kFirstRowY = 6;
constexpr int kRowPitch = 4;
constexpr int kBarHeight = 3;
constexpr int kHelpBarY = 28;
// The lengths of the names in the rows, as a listing's names differ; the cursor rests on row 1.
constexpr int kRowLengths[] = {8, 13, 10, 6, 12};
constexpr int kRows = sizeof kRowLengths / sizeof kRowLengths[0];
constexpr int kCursorRow = 1;
static_assert(kFirstRowY + kRows * kRowPitch <= kHelpBarY, "the rows end above the help bar");

static void Fill(SDL_Surface *image, int x, int y, int width, int height, SDL_Color color) {
    SDL_Rect box = Rect(x, y, width, height);
    SDL_FillRect(image, &box, SDL_MapRGB(image->format, color.r, color.g, color.b));
}

// A bar as wide as its text, with the text as a dashed line of ink through its middle.
static void DrawBar(SDL_Surface *image, int x, int y, int width, SDL_Color ground, SDL_Color ink) {
    Fill(image, x, y, width, kBarHeight, ground);
    for (int dash = x + 1; dash < x + width - 1; dash += 3)
        Fill(image, dash, y + 1, dash + 2 < x + width - 1 ? 2 : 1, 1, ink);
}

static void DrawPane(SDL_Surface *image, int x, bool active) {
    SDL_Color ground = active ? color_white : color_gray;
    DrawBar(image, x, kTitleY, kPaneWidth, ground, color_blue);
    for (int row = 0; row < kRows; ++row) {
        SDL_Color row_ground = ground;
        if (row == kCursorRow)
            row_ground = active ? color_red : color_blue;
        DrawBar(image, x, kFirstRowY + row * kRowPitch, kRowLengths[row], row_ground, color_black);
    }
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_icon OUTPUT_FILE\n");
        return 1;
    }
    SurfacePtr image(SDL_CreateRGBSurface(SDL_SWSURFACE, kIconSize, kIconSize, 32, 0xff0000,
                                          0x00ff00, 0x0000ff, 0));
    if (!image) {
        fprintf(stderr, "make_icon: can't make a %dx%d surface\n", kIconSize, kIconSize);
        return 1;
    }
    Fill(image.get(), 0, 0, kIconSize, kIconSize, color_black);
    DrawPane(image.get(), kLeftPaneX, true);
    DrawPane(image.get(), kRightPaneX, false);
    DrawBar(image.get(), kLeftPaneX, kHelpBarY, kIconSize - 2 * kLeftPaneX, color_white,
            color_black);
    if (!WritePng(image.get(), argv[1])) {
        fprintf(stderr, "make_icon: can't write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
