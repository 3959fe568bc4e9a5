// The on-screen keyboard: characters by key states, drawing by pixels, loading and its refusals.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_image.h>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "app/globals.h"
#include "keyboard/dingux_vexpad.h"
#include "tests/harness.h"

constexpr SDLKey kUp = SDLK_UP, kDown = SDLK_DOWN, kLeft = SDLK_LEFT, kRight = SDLK_RIGHT;
constexpr SDLKey kA = SDLK_LCTRL, kB = SDLK_LALT, kX = SDLK_SPACE, kY = SDLK_LSHIFT;
constexpr SDLKey kL = SDLK_TAB, kR = SDLK_BACKSPACE, kStart = SDLK_RETURN, kSelect = SDLK_ESCAPE;

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
static int ReadWith(std::initializer_list<SDLKey> keys) {
    Uint8 *table = SDL_GetKeyState(nullptr);
    memset(table, 0, SDLK_LAST);
    for (SDLKey key : keys)
        table[key] = 1;
    return vexpad_readInput();
}

// A fresh press of these keys after a read with everything up.
static int Press(std::initializer_list<SDLKey> keys) {
    ReadWith({});
    return ReadWith(keys);
}

// The page shown, told by what Y types in the centre cell.
static int Page() {
    switch (Press({kY})) {
    case 'm':
        return 0;
    case 'M':
        return 1;
    case 25:
        return 2;
    default:
        return 3;
    }
}

static void GoToPage(int page) {
    int now = Page();
    if (now / 2 != page / 2)
        Press({kL});
    if (now % 2 != page % 2)
        Press({kR});
    ReadWith({});
}

class KeyboardInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ScriptClear();
        Display();
        GoToPage(0);
    }
    // Later tests find the keyboard on its first page with every key up.
    void TearDown() override { GoToPage(0); }
};

TEST_F(KeyboardInput, FaceButtonsPickTheSelectedCellsCharacters) {
    EXPECT_EQ(Press({kX}), 8);
    EXPECT_EQ(Press({kY}), 'm');
    EXPECT_EQ(Press({kB}), ' ');
    EXPECT_EQ(Press({kA}), 'n');
    EXPECT_EQ(Press({kUp, kLeft, kY}), 'a');
    EXPECT_EQ(Press({kUp, kRight, kY}), 'g');
    EXPECT_EQ(Press({kDown, kLeft, kA}), 't');
    // Opposite directions select the middle.
    EXPECT_EQ(Press({kLeft, kRight, kY}), 'm');
    EXPECT_EQ(Press({kUp, kDown, kY}), 'm');
    EXPECT_EQ(Press({kUp, kDown, kLeft, kY}), 'j');
    GoToPage(1);
    EXPECT_EQ(Press({kUp, kLeft, kY}), 'A');
}

TEST_F(KeyboardInput, EachPressActsOnceUntilAllEightKeysAreUp) {
    EXPECT_EQ(Press({kX, kA}), 8);
    EXPECT_EQ(Press({kY, kB, kA}), 'm');
    EXPECT_EQ(Press({kX}), 8);
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
    ReadWith({});
    EXPECT_EQ(ReadWith({kL}), 0);
    ReadWith({kL});
    ReadWith({kL});
    EXPECT_EQ(Page(), 2);
    Press({kR});
    EXPECT_EQ(Page(), 3);
    Press({kL});
    EXPECT_EQ(Page(), 1);
    Press({kR});
    EXPECT_EQ(Page(), 0);
    Press({kL, kR});
    EXPECT_EQ(Page(), 2);
}

TEST_F(KeyboardInput, NumberPagesTypeControlCodesAndZeroForEmptySlots) {
    GoToPage(2);
    EXPECT_EQ(Press({kUp, kLeft, kX}), 0);
    EXPECT_EQ(Press({kUp, kB}), 0);
    EXPECT_EQ(Press({kUp, kRight, kB}), 0);
    EXPECT_EQ(Press({kUp, kRight, kX}), 12);
    EXPECT_EQ(Press({kRight, kB}), 13);
    EXPECT_EQ(Press({kDown, kRight, kB}), '0');
    GoToPage(3);
    EXPECT_EQ(Press({kY}), 0);
    EXPECT_EQ(Press({kA}), 0);
    EXPECT_EQ(ReadWith({kA, kB}), 0); // the empty slot's press still holds
    EXPECT_EQ(Press({kB}), ' ');
}

TEST_F(KeyboardInput, ReadsTheKeyTableAnewOnEveryRead) {
    ReadWith({});
    ScriptClear();
    ScriptHold(kX, 1, 2);
    EXPECT_EQ(vexpad_readInput(), 0);
    EXPECT_EQ(vexpad_readInput(), 8);
    EXPECT_EQ(vexpad_readInput(), 0);
    EXPECT_EQ(ScriptPass(), 3);
}

// Test images: each page's plain and alternate image one colour, each tile of a sheet its own.
static SDL_Color ImageColor(int variant, int index) {
    return {static_cast<Uint8>(8 * (index + 1)), static_cast<Uint8>(128 * variant), 96, 0};
}
static SDL_Color TileColor(int variant, int index, int column, int row) {
    int tile = row * kKeyboardCells + column;
    return {static_cast<Uint8>(8 * (index + 1)), static_cast<Uint8>(128 * variant + 8 * (tile + 1)),
            200, 0};
}
constexpr SDL_Color kBackground = {0, 252, 0, 0};

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
        for (int row = 0; row < kKeyboardCells; ++row)
            for (int column = 0; column < kKeyboardCells; ++column)
                FillWith(image.get(), kTileSize * column, kTileSize * row, kTileSize,
                         sheet ? TileColor(variant, index, column, row)
                               : ImageColor(variant, index));
        SDL_SaveBMP(image.get(), (dir + guiStrings[index]).c_str());
    }
}

class KeyboardImages : public KeyboardInput {
  protected:
    static void SetUpTestSuite() {
        images.reset(new TempDir);
        WriteTestImages(images->path, 0);
    }
    static void TearDownTestSuite() {
        vexpad_free();
        images.reset();
    }
    void SetUp() override {
        KeyboardInput::SetUp();
        screen = Display();
        ASSERT_EQ(screen->format->BitsPerPixel, kScreenDepth);
        vexpad_free();
        vexpad_load((images->path + "/").c_str());
        vexpad_set_screen(screen);
        vexpad_moveTo(-10, -10);
        FillWith(screen, 0, 0, kScreenWidth, kBackground);
    }
    // The pixel at (x, y), and a colour as the screen stores it.
    Uint32 At(int x, int y) { return Of(ColorAt(screen, x, y)); }
    Uint32 Of(SDL_Color color) { return SDL_MapRGB(screen->format, color.r, color.g, color.b); }
    static std::unique_ptr<TempDir> images;
    SDL_Surface *screen = nullptr;
};
std::unique_ptr<TempDir> KeyboardImages::images;

// The keyboard's corner on the screen after moveTo(-10, -10).
constexpr int kLeft0 = 160, kTop0 = 80;

TEST_F(KeyboardImages, CentreDrawsThePlainImageAndItsTileOrIdleTheAlternateOnly) {
    for (int page = 0; page < kKeyboardPages; ++page) {
        GoToPage(page);
        vexpad_render(0);
        int first = kImagesPerPage * page;
        Uint32 plain = Of(ImageColor(0, first)),
               tile = Of(TileColor(0, first + kHighlightSheet, 1, 1));
        EXPECT_EQ(At(kLeft0, kTop0), plain);
        EXPECT_EQ(At(kLeft0 + 149, kTop0 + 149), plain);
        EXPECT_EQ(At(kLeft0 + 42, kTop0 + 43), plain);
        EXPECT_EQ(At(kLeft0 + 43, kTop0 + 43), tile);
        EXPECT_EQ(At(kLeft0 + 106, kTop0 + 106), tile);
        EXPECT_EQ(At(kLeft0 + 107, kTop0 + 106), plain);
    }
    EXPECT_EQ(At(kLeft0 - 1, kTop0 - 1), Of(kBackground));
    EXPECT_EQ(At(kLeft0 + 150, kTop0 + 150), Of(kBackground));
    // With the idle flag, the centre shows only the alternate image.
    vexpad_render(1);
    EXPECT_EQ(At(kLeft0, kTop0), Of(ImageColor(0, kImagesPerPage * 3 + kAlternateImage)));
    EXPECT_EQ(At(kLeft0 + 75, kTop0 + 75), Of(ImageColor(0, kImagesPerPage * 3 + kAlternateImage)));
}

TEST_F(KeyboardImages, AnotherCellDrawsTheAlternateImageAndThatCellsTile) {
    Uint32 alternate = Of(ImageColor(0, kAlternateImage));
    for (int idle = 0; idle <= 1; ++idle) {
        ReadWith({kUp, kRight});
        vexpad_render(idle);
        EXPECT_EQ(At(kLeft0 + 85, kTop0), alternate);
        EXPECT_EQ(At(kLeft0 + 86, kTop0), Of(TileColor(0, kHighlightSheet, 2, 0)));
        EXPECT_EQ(At(kLeft0 + 149, kTop0 + 63), Of(TileColor(0, kHighlightSheet, 2, 0)));
        EXPECT_EQ(At(kLeft0 + 86, kTop0 + 64), alternate);
    }
    ReadWith({kDown, kLeft});
    vexpad_render(1);
    EXPECT_EQ(At(kLeft0, kTop0 + 85), alternate);
    EXPECT_EQ(At(kLeft0 + 63, kTop0 + 149), Of(TileColor(0, kHighlightSheet, 0, 2)));
}

TEST_F(KeyboardImages, PlacedFromTheTargetsBottomRightCorner) {
    vexpad_set_screen(screen);
    vexpad_render(1);
    EXPECT_EQ(At(169, 90), Of(kBackground));
    EXPECT_EQ(At(170, 90), Of(ImageColor(0, kAlternateImage)));
    EXPECT_EQ(At(319, 239), Of(ImageColor(0, kAlternateImage)));

    vexpad_moveTo(-20, -30);
    vexpad_moveTo(-20, -30); // placed afresh each time; calls do not add up
    vexpad_render(1);
    EXPECT_EQ(At(150, 60), Of(ImageColor(0, kAlternateImage)));
    EXPECT_EQ(At(149, 60), Of(kBackground));
}

TEST_F(KeyboardImages, DirtyFollowsSelectionAndPageUntilTheNextDraw) {
    ReadWith({});
    vexpad_render(1);
    EXPECT_EQ(vexpad_dirty(), 0);
    EXPECT_EQ(ReadWith({kX}), 8);
    EXPECT_EQ(vexpad_dirty(), 0);
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
    EXPECT_EQ(At(kLeft0, kTop0), Of(ImageColor(0, kAlternateImage)));
    vexpad_free();
    EXPECT_EQ(vexpad_isinitialized(), 0);
    vexpad_free();
    EXPECT_EQ(vexpad_load((other.path + "/").c_str()), 1);
    EXPECT_EQ(vexpad_isinitialized(), 1);
    vexpad_render(1);
    EXPECT_EQ(At(kLeft0, kTop0), Of(ImageColor(1, kAlternateImage)));
}

// Loads from dir in a child; its exit status and what it printed.
static ChildResult LoadInChild(const std::string &dir) {
    return RunChild([&] {
        vexpad_free();
        vexpad_load(dir.c_str());
        printf("loaded %d\n", vexpad_isinitialized());
        return 0;
    });
}

TEST(KeyboardLoad, AMissingImageEndsTheProcess) {
    TempDir dir;
    WriteTestImages(dir.path, 0);
    ASSERT_EQ(remove((dir.path + "/keys4_s_c.png").c_str()), 0);
    ChildResult result = LoadInChild(dir.path + "/");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "can't load image " + dir.path + "//keys4_s_c.png\n");
}

TEST(KeyboardLoad, ADirectoryTooLongForThePathIsRefused) {
    TempDir base;
    // With the longest name, a directory of 113 characters just fits the 128-byte path.
    std::string fits = base.path + "/" + std::string(113 - base.path.size() - 2, 'f') + "/";
    std::string too_long = base.path + "/" + std::string(114 - base.path.size() - 2, 'g') + "/";
    ASSERT_EQ(fits.size(), 113u);
    MakeDir(fits);
    MakeDir(too_long);
    WriteTestImages(fits, 0);
    WriteTestImages(too_long, 0);
    // The path cut to the buffer names a file that loads, so only a refusal stops there.
    WriteFile(too_long + "/keys5_c_t.pn", ReadFile(too_long + "/keys5_c_t.png"));

    ChildResult loaded = LoadInChild(fits);
    EXPECT_EQ(loaded.status, 0);
    EXPECT_EQ(loaded.out, "loaded 1\n");

    ChildResult refused = LoadInChild(too_long);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "can't load image " + too_long + "/keys5_c_t.pn\n");

    std::string far_too_long = base.path + "/" + std::string(300, 'h') + "/";
    ChildResult cut = LoadInChild(far_too_long);
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.out, "can't load image " + far_too_long.substr(0, kImagePathSize - 1) + "\n");
}

TEST(KeyboardLoad, TheBuiltImagesAllLoadAtTheirSizes) {
    for (int index = 0; index < kKeyboardImages; ++index) {
        std::string path = std::string(ZORVEL_GRAPHICS_DIR) + guiStrings[index];
        SurfacePtr image(IMG_Load(path.c_str()));
        ASSERT_TRUE(image) << path;
        int size =
            index % kImagesPerPage == kHighlightSheet ? kKeyboardCells * kTileSize : kKeyboardSize;
        EXPECT_EQ(image->w, size) << path;
        EXPECT_EQ(image->h, size) << path;
    }
}
