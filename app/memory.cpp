// The program's operator new and delete: plain malloc and free, so that the program needs none of
// the C++ run-time library (the console build links none). Out of memory is fatal: the program
// never asks for more than a few blocks of fixed size, and has no way on without them.
#include <cstdlib>
#include <new>

#include "common/globals.h"

static void *Allocate(size_t size) {
    void *block = malloc(size != 0 ? size : 1);
    if (block == nullptr)
        FatalExit("error: out of memory (%zu bytes)\n", size);
    return block;
}

void *operator new(size_t size) {
    return Allocate(size);
}

void *operator new[](size_t size) {
    return Allocate(size);
}

void operator delete(void *block) noexcept {
    free(block);
}

void operator delete[](void *block) noexcept {
    free(block);
}

void operator delete(void *block, size_t) noexcept {
    free(block);
}

void operator delete[](void *block, size_t) noexcept {
    free(block);
}
