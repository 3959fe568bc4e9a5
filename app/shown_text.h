// Rendering only as much of a text as can show.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

// Renders text shaded, fg on bg, into TextSurface, but only its characters up to and including
// the last one that can show within `limit` pixels from its left edge: within those pixels the
// same as rendering all of it.
void RenderShownShaded(TTF_Font *font, const char *text, int limit, SDL_Color fg, SDL_Color bg);
