// Reading one directory into an entry table: directories first with "/" appended, then the rest.
// A directory whose 255-byte name leaves no room for the "/" is left out.
#pragma once

#include "common/limits.h"

// One slot of an entry table: a NUL-terminated name.
using EntryName = char[kNameSize];

// Number of entries of the directory other than "."; ends the process when it cannot be opened.
int CountDir(const char *path);
// Fills at most capacity slots of entries with the directory's sorted listing and returns how many
// it filled, counting into left_out, when given, the directories it left out; ends the process
// when it cannot be opened or a group reaches its limit.
int SeekDir(const char *path, EntryName *entries, int capacity, int *left_out = nullptr);
// Byte-wise comparison of two table slots, for qsort.
int comp_func(const void *left, const void *right);
// True for a listing's parent entry "../" and nothing else: the entry a walk through the tree
// skips.
bool IsParentEntry(const char *name);
