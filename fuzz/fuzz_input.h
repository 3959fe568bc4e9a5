// What the fuzz targets share: reading numbers from the input, and the dummy display.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/session.h"
#include "common/globals.h"

// Takes numbers from the front of a fuzz input; past its end every number is 0.
struct FuzzInput {
    const uint8_t *data;
    size_t size;
    size_t at = 0;

    FuzzInput(const uint8_t *bytes, size_t count) : data(bytes), size(count) {}
    // A little-endian number of the given bytes (at most 4).
    uint32_t Take(int bytes) {
        uint32_t value = 0;
        for (int i = 0; i < bytes; i++)
            value |= static_cast<uint32_t>(at < size ? data[at++] : 0) << (8 * i);
        return value;
    }
    size_t Left() const { return size - at; }
    // The next count bytes (fewer at the end) as a NUL-terminated string in a buffer of exactly
    // that length plus its terminator, so that the sanitizer sees any read past it.
    std::unique_ptr<char[]> TakeString(size_t count) {
        count = count < Left() ? count : Left();
        auto text = std::make_unique<char[]>(count + 1);
        memcpy(text.get(), data + at, count);
        text[count] = '\0';
        at += count;
        return text;
    }
};

// Opens the dummy display and the fonts as the program's Init does; ends the target when it cannot.
inline void OpenFuzzDisplay() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    CopyString(option.font_file, sizeof option.font_file, ZORVEL_FUZZ_FONT);
    if (Init() != 1) {
        fprintf(stderr, "fuzz: cannot open the dummy display with %s\n", ZORVEL_FUZZ_FONT);
        exit(2);
    }
}

// Ends the run as a crash that libFuzzer records, with what went wrong.
[[noreturn]] inline void FuzzFailure(const char *what) {
    fprintf(stderr, "fuzz: %s\n", what);
    abort();
}
