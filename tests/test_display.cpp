// What reaches the display, and how fast the copy moves data: the model display, the bytes each
// showing pushes, names drawn only as far as they show, holes, and the copy without the kernel.
#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <algorithm>
#include <fcntl.h>
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

TEST(ModelDisplay, CatchesADrawingThatIsNotPushed) {
    long before = ModelMismatches();
    ChildResult run = RunChild([] {
        if (!OpenTestDisplay())
            return 97;
        ShowWholeScreen();
        // Drawn and noted, then drawn without a note: only the first reaches the display.
        for (SDL_Rect corner : {SDL_Rect{300, 0, 20, 20}, SDL_Rect{0, 0, 20, 20}}) {
            SDL_FillRect(gScreenSurface, &corner, SDL_MapRGB(gScreenSurface->format, 255, 0, 0));
            if (corner.x > 0)
                MarkScreenArea(corner);
            ShowChangedAreas();
        }
        printf("pushed %lld\n", PushedBytes());
        return 0;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ModelMismatches(), before + 1);
    // The whole 320 x 240 screen, then the 20 x 20 corner, at 2 bytes a pixel.
    EXPECT_NE(run.out.find("pushed " + std::to_string((320 * 240 + 20 * 20) * 2) + "\n"),
              std::string::npos);
    ResetModelMismatches(before);
}

// The first pixel at which two screens differ, as "x,y", or "same".
static std::string FirstDifference(SDL_Surface *a, SDL_Surface *b) {
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) {
            SDL_Color p = ColorAt(a, x, y), q = ColorAt(b, x, y);
            if (p.r != q.r || p.g != q.g || p.b != q.b)
                return std::to_string(x) + "," + std::to_string(y);
        }
    return "same";
}

// Blits text, rendered whole, at (x, y) through clip, and frees it.
static void BlitWhole(SDL_Surface *target, SDL_Surface *text, int x, int y, SDL_Rect *clip) {
    SDL_Rect place = {static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_BlitSurface(text, clip, target, &place);
    SDL_FreeSurface(text);
}

// Names as long as a name can be, of narrow, wide, multi-byte and undecodable characters, and a
// directory path far wider than the screen: drawn only as far as they show, they must look
// exactly as the browser's screen drawn the plain way, each name and title rendered whole.
TEST(ShownText, LongNamesAndTitlesLookAsIfDrawnWhole) {
    TempDir dir;
    std::string deep = std::string(120, 'j') + "\xe6\x97\xa5\xe6\x9c\xac" + std::string(120, 'W');
    std::string inside = dir / deep, wide;
    MakeDir(inside);
    while (wide.size() + 3 <= 255)
        wide += "\xe6\x97\xa5"; // a wide character of three bytes
    std::vector<std::string> names = {std::string(255, 'i'),
                                      std::string(255, 'W'),
                                      std::string(255, 'j'),
                                      std::string(85 * 3, ' '),
                                      "f",
                                      wide,
                                      "odd\xff\x80\xc3\xa9\xf0\x9f\x98\x80" +
                                          std::string(200, 'm')};
    for (const std::string &name : names)
        WriteFile(inside + "/" + name, "");
    std::sort(names.begin(), names.end());
    names.insert(names.begin(), "../");
    // Each pane: its title and its rows, the first under the cursor; the left one is active.
    const std::pair<std::string, std::vector<std::string>> panes[2] = {
        {inside, names}, {dir.path, {"../", deep + "/"}}};

    ScriptClear();
    KeyPlan plan;
    plan.Tap(kDown); // the left cursor on the long directory
    plan.Tap(kA);    // enter it
    plan.Wait(2);
    ScriptOnFlip(plan.pass + 1, [&] {
        SDL_Surface *screen = SDL_ConvertSurface(gScreenSurface, gScreenSurface->format, 0);
        SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
        int line = option.font_height;
        for (int index = 0; index < 2; index++) {
            bool active = index == 0;
            int x = 161 * index + 2;
            BlitWhole(screen,
                      TTF_RenderUTF8_Shaded(font, panes[index].first.c_str(), color_blue,
                                            active ? color_white : color_gray),
                      x, 3, nullptr);
            const std::vector<std::string> &rows = panes[index].second;
            for (size_t row = 0; row < rows.size(); row++) {
                SDL_Color cursor = active ? color_red : color_blue;
                SDL_Color background = row == 0 ? cursor : active ? color_white : color_gray;
                SDL_Rect clip = {0, 0, 155, static_cast<Uint16>(line)};
                BlitWhole(screen,
                          TTF_RenderUTF8_Shaded(font, rows[row].c_str(), color_black, background),
                          x, static_cast<int>(row + 1) * (line + 1) + 3, &clip);
            }
        }
        BlitWhole(screen,
                  TTF_RenderUTF8_Shaded(
                      font_small,
                      "A: chdir  B: up     X: move   Y: copy   L: info   R: disk   START:        ",
                      color_black, color_white),
                  2, 230, nullptr);
        printf("compared %s\n", FirstDifference(screen, gScreenSurface).c_str());
        SDL_FreeSurface(screen);
    });
    plan.Wait(1);
    plan.Quit();
    ChildResult run = RunBrowser(dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("compared same\n"), std::string::npos) << run.out;
}

// Writes a file of size bytes with 16 KiB of data at each of the given offsets and holes between.
static void MakeSparse(const std::string &path, off_t size, const std::vector<off_t> &data) {
    WriteFile(path, "");
    ASSERT_EQ(truncate(path.c_str(), size), 0);
    int file = open(path.c_str(), O_WRONLY);
    for (off_t at : data)
        ASSERT_EQ(pwrite(file, Pattern(16384).data(), 16384, at), 16384);
    close(file);
}

static long long Blocks(const std::string &path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_blocks) : -1;
}

// Each copy of src/name into out, with the kernel copy as given (refused as without
// copy_file_range, or giving nothing at the very start as for files of /proc) and with or without
// SEEK_DATA, must arrive whole, fill its bar (the last cell white), and, where holes can be
// sought, take no more room than its source.
TEST(CopyData, EveryByteArrivesHolesStayHolesAndTheBarFills) {
    TempDir dir;
    MakeDir(dir / "src");
    MakeDir(dir / "out");
    const off_t size = 64 * 1024 * 1024 + 5; // a hole at the end, and a size not a multiple of 20
    MakeSparse(dir / "src/sparse", size, {0, 3 * 1024 * 1024, 40 * 1024 * 1024 + 100});
    ASSERT_LT(Blocks(dir / "src/sparse") * 512, size / 100) << "this file system keeps no holes";
    MakeSparse(dir / "src/hole", 8 * 1024 * 1024, {}); // nothing but a hole
    // Over three blocks of 1 MiB, its last one short.
    WriteFile(dir / "src/data", Pattern(3 * 1024 * 1024 + 12345));
    const struct {
        const char *name;
        bool refused, hole_seeks;
        Kernel kernel;
    } cases[] = {
        {"sparse", false, true, Kernel::kCurrent},       {"sparse", true, true, Kernel::kCurrent},
        {"sparse", true, false, Kernel::kCurrent}, // zeros and all, still exact
        {"hole", false, true, Kernel::kCurrent},         {"data", true, true, Kernel::kCurrent},
        {"data", false, true, Kernel::kEmptyKernelCopy},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.refused ? ", copy_file_range refused" : "") +
                     (c.hole_seeks ? "" : ", no hole seeks"));
        unlink((dir / "out/" + c.name).c_str());
        OperationRun run = RunFileOperation([&] {
            SetKernel(c.kernel);
            RefuseKernelCopy(c.refused);
            RefuseHoleSeeks(!c.hole_seeks);
            int result = CopyDirEntry((dir / "out").c_str(), (dir / "src").c_str(), c.name);
            int last_cell_x = 70 + 9 * 19 + 4, track_y = 100 + 2 * option.font_height + 5;
            return result == 1 && ColorIs(gScreenSurface, last_cell_x, track_y, color_white);
        });
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.result, 1);
        EXPECT_TRUE(ReadFile(dir / "out/" + c.name) == ReadFile(dir / "src/" + c.name));
        if (c.hole_seeks) {
            EXPECT_LE(Blocks(dir / "out/" + c.name), Blocks(dir / "src/" + c.name));
        }
    }
}

// In a folder's copy each file after the first repaints only its name and track: the last
// file's dialog must look exactly as the dialog drawn anew for that file alone.
TEST(CopyDialog, LaterFilesLookAsIfTheDialogWereDrawnAnew) {
    TempDir dir;
    MakeDir(dir / "src");
    MakeDir(dir / "src/tree");
    WriteFile(dir / "src/z", "z");
    // In table order: a short name, one folded over two lines, and a short one after it.
    for (const std::string &name :
         {std::string("a"), "b_" + std::string(60, 'w'), std::string("c")})
        WriteFile(dir / ("src/tree/" + name), std::string(39, 'x'));
    // Each copy runs on a black screen, the one of c alone after a copy of z whose dialog that
    // screen covers; the screen of its last showing is saved as out.bmp.
    auto copy = [&](const std::string &out, const std::string &from, const char *name, bool z) {
        return RunFileOperation(
                   [&] {
                       MakeDir(out);
                       if (z)
                           CopyDirEntry(out.c_str(), (dir / "src").c_str(), "z");
                       FillScreen(color_black);
                       ShowWholeScreen();
                       return CopyDirEntry(out.c_str(), from.c_str(), name);
                   },
                   out + ".bmp")
            .result;
    };
    ASSERT_EQ(copy(dir / "folder", dir / "src", "tree/", false), 1);
    ASSERT_EQ(copy(dir / "alone", dir / "src/tree", "c", true), 1);
    SDL_Surface *in_folder = LoadCapture(dir / "folder.bmp");
    SDL_Surface *drawn_anew = LoadCapture(dir / "alone.bmp");
    ASSERT_TRUE(in_folder && drawn_anew);
    EXPECT_EQ(FirstDifference(in_folder, drawn_anew), "same");
    SDL_FreeSurface(in_folder);
    SDL_FreeSurface(drawn_anew);
}
