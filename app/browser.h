// The two-pane browser loop and its drawing.
#pragma once

#include <SDL.h>

// Runs the browser until the user quits; returns 1.
int MainLoop();
// Fills the whole screen with the colour, without flipping.
void FillScreen(SDL_Color color);
