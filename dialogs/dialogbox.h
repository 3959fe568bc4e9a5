// Popups drawn over a saved copy of the screen.
#pragma once

#include <SDL.h>

#include "common/globals.h"
#include "common/limits.h"

// One row of a line table: a NUL-terminated UTF-8 line.
using FoldRow = char[kFoldRowSize];

// True, after printing "error: too large popup", when a popup would not fit on the screen.
bool PopupTooLarge(int width, int height);
// Width in pixels of text drawn in the main font.
int TextWidth(const char *text);
// A full copy of what the screen shows now, in the screen's own format; null when it cannot be
// made.
SurfacePtr BackupScreenSurface();
// Puts the copy back over the whole screen, shows it, and frees the copy.
void RevertScreenSurface(SurfacePtr copy);
// Draws a framed box with a centred title at (x, y), -1 centring it; false, drawing nothing, when
// the box surface cannot be made.
bool DrawDialogBox(int x, int y, int width, int height, const char *title);
// Draws the label in foreground on background with its top-left corner at place's x and y.
void DrawButton(SDL_Rect place, SDL_Color foreground, SDL_Color background, const char *label);
// Wraps text by character into at most row_count rows no wider than max_width and returns the
// index of the last row written, or -1 when a byte cannot begin a character.
int FoldString(int max_width, int max_height, const char *text, FoldRow *rows, int row_count);
// Folds text to the area's width and height and draws its lines from the area's top-left corner.
void DrawText(SDL_Rect area, const char *text);
// Shows text under title with an Ok button until A or B; 1 once closed, 0 when too large.
int PopupMessage(int width, int height, const char *title, const char *text);
// Asks text with Cancel and Ok; 1 when Ok is accepted, 0 for Cancel or when too large.
int PopupConfirm(int width, int height, const char *text);
