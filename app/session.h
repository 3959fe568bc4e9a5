// Start-up and shutdown: the display, the fonts and the start directory.
#pragma once

// Top of the help bar; the panes' rows end above it.
constexpr int kHelpBarY = 230;

// Opens the display and both fonts and records the start directory; 1 on success, 0 on failure.
int Init();
// Flushes the file systems, logs "sync disc" and closes what Init opened.
void End();
// Closes the fonts and the display that Init opened, and SDL with them.
void CloseDisplay();
