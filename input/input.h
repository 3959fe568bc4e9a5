// The twelve console buttons, sampled once per pass into per-pass events.
#pragma once

#include "common/buttons.h"

// How a button turns into events: on the pass it goes down, on the press and then repeated
// while held, or on every pass it is down.
enum RepeatMode { kEdge = 0, kAutoRepeat = 1, kLevel = 2 };

// 1 where a button has an event in the current pass; written only by GetInput.
extern int button_to_process[BTN_COUNT];
// Each button's behaviour, one RepeatMode value per button.
extern const int repeat_mode[BTN_COUNT];

// Number of passes GetInput has sampled; a caller compares it to tell whether a popup sampled.
extern unsigned long input_pass_count;

// Samples SDL's key-state table once and recomputes every entry of button_to_process.
void GetInput();
// Runs passes without pause until one has no event at all, then drops every pending SDL event.
void WaitKeyRelease();
// Returns once a fresh press of A or B is seen, after all events have stopped.
void WaitKey();
