// What the font library reads of a text, for the harness and the fuzz targets.
#pragma once

#include <algorithm>
#include <cstring>

// SDL_ttf 2.0 takes the bytes that a lead byte announces without looking for the terminator, so
// a text that ends inside a character is read past its end. Reading the same bytes lets the
// address sanitizer tell whether they still lie inside the text's buffer.
inline void ReadAsTheFontLibraryDoes(const char *text) {
    size_t length = strlen(text), furthest = length;
    for (size_t at = 0; at < length; at++) {
        unsigned char lead = static_cast<unsigned char>(text[at]);
        at += lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        furthest = std::max(furthest, at);
    }
    volatile char sink = 0;
    for (size_t at = length + 1; at <= furthest; at++)
        sink = static_cast<char>(sink ^ text[at]);
}
