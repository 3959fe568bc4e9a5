// Writing drawn images as PNG files, for the tools that draw the program's images at build time.
#pragma once

#include <SDL.h>

// Writes a 32-bit surface as an RGB PNG file at path; returns false on failure.
bool WritePng(SDL_Surface *image, const char *path);
