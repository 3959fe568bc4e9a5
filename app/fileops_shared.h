// What the file operations' own units share: paths, the existence test and the change mark.
#pragma once

#include <cstddef>

// Composes dir, a slash and name into path; false, when they and the terminator do not fit.
// Directory names keep their trailing "/", so deeper paths hold doubled slashes; they are used
// as they are.
bool JoinPath(char *path, size_t size, const char *dir, const char *name);
// Something stands at path when the query finds it, a dangling link included (written through,
// it would create a file outside the chosen directory), or finds it with a date the C library
// cannot hold. Any other failure (no search permission, a file where a directory should be) is
// left to the creation that follows, which reports it in its own words.
bool Occupied(const char *path);
// True for the parent entry "../" of a listing.
bool IsParentEntry(const char *name);
// Marks that something was created, renamed or removed, so that the next flush writes it out.
void MarkChanged();
