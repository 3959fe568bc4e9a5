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

// The passes, out of `passes`, in which the button had an event.
static std::vector<int> EventPasses(Button button, int passes) {
    std::vector<int> found;
    for (int pass = 0; pass < passes; pass++) {
        GetInput();
        if (button_to_process[button])
            found.push_back(pass);
    }
    return found;
}

TEST(Input, DirectionRepeatsAfterThirtyPassesThenEverySecond) {
    ResetButtons();
    ScriptHold(SDLK_DOWN, 0, 31);
    ScriptHold(SDLK_DOWN, 33, 70);
    std::vector<int> expected = {0, 30, 33, 63, 65, 67, 69};
    EXPECT_EQ(EventPasses(BTN_DOWN, 70), expected);
}

TEST(Input, EdgeButtonsFireOnceLevelButtonsEveryPass) {
    ResetButtons();
    ScriptHold(SDLK_LCTRL, 0, 100);
    ScriptHold(SDLK_ESCAPE, 0, 100);
    int a_events = 0;
    int select_events = 0;
    for (int pass = 0; pass < 110; pass++) {
        GetInput();
        a_events += button_to_process[BTN_A];
        select_events += button_to_process[BTN_SELECT];
    }
    EXPECT_EQ(a_events, 1);
    EXPECT_EQ(select_events, 100);
}

TEST(Input, ModifierAndPressShareThePass) {
    ResetButtons();
    ScriptHold(SDLK_ESCAPE, 0, 10);
    ScriptTap(SDLK_LALT, 4);
    for (int pass = 0; pass < 5; pass++)
        GetInput();
    EXPECT_EQ(button_to_process[BTN_SELECT], 1);
    EXPECT_EQ(button_to_process[BTN_B], 1);
    GetInput();
    EXPECT_EQ(button_to_process[BTN_B], 0);
}

TEST(Input, WaitKeyReleaseHoldsWhileStartIsDown) {
    ResetButtons();
    ScriptHold(SDLK_RETURN, 0, 25);
    WaitKeyRelease();
    EXPECT_EQ(ScriptPass(), 26);
}

TEST(Input, WaitKeyReleaseLetsAnEdgeButtonHeldFromBefore) {
    ResetButtons();
    ScriptHold(SDLK_LCTRL, 0, 50);
    GetInput();
    WaitKeyRelease();
    EXPECT_EQ(ScriptPass(), 2);
    EXPECT_EQ(SDL_GetKeyState(nullptr)[SDLK_LCTRL], 1);
}

TEST(Input, WaitKeyIgnoresOtherButtonsAndEndsOnAOrB) {
    ResetButtons();
    // A still held from the command that opened the popup does not close it.
    ScriptHold(SDLK_LCTRL, 0, 3);
    for (SDLKey key : {SDLK_SPACE, SDLK_LSHIFT, SDLK_TAB, SDLK_BACKSPACE, SDLK_RETURN, SDLK_ESCAPE,
                       SDLK_UP, SDLK_LEFT})
        ScriptTap(key, 10);
    ScriptTap(SDLK_LALT, 20);
    GetInput();
    WaitKey();
    EXPECT_EQ(ScriptPass(), 21);
}
