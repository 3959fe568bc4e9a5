// Dialog drawing, text folding and the message and confirm popups, on the dummy display.
#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/globals.h"
#include "dialogs/dialogbox.h"
#include "tests/harness.h"

static const SDL_Color kFrame = {100, 100, 255, 0}, kPanel = {230, 230, 230, 0};
static const SDL_Color kBackdrop = {0, 255, 0, 0};
// Selected buttons are white on red, others and titles black on gray.
static const SDL_Color kRed = {255, 0, 0, 0}, kGray = {170, 170, 170, 0};

// The tests that neither exit nor read buttons draw in this process.
static void OpenDisplayOnce() {
    static bool open = OpenTestDisplay();
    ASSERT_TRUE(open);
}

static void FillBackdrop() {
    SDL_FillRect(gScreenSurface, nullptr,
                 SDL_MapRGB(gScreenSurface->format, kBackdrop.r, kBackdrop.g, kBackdrop.b));
}

static int Width(const char *text) {
    int width = 0;
    TTF_SizeUTF8(font, text, &width, nullptr);
    return width;
}

// True when (x, y) has colour inside and the pixels left of it and above it have outside, or
// lie off the screen: a rectangle of colour begins exactly there.
static bool CornerAt(SDL_Surface *surface, int x, int y, SDL_Color inside, SDL_Color outside) {
    auto out = [&](int at_x, int at_y) {
        return at_x < 0 || at_y < 0 || ColorIs(surface, at_x, at_y, outside);
    };
    return ColorIs(surface, x, y, inside) && out(x - 1, y) && out(x, y - 1);
}

// Expects across the row and down the column of the box at (left, top) just inside the frame, the
// backdrop up to the box, its 5-pixel frame, the panel, the frame and the backdrop.
static void ExpectBoxAt(SDL_Surface *screen, int left, int top, int width, int height) {
    auto expected = [](int at, int size) {
        return at < 0 || at >= size ? kBackdrop : at < 5 || at >= size - 5 ? kFrame : kPanel;
    };
    for (int x = std::max(left - 1, 0); x <= std::min(left + width, 319); x++)
        EXPECT_TRUE(ColorIs(screen, x, top + 6, expected(x - left, width))) << x;
    for (int y = std::max(top - 1, 0); y <= std::min(top + height, 239); y++)
        EXPECT_TRUE(ColorIs(screen, left + 6, y, expected(y - top, height))) << y;
}

// Folds text with a table one row longer than it says, to see that the extra row stays intact.
struct Fold {
    std::vector<std::string> rows;
    bool guard_intact = true;
};
static Fold FoldInto(int width, int height, const char *text, int row_count = kFoldRows) {
    std::vector<FoldRow> table(row_count + 1);
    memset(table[row_count], 'G', kFoldRowSize);
    Fold fold;
    int last = FoldString(width, height, text, table.data(), row_count);
    for (int i = 0; i <= last; i++)
        fold.rows.push_back(table[i]);
    for (size_t i = 0; i < kFoldRowSize; i++)
        fold.guard_intact = fold.guard_intact && table[row_count][i] == 'G';
    return fold;
}
using Rows = std::vector<std::string>;

TEST(FoldString, BreaksAtLineFeedsAndBeforeTheFirstCharacterThatNoLongerFits) {
    OpenDisplayOnce();
    int line = option.font_height, abc = Width("abc");
    EXPECT_EQ(FoldInto(100, 3 * line, "").rows, Rows({""}));
    EXPECT_EQ(FoldInto(100, 2 * line, "abc\n").rows, Rows({"abc", ""}));
    EXPECT_EQ(FoldInto(100, 3 * line, "a\n\nb").rows, Rows({"a", "", "b"}));
    // A row exactly as wide as the limit still fits.
    EXPECT_EQ(FoldInto(abc, 3 * line, "abcd").rows, Rows({"abc", "d"}));
    EXPECT_EQ(FoldInto(abc - 1, 3 * line, "abcd").rows[0], "ab");
    // A character wider than the limit never fits: empty rows until the height runs out.
    EXPECT_EQ(FoldInto(1, 3 * line, "ab").rows, Rows({"", "", ""}));
    // Two- and four-byte characters are whole; one cut short by the terminator is dropped.
    EXPECT_EQ(FoldInto(100, 100, "\xC3\xA9\xF0\x9F\x98\x80").rows,
              Rows({"\xC3\xA9\xF0\x9F\x98\x80"}));
    EXPECT_EQ(FoldInto(100, 100, "ab\xE3\x81\0zz").rows, Rows({"ab"}));
}

// What a popup run in a child did: its result, the passes it sampled, its flips, the texts it
// drew (shaded, then "|" and the folded ones), and whether the screen ended as it began.
struct PopupRun {
    int result = -1, passes = 0, flips = 0, restored = 0;
    std::string texts, out;
};
static PopupRun RunPopup(const std::function<void()> &script, const std::function<int()> &popup) {
    PopupRun run;
    ChildResult child = RunChild([&] {
        if (!OpenTestDisplay())
            return 98;
        FillBackdrop();
        SurfacePtr before = BackupScreenSurface();
        ScriptClear();
        script();
        ScriptLimit(200);
        TakeDrawnText();
        TakeShadedText();
        int result = popup();
        bool restored =
            !memcmp(before->pixels, gScreenSurface->pixels, gScreenSurface->pitch * 240);
        printf("\x1e%d %d %d %d\n%s|%s", result, ScriptPass(), FlipCount(), restored,
               TakeShadedText().c_str(), TakeDrawnText().c_str());
        return 0;
    });
    EXPECT_EQ(child.status, 0) << child.out;
    run.out = child.out;
    size_t record = child.out.find('\x1e');
    if (record != std::string::npos && sscanf(&child.out[record + 1], "%d %d %d %d", &run.result,
                                              &run.passes, &run.flips, &run.restored) == 4)
        run.texts = child.out.substr(child.out.find('\n', record) + 1);
    return run;
}

TEST(PopupMessage, DrawsItsBoxTextAndButtonAndClosesOnlyOnAOrB) {
    TempDir dir;
    std::string shown = dir / "shown.bmp";
    // X at pass 3 leaves it open; A at pass 8 closes it.
    PopupRun on_a = RunPopup(
        [&] {
            ScriptTap(SDLK_SPACE, 3);
            ScriptTap(SDLK_LCTRL, 8);
            ScriptCapture(-1, shown);
        },
        [] { return PopupMessage(120, 80, "Error", "hello"); });
    EXPECT_EQ(on_a.result, 1);
    EXPECT_EQ(on_a.passes, 9);
    EXPECT_EQ(on_a.flips, 2);
    EXPECT_EQ(on_a.restored, 1);
    EXPECT_EQ(on_a.texts, "Error\n  Ok  \n|hello");
    PopupRun on_b = RunPopup([] { ScriptTap(SDLK_LALT, 4); },
                             [] { return PopupMessage(150, 100, "Note", "x"); });
    EXPECT_EQ(on_b.passes, 5);

    OpenDisplayOnce();
    SurfacePtr screen(LoadCapture(shown));
    ASSERT_TRUE(screen);
    ExpectBoxAt(screen.get(), 100, 80, 120, 80);
    int line = option.font_height;
    EXPECT_TRUE(
        CornerAt(screen.get(), 105 + (110 - Width("  Ok  ")) / 2, 150 - line, kRed, kPanel));
}

TEST(PopupConfirm, AnswersByTheSelectedButton) {
    // A at once; RIGHT then A; RIGHT, LEFT then A; RIGHT then B.
    const std::vector<std::pair<std::vector<SDLKey>, int>> cases = {
        {{SDLK_LCTRL}, 0},
        {{SDLK_RIGHT, SDLK_LCTRL}, 1},
        {{SDLK_RIGHT, SDLK_LEFT, SDLK_LCTRL}, 0},
        {{SDLK_RIGHT, SDLK_LALT}, 0}};
    for (const auto &c : cases) {
        PopupRun run = RunPopup(
            [&] {
                for (size_t i = 0; i < c.first.size(); i++)
                    ScriptTap(c.first[i], static_cast<int>(1 + 2 * i));
            },
            [] { return PopupConfirm(150, 100, "Sure?"); });
        EXPECT_EQ(run.result, c.second) << c.first.size();
        EXPECT_EQ(run.restored, 1);
    }
}
