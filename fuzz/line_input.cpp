// The line-input dialog driven by any sequence of button states, with any capacity, visible
// count, box size and initial text: it writes only inside its storage and the caller's result,
// hands back at most capacity bytes with their terminator, types only printable codes, and
// leaves the result alone when it refuses its box.
#include <SDL.h>

#include "dialogs/lineinput.h"
#include "fuzz/fuzz_input.h"
#include "input/input.h"
#include "tests/font_reads.h"

// The keys of the twelve buttons, in the order of the bits of a scripted sample.
static const SDLKey kButtonKeys[] = {SDLK_UP,    SDLK_DOWN,      SDLK_LEFT,   SDLK_RIGHT,
                                     SDLK_LCTRL, SDLK_LALT,      SDLK_SPACE,  SDLK_LSHIFT,
                                     SDLK_TAB,   SDLK_BACKSPACE, SDLK_RETURN, SDLK_ESCAPE};
// Samples after the script before the dialog must have finished.
static const int kFinishingSamples = 5000;

// The button states of the current input, two bytes a sample.
static const uint8_t *script;
static size_t script_samples;
static size_t sample;

extern "C" {
Uint8 *__real_SDL_GetKeyState(int *numkeys);
Uint8 *__wrap_SDL_GetKeyState(int *numkeys);
void __wrap_SDL_Delay(Uint32 ms);
SDL_Surface *__real_TTF_RenderUTF8_Shaded(TTF_Font *font, const char *text, SDL_Color fg,
                                          SDL_Color bg);
SDL_Surface *__wrap_TTF_RenderUTF8_Shaded(TTF_Font *font, const char *text, SDL_Color fg,
                                          SDL_Color bg);
}

// The field's text and cursor cell must hold whatever the font library reads of them.
SDL_Surface *__wrap_TTF_RenderUTF8_Shaded(TTF_Font *font, const char *text, SDL_Color fg,
                                          SDL_Color bg) {
    ReadAsTheFontLibraryDoes(text);
    return __real_TTF_RenderUTF8_Shaded(font, text, fg, bg);
}

// Each sample of the key table takes the next states of the script; after it, everything is let
// go and START pressed in turn until the dialog finishes.
Uint8 *__wrap_SDL_GetKeyState(int *numkeys) {
    Uint8 *keys = __real_SDL_GetKeyState(numkeys);
    unsigned states = 0;
    if (sample < script_samples)
        states = script[2 * sample] | script[2 * sample + 1] << 8;
    else if ((sample - script_samples) % 2 == 1)
        states = 1u << 10;
    else if (sample - script_samples > 2 * kFinishingSamples)
        FuzzFailure("the dialog does not finish on START");
    for (int button = 0; button < BTN_COUNT; button++)
        keys[kButtonKeys[button]] = (states >> button) & 1;
    sample++;
    return keys;
}

void __wrap_SDL_Delay(Uint32) {}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    OpenFuzzDisplay();
    // The keyboard's images are in the build folder's graphics/, as in a start directory.
    CopyString(option.start_dir, sizeof option.start_dir, ZORVEL_BUILD_DIR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    int capacity = 1 + static_cast<int>(input.Take(2) % 300);
    int visible = 1 + static_cast<int>(input.Take(1) % 64);
    int width = static_cast<int>(input.Take(2) % 348) - 8;
    int height = static_cast<int>(input.Take(1));
    auto initial = input.TakeString(input.Take(2) % 400);
    script = data + input.at;
    script_samples = input.Left() / 2;
    sample = 0;

    // Exactly the capacity and its terminator, marked so that a refusal shows as untouched.
    auto result = std::unique_ptr<char[]>(new char[capacity + 1]);
    memset(result.get(), '#', capacity + 1);
    int answer = LineInput(width, height, capacity, visible, "fuzz", initial.get(), result.get());

    if (width > 320 || height > 240) {
        for (int i = 0; i <= capacity; i++)
            if (answer != 0 || result[i] != '#')
                FuzzFailure("a refused box touched the result");
        return 0;
    }
    if (answer != 1)
        FuzzFailure("the dialog did not hand back its text");
    size_t length = strnlen(result.get(), capacity + 1);
    if (length > static_cast<size_t>(capacity))
        FuzzFailure("the text is longer than the capacity or not terminated");
    if (initial[0] == '\0')
        for (size_t i = 0; i < length; i++)
            if (static_cast<unsigned char>(result[i]) < 32)
                FuzzFailure("a control code was typed into the text");
    return 0;
}
