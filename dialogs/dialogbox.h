// Popups drawn over a saved copy of the screen.
#pragma once

#include <cstdarg>

#include <SDL.h>

#include "common/globals.h"
#include "common/limits.h"

// One row of a line table: a NUL-terminated UTF-8 line.
using FoldRow = char[kFoldRowSize];

// The label of every Ok button, its margins written as spaces.
extern const char kOkLabel[];
// The sizes of an "Error" popup: for a fixed message, and for a message that holds a path.
constexpr int kErrorWidth = 120;
constexpr int kErrorHeight = 80;
constexpr int kPathErrorWidth = 150;
constexpr int kPathErrorHeight = 100;

// The places of a centred popup's contents, in screen coordinates.
struct PopupLayout {
    // The box's left and top edges.
    int left;
    int top;
    // Below the title, for text that leaves a line for the buttons.
    SDL_Rect text_area;
    // The button row's top edge, and the left edge of an Ok button centred on the panel.
    int button_y;
    int ok_x;
};

// A centred popup that is open over its saved screen.
struct CentredPopup {
    SurfacePtr saved;
    PopupLayout layout;
};

// The pixel value of color in surface's format.
Uint32 MapColor(SDL_Surface *surface, SDL_Color color);
// True, after printing "error: too large popup", when a popup would not fit on the screen.
bool PopupTooLarge(int width, int height);
// Width in pixels of text drawn in the main font.
int TextWidth(const char *text);
// A full copy of what the screen shows now, in the screen's own format; null when it cannot be
// made.
SurfacePtr BackupScreenSurface();
// Puts the copy back over the whole screen, shows it, and frees the copy.
void RevertScreenSurface(SurfacePtr copy);
// Draws a framed box with a centred title at (x, y), -1 centring it, and notes it for the next
// showing; false, drawing nothing, when the width or height is not positive.
bool DrawDialogBox(int x, int y, int width, int height, const char *title);
// Fills the area of the screen in a dialog panel's colour and notes it for the next showing.
void FillPanel(SDL_Rect area);
// Draws the label in foreground on background with its top-left corner at place's x and y.
void DrawButton(SDL_Rect place, SDL_Color foreground, SDL_Color background, const char *label);
// Wraps text by character into at most row_count rows no wider than max_width and returns the
// index of the last row written, or -1 when a byte cannot begin a character.
int FoldString(int max_width, int max_height, const char *text, FoldRow *rows, int row_count);
// Folds text to the area's width and height, draws its lines from the area's top-left corner and
// returns the rectangle from that corner that holds all it drew (empty when nothing).
SDL_Rect DrawText(SDL_Rect area, const char *text);
// Where the contents of a centred popup of width x height go.
PopupLayout CentredLayout(int width, int height);
// False after "error: too large popup" when the popup does not fit; else true, with the screen
// saved into popup and the centred box with its title drawn, or, when the copy or the box cannot
// be made, with nothing saved and nothing drawn.
bool OpenCentredPopup(int width, int height, const char *title, CentredPopup &popup);
// Draws the selected Ok button at (x, y), shows the popup, waits for A or B and puts the saved
// screen back.
void CloseWithOk(CentredPopup &popup, int x, int y);
// Shows text under title with an Ok button until A or B; 1 once closed, 0 when too large.
int PopupMessage(int width, int height, const char *title, const char *text);
// Shows one "Error" popup of width x height with the formatted text until A or B; returns 0, the
// result of the operation whose failure it reports.
int PopupError(int width, int height, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// PopupError with the format's arguments already gathered; returns 0.
int PopupErrorList(int width, int height, const char *format, va_list arguments)
    __attribute__((format(printf, 3, 0)));
// Asks text, every byte that is not part of a character shown as "?", with Cancel and Ok; 1 when
// Ok is accepted, 0 for Cancel or when too large.
int PopupConfirm(int width, int height, const char *text);
