// State shared by every subsystem for the whole run, and the few helpers they all use.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "common/limits.h"

// The options record: the main font's point size (8 to 14) and line height in pixels, the index
// of the last visible list row, the start directory and the font file's path.
struct Options {
    int32_t font_size;
    int32_t font_height;
    int32_t last_row;
    char start_dir[kStartDirSize];
    char font_file[kFontFileSize];
};

// The command-line options and the values Init derives from them; written only at start-up.
extern Options option;
// The 320x240x16 display surface; everything is drawn onto it.
extern SDL_Surface *gScreenSurface;
// The main font at option.font_size.
extern TTF_Font *font;
// The help bar's font, two points smaller than the main font but at least 4.
extern TTF_Font *font_small;
// Holds a rendered text from its rendering until the blit that frees it.
extern SDL_Surface *TextSurface;

// The six colours of the user interface.
extern const SDL_Color color_white;
extern const SDL_Color color_green;
extern const SDL_Color color_red;
extern const SDL_Color color_blue;
extern const SDL_Color color_gray;
extern const SDL_Color color_black;

// Frees an SDL surface when its owner goes out of scope.
struct SurfaceDeleter {
    void operator()(SDL_Surface *surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// Closes a stream when its owner goes out of scope.
struct FileCloser {
    void operator()(FILE *stream) const { fclose(stream); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Copies src into dst of dst_size bytes, cut short to fit and always terminated; returns dst.
char *CopyString(char *dst, size_t dst_size, const char *src);

// Writes the formatted line to standard output and ends the process with status 1.
[[noreturn]] void FatalExit(const char *format, ...) __attribute__((format(printf, 1, 2)));
