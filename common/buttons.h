// The twelve console buttons and the key that stands for each: the one key table that the
// button input and the on-screen keyboard both read.
#pragma once

#include <SDL.h>

#include "common/limits.h"

// The buttons, in the order of every per-button table.
enum Button {
    BTN_UP,
    BTN_DOWN,
    BTN_LEFT,
    BTN_RIGHT,
    BTN_A,
    BTN_B,
    BTN_X,
    BTN_Y,
    BTN_L,
    BTN_R,
    BTN_START,
    BTN_SELECT,
    BTN_COUNT
};
static_assert(BTN_COUNT == kButtonCount, "one slot per button");

// The SDL key whose entry in the key-state table tells whether each button is down.
extern const SDLKey button_key[BTN_COUNT];
