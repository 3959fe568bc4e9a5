// What the file operations' own units share: joined paths, the parent entry and the change mark.
#pragma once

#include <cstddef>

// Composes dir, a slash and name into path; false, when they and the terminator do not fit.
// Directory names keep their trailing "/", so deeper paths hold doubled slashes; they are used
// as they are.
bool JoinPath(char *path, size_t size, const char *dir, const char *name);
// True for the parent entry "../" of a listing.
bool IsParentEntry(const char *name);
// Marks that something was created, renamed or removed, so that the next flush writes it out.
void MarkChanged();
