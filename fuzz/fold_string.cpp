// FoldString on any text, width, height, line height, font size and table size: it writes only
// inside the table, never reads past the text, and its rows put back together are the start of
// the text, each no wider than the width.
#include <SDL_ttf.h>

#include "dialogs/dialogbox.h"
#include "fuzz/fuzz_input.h"

static const int kFontSizes[] = {4, 6, 8, 10, 12, 14};
static const int kFontCount = sizeof kFontSizes / sizeof kFontSizes[0];
static const int kDefaultFont = 3; // 10 points, as the program starts
static TTF_Font *fonts[kFontCount];

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    OpenFuzzDisplay();
    // The fonts of every size replace Init's, which would be lost when the first one is set.
    TTF_CloseFont(font);
    for (int i = 0; i < kFontCount; i++) {
        fonts[i] = TTF_OpenFont(ZORVEL_FUZZ_FONT, kFontSizes[i]);
        if (fonts[i] == nullptr)
            FuzzFailure("cannot open the font");
    }
    font = fonts[kDefaultFont];
    return 0;
}

static int Width(const char *text) {
    int width = 0;
    TTF_SizeUTF8(font, text, &width, nullptr);
    return width;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    // Widths of either sign; heights as the unsigned 16-bit rectangle fields bring them, and
    // small negative ones too.
    int max_width = static_cast<int16_t>(input.Take(2));
    int max_height = static_cast<int>(input.Take(2)) - 64;
    int row_count = 1 + static_cast<int>(input.Take(1) % kFoldRows);
    option.font_height = static_cast<int32_t>(input.Take(1) % 32);
    font = fonts[input.Take(1) % kFontCount];
    size_t length = input.Left();
    auto text = input.TakeString(length);

    // Exactly row_count rows, filled with a byte that no row should keep unterminated.
    auto rows = std::unique_ptr<FoldRow[]>(new FoldRow[row_count]);
    memset(rows.get(), 'Z', sizeof(FoldRow) * row_count);
    int last = FoldString(max_width, max_height, text.get(), rows.get(), row_count);

    if (last < -1 || last >= row_count)
        FuzzFailure("the last row lies outside the table");
    bool ascii = true;
    for (size_t i = 0; i < length && text[i] != '\0'; i++)
        ascii = ascii && static_cast<unsigned char>(text[i]) < 0x80;
    if (last == -1 && ascii)
        FuzzFailure("a text of ASCII characters was refused");

    size_t at = 0;
    size_t text_length = strlen(text.get());
    for (int row = 0; row <= last; row++) {
        size_t row_length = strnlen(rows[row], kFoldRowSize);
        if (row_length == kFoldRowSize)
            FuzzFailure("a row is not terminated");
        if (at + row_length > text_length || memcmp(rows[row], text.get() + at, row_length) != 0)
            FuzzFailure("the rows are not the start of the text");
        at += row_length;
        // A row ends at a line feed, which no row holds, or before a character that did not fit.
        if (row < last && text[at] == '\n')
            at++;
        if (row_length > 0 && Width(rows[row]) > max_width)
            FuzzFailure("a row is wider than the width");
    }
    font = fonts[kDefaultFont];
    return 0;
}
