#include "app/shown_text.h"

#include <cstring>

#include "common/globals.h"
#include "common/limits.h"
#include "common/utf8.h"

// The 16-bit character the font library makes of these bytes.
static Uint16 DecodedCharacter(const unsigned char *at, int length) {
    switch (length) {
    case 4:
        return static_cast<Uint16>((at[0] & 0x07) << 18 | (at[1] & 0x3F) << 12 |
                                   (at[2] & 0x3F) << 6 | (at[3] & 0x3F));
    case 3:
        return static_cast<Uint16>((at[0] & 0x0F) << 12 | (at[1] & 0x3F) << 6 | (at[2] & 0x3F));
    case 2:
        return static_cast<Uint16>((at[0] & 0x1F) << 6 | (at[1] & 0x3F));
    default:
        return at[0];
    }
}

// Characters that change how the font library reads the rest of a text, or end it.
static bool ReadsSpecially(Uint16 character) {
    return character == 0 || character == 0xFEFF || character == 0xFFFE;
}

// The bytes of text that can show within limit pixels, and the width the font library gives
// them; 0 when all of it must be rendered: it fits, or it holds something this measure does not
// follow (a character cut short by the terminator, a byte-order mark, a missing glyph).
struct ShownPart {
    size_t bytes;
    int width;
};

static ShownPart ShownPartOf(TTF_Font *font, const char *text, int limit) {
    const unsigned char *start = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *at = start;
    int pen = 0;
    int left = 0;
    int right = 0;
    while (*at != '\0') {
        int length = DecodedLength(*at);
        for (int i = 1; i < length; i++)
            if (at[i] == '\0')
                return {0, 0};
        Uint16 character = DecodedCharacter(at, length);
        int min_x = 0;
        int max_x = 0;
        int min_y = 0;
        int max_y = 0;
        int advance = 0;
        if (ReadsSpecially(character) ||
            TTF_GlyphMetrics(font, character, &min_x, &max_x, &min_y, &max_y, &advance) != 0)
            return {0, 0};
        // A character that begins at or past the limit, even with its ink reaching left of its
        // pen, cannot show; nor can any after it.
        if (at != start && pen + (min_x < 0 ? min_x : 0) >= limit)
            return {static_cast<size_t>(at - start), right - left};
        if (pen + min_x < left)
            left = pen + min_x;
        int reach = pen + (advance > max_x ? advance : max_x);
        if (reach > right)
            right = reach;
        pen += advance;
        at += length;
    }
    return {0, 0};
}

void RenderShownShaded(TTF_Font *font, const char *text, int limit, SDL_Color fg, SDL_Color bg) {
    ShownPart part = ShownPartOf(font, text, limit);
    if (part.bytes > 0 && part.bytes < kPathSize) {
        char shown[kPathSize];
        memcpy(shown, text, part.bytes);
        shown[part.bytes] = '\0';
        // The font library's own measure must agree with the one above (no kerning, no style),
        // or the part might not be drawn as it is within the whole.
        int width = 0;
        if (TTF_SizeUTF8(font, shown, &width, nullptr) == 0 && width == part.width) {
            TextSurface = TTF_RenderUTF8_Shaded(font, shown, fg, bg);
            return;
        }
    }
    TextSurface = TTF_RenderUTF8_Shaded(font, text, fg, bg);
}
