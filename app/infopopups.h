// The file and disk information popups.
#pragma once

#include "common/limits.h"

// One word of a command's report, cut to 49 bytes.
using ReportWord = char[kWordSize];

// Shows the path, size and modification time (UTC) of the entry at path until A or B; 1 once
// closed, 0 when the size is too large.
int PopupFileInfo(int width, int height, const char *path);
// Shows size, use and free space of the "/boot" file system and the total size of directory until
// A or B; 1 once closed, 0 when the size is too large.
int PopupDiskInfo(int width, int height, const char *directory);
// Splits text at spaces, tabs and line feeds into at most `most` words and returns how many it
// stored; rows beyond that keep what they held.
int SplitBySpace(const char *text, ReportWord *words, int most);
