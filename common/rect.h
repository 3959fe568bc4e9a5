// The one maker of screen rectangles.
#pragma once

#include <SDL.h>

// The rectangle at (x, y), w by h pixels, each value cut to SDL's 16-bit fields as a plain
// conversion would.
inline SDL_Rect Rect(int x, int y, int w, int h) {
    return {static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(w),
            static_cast<Uint16>(h)};
}
