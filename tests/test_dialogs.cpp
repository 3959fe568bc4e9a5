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

TEST(DialogBox, PlacesFramePanelAndTitle) {
    OpenDisplayOnce();
    FillBackdrop();
    DrawDialogBox(-1, -1, 150, 100, "Title");
    ExpectBoxAt(gScreenSurface, 85, 70, 150, 100);
    // The title's gray strip is as large as its rendering, centred on the panel at y 8.
    SurfacePtr rendered(TTF_RenderUTF8_Shaded(font, "Title", color_black, color_gray));
    int title_x = 85 + 5 + (140 - Width("Title")) / 2;
    EXPECT_TRUE(CornerAt(gScreenSurface, title_x, 78, kGray, kPanel));
    EXPECT_TRUE(ColorIs(gScreenSurface, title_x + rendered->w - 1, 78, kGray) &&
                ColorIs(gScreenSurface, title_x + rendered->w, 78, kPanel));
    EXPECT_TRUE(ColorIs(gScreenSurface, title_x, 78 + rendered->h, kPanel));
    FillBackdrop();
    DrawDialogBox(-1, -1, 201, 99, "");
    ExpectBoxAt(gScreenSurface, 59, 70, 201, 99);
    FillBackdrop();
    DrawDialogBox(-1, -1, 320, 240, "Full");
    ExpectBoxAt(gScreenSurface, 0, 0, 320, 240);
}

TEST(DialogBox, RevertBringsBackTheExactPixelsAndShowsThem) {
    OpenDisplayOnce();
    SDL_Surface *screen = gScreenSurface;
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) {
            SDL_Rect pixel = {static_cast<Sint16>(x), static_cast<Sint16>(y), 1, 1};
            SDL_FillRect(screen, &pixel, SDL_MapRGB(screen->format, x, y, x ^ y));
        }
    std::vector<Uint8> before(static_cast<Uint8 *>(screen->pixels),
                              static_cast<Uint8 *>(screen->pixels) + screen->pitch * 240);
    SurfacePtr copy = BackupScreenSurface();
    ASSERT_TRUE(copy);
    DrawDialogBox(-1, -1, 320, 240, "Over");
    ScriptClear();
    RevertScreenSurface(std::move(copy));
    EXPECT_EQ(FlipCount(), 1);
    EXPECT_EQ(0, memcmp(before.data(), screen->pixels, before.size()));
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

TEST(FoldString, StopsAtTheHeightTheTableAndTheRowSize) {
    OpenDisplayOnce();
    int saved_height = option.font_height;
    // A line begins only when its top edge lies above the height.
    option.font_height = 12;
    EXPECT_EQ(FoldInto(100, 25, "a\nb\nc\nd").rows, Rows({"a", "b", "c"}));
    EXPECT_EQ(FoldInto(100, 24, "a\nb\nc\nd").rows, Rows({"a", "b"}));
    option.font_height = 1;
    Fold feeds = FoldInto(100, 65535, std::string(100, '\n').c_str());
    option.font_height = saved_height;
    EXPECT_EQ(feeds.rows.size(), static_cast<size_t>(kFoldRows));
    EXPECT_TRUE(feeds.guard_intact);
    Fold narrow = FoldInto(30000, 100, std::string(100, 'i').c_str(), 1);
    EXPECT_EQ(narrow.rows, Rows({std::string(79, 'i')}));
    EXPECT_TRUE(narrow.guard_intact);
    // 26 three-byte characters fill 78 bytes; the 27th does not fit the row.
    std::string kana;
    for (int i = 0; i < 30; i++)
        kana += "\xE3\x81\x82";
    Fold wide = FoldInto(30000, 100, kana.c_str(), 1);
    EXPECT_EQ(wide.rows, Rows({kana.substr(0, 78)}));
}

// Every class of lead byte at both its ends: the character is taken whole, with exactly the bytes
// that its lead byte announces, and a letter after it follows on the same row.
TEST(FoldString, TakesEveryLeadByteClassWholeAtBothEnds) {
    OpenDisplayOnce();
    for (const char *character :
         {"\x01", "\x7F", "\xC0\x80", "\xC2\xA9", "\xDF\xBF", "\xE0\xA4\x85", "\xEF\xBF\xBD",
          "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xF7\xBF\xBF\xBF"}) {
        // Alone it ends at the terminator: one byte too many would drop it as cut short.
        for (const std::string &text : {std::string(character), std::string(character) + "x"})
            EXPECT_EQ(FoldInto(300, 100, text.c_str()).rows, Rows({text})) << text;
    }
}

TEST(FoldString, RefusesBytesThatBeginNoCharacter) {
    OpenDisplayOnce();
    ChildResult run = RunChild([] {
        FoldRow rows[kFoldRows];
        for (const char *text : {"a\x80", "\xBF", "ab\xF8", "\xFF"})
            printf("%d\n", FoldString(100, 100, text, rows, kFoldRows));
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "error: splitted letter\n-1\nerror: splitted letter\n-1\n"
                       "error: unknown letter\n-1\nerror: unknown letter\n-1\n");
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

TEST(PopupMessage, TooLargePopupsAreRefusedAndTouchNothing) {
    PopupRun message = RunPopup([] {}, [] { return PopupMessage(321, 80, "E", "t"); });
    PopupRun confirm =
        RunPopup([] { ScriptTap(SDLK_LCTRL, 1); }, [] { return PopupConfirm(150, 241, "t"); });
    for (const PopupRun &run : {message, confirm}) {
        EXPECT_EQ(run.result, 0);
        EXPECT_NE(run.out.find("error: too large popup\n"), std::string::npos) << run.out;
        EXPECT_EQ(run.flips, 0);
        EXPECT_EQ(run.restored, 1);
    }
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

TEST(PopupConfirm, PlacesItsButtonsAndRedrawsThemOnlyWhenTheChoiceChanges) {
    TempDir dir;
    std::string first = dir / "first.bmp", moved = dir / "moved.bmp";
    PopupRun run = RunPopup(
        [&] {
            ScriptCapture(-1, first);
            ScriptHold(SDLK_RIGHT, 1, 60);
            ScriptCapture(1, moved);
            ScriptTap(SDLK_LCTRL, 70);
        },
        [] { return PopupConfirm(150, 100, "Sure?"); });
    EXPECT_EQ(run.result, 1);
    // The first look, one change to Ok despite the repeats of the held RIGHT, the restore.
    EXPECT_EQ(run.flips, 3);
    EXPECT_EQ(run.texts, "Confirm\nCancel\n  Ok  \nCancel\n  Ok  \n|Sure?");

    OpenDisplayOnce();
    int y = 160 - option.font_height, ok_x = 220 - Width("  Ok  ");
    SurfacePtr before(LoadCapture(first)), after(LoadCapture(moved));
    ASSERT_TRUE(before && after);
    EXPECT_TRUE(CornerAt(before.get(), 100, y, kRed, kPanel));
    EXPECT_TRUE(CornerAt(before.get(), ok_x, y, kGray, kPanel));
    EXPECT_TRUE(ColorIs(before.get(), 219, y, kGray) && ColorIs(before.get(), 220, y, kPanel));
    EXPECT_TRUE(CornerAt(after.get(), 100, y, kGray, kPanel));
    EXPECT_TRUE(CornerAt(after.get(), ok_x, y, kRed, kPanel));
}
