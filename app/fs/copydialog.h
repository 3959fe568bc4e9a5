// The "Copying" dialog of one file: its name and a bar of cells that fills as the data goes.
#pragma once

#include <cstdint>

// The progress bar of one file: a cell is drawn for every step bytes copied.
struct Progress {
    int64_t step;
    int64_t running;
    int cells;
    int track_y;
};

// Draws the copy dialog with the file's base name and an empty track, and shows it; in a folder's
// copy each file after the first pushes only its name and then its cells.
Progress StartProgress(const char *source_path, int64_t size);
// Counts copied bytes and draws, and shows one by one, the cells they complete.
void AdvanceProgress(Progress &progress, int64_t count);
