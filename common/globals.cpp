#include "common/globals.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

Options option = {10, 10, 17, "", "/usr/local/share/VL-Gothic-Regular.ttf"};
SDL_Surface *gScreenSurface = nullptr;
TTF_Font *font = nullptr;
TTF_Font *font_small = nullptr;
SDL_Surface *TextSurface = nullptr;

const SDL_Color color_white = {255, 255, 255, 0};
const SDL_Color color_green = {0, 255, 0, 0};
const SDL_Color color_red = {255, 0, 0, 0};
const SDL_Color color_blue = {0, 0, 255, 0};
const SDL_Color color_gray = {170, 170, 170, 0};
const SDL_Color color_black = {0, 0, 0, 0};

char *CopyString(char *dst, size_t dst_size, const char *src) {
    if (dst_size == 0)
        return dst;
    size_t length = strnlen(src, dst_size - 1);
    memcpy(dst, src, length);
    dst[length] = '\0';
    return dst;
}

void FatalExit(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    fflush(stdout);
    exit(1);
}
