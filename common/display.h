// What changed on the screen since it was last shown, and the one showing that pushes it.
#pragma once

#include <SDL.h>

// Notes that the area of the screen changed (cut to the screen), for the next showing.
void MarkScreenArea(SDL_Rect area);
// Notes that the whole screen changed.
void MarkWholeScreen();
// How many times a change of the screen has been noted so far: equal counts mean that nothing
// was drawn on the screen in between.
unsigned long ScreenChanges();
// Pushes every area noted since the last showing to the display in one update, then forgets them.
void ShowChangedAreas();
// Pushes the whole screen to the display (a flip) and forgets the noted areas.
void ShowWholeScreen();
// Blits all of TextSurface, or only its top-left clip part when clip is not null, at (x, y)
// on the screen, notes the area for the next showing, then frees it; an empty rendering draws
// nothing.
void BlitTextSurface(int x, int y, const SDL_Rect *clip);
