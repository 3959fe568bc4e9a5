// The frame's steps, in the order the frame tests them: the one table to read or change to learn
// or rebind what a button does in the browser.
#pragma once

#include "app/commands.h"
#include "app/naming.h"
#include "app/panes.h"
#include "common/buttons.h"

// Whether a step wants SELECT held, wants it up, or runs either way.
enum class WithSelect { kAny, kHeld, kUp };

// A step of the frame runs when its button has an event and SELECT is as the step wants it.
struct FrameStep {
    Button button;
    WithSelect select;
    void (*action)(Browser &browser);
};

// The frame's steps between sampling the buttons and drawing, tested in this order; every step
// whose test holds runs, and sees what the steps before it left. Only the frame loop reads it.
static const FrameStep kFrameSteps[] = {
    {BTN_DOWN, WithSelect::kAny, CursorDown},
    {BTN_UP, WithSelect::kAny, CursorUp},
    {BTN_RIGHT, WithSelect::kAny, ActivateRight},
    {BTN_LEFT, WithSelect::kAny, ActivateLeft},
    {BTN_L, WithSelect::kAny, AskRedraw},
    {BTN_R, WithSelect::kAny, AskRedraw},
    {BTN_A, WithSelect::kUp, EnterCursorDir},
    {BTN_A, WithSelect::kHeld, ExecuteCommand},
    {BTN_B, WithSelect::kUp, GoUp},
    {BTN_B, WithSelect::kHeld, DeleteCommand},
    {BTN_Y, WithSelect::kUp, CopyCommand},
    {BTN_Y, WithSelect::kHeld, MakeDirCommand},
    {BTN_X, WithSelect::kUp, MoveCommand},
    {BTN_X, WithSelect::kHeld, RenameCommand},
    {BTN_L, WithSelect::kAny, FileInfoCommand},
    {BTN_R, WithSelect::kAny, DiskInfoCommand},
};
