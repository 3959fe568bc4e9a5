// The twelve console buttons, sampled once per pass into per-pass events.
#pragma once

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

// 1 where a button has an event in the current pass; written only by GetInput.
extern int button_to_process[BTN_COUNT];
// Each button's behaviour: 0 edge, 1 auto-repeat, 2 level.
extern const int repeat_mode[BTN_COUNT];
// The SDL key that stands for each button.
extern const int button_key[BTN_COUNT];

// Number of passes GetInput has sampled; a caller compares it to tell whether a popup sampled.
extern unsigned long input_pass_count;

// Samples SDL's key-state table once and recomputes every entry of button_to_process.
void GetInput();
// Runs passes without pause until one has no event at all, then drops every pending SDL event.
void WaitKeyRelease();
// Returns once a fresh press of A or B is seen, after all events have stopped.
void WaitKey();
