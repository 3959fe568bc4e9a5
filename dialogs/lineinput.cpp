#include "dialogs/lineinput.h"

#include <SDL_ttf.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "common/display.h"
#include "common/globals.h"
#include "common/rect.h"
#include "dialogs/dialogbox.h"
#include "input/input.h"
#include "keyboard/dingux_vexpad.h"

// The box stands at this place instead of being centred.
static const int kBoxLeft = 5;
static const int kBoxTop = 5;
// The field begins this far from the screen's left edge and this far below a line's height; it
// is as wide as the box less the inset.
static const int kFieldLeft = 20;
static const int kFieldBelowLine = 20;
static const int kFieldInset = 30;
// The keyboard stands this far in from the screen's bottom-right corner.
static const int kKeyboardInset = 10;

static const char kImageSubdir[] = "/graphics/";
static_assert(kStartDirSize - 1 + sizeof kImageSubdir <= kImageDirSize,
              "the longest start directory and the image folder fit");

// The codes of the keyboard that the dialog acts on; every other code below 32 does nothing.
static const int kCodeStart = 2;
static const int kCodeBackspace = 8;
static const int kCodeClear = 12;
static const int kCodeEnter = 13;
static const int kFirstPrintable = 32;

// The line being typed: capacity + 1 bytes of storage, of which the text proper takes at most
// capacity - 1; the cursor always stands at its end.
struct LineEdit {
    std::unique_ptr<char[]> text;
    int capacity;
    int length;
};

// A full text can hold one more character, the pending one, right after it.
static bool IsFull(const LineEdit &edit) {
    return edit.length == edit.capacity - 1;
}

static bool HasPending(const LineEdit &edit) {
    return IsFull(edit) && edit.text[edit.capacity - 1] != '\0';
}

static void TypeCharacter(LineEdit &edit, int code) {
    if (IsFull(edit)) {
        edit.text[edit.capacity - 1] = static_cast<char>(code);
        return;
    }
    edit.text[edit.length] = static_cast<char>(code);
    edit.length++;
    edit.text[edit.length] = '\0';
}

static void DeleteLast(LineEdit &edit) {
    if (HasPending(edit)) {
        edit.text[edit.capacity - 1] = '\0';
    } else if (edit.length > 0) {
        edit.length--;
        edit.text[edit.length] = '\0';
    }
}

static void ClearText(LineEdit &edit) {
    memset(edit.text.get(), 0, edit.capacity + 1);
    edit.length = 0;
}

// Acts on one code of the keyboard; true when it finishes the dialog.
static bool ApplyKeyCode(LineEdit &edit, int code) {
    if (code >= kFirstPrintable)
        TypeCharacter(edit, code);
    else if (code == kCodeBackspace)
        DeleteLast(edit);
    else if (code == kCodeClear)
        ClearText(edit);
    return code == kCodeStart || code == kCodeEnter;
}

// Paints the field black and draws the text's last visible bytes, followed by the cursor cell,
// which shows the pending character if there is one; shown holds visible + 1 bytes and the font
// library's reach past them.
static void DrawField(const LineEdit &edit, int field_width, int visible, char *shown) {
    int top = option.font_height + kFieldBelowLine;
    SDL_Rect field = Rect(kFieldLeft, top, field_width, option.font_height);
    SDL_FillRect(gScreenSurface, &field, SDL_MapRGB(gScreenSurface->format, 0, 0, 0));
    MarkScreenArea(field);

    int first = edit.length > visible ? edit.length - visible : 0;
    CopyString(shown, edit.length - first + 1, edit.text.get() + first);
    TextSurface = TTF_RenderUTF8_Shaded(font, shown, color_white, color_black);
    int shown_width = TextWidth(shown);
    BlitTextSurface(kFieldLeft, top, nullptr);

    char cursor_cell[2] = {HasPending(edit) ? edit.text[edit.capacity - 1] : ' ', '\0'};
    TextSurface = TTF_RenderUTF8_Shaded(font, cursor_cell, color_white, color_red);
    BlitTextSurface(kFieldLeft + shown_width, top, nullptr);
}

// Loads the keyboard's images from the start directory and puts the keyboard in its corner.
static void OpenKeyboard() {
    char directory[kImageDirSize];
    snprintf(directory, sizeof directory, "%s%s", option.start_dir, kImageSubdir);
    vexpad_load(directory);
    vexpad_set_screen(gScreenSurface);
    vexpad_moveTo(-kKeyboardInset, -kKeyboardInset);
}

// Reads, edits and redraws once per pass; the finishing pass is drawn too.
static void RunLineInputLoop(LineEdit &edit, int width, int visible) {
    // The font library reads past a text that ends inside a character: those bytes stay inside.
    auto shown = std::make_unique<char[]>(visible + 1 + kLeadByteReach);
    int field_width = width > kFieldInset ? width - kFieldInset : 0;
    bool finished = false;
    while (!finished) {
        SDL_Delay(10);
        finished = ApplyKeyCode(edit, vexpad_readInput());
        DrawField(edit, field_width, visible, shown.get());
        vexpad_render(1);
        ShowChangedAreas();
        SDL_PumpEvents();
    }
}

int LineInput(int width, int height, int capacity, int visible, const char *title,
              const char *initial, char *result) {
    if (PopupTooLarge(width, height))
        return 0;
    LineEdit edit = {std::make_unique<char[]>(capacity + 1), capacity, 0};
    CopyString(edit.text.get(), capacity, initial);
    edit.length = static_cast<int>(strlen(edit.text.get()));

    SurfacePtr saved = BackupScreenSurface();
    if (!saved || !DrawDialogBox(kBoxLeft, kBoxTop, width, height, title)) {
        // Handed back unchanged, the initial text asks the caller for nothing.
        CopyString(result, capacity + 1, edit.text.get());
        return 1;
    }
    OpenKeyboard();
    WaitKeyRelease();
    RunLineInputLoop(edit, width, visible);

    CopyString(result, capacity + 1, edit.text.get());
    vexpad_free();
    RevertScreenSurface(std::move(saved));
    WaitKeyRelease();
    return 1;
}
