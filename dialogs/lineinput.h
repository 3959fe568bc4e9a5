// The modal dialog in which one line of text is typed with the on-screen keyboard.
#pragma once

// Lets the user edit, in a width x height box titled title at (5, 5) with the keyboard, a line
// that starts as the first capacity - 1 bytes of initial and shows its last visible bytes
// (capacity and visible at least 1), and once START or the keyboard's enter finishes it writes the
// line (at most capacity bytes) and its terminator into result, which holds capacity + 1 bytes
// and is never written past, and returns 1; a box over 320x240 is refused with
// "error: too large popup" and 0, result untouched; when the screen cannot be copied or the box
// made, nothing is drawn, result receives the starting line and the result is 1.
int LineInput(int width, int height, int capacity, int visible, const char *title,
              const char *initial, char *result);
