#include "common/buttons.h"

// The console delivers its buttons as these keyboard keys.
const SDLKey button_key[BTN_COUNT] = {SDLK_UP,    SDLK_DOWN,      SDLK_LEFT,   SDLK_RIGHT,
                                      SDLK_LCTRL, SDLK_LALT,      SDLK_SPACE,  SDLK_LSHIFT,
                                      SDLK_TAB,   SDLK_BACKSPACE, SDLK_RETURN, SDLK_ESCAPE};
