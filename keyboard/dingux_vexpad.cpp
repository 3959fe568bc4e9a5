#include "keyboard/dingux_vexpad.h"

#include <SDL_image.h>
#include <cstdio>

#include "common/buttons.h"
#include "common/display.h"
#include "common/format.h"
#include "common/globals.h"
#include "common/rect.h"

constexpr int kTableSize = kKeyboardPages * kKeyboardCells * kKeyboardCells * kCellSlots;

// Four codes per cell and a 0; X, Y, B, A pick slots 0 to 3. Codes below 32 reach the caller
// unchanged, and no cell holds 1 or 2, which stand for SELECT and START.
static const int32_t modeChar[] = {
    // Page 0: lower-case letters.
    44, 97, 98, 99, 0,     // , a b c
    46, 100, 101, 102, 0,  // . d e f
    33, 103, 104, 105, 0,  // ! g h i
    45, 106, 107, 108, 0,  // - j k l
    8, 109, 32, 110, 0,    // backspace m space n
    124, 111, 112, 113, 0, // | o p q
    40, 114, 115, 116, 0,  // ( r s t
    58, 117, 118, 119, 0,  // : u v w
    41, 120, 121, 122, 0,  // ) x y z
    // Page 1: capital letters.
    94, 65, 66, 67, 0, // ^ A B C
    92, 68, 69, 70, 0, // \ D E F
    42, 71, 72, 73, 0, // * G H I
    95, 74, 75, 76, 0, // _ J K L
    8, 77, 32, 78, 0,  // backspace M space N
    34, 79, 80, 81, 0, // " O P Q
    61, 82, 83, 84, 0, // = R S T
    59, 85, 86, 87, 0, // ; U V W
    47, 88, 89, 90, 0, // / X Y Z
    // Page 2: digits and control codes.
    0, 21, 0, 49, 0,   // 1
    14, 22, 0, 50, 0,  // 2
    12, 23, 0, 51, 0,  // clear 3
    9, 24, 12, 52, 0,  // clear 4
    8, 25, 32, 53, 0,  // backspace space 5
    19, 26, 13, 54, 0, // enter 6
    15, 27, 16, 55, 0, // 7
    18, 28, 17, 56, 0, // 8
    46, 29, 48, 57, 0, // . 0 9
    // Page 3: punctuation.
    44, 40, 46, 41, 0,   // , ( . )
    34, 60, 39, 62, 0,   // " < ' >
    45, 91, 95, 93, 0,   // - [ _ ]
    33, 123, 63, 125, 0, // ! { ? }
    8, 0, 32, 0, 0,      // backspace space
    43, 92, 61, 47, 0,   // + \ = /
    58, 64, 59, 35, 0,   // : @ ; #
    126, 36, 96, 37, 0,  // ~ $ ` %
    42, 94, 124, 38, 0,  // * ^ | &
};
static_assert(sizeof modeChar / sizeof modeChar[0] == kTableSize, "every cell of every page");

const char *const guiStrings[] = {
    "/keys.png",     "/keys_t.png",    "/keys_s.png",    "/keys_c.png",    "/keys_c_t.png",
    "/keys_s_c.png", "/nums.png",      "/nums_t.png",    "/nums_s.png",    "/nums_c.png",
    "/nums_c_t.png", "/nums_s_c.png",  "/keys5_c.png",   "/keys5_c_t.png", "/keys5_s_c.png",
    "/keys4_c.png",  "/keys4_c_t.png", "/keys4_s_c.png",
};
static_assert(sizeof guiStrings / sizeof guiStrings[0] == kKeyboardImages, "every image");

static SDL_Surface *keyBits[kKeyboardImages] = {};

static int32_t selected_x = 1;
static int32_t selected_y = 1;
// Starts as if a key were held: the key that opened the first dialog types nothing into it.
static int32_t holding = 1;
static int32_t shifted = 0;
static int32_t mode = 0;
static int32_t initialized = 0;
static int32_t dirty = 1;
static int32_t moved_x = 0;
static int32_t moved_y = 0;
static SDL_Surface *vexpad_screen = nullptr;
static SDL_Rect vexpad_screen_rect = {0, 0, 0, 0};

int32_t vexpad_charAt(int page, int row, int column, int slot) {
    return modeChar[((page * kKeyboardCells + row) * kKeyboardCells + column) * kCellSlots + slot];
}

static int CurrentPage() {
    return (mode * 2 + shifted) % kKeyboardPages;
}

static int KeyDown(const Uint8 *keys, Button button) {
    return keys[button_key[button]] != 0 ? 1 : 0;
}

// The image in the display's pixel format, so that every blit of it is a plain copy; an image
// with transparency, or one that cannot be converted, stays as loaded, since a copy would draw
// other pixels.
static SDL_Surface *InDisplayFormat(SDL_Surface *image) {
    if (image == nullptr || SDL_GetVideoSurface() == nullptr ||
        (image->flags & (SDL_SRCALPHA | SDL_SRCCOLORKEY)) != 0)
        return image;
    SDL_Surface *converted = SDL_DisplayFormat(image);
    if (converted == nullptr)
        return image;
    SDL_FreeSurface(image);
    return converted;
}

// Frees the first count images.
static void FreeImages(int count) {
    for (int index = 0; index < count; ++index) {
        SDL_FreeSurface(keyBits[index]);
        keyBits[index] = nullptr;
    }
}

int vexpad_load(const char *directory) {
    if (initialized == 1)
        return 1;
    for (int index = 0; index < kKeyboardImages; ++index) {
        char path[kImagePathSize];
        // A path cut short by the buffer names no file of ours, so it is refused unread.
        bool fits = FormatInto(path, sizeof path, "%s%s", directory, guiStrings[index]);
        keyBits[index] = fits ? InDisplayFormat(IMG_Load(path)) : nullptr;
        if (keyBits[index] == nullptr) {
            FreeImages(index);
            initialized = 0;
            FatalExit("can't load image %s\n", path);
        }
    }
    initialized = 1;
    return 1;
}

void vexpad_free() {
    if (initialized != 1)
        return;
    FreeImages(kKeyboardImages);
    initialized = 0;
}

void vexpad_set_screen(SDL_Surface *surface) {
    vexpad_screen = surface;
    vexpad_screen_rect = Rect(0, 0, surface->w, surface->h);
    moved_x = surface->w - kKeyboardSize;
    moved_y = surface->h - kKeyboardSize;
}

void vexpad_moveTo(int x, int y) {
    moved_x = vexpad_screen->w - kKeyboardSize + x;
    moved_y = vexpad_screen->h - kKeyboardSize + y;
}

int vexpad_readInput() {
    // The table is fetched anew on every read; it is SDL's, and SDL may replace it.
    const Uint8 *keys = SDL_GetKeyState(nullptr);
    int column = 1 - KeyDown(keys, BTN_LEFT) + KeyDown(keys, BTN_RIGHT);
    int row = 1 - KeyDown(keys, BTN_UP) + KeyDown(keys, BTN_DOWN);
    if (column != selected_x || row != selected_y) {
        dirty = 1;
        selected_x = column;
        selected_y = row;
    }

    int x = KeyDown(keys, BTN_X);
    int y = KeyDown(keys, BTN_Y);
    int b = KeyDown(keys, BTN_B);
    int a = KeyDown(keys, BTN_A);
    int l = KeyDown(keys, BTN_L);
    int r = KeyDown(keys, BTN_R);
    int select = KeyDown(keys, BTN_SELECT);
    int start = KeyDown(keys, BTN_START);

    int result = 0;
    if (holding == 0) {
        if (x || y || b || a) {
            int slot = x ? 0 : y ? 1 : b ? 2 : 3;
            result = vexpad_charAt(CurrentPage(), selected_y, selected_x, slot);
        } else if (l) {
            dirty = 1;
            mode = (mode + 1) % 2;
        } else if (r) {
            dirty = 1;
            shifted = shifted == 0 ? 1 : 0;
        } else if (select) {
            result = 1;
        } else if (start) {
            result = 2;
        }
    }
    holding = (x || y || b || a || l || r || select || start) ? 1 : 0;
    return result;
}

void vexpad_render(int idle) {
    dirty = 0;
    int first_image = CurrentPage() * kImagesPerPage;
    bool centre = selected_x == 1 && selected_y == 1;
    surface_draw(keyBits[first_image + (centre && idle == 0 ? kPlainImage : kAlternateImage)]);
    if (centre && idle != 0)
        return;
    surface_draw_offset(keyBits[first_image + kHighlightSheet], kCellPitch * selected_x,
                        kCellPitch * selected_y, kTileSize * selected_x, kTileSize * selected_y,
                        kTileSize, kTileSize);
}

int vexpad_isinitialized() {
    return initialized;
}

int vexpad_dirty() {
    return dirty;
}

void surface_draw_offset(SDL_Surface *image, int x, int y, int source_x, int source_y, int width,
                         int height) {
    vexpad_screen_rect.x = static_cast<Sint16>(moved_x + x);
    vexpad_screen_rect.y = static_cast<Sint16>(moved_y + y);
    SDL_Rect source = Rect(source_x, source_y, width, height);
    SDL_UpperBlit(image, &source, vexpad_screen, &vexpad_screen_rect);
    if (vexpad_screen == gScreenSurface)
        MarkScreenArea(vexpad_screen_rect);
}

void surface_draw(SDL_Surface *image) {
    surface_draw_offset(image, 0, 0, 0, 0, image->w, image->h);
}
