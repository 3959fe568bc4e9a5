#include "dialogs/dialogbox.h"

#include <SDL_ttf.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "common/display.h"
#include "common/rect.h"
#include "common/utf8.h"
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
    SDL_Rect area = Rect(x, y, width, height);
    SDL_FillRect(gScreenSurface, &area, pixel);
}

// Drawn straight onto the screen, clipped to the box: the same pixels as a box drawn apart and
// blitted, without making, clearing and copying a surface of the box's size for each dialog.
bool DrawDialogBox(int x, int y, int width, int height, const char *title) {
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF)
        return false;
    SDL_Rect box = Rect(x == -1 ? (kScreenWidth - width) / 2 : x,
                        y == -1 ? (kScreenHeight - height) / 2 : y, width, height);
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
        SDL_Rect place = Rect(box.x + kFrameWidth + (width - 2 * kFrameWidth - title_width) / 2,
                              box.y + kTitleTop, 0, 0);
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
    return Rect(area.x, area.y, right - area.x, bottom - area.y);
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
    layout.text_area =
        Rect(layout.left + kContentMargin, layout.top + option.font_height + kContentMargin,
             width - 2 * kContentMargin, height - 2 * option.font_height - 2 * kContentMargin);
    layout.button_y = kButtonRowBase - layout.top - option.font_height;
    layout.ok_x = layout.left + (width - 2 * kFrameWidth - TextWidth(kOkLabel)) / 2 + kFrameWidth;
    return layout;
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
    DrawButton(Rect(x, y, 0, 0), color_white, color_red, kOkLabel);
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
    buttons.cancel = Rect(layout.left + kConfirmButtonInset, layout.button_y, 0, 0);
    buttons.ok = Rect(kScreenWidth - kConfirmButtonInset - layout.left - TextWidth(kOkLabel),
                      layout.button_y, 0, 0);
    DrawChoice(buttons, 0);
    int choice = ConfirmLoop(buttons);
    RevertScreenSurface(std::move(popup.saved));
    return choice;
}
