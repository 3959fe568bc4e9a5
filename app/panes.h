// The two panes of the browser: what each shows, where its cursor stands, and the moves of the
// cursor and between the panes and directories.
#pragma once

#include <SDL.h>

#include "common/limits.h"
#include "app/fs/listing.h"

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

// Puts both panes in the directory where the process stands, lists them, and logs "path: DIR".
void OpenPanes(Browser &browser);
// Rereads the pane's directory, puts its view and cursor back at the top and asks for a redraw.
void RelistPane(Browser &browser, int index);
// The pane the user acts in.
Pane &ActivePane(Browser &browser);
// True for the parent entry and any name that begins with two dots: never deleted, copied,
// moved or renamed. Stricter than the listing's IsParentEntry, which a walk through a tree uses.
bool IsParentLike(const char *name);
// The name under the cursor of the active pane.
const char *CursorEntry(const Browser &browser);

// Moves the active pane's cursor one row down, scrolling at the last visible row.
void CursorDown(Browser &browser);
// Moves the active pane's cursor one row up, scrolling at the first.
void CursorUp(Browser &browser);
// Makes the right pane the active one.
void ActivateRight(Browser &browser);
// Makes the left pane the active one.
void ActivateLeft(Browser &browser);
// Asks for the panes to be redrawn in this frame.
void AskRedraw(Browser &browser);
// Enters the directory under the cursor; on a file it does nothing.
void EnterCursorDir(Browser &browser);
// Enters the active pane's parent directory.
void GoUp(Browser &browser);
