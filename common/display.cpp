#include "common/display.h"

#include "common/globals.h"
#include "common/limits.h"
#include "common/rect.h"

// The areas noted since the last showing; they never overlap, so no pixel is pushed twice.
static SDL_Rect changed[kChangedAreas];
static int changed_count = 0;
static unsigned long change_count = 0;

static int Right(const SDL_Rect &area) {
    return area.x + area.w;
}

static int Bottom(const SDL_Rect &area) {
    return area.y + area.h;
}

static bool Overlap(const SDL_Rect &a, const SDL_Rect &b) {
    return a.x < Right(b) && b.x < Right(a) && a.y < Bottom(b) && b.y < Bottom(a);
}

static SDL_Rect Bounds(const SDL_Rect &a, const SDL_Rect &b) {
    int left = a.x < b.x ? a.x : b.x;
    int top = a.y < b.y ? a.y : b.y;
    int right = Right(a) > Right(b) ? Right(a) : Right(b);
    int bottom = Bottom(a) > Bottom(b) ? Bottom(a) : Bottom(b);
    return Rect(left, top, right - left, bottom - top);
}

void MarkScreenArea(SDL_Rect area) {
    int left = area.x < 0 ? 0 : area.x;
    int top = area.y < 0 ? 0 : area.y;
    int right = Right(area) > kScreenWidth ? kScreenWidth : Right(area);
    int bottom = Bottom(area) > kScreenHeight ? kScreenHeight : Bottom(area);
    if (right <= left || bottom <= top)
        return;
    change_count++;
    SDL_Rect added = Rect(left, top, right - left, bottom - top);
    // Overlapping areas become their bounding box, which may overlap others in turn.
    for (int i = 0; i < changed_count;) {
        if (Overlap(changed[i], added)) {
            added = Bounds(changed[i], added);
            changed[i] = changed[--changed_count];
            i = 0;
        } else {
            i++;
        }
    }
    if (changed_count == kChangedAreas) {
        for (int i = 1; i < changed_count; i++)
            changed[0] = Bounds(changed[0], changed[i]);
        changed_count = 1;
        MarkScreenArea(added);
        return;
    }
    changed[changed_count++] = added;
}

void MarkWholeScreen() {
    MarkScreenArea({0, 0, kScreenWidth, kScreenHeight});
}

unsigned long ScreenChanges() {
    return change_count;
}

void ShowChangedAreas() {
    SDL_UpdateRects(gScreenSurface, changed_count, changed);
    changed_count = 0;
}

void ShowWholeScreen() {
    SDL_Flip(gScreenSurface);
    changed_count = 0;
}

void BlitTextSurface(int x, int y, const SDL_Rect *clip) {
    if (TextSurface != nullptr) {
        SDL_Rect place = Rect(x, y, 0, 0);
        SDL_Rect source = clip != nullptr ? *clip : SDL_Rect{0, 0, 0, 0};
        SDL_UpperBlit(TextSurface, clip != nullptr ? &source : nullptr, gScreenSurface, &place);
        MarkScreenArea(place);
        SDL_FreeSurface(TextSurface);
    }
    TextSurface = nullptr;
}
