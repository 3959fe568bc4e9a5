// Dialog drawing, text folding and the message and confirm popups, on the dummy display.
#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/globals.h"
#include "dialogs/dialogbox.h"
#include "input/input.h"
#include "tests/harness.h"

static const SDL_Color kFrame = {100, 100, 255, 0};
static const SDL_Color kPanel = {230, 230, 230, 0};
static const SDL_Color kBackdrop = {0, 255, 0, 0};

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

// True when (x, y) has colour inside and the pixel left of it and the one above it have outside:
// a rectangle of colour begins exactly there.
static bool CornerAt(SDL_Surface *surface, int x, int y, SDL_Color inside, SDL_Color outside) {
    return ColorIs(surface, x, y, inside) && ColorIs(surface, x - 1, y, outside) &&
           ColorIs(surface, x, y - 1, outside);
}

// True when the box of the given size has its frame and panel at (left, top) on the screen.
static void ExpectBoxAt(int left, int top, int width, int height) {
    SDL_Surface *screen = gScreenSurface;
    int right = left + width - 1;
    int bottom = top + height - 1;
    EXPECT_TRUE(ColorIs(screen, left, top, kFrame));
    EXPECT_TRUE(ColorIs(screen, right, bottom, kFrame));
    EXPECT_TRUE(ColorIs(screen, left + 4, top + 4, kFrame));
    EXPECT_TRUE(CornerAt(screen, left + 5, top + 5, kPanel, kFrame));
    EXPECT_TRUE(ColorIs(screen, right - 5, bottom - 5, kPanel));
    EXPECT_TRUE(ColorIs(screen, right - 4, bottom - 4, kFrame));
    if (left > 0) {
        EXPECT_TRUE(ColorIs(screen, left - 1, top, kBackdrop));
    }
    if (top > 0) {
        EXPECT_TRUE(ColorIs(screen, left, top - 1, kBackdrop));
    }
    if (right < 319) {
        EXPECT_TRUE(ColorIs(screen, right + 1, bottom, kBackdrop));
    }
    if (bottom < 239) {
        EXPECT_TRUE(ColorIs(screen, right, bottom + 1, kBackdrop));
    }
}

TEST(DialogBox, PlacesFramePanelAndTitle) {
    OpenDisplayOnce();
    FillBackdrop();
    DrawDialogBox(-1, -1, 150, 100, "Title");
    ExpectBoxAt(85, 70, 150, 100);
    // The title's gray strip is as large as its rendering, centred on the panel at y 8.
    SurfacePtr rendered(TTF_RenderUTF8_Shaded(font, "Title", color_black, color_gray));
    int title_x = 85 + 5 + (140 - Width("Title")) / 2;
    EXPECT_TRUE(CornerAt(gScreenSurface, title_x, 78, color_gray, kPanel));
    EXPECT_TRUE(ColorIs(gScreenSurface, title_x + rendered->w - 1, 78, color_gray));
    EXPECT_TRUE(ColorIs(gScreenSurface, title_x + rendered->w, 78, kPanel));
    EXPECT_TRUE(ColorIs(gScreenSurface, title_x, 78 + rendered->h, kPanel));

    FillBackdrop();
    DrawDialogBox(-1, -1, 201, 99, "");
    ExpectBoxAt(59, 70, 201, 99);
    FillBackdrop();
    DrawDialogBox(-1, -1, 320, 240, "Full");
    ExpectBoxAt(0, 0, 320, 240);
    // Only -1 centres: other negative places are used as they are.
    FillBackdrop();
    DrawDialogBox(-5, -2, 50, 40, "");
    EXPECT_TRUE(ColorIs(gScreenSurface, 0, 2, kFrame));
    EXPECT_TRUE(ColorIs(gScreenSurface, 0, 3, kPanel));
    EXPECT_TRUE(ColorIs(gScreenSurface, 44, 37, kFrame));
    EXPECT_TRUE(ColorIs(gScreenSurface, 45, 37, kBackdrop));
    EXPECT_TRUE(ColorIs(gScreenSurface, 44, 38, kBackdrop));
}

TEST(DialogBox, TitleWiderThanThePanelIsCutAtTheBoxEdges) {
    OpenDisplayOnce();
    FillBackdrop();
    DrawDialogBox(100, 100, 40, 40, "A title far wider than its box");
    EXPECT_TRUE(ColorIs(gScreenSurface, 100, 108, color_gray));
    EXPECT_TRUE(ColorIs(gScreenSurface, 139, 108, color_gray));
    EXPECT_TRUE(ColorIs(gScreenSurface, 99, 108, kBackdrop));
    EXPECT_TRUE(ColorIs(gScreenSurface, 140, 108, kBackdrop));
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
    EXPECT_EQ(copy->w, 320);
    EXPECT_EQ(copy->h, 240);
    EXPECT_EQ(copy->format->BitsPerPixel, screen->format->BitsPerPixel);
    DrawDialogBox(-1, -1, 320, 240, "Over");
    ScriptClear();
    RevertScreenSurface(std::move(copy));
    EXPECT_EQ(FlipCount(), 1);
    EXPECT_EQ(0, memcmp(before.data(), screen->pixels, before.size()));
}

TEST(DialogBox, DrawTextPutsFoldedLinesOneLineHeightApart) {
    OpenDisplayOnce();
    SDL_Surface *screen = gScreenSurface;
    FillBackdrop();
    DrawText({95, 100, 130, 60}, "ab\ncd");
    SurfacePtr drawn(BackupScreenSurface());
    FillBackdrop();
    TextSurface = TTF_RenderUTF8_Blended(font, "ab", color_black);
    BlitTextSurface(95, 100, nullptr);
    TextSurface = TTF_RenderUTF8_Blended(font, "cd", color_black);
    BlitTextSurface(95, 100 + option.font_height, nullptr);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(0, memcmp(drawn->pixels, screen->pixels, screen->pitch * 240));
}

// Folds text with a table one row longer than it says, to see that the extra row stays intact.
struct Fold {
    int last;
    std::vector<std::string> rows;
    bool guard_intact;
};
static Fold FoldInto(int width, int height, const char *text, int row_count = kFoldRows) {
    std::vector<FoldRow> table(row_count + 1);
    memset(table[row_count], 'G', kFoldRowSize);
    Fold fold;
    fold.last = FoldString(width, height, text, table.data(), row_count);
    for (int i = 0; i <= fold.last; i++)
        fold.rows.push_back(table[i]);
    fold.guard_intact = true;
    for (size_t i = 0; i < kFoldRowSize; i++)
        fold.guard_intact = fold.guard_intact && table[row_count][i] == 'G';
    return fold;
}
using Rows = std::vector<std::string>;

TEST(FoldString, BreaksAtLineFeedsAndBeforeTheFirstCharacterThatNoLongerFits) {
    OpenDisplayOnce();
    int line = option.font_height;
    EXPECT_EQ(FoldInto(100, 3 * line, "").rows, Rows({""}));
    EXPECT_EQ(FoldInto(100, 2 * line, "abc\n").rows, Rows({"abc", ""}));
    EXPECT_EQ(FoldInto(100, 3 * line, "a\n\nb").rows, Rows({"a", "", "b"}));
    // A row exactly as wide as the limit still fits.
    int abc = Width("abc");
    EXPECT_EQ(FoldInto(abc, 3 * line, "abcd").rows, Rows({"abc", "d"}));
    EXPECT_EQ(FoldInto(abc - 1, 3 * line, "abcd").rows[0], "ab");
    // A character wider than the limit never fits: empty rows until the height runs out.
    EXPECT_EQ(FoldInto(1, 3 * line, "ab").rows, Rows({"", "", ""}));
}

TEST(FoldString, LinesBeginOnlyAboveTheHeight) {
    OpenDisplayOnce();
    int saved_height = option.font_height;
    option.font_height = 12;
    EXPECT_EQ(FoldInto(100, 25, "a\nb\nc\nd").rows, Rows({"a", "b", "c"}));
    EXPECT_EQ(FoldInto(100, 24, "a\nb\nc\nd").rows, Rows({"a", "b"}));
    EXPECT_EQ(FoldInto(100, 12, "a\nb").rows, Rows({"a"}));
    EXPECT_EQ(FoldInto(100, 5, "a\nb").rows, Rows({"a"}));
    option.font_height = saved_height;
}

TEST(FoldString, StopsAtTheTableAndRowBounds) {
    OpenDisplayOnce();
    int saved_height = option.font_height;
    option.font_height = 1;
    Fold feeds = FoldInto(100, 65535, std::string(100, '\n').c_str());
    EXPECT_EQ(feeds.last, kFoldRows - 1);
    EXPECT_TRUE(feeds.guard_intact);
    Fold too_wide = FoldInto(0, 65535, "abc", 5);
    EXPECT_EQ(too_wide.last, 4);
    EXPECT_TRUE(too_wide.guard_intact);
    option.font_height = saved_height;

    Fold narrow = FoldInto(30000, 100, std::string(100, 'i').c_str(), 1);
    EXPECT_EQ(narrow.last, 0);
    EXPECT_EQ(narrow.rows[0], std::string(79, 'i'));
    EXPECT_TRUE(narrow.guard_intact);
    // 26 three-byte characters fill 78 bytes; the 27th does not fit the row.
    std::string kana;
    for (int i = 0; i < 30; i++)
        kana += "\xE3\x81\x82";
    Fold wide = FoldInto(30000, 100, kana.c_str(), 1);
    EXPECT_EQ(wide.rows[0], kana.substr(0, 78));
    EXPECT_TRUE(wide.guard_intact);
}

TEST(FoldString, DropsACharacterCutShortByTheTerminator) {
    OpenDisplayOnce();
    const char text[] = "ab\xE3\x81\0zz";
    Fold fold = FoldInto(100, 100, text);
    EXPECT_EQ(fold.last, 0);
    EXPECT_EQ(fold.rows[0], "ab");
}

TEST(FoldString, RefusesBytesThatBeginNoCharacter) {
    OpenDisplayOnce();
    ChildResult run = RunChild([] {
        FoldRow rows[kFoldRows];
        printf("%d\n", FoldString(100, 100, "a\x80", rows, kFoldRows));
        printf("%d\n", FoldString(100, 100, "\xBF", rows, kFoldRows));
        printf("%d %s\n", FoldString(100, 100, "ab\xF8", rows, kFoldRows), rows[0]);
        printf("%d\n", FoldString(100, 100, "\xFF", rows, kFoldRows));
        // Drawing such a text draws nothing.
        FillBackdrop();
        SurfacePtr before = BackupScreenSurface();
        DrawText({10, 10, 100, 100}, "ok\x80");
        return memcmp(before->pixels, gScreenSurface->pixels, gScreenSurface->pitch * 240) ? 1 : 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "error: splitted letter\n-1\nerror: splitted letter\n-1\n"
                       "error: unknown letter\n-1 ab\nerror: unknown letter\n-1\n"
                       "error: splitted letter\n");
}

// What a popup run in a child did: its result, the passes it sampled and what it drew.
struct PopupRun {
    int result = -1;
    int passes = 0;
    int flips = 0;
    std::string texts;
    std::string out;
};
static PopupRun RunPopup(const std::function<void()> &script, const std::function<int()> &popup) {
    PopupRun run;
    ChildResult child = RunChild([&] {
        if (!OpenTestDisplay())
            return 98;
        FillBackdrop();
        ScriptClear();
        script();
        ScriptLimit(200);
        TakeDrawnText();
        TakeShadedText();
        int result = popup();
        printf("\x1e%d %d %d\n%s|%s", result, ScriptPass(), FlipCount(), TakeShadedText().c_str(),
               TakeDrawnText().c_str());
        return 0;
    });
    EXPECT_EQ(child.status, 0) << child.out;
    size_t record = child.out.find('\x1e');
    if (record == std::string::npos)
        return run;
    run.out = child.out.substr(0, record);
    std::string rest = child.out.substr(record + 1);
    sscanf(rest.c_str(), "%d %d %d", &run.result, &run.passes, &run.flips);
    run.texts = rest.substr(rest.find('\n') + 1);
    return run;
}

TEST(PopupMessage, DrawsItsBoxTextAndButtonAndClosesOnlyOnAOrB) {
    TempDir dir;
    std::string shown = dir / "shown.bmp";
    std::string closed = dir / "closed.bmp";
    PopupRun on_a = RunPopup(
        [&] {
            ScriptTap(SDLK_SPACE, 3);
            ScriptTap(SDLK_LCTRL, 8);
            ScriptCapture(-1, shown);
            ScriptCapture(8, closed);
        },
        [] { return PopupMessage(120, 80, "Error", "hello"); });
    EXPECT_EQ(on_a.result, 1);
    EXPECT_EQ(on_a.passes, 9);
    EXPECT_EQ(on_a.flips, 2);
    EXPECT_EQ(on_a.texts, "Error\n  Ok  \n|hello");

    OpenDisplayOnce();
    SurfacePtr screen(LoadCapture(shown));
    ASSERT_TRUE(screen);
    EXPECT_TRUE(ColorIs(screen.get(), 100, 80, kFrame));
    EXPECT_TRUE(ColorIs(screen.get(), 219, 159, kFrame));
    EXPECT_TRUE(ColorIs(screen.get(), 99, 80, kBackdrop));
    int line = option.font_height;
    int ok_x = 105 + (110 - Width("  Ok  ")) / 2;
    EXPECT_TRUE(CornerAt(screen.get(), ok_x, 150 - line, color_red, kPanel));
    // The text's line looks as if drawn alone on the panel at (110, 90 + font_height) of a screen
    // of the same format.
    SDL_Rect text_line = {106, static_cast<Sint16>(89 + line), 108, static_cast<Uint16>(line + 2)};
    SurfacePtr expected(SDL_ConvertSurface(screen.get(), gScreenSurface->format, 0));
    SDL_FillRect(expected.get(), &text_line,
                 SDL_MapRGB(expected->format, kPanel.r, kPanel.g, kPanel.b));
    SurfacePtr hello(TTF_RenderUTF8_Blended(font, "hello", color_black));
    SDL_Rect text_place = {110, static_cast<Sint16>(90 + line), 0, 0};
    SDL_BlitSurface(hello.get(), nullptr, expected.get(), &text_place);
    int differing = 0;
    for (int y = text_line.y; y < text_line.y + text_line.h; y++)
        for (int x = text_line.x; x < text_line.x + text_line.w; x++) {
            SDL_Color want = ColorAt(expected.get(), x, y);
            differing += !ColorIs(screen.get(), x, y, want);
        }
    EXPECT_EQ(differing, 0);
    SurfacePtr after(LoadCapture(closed));
    ASSERT_TRUE(after);
    EXPECT_TRUE(ColorIs(after.get(), 100, 80, kBackdrop));
    EXPECT_TRUE(ColorIs(after.get(), ok_x, 150 - line, kBackdrop));

    PopupRun on_b = RunPopup([] { ScriptTap(SDLK_LALT, 4); },
                             [] { return PopupMessage(150, 100, "Note", "x"); });
    EXPECT_EQ(on_b.result, 1);
    EXPECT_EQ(on_b.passes, 5);
}

// True when the output's last line, after what Init logged, is line.
static bool EndsWithLine(const std::string &out, const std::string &line) {
    size_t start = out.find('\n');
    return start != std::string::npos && out.substr(start + 1) == line + "\n";
}

TEST(PopupMessage, TooLargePopupsDrawNothing) {
    for (auto size : {std::make_pair(321, 80), std::make_pair(120, 241)}) {
        PopupRun run =
            RunPopup([] {}, [&] { return PopupMessage(size.first, size.second, "E", "t"); });
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(EndsWithLine(run.out, "error: too large popup")) << run.out;
        EXPECT_EQ(run.flips, 0);
        EXPECT_EQ(run.texts, "|");
    }
    PopupRun confirm =
        RunPopup([] { ScriptTap(SDLK_LCTRL, 1); }, [] { return PopupConfirm(150, 241, "t"); });
    EXPECT_EQ(confirm.result, 0);
    EXPECT_EQ(confirm.passes, 0);
    EXPECT_TRUE(EndsWithLine(confirm.out, "error: too large popup")) << confirm.out;

    TempDir dir;
    std::string shown = dir / "full.bmp";
    PopupRun full = RunPopup(
        [&] {
            ScriptTap(SDLK_LCTRL, 2);
            ScriptCapture(-1, shown);
        },
        [] { return PopupMessage(320, 240, "Full", "t"); });
    EXPECT_EQ(full.result, 1);
    OpenDisplayOnce();
    SurfacePtr screen(LoadCapture(shown));
    ASSERT_TRUE(screen);
    EXPECT_TRUE(ColorIs(screen.get(), 0, 0, kFrame));
    EXPECT_TRUE(ColorIs(screen.get(), 319, 239, kFrame));
}

// PopupConfirm's answer to the scripted keys, or -1 when it did not return.
static int ConfirmAnswer(const std::function<void()> &script) {
    return RunPopup(script, [] { return PopupConfirm(150, 100, "Sure?"); }).result;
}

TEST(PopupConfirm, AnswersByTheSelectedButton) {
    EXPECT_EQ(ConfirmAnswer([] { ScriptTap(SDLK_LCTRL, 0); }), 0);
    EXPECT_EQ(ConfirmAnswer([] {
                  ScriptTap(SDLK_RIGHT, 1);
                  ScriptTap(SDLK_LCTRL, 3);
              }),
              1);
    EXPECT_EQ(ConfirmAnswer([] {
                  ScriptTap(SDLK_RIGHT, 1);
                  ScriptTap(SDLK_LEFT, 3);
                  ScriptTap(SDLK_LCTRL, 5);
              }),
              0);
    EXPECT_EQ(ConfirmAnswer([] {
                  ScriptTap(SDLK_RIGHT, 1);
                  ScriptTap(SDLK_LALT, 3);
              }),
              0);
    // Within one pass LEFT is seen before RIGHT, and B after A.
    EXPECT_EQ(ConfirmAnswer([] {
                  ScriptTap(SDLK_LEFT, 1);
                  ScriptTap(SDLK_RIGHT, 1);
                  ScriptTap(SDLK_LCTRL, 1);
              }),
              1);
    EXPECT_EQ(ConfirmAnswer([] {
                  ScriptTap(SDLK_RIGHT, 1);
                  ScriptTap(SDLK_LCTRL, 3);
                  ScriptTap(SDLK_LALT, 3);
              }),
              0);
}

TEST(PopupConfirm, AnAHeldWhenItOpensDoesNotAnswer) {
    PopupRun run = RunPopup(
        [] {
            ScriptHold(SDLK_LCTRL, 0, 5);
            ScriptTap(SDLK_RIGHT, 3);
            ScriptTap(SDLK_LCTRL, 8);
            GetInput();
        },
        [] { return PopupConfirm(150, 100, "Sure?"); });
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.passes, 9);
}

TEST(PopupConfirm, RedrawsButtonsOnlyWhenTheChoiceChanges) {
    TempDir dir;
    std::string first = dir / "first.bmp";
    std::string moved = dir / "moved.bmp";
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
    int line = option.font_height;
    int ok_x = 220 - Width("  Ok  ");
    SurfacePtr before(LoadCapture(first));
    SurfacePtr after(LoadCapture(moved));
    ASSERT_TRUE(before && after);
    EXPECT_TRUE(CornerAt(before.get(), 100, 160 - line, color_red, kPanel));
    EXPECT_TRUE(CornerAt(before.get(), ok_x, 160 - line, color_gray, kPanel));
    EXPECT_TRUE(ColorIs(before.get(), 219, 160 - line, color_gray));
    EXPECT_TRUE(ColorIs(before.get(), 220, 160 - line, kPanel));
    EXPECT_TRUE(CornerAt(after.get(), 100, 160 - line, color_gray, kPanel));
    EXPECT_TRUE(CornerAt(after.get(), ok_x, 160 - line, color_red, kPanel));
}
