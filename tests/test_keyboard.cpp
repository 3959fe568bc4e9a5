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

TEST_F(KeyboardImages, DrawsThePagesImageUnderTheSelectedCellsTile) {
    // A cell's tile covers 64 pixels from 43 times its column and row. The centre cell shows the
    // plain image under its tile, or when idle only the alternate; the others the alternate.
    const std::vector<SDLKey> directions[] = {{kUp, kLeft},   {kUp},   {kUp, kRight},
                                              {kLeft},        {},      {kRight},
                                              {kDown, kLeft}, {kDown}, {kDown, kRight}};
    for (int page = 0; page < kKeyboardPages; ++page) {
        GoToPage(page);
        int first = kImagesPerPage * page;
        for (int cell = 0; cell < 9; cell++)
            for (int idle = 0; idle <= 1; idle++) {
                ReadWith(directions[cell]);
                vexpad_render(idle);
                int left = 43 * (cell % 3), top = 43 * (cell / 3);
                bool plain = cell == 4 && idle == 0, tiled = cell != 4 || idle == 0;
                // Along both diagonals.
                for (int y = 0; y < 150; y++)
                    for (int x : {y, 149 - y}) {
                        bool in_tile =
                            tiled && x >= left && x < left + 64 && y >= top && y < top + 64;
                        SDL_Color want =
                            in_tile
                                ? TestColor(first + kHighlightSheet, cell)
                                : TestColor(first + (plain ? kPlainImage : kAlternateImage), -1);
                        ASSERT_EQ(At(x, y), Of(want))
                            << page << " " << cell << " " << idle << " at " << x << "," << y;
                    }
            }
    }
    EXPECT_EQ(At(-1, -1), Of(kBackground));
    EXPECT_EQ(At(150, 150), Of(kBackground));
}

TEST_F(KeyboardImages, DirtyFollowsSelectionAndPageUntilTheNextDraw) {
    vexpad_render(1);
    EXPECT_EQ(vexpad_dirty(), 0);
    EXPECT_EQ(ReadWith({kX}), 8);
    EXPECT_EQ(vexpad_dirty(), 0);
    // The selection moves while X is still held; the next press reads the new cell.
    EXPECT_EQ(ReadWith({kX, kUp, kLeft}), 0);
    EXPECT_EQ(vexpad_dirty(), 1);
    vexpad_render(1);
    EXPECT_EQ(ReadWith({kUp, kLeft}), 0);
    EXPECT_EQ(vexpad_dirty(), 0);
    EXPECT_EQ(ReadWith({kUp, kLeft, kY}), 'a');
    ReadWith({kUp, kLeft});
    ReadWith({kUp, kLeft, kR});
    EXPECT_EQ(vexpad_dirty(), 1);
}

TEST_F(KeyboardImages, LoadsOnceAndFreesOnce) {
    TempDir other;
    WriteTestImages(other.path, 1);
    EXPECT_EQ(vexpad_load((other.path + "/").c_str()), 1);
    vexpad_render(1);
    EXPECT_EQ(At(0, 0), Of(TestColor(kAlternateImage, -1)));
    vexpad_free();
    EXPECT_EQ(vexpad_isinitialized(), 0);
    vexpad_free();
    EXPECT_EQ(vexpad_load((other.path + "/").c_str()), 1);
    EXPECT_EQ(vexpad_isinitialized(), 1);
    vexpad_render(1);
    EXPECT_EQ(At(0, 0), Of(TestColor(kAlternateImage, -1, 1)));
}

TEST(KeyboardLoad, AMissingImageOrATooLongDirectoryEndsTheProcess) {
    auto load_in_child = [](const std::string &dir) {
        return RunChild([&] {
            vexpad_free();
            vexpad_load(dir.c_str());
            return 0;
        });
    };
    TempDir base;
    WriteTestImages(base.path, 0);
    ASSERT_EQ(remove((base.path + "/keys4_s_c.png").c_str()), 0);
    ChildResult missing = load_in_child(base.path + "/");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "can't load image " + base.path + "//keys4_s_c.png\n");
    // With the longest name, a directory of 114 characters is one too long for the 128-byte path;
    // the path cut to the buffer names a file that loads, so only a refusal stops there.
    std::string too_long = base.path + "/" + std::string(114 - base.path.size() - 2, 'g') + "/";
    MakeDir(too_long);
    WriteTestImages(too_long, 0);
    WriteFile(too_long + "/keys5_c_t.pn", ReadFile(too_long + "/keys5_c_t.png"));
    ChildResult refused = load_in_child(too_long);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "can't load image " + too_long + "/keys5_c_t.pn\n");
}

TEST(KeyboardLoad, TheBuiltImagesAllLoadAtTheirSizes) {
    for (int index = 0; index < kKeyboardImages; ++index) {
        std::string path = std::string(ZORVEL_GRAPHICS_DIR) + guiStrings[index];
        SurfacePtr image(IMG_Load(path.c_str()));
        ASSERT_TRUE(image) << path;
        int size = index % kImagesPerPage == kHighlightSheet ? 3 * kTileSize : kKeyboardSize;
        EXPECT_EQ(image->w, size) << path;
        EXPECT_EQ(image->h, size) << path;
    }
}
