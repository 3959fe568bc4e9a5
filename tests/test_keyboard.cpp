// The on-screen keyboard: characters by key states, drawing by pixels, loading and its refusals.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_image.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/globals.h"
#include "keyboard/dingux_vexpad.h"
#include "tests/harness.h"

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

TEST_F(KeyboardInput, FaceKeysPickTheSelectedCellsCharacters) {
    EXPECT_EQ(Press({kX}), 8);
    EXPECT_EQ(Press({kY}), 'm');
    EXPECT_EQ(Press({kB}), ' ');
    EXPECT_EQ(Press({kA}), 'n');
    EXPECT_EQ(Press({kUp, kLeft, kY}), 'a');
    EXPECT_EQ(Press({kUp, kRight, kY}), 'g');
    EXPECT_EQ(Press({kDown, kLeft, kA}), 't');
    // Opposite directions cancel out.
    EXPECT_EQ(Press({kLeft, kRight, kY}), 'm');
    EXPECT_EQ(Press({kUp, kDown, kLeft, kY}), 'j');
    GoToPage(1);
    EXPECT_EQ(Press({kUp, kLeft, kY}), 'A');
    // Empty slots type 0, and their press still holds.
    GoToPage(2);
    EXPECT_EQ(Press({kUp, kLeft, kX}), 0);
    EXPECT_EQ(Press({kUp, kRight, kX}), 12);
    EXPECT_EQ(Press({kRight, kB}), 13);
    GoToPage(3);
    EXPECT_EQ(Press({kA}), 0);
    EXPECT_EQ(ReadWith({kA, kB}), 0);
    EXPECT_EQ(Press({kB}), ' ');
}

TEST_F(KeyboardInput, EachPressActsOnceUntilAllEightKeysAreUp) {
    EXPECT_EQ(Press({kX, kA}), 8);
    EXPECT_EQ(ReadWith({kX, kA}), 0);
    EXPECT_EQ(ReadWith({kA}), 0);
    EXPECT_EQ(ReadWith({kA, kSelect}), 0);
    EXPECT_EQ(Press({kA}), 'n');
    EXPECT_EQ(Press({kSelect}), 1);
    EXPECT_EQ(ReadWith({kSelect}), 0);
    EXPECT_EQ(Press({kStart}), 2);
    EXPECT_EQ(ReadWith({kStart}), 0);
    EXPECT_EQ(ReadWith({kStart, kX}), 0);
    EXPECT_EQ(Press({kSelect, kStart}), 1);
}

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
