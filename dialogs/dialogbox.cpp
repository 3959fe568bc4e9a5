#include "dialogs/dialogbox.h"

#include <SDL_ttf.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "common/display.h"
#include "input/input.h"

static const SDL_Color kFrameColor = {100, 100, 255, 0};
static const SDL_Color kPanelColor = {230, 230, 230, 0};
// The frame's width around the panel, and the title's top edge in the box.
static const int kFrameWidth = 5;
static const int kTitleTop = kFrameWidth + 3;
// A centred popup's text and buttons keep this distance from the frame's outer edge.
static const int kContentMargin = 10;
// A centred popup's button row has its top edge this far down, less the popup's top and a line.
static const int kButtonRowBase = 230;
// PopupConfirm's buttons keep this distance from the box's left and right edges.
static const int kConfirmButtonInset = 15;

const char kOkLabel[] = "  Ok  ";
static const char kCancelLabel[] = "Cancel";

SurfacePtr BackupScreenSurface() {
    return SurfacePtr(SDL_ConvertSurface(gScreenSurface, gScreenSurface->format, 0));
}

void RevertScreenSurface(SurfacePtr copy) {
    if (!copy)
        return;
    SDL_Rect whole = {0, 0, kScreenWidth, kScreenHeight};
    SDL_BlitSurface(copy.get(), nullptr, gScreenSurface, &whole);
    MarkWholeScreen();
    ShowWholeScreen();
}

Uint32 MapColor(SDL_Surface *surface, SDL_Color color) {
    return SDL_MapRGB(surface->format, color.r, color.g, color.b);
}

int TextWidth(const char *text) {
    int width = 0;
    TTF_SizeUTF8(font, text, &width, nullptr);
    return width;
}

static void FillArea(int x, int y, int width, int height, Uint32 pixel) {
    SDL_Rect area = {static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(width),
                     static_cast<Uint16>(height)};
    SDL_FillRect(gScreenSurface, &area, pixel);
}

// Drawn straight onto the screen, clipped to the box: the same pixels as a box drawn apart and
// blitted, without making, clearing and copying a surface of the box's size for each dialog.
bool DrawDialogBox(int x, int y, int width, int height, const char *title) {
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF)
        return false;
    SDL_Rect box = {static_cast<Sint16>(x == -1 ? (kScreenWidth - width) / 2 : x),
                    static_cast<Sint16>(y == -1 ? (kScreenHeight - height) / 2 : y),
                    static_cast<Uint16>(width), static_cast<Uint16>(height)};
    SDL_Rect screen_clip;
    SDL_GetClipRect(gScreenSurface, &screen_clip);
    SDL_SetClipRect(gScreenSurface, &box);

    // The frame as four strips around the panel, so that no pixel is filled twice.
    Uint32 frame = MapColor(gScreenSurface, kFrameColor);
    int inner_height = height - 2 * kFrameWidth;
    FillArea(box.x, box.y, width, kFrameWidth, frame);
    FillArea(box.x, box.y + height - kFrameWidth, width, kFrameWidth, frame);
    FillArea(box.x, box.y + kFrameWidth, kFrameWidth, inner_height, frame);
    FillArea(box.x + width - kFrameWidth, box.y + kFrameWidth, kFrameWidth, inner_height, frame);
    FillArea(box.x + kFrameWidth, box.y + kFrameWidth, width - 2 * kFrameWidth, inner_height,
             MapColor(gScreenSurface, kPanelColor));

    int title_width = TextWidth(title);
    TextSurface = TTF_RenderUTF8_Shaded(font, title, color_black, color_gray);
    if (TextSurface != nullptr) {
        SDL_Rect place = {
            static_cast<Sint16>(box.x + kFrameWidth + (width - 2 * kFrameWidth - title_width) / 2),
            static_cast<Sint16>(box.y + kTitleTop), 0, 0};
        SDL_BlitSurface(TextSurface, nullptr, gScreenSurface, &place);
        SDL_FreeSurface(TextSurface);
        TextSurface = nullptr;
    }

    SDL_SetClipRect(gScreenSurface, &screen_clip);
    MarkScreenArea(box);
    return true;
}

void FillPanel(SDL_Rect area) {
    SDL_FillRect(gScreenSurface, &area, MapColor(gScreenSurface, kPanelColor));
    MarkScreenArea(area);
}

void DrawButton(SDL_Rect place, SDL_Color foreground, SDL_Color background, const char *label) {
    TextSurface = TTF_RenderUTF8_Shaded(font, label, foreground, background);
    BlitTextSurface(place.x, place.y, nullptr);
}

// Bytes of the character that begins with first: 0 for a continuation byte, -1 for a byte that
// begins nothing.
static int CharLength(unsigned char first) {
    if (first < 0x80)
        return 1;
    if (first < 0xC0)
        return 0;
    if (first < 0xE0)
        return 2;
    if (first < 0xF0)
        return 3;
    if (first < 0xF8)
        return 4;
    return -1;
}

// Whether a line may begin below line: its top edge must lie above the height and the table
// must have a row for it.
static bool NextLineFits(int line, int max_height, int row_count) {
    return (line + 1) * option.font_height < max_height && line + 1 < row_count;
}

static bool CutShort(const char *character, int length) {
    for (int i = 1; i < length; i++)
        if (character[i] == '\0')
            return true;
    return false;
}

int FoldString(int max_width, int max_height, const char *text, FoldRow *rows, int row_count) {
    int line = 0;
    size_t used = 0;
    rows[0][0] = '\0';
    const char *read = text;
    while (*read != '\0') {
        if (*read == '\n') {
            if (!NextLineFits(line, max_height, row_count))
                break;
            read++;
            line++;
            used = 0;
            rows[line][0] = '\0';
            continue;
        }
        int length = CharLength(static_cast<unsigned char>(*read));
        if (length == 0) {
            puts("error: splitted letter");
            return -1;
        }
        if (length < 0) {
            puts("error: unknown letter");
            return -1;
        }
        // A character cut short by the terminator is dropped; a full row ends the fold as the
        // height does.
        if (CutShort(read, length) || used + length > kFoldRowSize - 1)
            break;
        memcpy(rows[line] + used, read, length);
        rows[line][used + length] = '\0';
        if (TextWidth(rows[line]) > max_width) {
            // The character is read again for the next line.
            rows[line][used] = '\0';
            if (!NextLineFits(line, max_height, row_count))
                break;
            line++;
            used = 0;
            rows[line][0] = '\0';
            continue;
        }
        read += length;
        used += length;
    }
    return line;
}

SDL_Rect DrawText(SDL_Rect area, const char *text) {
    FoldRow rows[kFoldRows];
    int last = FoldString(area.w, area.h, text, rows, kFoldRows);
    int y = area.y;
    int right = area.x;
    int bottom = area.y;
    for (int i = 0; i <= last; i++) {
        TextSurface = TTF_RenderUTF8_Blended(font, rows[i], color_black);
        if (TextSurface != nullptr) {
            if (area.x + TextSurface->w > right)
                right = area.x + TextSurface->w;
            if (y + TextSurface->h > bottom)
                bottom = y + TextSurface->h;
        }
        BlitTextSurface(area.x, y, nullptr);
        y += option.font_height;
    }
    return {area.x, area.y, static_cast<Uint16>(right - area.x),
            static_cast<Uint16>(bottom - area.y)};
}

bool PopupTooLarge(int width, int height) {
    if (width <= kScreenWidth && height <= kScreenHeight)
        return false;
    puts("error: too large popup");
    return true;
}

PopupLayout CentredLayout(int width, int height) {
    PopupLayout layout;
    layout.left = (kScreenWidth - width) / 2;
    layout.top = (kScreenHeight - height) / 2;
    // A popup too low for its title and buttons gets a height that wraps to a large value.
    layout.text_area = {static_cast<Sint16>(layout.left + kContentMargin),
                        static_cast<Sint16>(layout.top + option.font_height + kContentMargin),
                        static_cast<Uint16>(width - 2 * kContentMargin),
                        static_cast<Uint16>(height - 2 * option.font_height - 2 * kContentMargin)};
    layout.button_y = kButtonRowBase - layout.top - option.font_height;
    layout.ok_x = layout.left + (width - 2 * kFrameWidth - TextWidth(kOkLabel)) / 2 + kFrameWidth;
    return layout;
}

static SDL_Rect Place(int x, int y) {
    return {static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
}

bool OpenCentredPopup(int width, int height, const char *title, CentredPopup &popup) {
    if (PopupTooLarge(width, height))
        return false;
    popup.saved = BackupScreenSurface();
    if (popup.saved && !DrawDialogBox(-1, -1, width, height, title))
        popup.saved.reset();
    popup.layout = CentredLayout(width, height);
    return true;
}

void CloseWithOk(CentredPopup &popup, int x, int y) {
    DrawButton(Place(x, y), color_white, color_red, kOkLabel);
    ShowChangedAreas();
    WaitKey();
    RevertScreenSurface(std::move(popup.saved));
}

int PopupMessage(int width, int height, const char *title, const char *text) {
    CentredPopup popup;
    if (!OpenCentredPopup(width, height, title, popup))
        return 0;
    if (!popup.saved)
        return 1;
    DrawText(popup.layout.text_area, text);
    CloseWithOk(popup, popup.layout.ok_x, popup.layout.button_y);
    return 1;
}

int PopupErrorList(int width, int height, const char *format, va_list arguments) {
    // On the heap: a copy several hundred directories deep reports from its deepest level.
    auto text = std::make_unique<char[]>(kMessageSize);
    vsnprintf(text.get(), kMessageSize, format, arguments);
    PopupMessage(width, height, "Error", text.get());
    return 0;
}

int PopupError(int width, int height, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    PopupErrorList(width, height, format, arguments);
    va_end(arguments);
    return 0;
}

struct ConfirmButtons {
    SDL_Rect cancel;
    SDL_Rect ok;
};

// Draws the buttons with the chosen one (0 Cancel, 1 Ok) selected and shows them.
static void DrawChoice(const ConfirmButtons &buttons, int choice) {
    if (choice == 0) {
        DrawButton(buttons.cancel, color_white, color_red, kCancelLabel);
        DrawButton(buttons.ok, color_black, color_gray, kOkLabel);
    } else {
        DrawButton(buttons.cancel, color_black, color_gray, kCancelLabel);
        DrawButton(buttons.ok, color_white, color_red, kOkLabel);
    }
    ShowChangedAreas();
}

// Runs passes until A or B closes the popup; returns the answer.
static int ConfirmLoop(const ConfirmButtons &buttons) {
    int choice = 0;
    bool done = false;
    while (!done) {
        SDL_Delay(10);
        GetInput();
        if (button_to_process[BTN_LEFT] && choice == 1) {
            choice = 0;
            DrawChoice(buttons, choice);
        }
        if (button_to_process[BTN_RIGHT] && choice == 0) {
            choice = 1;
            DrawChoice(buttons, choice);
        }
        if (button_to_process[BTN_A])
            done = true;
        if (button_to_process[BTN_B]) {
            choice = 0;
            done = true;
        }
        SDL_PumpEvents();
    }
    return choice;
}

// Bytes of the well-formed character that begins at text, or 0 when no character begins there:
// a stray continuation byte, a lead without its continuations, an overlong form, a surrogate or a
// code point past U+10FFFF.
static int WellFormedLength(const unsigned char *text) {
    unsigned char first = text[0];
    if (first < 0x80)
        return 1;
    int length = first >= 0xC2 && first <= 0xDF   ? 2
                 : first >= 0xE0 && first <= 0xEF ? 3
                 : first >= 0xF0 && first <= 0xF4 ? 4
                                                  : 0;
    // The second byte's range depends on the first; the later ones are any continuation.
    unsigned char low = first == 0xE0 ? 0xA0 : first == 0xF0 ? 0x90 : 0x80;
    unsigned char high = first == 0xED ? 0x9F : first == 0xF4 ? 0x8F : 0xBF;
    for (int i = 1; i < length; i++) {
        unsigned char next = text[i];
        if (i == 1 ? next < low || next > high : next < 0x80 || next > 0xBF)
            return 0;
    }
    return length;
}

// Replaces in place, by "?", every byte of text that cannot be part of a UTF-8 character.
static void ReplaceStrayBytes(char *text) {
    unsigned char *at = reinterpret_cast<unsigned char *>(text);
    while (*at != '\0') {
        int length = WellFormedLength(at);
        if (length == 0) {
            *at = '?';
            length = 1;
        }
        at += length;
    }
}

int PopupConfirm(int width, int height, const char *text) {
    CentredPopup popup;
    if (!OpenCentredPopup(width, height, "Confirm", popup) || !popup.saved)
        return 0;
    const PopupLayout &layout = popup.layout;
    // A question about a name that is not UTF-8 still shows the name; the caller acts on the
    // name as it is.
    size_t size = strlen(text) + 1;
    auto shown = std::make_unique<char[]>(size);
    CopyString(shown.get(), size, text);
    ReplaceStrayBytes(shown.get());
    DrawText(layout.text_area, shown.get());
    ConfirmButtons buttons;
    buttons.cancel = Place(layout.left + kConfirmButtonInset, layout.button_y);
    buttons.ok = Place(kScreenWidth - kConfirmButtonInset - layout.left - TextWidth(kOkLabel),
                       layout.button_y);
    DrawChoice(buttons, 0);
    int choice = ConfirmLoop(buttons);
    RevertScreenSurface(std::move(popup.saved));
    return choice;
}
