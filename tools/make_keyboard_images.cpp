// Draws the on-screen keyboard's 18 images from the keyboard's own character table, so that the
// pictures always show what the keys type.
//
// usage: make_keyboard_images OUTPUT_DIR FONT_FILE
#include <SDL.h>
#include <SDL_ttf.h>
#include <cstdio>
#include <memory>

#include "common/format.h"
#include "common/globals.h"
#include "common/rect.h"
#include "keyboard/dingux_vexpad.h"
#include "tools/png_file.h"

struct FontCloser {
    void operator()(TTF_Font *font) const { TTF_CloseFont(font); }
};
using FontPtr = std::unique_ptr<TTF_Font, FontCloser>;

// One way of drawing a cell: the plain picture, the quieter alternate, or the enlarged tile.
struct Look {
    int box_size;             // side of the cell's box, centred on the cell
    int border;               // width of the box's frame
    int reach_x;              // distance from the cell's centre to the left and right characters
    int reach_y;              // distance from the cell's centre to the top and bottom characters
    int lift;                 // how far the four characters sit above the centre, for descenders
    int keycap_width;         // least width of the small key behind each character
    int char_points;          // size of the characters' font
    int word_points;          // size of the font of word labels
    SDL_Color fill;           // inside of the box
    SDL_Color frame;          // the box's frame
    SDL_Color keycap;         // the small key behind each character
    SDL_Color ink;            // characters
    SDL_Color faint;          // codes that type nothing
    SDL_Color ground;         // behind the boxes, letter pages
    SDL_Color ground_numbers; // behind the boxes, number pages
};

// clang-format off
// The plain picture, shown only while the centre cell is highlighted.
constexpr Look kPlainLook = {41, 1, 13, 11, 1, 11, 15, 9,
    {40, 50, 76, 0}, {120, 140, 180, 0}, {66, 80, 116, 0}, {255, 255, 255, 0}, {110, 120, 140, 0},
    {18, 26, 44, 0}, {16, 38, 34, 0}};
// The alternate picture, behind every highlight; quieter but as legible.
constexpr Look kQuietLook = {41, 1, 13, 11, 1, 11, 15, 9,
    {28, 34, 50, 0}, {58, 68, 92, 0}, {44, 54, 78, 0}, {214, 220, 230, 0}, {84, 92, 110, 0},
    {14, 18, 30, 0}, {12, 28, 26, 0}};
// The highlight tile: the cell enlarged to the whole tile, dark on light in an orange frame.
constexpr Look kTileLook = {kTileSize, 3, 19, 16, 2, 16, 22, 13,
    {250, 236, 190, 0}, {255, 150, 0, 0}, {255, 255, 255, 0}, {0, 0, 0, 0}, {150, 140, 120, 0},
    {0, 0, 0, 0}, {0, 0, 0, 0}};
// clang-format on

// The two fonts of one look.
struct LookFonts {
    FontPtr chars;
    FontPtr words;
};

// How a label is drawn: a character in the look's font, a word in its smaller font, or the
// space bar's bracket, which no glyph of the font shows large enough.
enum class LabelKind { kChar, kWord, kSpace };

// What a key shows for a code.
struct Label {
    const char *text; // UTF-8; empty for a blank key
    LabelKind kind;
    bool faint;
};

// The pages that stand in for the two pages loaded but never drawn look like this page.
constexpr int kStandInPage = 1;
constexpr int kSheetSize = kKeyboardCells * kTileSize;
// A character's text: one ASCII byte and its terminator.
constexpr size_t kCharTextSize = 2;

static Label LabelFor(int32_t code, char (&text)[kCharTextSize]) {
    switch (code) {
    case 0:
        return {"", LabelKind::kChar, false};
    case 8:
        return {"\u2190", LabelKind::kChar, false}; // leftwards arrow: backspace
    case 12:
        return {"CLR", LabelKind::kWord, false};
    case 13:
        return {"\u21b5", LabelKind::kChar, false}; // downwards arrow with corner: enter
    case 32:
        return {"", LabelKind::kSpace, false};
    default:
        break;
    }
    if (code < 32 || code > 126)
        return {"\u00b7", LabelKind::kChar, true}; // a dot: this code types nothing
    text[0] = static_cast<char>(code);
    text[1] = '\0';
    return {text, LabelKind::kChar, false};
}

static void FillRect(SDL_Surface *image, int x, int y, int width, int height, SDL_Color color) {
    SDL_Rect box = Rect(x, y, width, height);
    SDL_FillRect(image, &box, SDL_MapRGB(image->format, color.r, color.g, color.b));
}

static int CapHeight(TTF_Font *font) {
    int min_x, max_x, min_y, cap_height, advance;
    if (TTF_GlyphMetrics(font, 'H', &min_x, &max_x, &min_y, &cap_height, &advance) != 0)
        return TTF_FontAscent(font);
    return cap_height;
}

// Draws text with the middle of its capital height at (centre_x, centre_y), so that every
// character shares one baseline and "_" and "-", or "," and "'", keep their places.
static void DrawCentred(SDL_Surface *image, TTF_Font *font, const char *text, SDL_Color color,
                        int centre_x, int centre_y) {
    if (text[0] == '\0')
        return;
    SurfacePtr glyphs(TTF_RenderUTF8_Blended(font, text, color));
    if (!glyphs)
        return;
    int baseline = centre_y + CapHeight(font) / 2;
    SDL_Rect place = Rect(centre_x - glyphs->w / 2, baseline - TTF_FontAscent(font), 0, 0);
    SDL_BlitSurface(glyphs.get(), nullptr, image, &place);
}

// Draws the space bar's bracket, as wide as a capital is high, centred on (centre_x, centre_y).
static void DrawSpaceBar(SDL_Surface *image, TTF_Font *font, SDL_Color color, int centre_x,
                         int centre_y) {
    int width = CapHeight(font);
    int height = width / 3;
    int stroke = width / 7 > 1 ? width / 7 : 1;
    int left = centre_x - width / 2;
    int top = centre_y - height / 2;
    FillRect(image, left, top, stroke, height, color);
    FillRect(image, left + width - stroke, top, stroke, height, color);
    FillRect(image, left, top + height - stroke, width, stroke, color);
}

// Draws the small key behind a label centred on (centre_x, centre_y): from just above a capital
// to just below the descenders, so that its place tells "," from "'" and "_" from "-".
static void DrawKeycap(SDL_Surface *image, const Look &look, const LookFonts &fonts,
                       const Label &label, int centre_x, int centre_y) {
    TTF_Font *font = fonts.chars.get();
    int cap_height = CapHeight(font);
    int baseline = centre_y + cap_height / 2;
    int top = baseline - cap_height - 1;
    int bottom = baseline - TTF_FontDescent(font) + 1;
    int width = look.keycap_width;
    int text_width = 0, text_height = 0;
    if (label.kind == LabelKind::kWord &&
        TTF_SizeUTF8(fonts.words.get(), label.text, &text_width, &text_height) == 0 &&
        text_width + 2 > width)
        width = text_width + 2;
    FillRect(image, centre_x - width / 2, top, width, bottom - top, look.keycap);
}

// Draws the cell of page at (column, row) centred on (centre_x, centre_y) of image.
static void DrawCell(SDL_Surface *image, const Look &look, const LookFonts &fonts, int page,
                     int row, int column, int centre_x, int centre_y) {
    int corner_x = centre_x - look.box_size / 2;
    int corner_y = centre_y - look.box_size / 2;
    int inside = look.box_size - 2 * look.border;
    FillRect(image, corner_x, corner_y, look.box_size, look.box_size, look.frame);
    FillRect(image, corner_x + look.border, corner_y + look.border, inside, inside, look.fill);
    // Slots 0 to 3 belong to X, Y, B and A, which sit top, left, bottom and right.
    const int offset_x[] = {0, -look.reach_x, 0, look.reach_x};
    const int offset_y[] = {-look.reach_y, 0, look.reach_y, 0};
    for (int slot = 0; slot < kCellSlots - 1; ++slot) {
        char text[kCharTextSize];
        Label label = LabelFor(vexpad_charAt(page, row, column, slot), text);
        int x = centre_x + offset_x[slot];
        int y = centre_y - look.lift + offset_y[slot];
        if (label.kind != LabelKind::kChar || (label.text[0] != '\0' && !label.faint))
            DrawKeycap(image, look, fonts, label, x, y);
        if (label.kind == LabelKind::kSpace)
            DrawSpaceBar(image, fonts.chars.get(), look.ink, x, y);
        else
            DrawCentred(image,
                        label.kind == LabelKind::kWord ? fonts.words.get() : fonts.chars.get(),
                        label.text, label.faint ? look.faint : look.ink, x, y);
    }
}

static SurfacePtr NewImage(int size, SDL_Color background) {
    SurfacePtr image(
        SDL_CreateRGBSurface(SDL_SWSURFACE, size, size, 32, 0xff0000, 0x00ff00, 0x0000ff, 0));
    if (image)
        FillRect(image.get(), 0, 0, size, size, background);
    return image;
}

// The whole keyboard of page; each cell is centred on the middle of its tile's square.
static SurfacePtr DrawKeyboard(const Look &look, const LookFonts &fonts, int page) {
    bool letters = page < kKeyboardPages / 2;
    SurfacePtr image = NewImage(kKeyboardSize, letters ? look.ground : look.ground_numbers);
    if (!image)
        return image;
    for (int row = 0; row < kKeyboardCells; ++row)
        for (int column = 0; column < kKeyboardCells; ++column)
            DrawCell(image.get(), look, fonts, page, row, column,
                     kCellPitch * column + kTileSize / 2, kCellPitch * row + kTileSize / 2);
    return image;
}

// The nine highlight tiles of page in grid order.
static SurfacePtr DrawSheet(const Look &look, const LookFonts &fonts, int page) {
    SurfacePtr image = NewImage(kSheetSize, look.ground);
    if (!image)
        return image;
    for (int row = 0; row < kKeyboardCells; ++row)
        for (int column = 0; column < kKeyboardCells; ++column)
            DrawCell(image.get(), look, fonts, page, row, column,
                     kTileSize * column + kTileSize / 2, kTileSize * row + kTileSize / 2);
    return image;
}

static bool OpenFonts(LookFonts &fonts, const char *font_file, const Look &look) {
    fonts.chars.reset(TTF_OpenFont(font_file, look.char_points));
    fonts.words.reset(TTF_OpenFont(font_file, look.word_points));
    return fonts.chars && fonts.words;
}

// Draws and writes every image into output_dir; returns false after the first failure.
static bool WriteImages(const char *output_dir, const char *font_file) {
    const Look *looks[kImagesPerPage] = {&kPlainLook, &kQuietLook, &kTileLook};
    LookFonts fonts[kImagesPerPage];
    for (int role = 0; role < kImagesPerPage; ++role)
        if (!OpenFonts(fonts[role], font_file, *looks[role])) {
            fprintf(stderr, "make_keyboard_images: can't open font %s\n", font_file);
            return false;
        }
    for (int index = 0; index < kKeyboardImages; ++index) {
        int page = index / kImagesPerPage < kKeyboardPages ? index / kImagesPerPage : kStandInPage;
        int role = index % kImagesPerPage;
        SurfacePtr image = role == kHighlightSheet ? DrawSheet(*looks[role], fonts[role], page)
                                                   : DrawKeyboard(*looks[role], fonts[role], page);
        char path[kPathSize];
        if (!image || !FormatInto(path, sizeof path, "%s%s", output_dir, guiStrings[index]) ||
            !WritePng(image.get(), path)) {
            fprintf(stderr, "make_keyboard_images: can't write %s%s\n", output_dir,
                    guiStrings[index]);
            return false;
        }
    }
    return true;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: make_keyboard_images OUTPUT_DIR FONT_FILE\n");
        return 1;
    }
    if (TTF_Init() != 0) {
        fprintf(stderr, "make_keyboard_images: TTF_Init failed\n");
        return 1;
    }
    bool written = WriteImages(argv[1], argv[2]);
    TTF_Quit();
    return written ? 0 : 1;
}
