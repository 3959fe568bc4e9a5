// The popups, the folded text, the button input, the line-input dialog with its on-screen keyboard,
// and the file and disk information popups (with stand-in df and du).
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/browser.h"
#include "app/infopopups.h"
#include "common/globals.h"
#include "dialogs/dialogbox.h"
#include "dialogs/lineinput.h"
#include "input/input.h"
#include "keyboard/dingux_vexpad.h"
#include "tests/harness.h"

static const SDL_Color kFrame = {100, 100, 255, 0}, kPanel = {230, 230, 230, 0};
static const SDL_Color kBackdrop = {0, 255, 0, 0};
// Selected buttons are white on red, others and titles black on gray.
static const SDL_Color kRed = {255, 0, 0, 0};

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

// Starts from all buttons up, with the state of earlier tests forgotten.
static void ResetButtons() {
    ScriptClear();
    Uint8 *keys = SDL_GetKeyState(nullptr);
    for (int button = 0; button < BTN_COUNT; button++)
        keys[button_key[button]] = 0;
    GetInput();
    ScriptClear();
}

TEST(Input, WaitKeyReleaseLetsAnEdgeButtonHeldFromBefore) {
    ResetButtons();
    ScriptHold(SDLK_LCTRL, 0, 50);
    GetInput();
    WaitKeyRelease();
    EXPECT_EQ(ScriptPass(), 2);
    EXPECT_EQ(SDL_GetKeyState(nullptr)[SDLK_LCTRL], 1);
}

// Types the character of the cell that the directions select with the face key. On page 0: X
// backspace, Y 'm', A 'n', UP+LEFT with Y 'a' and with B 'b'; L switches to page 2, where B types
// clear (12) with LEFT held and enter (13) with RIGHT held.
static void Type(KeyPlan &plan, std::vector<SDLKey> directions, SDLKey face) {
    for (SDLKey direction : directions)
        ScriptTap(direction, plan.pass);
    plan.Tap(face);
}

struct Session {
    int status = -1, returned = -1, guard_intact = 0;
    std::string out, result, title;
    std::vector<std::string> fields; // "shown|cursor", each state once, in the order shown
};

static const char kUntouched[] = "untouched";

// Opens the dialog (capacity 256, 35 bytes shown) in a child over a green screen, with the keys
// that plan_keys scripts and then START, and reports what it showed and handed back. With
// captures set, the screen of the first and of the finishing pass are saved there.
static Session RunDialog(const std::function<void(KeyPlan &)> &plan_keys,
                         const std::string &initial = "", int width = 210, int height = 70,
                         std::string start_dir = "", const std::string &captures = "") {
    const int capacity = 256;
    std::string graphics = ZORVEL_GRAPHICS_DIR;
    if (start_dir.empty())
        start_dir = graphics.substr(0, graphics.rfind('/'));
    ChildResult run = RunChild([&] {
        if (!OpenTestDisplay())
            return 97;
        CopyString(option.start_dir, sizeof option.start_dir, start_dir.c_str());
        SDL_FillRect(gScreenSurface, nullptr, SDL_MapRGB(gScreenSurface->format, 0, 255, 0));
        memset(SDL_GetKeyState(nullptr), 0, SDLK_LAST);
        ScriptClear();
        KeyPlan plan;
        plan.Wait(2);
        if (plan_keys)
            plan_keys(plan);
        plan.Tap(kStart);
        ScriptLimit(plan.pass + 20);
        if (!captures.empty()) {
            ScriptCapture(1, captures + "/open.bmp");
            ScriptCapture(plan.pass - 2, captures + "/closed.bmp");
        }
        TakeShadedText();
        // Bytes past capacity + 1 must keep their '#'.
        std::vector<char> result(capacity + 1 + 64, '#');
        memcpy(result.data(), kUntouched, sizeof kUntouched);
        int returned =
            LineInput(width, height, capacity, 35, "title", initial.c_str(), result.data());
        bool intact = std::all_of(result.begin() + capacity + 1, result.end(),
                                  [](char byte) { return byte == '#'; });
        printf("returned %d guard %d\n%.*s\n%s", returned, intact, capacity + 1, result.data(),
               TakeShadedText().c_str());
        return 0;
    });
    Session session{run.status, -1, 0, run.out, "", "", {}};
    size_t at = run.out.find("returned ");
    if (at == std::string::npos)
        return session;
    std::istringstream lines(run.out.substr(at));
    lines.ignore(9) >> session.returned;
    lines.ignore(7) >> session.guard_intact;
    lines.ignore(1);
    std::getline(lines, session.result);
    std::getline(lines, session.title);
    for (std::string shown, cursor; std::getline(lines, shown) && std::getline(lines, cursor);)
        if (session.fields.empty() || session.fields.back() != shown + "|" + cursor)
            session.fields.push_back(shown + "|" + cursor);
    return session;
}

using Fields = std::vector<std::string>;

TEST(LineInput, AFullLineTakesOnePendingCharacterThatBackspaceRemovesFirst) {
    const std::string full = std::string(254, 'm') + "n", shown = full.substr(220);
    for (bool erase : {false, true}) {
        Session session = RunDialog([&](KeyPlan &plan) {
            plan.Tap(kY, 254);
            plan.Tap(kA);                 // the 255th byte
            Type(plan, {kUp, kLeft}, kY); // pending
            if (erase)
                plan.Tap(kX, 2);
            else
                Type(plan, {kUp, kLeft}, kB); // in its place
        });
        ASSERT_EQ(session.status, 0) << session.out;
        EXPECT_TRUE(session.guard_intact);
        EXPECT_EQ(session.result, erase ? full.substr(0, 254) : full + "b");
        // The field grows to 35 bytes and then scrolls; the pending character stays in the cursor.
        Fields fields;
        for (int length = 0; length <= 35; length++)
            fields.push_back(std::string(length, 'm') + "| ");
        Fields tail = erase ? Fields{shown + "| ", shown + "|a", shown + "| ", fields.back()}
                            : Fields{shown + "| ", shown + "|a", shown + "|b"};
        fields.insert(fields.end(), tail.begin(), tail.end());
        EXPECT_EQ(session.fields, fields);
    }
}

TEST(LineInput, ClearBackspaceOnNothingAndTheEnterCodeFinishes) {
    Session session = RunDialog(
        [](KeyPlan &plan) {
            plan.Tap(kL);
            Type(plan, {kLeft}, kB); // clear
            plan.Tap(kL);
            plan.Tap(kX);
            plan.Tap(kY);
            plan.Tap(kL);
            Type(plan, {kRight}, kB); // enter
            plan.Tap(kL);
            plan.Tap(kY);
        },
        "abc");
    ASSERT_EQ(session.status, 0) << session.out;
    EXPECT_EQ(session.returned, 1);
    EXPECT_EQ(session.result, "m");
    EXPECT_EQ(session.fields, (Fields{"abc| ", "| ", "m| "}));
}

// The 320x240x16 dummy display; opening it clears the key table, so keys are set afterwards.
static SDL_Surface *Display() {
    if (SDL_GetVideoSurface() == nullptr) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        SDL_Init(SDL_INIT_VIDEO);
        SDL_SetVideoMode(kScreenWidth, kScreenHeight, kScreenDepth, SDL_SWSURFACE);
    }
    return SDL_GetVideoSurface();
}

// Sets exactly these keys down and reads the keyboard once.
static int ReadWith(const std::vector<SDLKey> &keys) {
    Uint8 *table = SDL_GetKeyState(nullptr);
    memset(table, 0, SDLK_LAST);
    for (SDLKey key : keys)
        table[key] = 1;
    return vexpad_readInput();
}

// A fresh press of these keys after a read with everything up.
static int Press(const std::vector<SDLKey> &keys) {
    ReadWith({});
    return ReadWith(keys);
}

// The page shown, told by what Y types in the centre cell.
static int Page() {
    int code = Press({kY});
    return code == 'm' ? 0 : code == 'M' ? 1 : code == 25 ? 2 : 3;
}

static void GoToPage(int page) {
    for (int tries = 0; tries < 4 && Page() != page; tries++)
        Press({Page() / 2 != page / 2 ? kL : kR});
    ReadWith({});
}

// Each test starts, and leaves the keyboard, on its first page with every key up.
class KeyboardInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ScriptClear();
        Display();
        GoToPage(0);
    }
    void TearDown() override { GoToPage(0); }
};

TEST_F(KeyboardInput, LAndRSwitchPagesOncePerPressButNotWithAFaceKey) {
    EXPECT_EQ(Press({kY, kL}), 'm');
    EXPECT_EQ(Press({kR, kA}), 'n');
    EXPECT_EQ(Press({kL}), 0);
    ReadWith({kL});
    EXPECT_EQ(Page(), 2);
    // L switches letters and numbers, R the shift; both at once count as L.
    const std::pair<std::vector<SDLKey>, int> steps[] = {
        {{kR}, 3}, {{kL}, 1}, {{kR}, 0}, {{kL, kR}, 2}};
    for (const auto &step : steps) {
        Press(step.first);
        EXPECT_EQ(Page(), step.second);
    }
}

// Test images: each page's plain and alternate image one colour (tile -1), each of the nine
// tiles of a sheet its own.
static SDL_Color TestColor(int index, int tile, int variant = 0) {
    return {static_cast<Uint8>(8 * (index + 1)),
            static_cast<Uint8>(128 * variant + 12 * (tile + 1)), 96, 0};
}

static void FillWith(SDL_Surface *surface, int x, int y, int size, SDL_Color color) {
    SDL_Rect place = {static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(size),
                      static_cast<Uint16>(size)};
    SDL_FillRect(surface, &place, SDL_MapRGB(surface->format, color.r, color.g, color.b));
}

// Writes the 18 images into dir as BMP content under their own names.
static void WriteTestImages(const std::string &dir, int variant) {
    for (int index = 0; index < kKeyboardImages; ++index) {
        bool sheet = index % kImagesPerPage == kHighlightSheet;
        int size = sheet ? kKeyboardCells * kTileSize : kKeyboardSize;
        SurfacePtr image(
            SDL_CreateRGBSurface(SDL_SWSURFACE, size, size, 24, 0xff0000, 0xff00, 0xff, 0));
        for (int tile = 0; tile < kKeyboardCells * kKeyboardCells; ++tile)
            FillWith(image.get(), kTileSize * (tile % 3), kTileSize * (tile / 3), kTileSize,
                     TestColor(index, sheet ? tile : -1, variant));
        SDL_SaveBMP(image.get(), (dir + guiStrings[index]).c_str());
    }
}

constexpr SDL_Color kBackground = {0, 252, 0, 0};

// A fresh set of test images, loaded, with the keyboard's corner at (160, 80) over a backdrop.
class KeyboardImages : public KeyboardInput {
  protected:
    void SetUp() override {
        KeyboardInput::SetUp();
        WriteTestImages(images.path, 0);
        vexpad_free();
        vexpad_load((images.path + "/").c_str());
        vexpad_set_screen(screen);
        vexpad_moveTo(-10, -10);
        FillWith(screen, 0, 0, kScreenWidth, kBackground);
    }
    void TearDown() override {
        vexpad_free();
        KeyboardInput::TearDown();
    }
    // The pixel at (x, y) from the keyboard's corner, and a colour as the screen stores it.
    Uint32 At(int x, int y) { return Of(ColorAt(screen, 160 + x, 80 + y)); }
    Uint32 Of(SDL_Color color) { return SDL_MapRGB(screen->format, color.r, color.g, color.b); }
    TempDir images;
    SDL_Surface *screen = Display();
};

class InfoPopup : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(OpenTestDisplay());
        ScriptClear();
        ScriptLimit(1000);
        GetInput();
        TakeDrawnText();
    }
    void TearDown() override {
        ScriptClear();
        CloseTestDisplay();
    }
    // Closes the popup with A a few passes after it opens.
    void CloseSoon() { ScriptTap(SDLK_LCTRL, ScriptPass() + 3); }
};

TEST_F(InfoPopup, FileTimeIsUtcWhateverTheZone) {
    TempDir dir;
    std::string path = dir / "notes.txt";
    WriteFile(path, "hello");
    // 2024-03-05 09:07:30 UTC.
    struct timespec times[2] = {{1709629650, 0}, {1709629650, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    CloseSoon();
    EXPECT_EQ(PopupFileInfo(200, 130, path.c_str()), 1);
    EXPECT_EQ(TakeDrawnText(), path + " 5 bytes 2024-03-05 09:07");
    unsetenv("TZ");
    tzset();

    // 2040-01-01 00:00 UTC: past what a 32-bit time holds.
    std::string future = dir / "future";
    WriteFile(future, "");
    struct timespec later[2] = {{2208988800, 0}, {2208988800, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, future.c_str(), later, 0), 0);
    CloseSoon();
    PopupFileInfo(200, 130, future.c_str());
    EXPECT_EQ(TakeDrawnText(), future + " 0 bytes 2040-01-01 00:00");

    std::string empty = dir / "empty";
    WriteFile(empty, "");
    CloseSoon();
    PopupFileInfo(200, 130, empty.c_str());
    EXPECT_NE(TakeDrawnText().find(" 0 bytes "), std::string::npos);
}

// Stand-in df and du first on the path: df prints $DF_REPORT, du records its arguments.
struct StandIns {
    TempDir dir;
    std::string old_path = getenv("PATH");
    StandIns(bool with_du) {
        WriteFile(dir / "df", "#!/bin/sh\ncat \"$DF_REPORT\"\n");
        chmod((dir / "df").c_str(), 0755);
        if (with_du) {
            WriteFile(dir / "du", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$DU_ARGS\"\n"
                                  "printf '4.0K\\t%s/sub\\n12M\\t%s\\n' \"$2\" \"$2\"\n");
            chmod((dir / "du").c_str(), 0755);
        }
        setenv("PATH", (dir.path + ":/bin:/usr/bin").c_str(), 1);
        if (!with_du)
            setenv("PATH", dir.path.c_str(), 1);
        setenv("DU_ARGS", (dir / "du-args").c_str(), 1);
        setenv("DF_REPORT", (dir / "report").c_str(), 1);
    }
    ~StandIns() { setenv("PATH", old_path.c_str(), 1); }
    void Report(const std::string &text) { WriteFile(dir / "report", text); }
};

static const char kDfHeader[] = "Filesystem      Size  Used Avail Use% Mounted on\n";

TEST_F(InfoPopup, DiskFiguresFromTheLastBootLine) {
    StandIns stand_ins(true);
    TempDir target;
    stand_ins.Report(std::string(kDfHeader) + "/dev/root 7.0G 3.0G 4.0G 43% /\n" +
                     "/dev/sda1 1.9G 1.2G 700M 45% /boot\n" + "tmpfs 10M 0 10M 0% /run\n");
    CloseSoon();
    // du may take long: "Reading..." shows before it starts.
    std::string first_shown;
    ScriptOnFlip(FlipCount() + 1, [&] { first_shown = TakeDrawnText(); });
    EXPECT_EQ(PopupDiskInfo(230, 120, target.path.c_str()), 1);
    EXPECT_EQ(first_shown, "Reading...");
    EXPECT_EQ(TakeDrawnText(),
              "Size: 1.9G  Used: 1.2G  Avail: 700M  45% used" + target.path + "  total 12M");

    stand_ins.Report(std::string(kDfHeader) + "/dev/sda1 1.9G 1.2G 700M 45% /boot\n" +
                     "/dev/sda2 511M 6.1M 505M 2% /boot/efi\n");
    CloseSoon();
    PopupDiskInfo(230, 120, target.path.c_str());
    EXPECT_NE(TakeDrawnText().find("Size: 511M  Used: 6.1M  Avail: 505M  2% used"),
              std::string::npos);
}
