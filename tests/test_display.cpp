// What reaches the display, and how fast the copy moves data: the model display, the bytes each
// showing pushes, names drawn only as far as they show, holes, and the copy without the kernel.
#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/browser.h"
#include "app/fs/copytree.h"
#include "common/display.h"
#include "common/globals.h"
#include "tests/harness.h"

// Every test of the suite ends with the display equal to the screen after every showing of every
// session it ran, in this process and in its children.
class ModelDisplayCheck : public testing::Environment {
  public:
    void TearDown() override {
        EXPECT_EQ(ModelMismatches(), 0) << "a showing left the display unlike the screen";
    }
};
static testing::Environment *const model_display_check =
    testing::AddGlobalTestEnvironment(new ModelDisplayCheck);

// The screen: 320 x 240 at 2 bytes a pixel.
static const long long kScreenBytes = 320 * 240 * 2;

// The numbers a child printed after the marker, one per line.
static std::vector<long long> Figures(const std::string &out, const std::string &marker) {
    std::vector<long long> figures;
    for (size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1))
        figures.push_back(atoll(out.c_str() + at + marker.size()));
    return figures;
}

TEST(ModelDisplay, CatchesADrawingThatIsNotPushed) {
    long before = ModelMismatches();
    ChildResult run = RunChild([] {
        if (!OpenTestDisplay())
            return 97;
        ShowWholeScreen();
        SDL_Rect corner = {300, 0, 20, 20};
        // Drawn and noted, then drawn without a note: only the first reaches the display.
        SDL_FillRect(gScreenSurface, &corner, SDL_MapRGB(gScreenSurface->format, 255, 0, 0));
        MarkScreenArea(corner);
        ShowChangedAreas();
        SDL_Rect other = {0, 0, 20, 20};
        SDL_FillRect(gScreenSurface, &other, SDL_MapRGB(gScreenSurface->format, 255, 0, 0));
        ShowChangedAreas();
        printf("pushed %lld\n", PushedBytes());
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ModelMismatches(), before + 1);
    EXPECT_EQ(Figures(run.out, "pushed "), std::vector<long long>{kScreenBytes + 20 * 20 * 2});
    ResetModelMismatches(before);
}

// The browser's screen drawn the plain way, each name and title rendered whole: black, then for
// each pane its title (clipped only by the screen) and its rows clipped to 155 x line height,
// then the help bar.
struct PaneView {
    std::string path;
    std::vector<std::string> entries;
    bool active;
};

static void BlitWhole(SDL_Surface *target, SDL_Surface *text, int x, int y, SDL_Rect *clip) {
    if (text == nullptr)
        return;
    SDL_Rect place = {static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_BlitSurface(text, clip, target, &place);
    SDL_FreeSurface(text);
}

static SDL_Surface *ReferenceScreen(const PaneView (&panes)[2], int font_height) {
    SDL_Surface *screen = SDL_ConvertSurface(gScreenSurface, gScreenSurface->format, 0);
    SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
    for (int index = 0; index < 2; index++) {
        const PaneView &pane = panes[index];
        int x = 161 * index + 2;
        BlitWhole(screen,
                  TTF_RenderUTF8_Shaded(font, pane.path.c_str(), color_blue,
                                        pane.active ? color_white : color_gray),
                  x, 3, nullptr);
        for (size_t row = 0; row < pane.entries.size(); row++) {
            SDL_Color background = row == 0 ? (pane.active ? color_red : color_blue)
                                            : (pane.active ? color_white : color_gray);
            SDL_Rect clip = {0, 0, 155, static_cast<Uint16>(font_height)};
            BlitWhole(
                screen,
                TTF_RenderUTF8_Shaded(font, pane.entries[row].c_str(), color_black, background), x,
                static_cast<int>(row + 1) * (font_height + 1) + 3, &clip);
        }
    }
    BlitWhole(screen,
              TTF_RenderUTF8_Shaded(
                  font_small,
                  "A: chdir  B: up     X: move   Y: copy   L: info   R: disk   START:        ",
                  color_black, color_white),
              2, 230, nullptr);
    return screen;
}

// The first pixel at which two surfaces of the screen's format differ, as "x,y", or "same".
static std::string FirstDifference(SDL_Surface *a, SDL_Surface *b) {
    for (int y = 0; y < a->h; y++)
        for (int x = 0; x < a->w; x++) {
            const Uint16 *pa = static_cast<const Uint16 *>(a->pixels) + y * a->pitch / 2 + x;
            const Uint16 *pb = static_cast<const Uint16 *>(b->pixels) + y * b->pitch / 2 + x;
            if (*pa != *pb)
                return std::to_string(x) + "," + std::to_string(y);
        }
    return "same";
}

// Names as long as a name can be, of narrow, wide, multi-byte and undecodable characters, and a
// directory path far wider than the screen: drawn only as far as they show, they must look
// exactly as drawn whole.
TEST(ShownText, LongNamesAndTitlesLookAsIfDrawnWhole) {
    TempDir dir;
    std::string deep_name =
        std::string(120, 'j') + "\xe6\x97\xa5\xe6\x9c\xac" + std::string(120, 'W');
    MakeDir(dir / deep_name);
    std::string inside = dir / deep_name;
    std::vector<std::string> names = {
        std::string(255, 'i'),
        std::string(255, 'W'),
        std::string(255, 'j'),
        std::string(85 * 3, ' '),
        "f",
    };
    std::string wide;
    while (wide.size() + 3 <= 255)
        wide += "\xe6\x97\xa5"; // a wide character of three bytes
    names.push_back(wide);
    std::string odd = "odd";
    odd += "\xff\x80\xc3\xa9\xf0\x9f\x98\x80";
    odd += std::string(200, 'm');
    names.push_back(odd);
    for (const std::string &name : names)
        WriteFile(inside + "/" + name, "");
    std::vector<std::string> rows = {"../"};
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    rows.insert(rows.end(), sorted.begin(), sorted.end());

    ScriptClear();
    KeyPlan plan;
    plan.Tap(SDLK_DOWN);  // the left cursor on the long directory
    plan.Tap(SDLK_LCTRL); // enter it
    plan.Wait(2);
    int showing = plan.pass + 1;
    ScriptOnFlip(showing, [&] {
        PaneView panes[2] = {{inside, rows, true}, {dir.path, {"../", deep_name + "/"}, false}};
        SDL_Surface *reference = ReferenceScreen(panes, option.font_height);
        printf("compared %s\n", FirstDifference(reference, gScreenSurface).c_str());
        SDL_FreeSurface(reference);
    });
    plan.Wait(1);
    plan.Quit();
    TakeShadedText();
    ChildResult run = RunBrowser(dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("compared same\n"), std::string::npos) << run.out;
}

// A source of size bytes with data only at the given offsets (16 KiB each) and holes between.
static void MakeSparse(const std::string &path, off_t size, const std::vector<off_t> &data) {
    WriteFile(path, "");
    ASSERT_EQ(truncate(path.c_str(), size), 0);
    FILE *file = fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::string block(16384, '\0');
    for (size_t i = 0; i < block.size(); i++)
        block[i] = static_cast<char>('a' + (i * 7 + data.size()) % 26);
    for (off_t at : data) {
        fseeko(file, at, SEEK_SET);
        fwrite(block.data(), 1, block.size(), file);
    }
    fclose(file);
}

static long long Blocks(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_blocks) : -1;
}

// Copies src/name to out/ with the kernel copy and the hole seeks as asked, and reports whether
// the bar ended full (its last cell white).
static OperationRun CopyOne(const TempDir &dir, const std::string &name, bool kernel, bool holes) {
    return RunFileOperation([&] {
        RefuseKernelCopy(!kernel);
        RefuseHoleSeeks(!holes);
        int result = CopyDirEntry((dir / "out").c_str(), (dir / "src").c_str(), name.c_str());
        int last_cell_x = 70 + 9 * 19 + 4;
        int track_y = 100 + 2 * option.font_height + 5;
        bool full = ColorIs(gScreenSurface, last_cell_x, track_y, color_white);
        RefuseKernelCopy(false);
        RefuseHoleSeeks(false);
        return result == 1 && full ? 1 : 0;
    });
}

TEST(CopyData, HolesStayHolesAndTheBarStillFills) {
    TempDir dir;
    MakeDir(dir / "src");
    MakeDir(dir / "out");
    const off_t size = 64 * 1024 * 1024 + 5; // a hole at the end, and a size not a multiple of 20
    MakeSparse(dir / "src/sparse", size, {0, 3 * 1024 * 1024, 40 * 1024 * 1024 + 100});
    ASSERT_LT(Blocks(dir / "src/sparse") * 512, size / 100) << "this file system keeps no holes";
    for (bool kernel : {true, false}) {
        SCOPED_TRACE(kernel ? "with copy_file_range" : "copy_file_range refused");
        unlink((dir / "out/sparse").c_str());
        OperationRun run = CopyOne(dir, "sparse", kernel, true);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.result, 1);
        EXPECT_TRUE(ReadFile(dir / "out/sparse") == ReadFile(dir / "src/sparse"));
        EXPECT_LE(Blocks(dir / "out/sparse"), Blocks(dir / "src/sparse"));
    }
    // Without SEEK_DATA the data is copied as it reads, zeros and all; the copy is still exact.
    unlink((dir / "out/sparse").c_str());
    OperationRun plain = CopyOne(dir, "sparse", false, false);
    EXPECT_EQ(plain.result, 1);
    EXPECT_TRUE(ReadFile(dir / "out/sparse") == ReadFile(dir / "src/sparse"));

    // Nothing but a hole.
    MakeSparse(dir / "src/empty", 8 * 1024 * 1024, {});
    OperationRun empty = CopyOne(dir, "empty", true, true);
    EXPECT_EQ(empty.result, 1);
    struct stat status;
    ASSERT_EQ(stat((dir / "out/empty").c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 8 * 1024 * 1024);
    EXPECT_EQ(status.st_blocks, 0);
}

TEST(CopyData, WithoutTheKernelCopyEveryByteStillArrives) {
    TempDir dir;
    MakeDir(dir / "src");
    MakeDir(dir / "out");
    // Over three blocks of 1 MiB, its last one short.
    std::string content;
    content.reserve(3 * 1024 * 1024 + 12345);
    unsigned state = 12345;
    while (content.size() < 3 * 1024 * 1024 + 12345) {
        state = state * 1103515245 + 12345;
        content += static_cast<char>(state >> 16);
    }
    WriteFile(dir / "src/data", content);
    OperationRun run = CopyOne(dir, "data", false, true);
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(ReadFile(dir / "out/data") == content);
    // A kernel copy that yields nothing at the very start, as for files of /proc, is no end.
    unlink((dir / "out/data").c_str());
    OperationRun empty = RunFileOperation([&] {
        SetKernel(Kernel::kEmptyKernelCopy);
        return CopyDirEntry((dir / "out").c_str(), (dir / "src").c_str(), "data");
    });
    EXPECT_EQ(empty.result, 1);
    EXPECT_TRUE(ReadFile(dir / "out/data") == content);
}

// In a folder's copy each file after the first repaints only its name and track: the dialog must
// look exactly as the dialog drawn anew for that file alone.
TEST(CopyDialog, LaterFilesLookAsIfTheDialogWereDrawnAnew) {
    TempDir dir;
    MakeDir(dir / "src");
    MakeDir(dir / "src/tree");
    // In table order: a short name, one folded over two lines, and a short one after it.
    std::vector<std::string> names = {"a", "b_" + std::string(60, 'w'), "c"};
    for (const std::string &name : names)
        WriteFile(dir / ("src/tree/" + name), std::string(39, 'x'));
    // Showing 1 is the black screen; each file then shows its dialog and 20 cells.
    auto first_showing = [](int file) { return 2 + 21 * file; };
    ChildResult folder = RunChild([&] {
        if (!OpenTestDisplay())
            return 97;
        ScriptClear();
        for (int file = 1; file < 3; file++)
            ScriptOnFlip(first_showing(file), [&, file] {
                SDL_SaveBMP(gScreenSurface,
                            (dir / ("folder" + std::to_string(file) + ".bmp")).c_str());
            });
        MakeDir(dir / "out");
        FillScreen(color_black);
        ShowWholeScreen();
        return CopyDirEntry((dir / "out").c_str(), (dir / "src").c_str(), "tree/") == 1 ? 0 : 1;
    });
    ASSERT_EQ(folder.status, 0);
    for (int file = 1; file < 3; file++) {
        std::string out = dir / ("alone" + std::to_string(file));
        ChildResult alone = RunChild([&] {
            if (!OpenTestDisplay())
                return 97;
            ScriptClear();
            MakeDir(out);
            // A copy before it, whose dialog the panes then cover: this one is drawn anew.
            WriteFile(dir / "src/z", "z");
            CopyDirEntry(out.c_str(), (dir / "src").c_str(), "z");
            ScriptOnFlip(FlipCount() + 2, [&] {
                SDL_SaveBMP(gScreenSurface,
                            (dir / ("alone" + std::to_string(file) + ".bmp")).c_str());
            });
            FillScreen(color_black);
            ShowWholeScreen();
            return CopyDirEntry(out.c_str(), (dir / "src/tree").c_str(), names[file].c_str()) == 1
                       ? 0
                       : 1;
        });
        ASSERT_EQ(alone.status, 0);
        SDL_Surface *in_folder = LoadCapture(dir / ("folder" + std::to_string(file) + ".bmp"));
        SDL_Surface *drawn_anew = LoadCapture(dir / ("alone" + std::to_string(file) + ".bmp"));
        ASSERT_NE(in_folder, nullptr);
        ASSERT_NE(drawn_anew, nullptr);
        int differing = 0;
        for (int y = 0; y < 240; y++)
            for (int x = 0; x < 320; x++) {
                SDL_Color a = ColorAt(in_folder, x, y);
                SDL_Color b = ColorAt(drawn_anew, x, y);
                differing += a.r != b.r || a.g != b.g || a.b != b.b;
            }
        EXPECT_EQ(differing, 0) << names[file];
        SDL_FreeSurface(in_folder);
        SDL_FreeSurface(drawn_anew);
    }
}
