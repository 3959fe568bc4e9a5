// Button events as the loops see them, pass by pass.
#include <gtest/gtest.h>

#include <vector>

#include "input/input.h"
#include "tests/harness.h"

// Starts from all buttons up, with the state of earlier tests forgotten.
static void ResetButtons() {
    ScriptClear();
    Uint8 *keys = SDL_GetKeyState(nullptr);
    for (int button = 0; button < BTN_COUNT; button++)
        keys[button_key[button]] = 0;
    GetInput();
    ScriptClear();
}

TEST(Input, WaitKeyReleaseLetsAnEdgeButtonHeldFromBefore) {
    ResetButtons();
    ScriptHold(SDLK_LCTRL, 0, 50);
    GetInput();
    WaitKeyRelease();
    EXPECT_EQ(ScriptPass(), 2);
    EXPECT_EQ(SDL_GetKeyState(nullptr)[SDLK_LCTRL], 1);
}
