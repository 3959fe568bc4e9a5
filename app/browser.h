// Start-up, shutdown and the two-pane browser loop.
#pragma once

#include <SDL.h>

#include "common/limits.h"
#include "app/listing.h"

// One browser pane: its directory, that directory's sorted table of count entries, the entry in
// its first list row (top) and its cursor's list row, so that the cursor stands on
// entries[top + cursor]; only RelistPane brings it up to date with the disk.
struct Pane {
    char path[kPathSize];
    int count;
    EntryName entries[kPaneEntries];
    int top;
    int cursor;
};

// Everything the browser loop owns for its whole run.
struct Browser {
    Pane pane[2];
    int active;
    bool redraw;
    char scratch[kScratchSize];
    char scratch2[kScratchSize];
    SDL_Rect row_clip;
};

// Opens the display and both fonts and records the start directory; 1 on success, 0 on failure.
int Init();
// Flushes the file systems, logs "sync disc" and closes what Init opened.
void End();
// Closes the fonts and the display that Init opened, and SDL with them.
void CloseDisplay();
// Runs the browser until the user quits; returns 1.
int MainLoop();
// Fills the whole screen with the colour, without flipping.
void FillScreen(SDL_Color color);
// Rereads the pane's directory, puts its view and cursor back at the top and asks for a redraw.
void RelistPane(Browser &browser, int index);
// The pane the user acts in.
Pane &ActivePane(Browser &browser);
// True for the parent entry and any name that begins with two dots: never deleted, copied,
// moved or renamed.
bool IsParentLike(const char *name);
// The name under the cursor of the active pane.
const char *CursorEntry(const Browser &browser);
