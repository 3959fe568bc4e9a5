// The on-screen keyboard: a 3x3 grid of four-character cells picked with the direction pad,
// one character of the selected cell picked with a face button, on four pages of characters.
#pragma once

#include <SDL.h>
#include <cstdint>

#include "common/limits.h"

// The keyboard is a square of this many pixels on a side.
constexpr int kKeyboardSize = 150;
// Column c and row r of a cell begin this many pixels times c and r from the keyboard's corner.
constexpr int kCellPitch = 43;
// A cell's highlight tile is a square of this many pixels, overlapping its neighbours.
constexpr int kTileSize = 64;
static_assert((kKeyboardCells - 1) * kCellPitch + kTileSize == kKeyboardSize,
              "the last tiles end at the keyboard's edge");

// The images of page p are kImagesPerPage * p plus their role, in this order.
enum KeyboardImageRole { kPlainImage, kAlternateImage, kHighlightSheet, kImagesPerPage };
static_assert(kKeyboardImages % kImagesPerPage == 0, "every page has all its images");

// Image file names, each beginning with "/", in the order plain, alternate, highlight sheet per
// page; the last six stand for two pages that are loaded but never drawn.
extern const char *const guiStrings[kKeyboardImages];

// The code that slot (0 X, 1 Y, 2 B, 3 A) of the cell at row and column types on page;
// arguments must lie within the table.
int32_t vexpad_charAt(int page, int row, int column, int slot);

// Loads the 18 images from directory (to which each name is appended) unless already loaded,
// converted once to the display's format when that draws the same pixels; ends the process with
// status 1 when one cannot be loaded; returns 1.
int vexpad_load(const char *directory);
// Frees the images if they are loaded, and otherwise does nothing.
void vexpad_free();
// Makes surface the keyboard's target and puts the keyboard in its bottom-right corner.
void vexpad_set_screen(SDL_Surface *surface);
// Places the keyboard at the target's bottom-right corner moved by (x, y); needs a target.
void vexpad_moveTo(int x, int y);
// Reads the keys once: returns the code that a fresh face-button press picks, 1 for SELECT, 2
// for START, and 0 when nothing new was pressed (L and R switch pages and also return 0).
int vexpad_readInput();
// Draws the keyboard on its target; with idle not 0 and no direction held, only the quieter
// alternate image; needs a target and the images.
void vexpad_render(int idle);
// Returns 1 while the images are loaded, else 0.
int vexpad_isinitialized();
// Returns 1 when the selection, page or shift changed since the last draw, else 0.
int vexpad_dirty();
// Blits the width x height part of image at (source_x, source_y) to the keyboard's corner
// moved by (x, y) on the target.
void surface_draw_offset(SDL_Surface *image, int x, int y, int source_x, int source_y, int width,
                         int height);
// Blits the whole image at the keyboard's corner on the target.
void surface_draw(SDL_Surface *image);
