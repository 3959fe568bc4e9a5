#include "input/input.h"

#include <SDL.h>

int button_to_process[BTN_COUNT];
unsigned long input_pass_count;
const int repeat_mode[BTN_COUNT] = {kAutoRepeat, kAutoRepeat, kAutoRepeat, kAutoRepeat,
                                    kEdge,       kEdge,       kEdge,       kEdge,
                                    kEdge,       kEdge,       kLevel,      kLevel};

// Passes of holding before the first repeat, and between later repeats.
static const int kFirstRepeat = 30;
static const int kNextRepeat = 2;

static int current_btn[BTN_COUNT];
static int prev_btn[BTN_COUNT];
static int delay[BTN_COUNT] = {kFirstRepeat, kFirstRepeat, kFirstRepeat, kFirstRepeat,
                               kFirstRepeat, kFirstRepeat, kFirstRepeat, kFirstRepeat,
                               kFirstRepeat, kFirstRepeat, kFirstRepeat, kFirstRepeat};

void GetInput() {
    input_pass_count++;
    for (int button = 0; button < BTN_COUNT; button++)
        prev_btn[button] = current_btn[button];

    // The table is fetched on every pass: SDL may move it.
    const Uint8 *keys = SDL_GetKeyState(nullptr);
    for (int button = 0; button < BTN_COUNT; button++)
        current_btn[button] = keys[button_key[button]] ? 1 : 0;

    for (int button = 0; button < BTN_COUNT; button++) {
        bool down = current_btn[button] != 0;
        bool was_down = prev_btn[button] != 0;
        int event = 0;
        switch (repeat_mode[button]) {
        case kEdge:
            event = down && !was_down;
            break;
        case kAutoRepeat:
            if (!down) {
                delay[button] = kFirstRepeat;
            } else if (!was_down) {
                event = 1;
                delay[button] = kFirstRepeat;
            } else if (--delay[button] <= 0) {
                event = 1;
                delay[button] = kNextRepeat;
            }
            break;
        case kLevel:
        default:
            event = down;
            break;
        }
        button_to_process[button] = event;
    }
}

void WaitKeyRelease() {
    bool any_event = true;
    while (any_event) {
        GetInput();
        any_event = false;
        for (int button = 0; button < BTN_COUNT; button++)
            any_event = any_event || button_to_process[button] != 0;
        SDL_PumpEvents();
    }
    SDL_Event event;
    while (SDL_PollEvent(&event))
        ;
}

void WaitKey() {
    WaitKeyRelease();
    bool pressed = false;
    while (!pressed) {
        SDL_Delay(10);
        GetInput();
        pressed = button_to_process[BTN_A] || button_to_process[BTN_B];
        SDL_PumpEvents();
    }
}
