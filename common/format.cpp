#include "common/format.h"

#include <cstdarg>
#include <cstdio>

bool FormatInto(char *out, size_t size, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(out, size, format, arguments);
    va_end(arguments);
    return length >= 0 && static_cast<size_t>(length) < size;
}

bool JoinPath(char *path, size_t size, const char *dir, const char *name) {
    return FormatInto(path, size, "%s/%s", dir, name);
}
