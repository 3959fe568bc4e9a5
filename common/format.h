// Texts composed into fixed buffers that say whether they fitted.
#pragma once

#include <cstddef>

// Writes the formatted text into out of size bytes, cut short and terminated when it does not
// fit; true when all of it and its terminator fitted.
bool FormatInto(char *out, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Composes dir, a slash and name into path; false, when they and the terminator do not fit.
// Directory names keep their trailing "/", so deeper paths hold doubled slashes; they are used
// as they are.
bool JoinPath(char *path, size_t size, const char *dir, const char *name);
