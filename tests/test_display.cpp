// What reaches the display, and what a copy writes: the model display checked after every test,
// names drawn only as far as they show, the copy dialog redrawn in part, holes, and the copy
// without the kernel's help.
#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/browser.h"
#include "app/fs/copytree.h"
#include "common/display.h"
#include "dialogs/dialogbox.h"
#include "tests/harness.h"

// Every test of the suite ends with the display equal to the screen after every showing of every
// session it ran, in this process and in its children.
struct ModelDisplayCheck : testing::Environment {
    void TearDown() override {
        EXPECT_EQ(ModelMismatches(), 0) << "a showing left the display unlike the screen";
    }
};
static testing::Environment *const model_display_check =
    testing::AddGlobalTestEnvironment(new ModelDisplayCheck);

// The bytes of the 320 by 240 screen of 16-bit pixels.
constexpr size_t kScreenBytes = 320 * 240 * 2;

// Renders text whole and blits it at (x, y), as much of it as fits in width and height.
static void BlitWhole(SDL_Surface *target, TTF_Font *with, const std::string &text,
                      SDL_Color foreground, SDL_Color background, int x, int y, int width = 320,
                      int height = 240) {
    SDL_Surface *rendered = TTF_RenderUTF8_Shaded(with, text.c_str(), foreground, background);
    SDL_Rect clip = {0, 0, static_cast<Uint16>(width), static_cast<Uint16>(height)};
    SDL_Rect place = {static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_BlitSurface(rendered, &clip, target, &place);
    SDL_FreeSurface(rendered);
}

// Names as long as a name can be, of narrow, wide, multi-byte and undecodable characters, and a
// directory path far wider than the screen: drawn only as far as they show, they must look
// exactly as the browser's screen drawn the plain way, each name and title rendered whole.
TEST(ShownText, LongNamesAndTitlesLookAsIfDrawnWhole) {
    TempDir dir;
    std::string deep = std::string(120, 'j') + "\xe6\x97\xa5\xe6\x9c\xac" + std::string(120, 'W');
    std::string inside = dir / deep, wide;
    MakeDir(inside);
    for (int character = 0; character < 85; character++)
        wide += "\xe6\x97\xa5"; // a wide character of three bytes
    std::vector<std::string> names = {
        "f", wide, "odd\xff\x80\xc3\xa9\xf0\x9f\x98\x80" + std::string(200, 'm')};
    for (char character : {'i', 'W', 'j', ' '})
        names.push_back(std::string(255, character));
    MakeTree(inside, names);
    std::sort(names.begin(), names.end());
    names.insert(names.begin(), "../");
    // Each pane: its title and its rows, the first under the cursor; the left one is active.
    const std::pair<std::string, std::vector<std::string>> panes[2] = {
        {inside, names}, {dir.path, {"../", deep + "/"}}};

    KeyPlan plan = Plan("DA."); // into the long directory
    ScriptOnFlip(plan.pass + 1, [&] {
        SDL_Surface *screen = SDL_ConvertSurface(gScreenSurface, gScreenSurface->format, 0);
        SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
        for (int index = 0, x = 2, line = option.font_height; index < 2; index++, x += 161) {
            SDL_Color back = index == 0 ? color_white : color_gray;
            SDL_Color cursor = index == 0 ? color_red : color_blue;
            BlitWhole(screen, font, panes[index].first, color_blue, back, x, 3);
            const std::vector<std::string> &rows = panes[index].second;
            for (size_t row = 0; row < rows.size(); row++)
                BlitWhole(screen, font, rows[row], color_black, row > 0 ? back : cursor, x,
                          static_cast<int>(row + 1) * (line + 1) + 3, 155, line);
        }
        BlitWhole(screen, font_small,
                  "A: chdir  B: up     X: move   Y: copy   L: info   R: disk   START:        ",
                  color_black, color_white, 2, 230);
        puts(memcmp(screen->pixels, gScreenSurface->pixels, kScreenBytes) ? "unlike" : "alike");
        SDL_FreeSurface(screen);
    });
    plan.Press(",Q");
    TestRun run = RunLoop(dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\nalike\n"), std::string::npos) << run.out;
}

// Writes a file of size bytes with 16 KiB of data at each of the given offsets and holes between.
static void MakeSparse(const std::string &path, off_t size, const std::vector<off_t> &data) {
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    for (off_t at : data)
        ASSERT_EQ(pwrite(file, Pattern(16384).data(), 16384, at), 16384);
    ASSERT_EQ(ftruncate(file, size) + close(file), 0);
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
    MakeTree(dir.path, {"src/", "out/"});
    const off_t size = 64 * 1024 * 1024 + 5; // a hole at the end, and a size not a multiple of 20
    MakeSparse(dir / "src/sparse", size, {0, 3 * 1024 * 1024, 40 * 1024 * 1024 + 100});
    ASSERT_LT(Blocks(dir / "src/sparse") * 512, size / 100) << "this file system keeps no holes";
    MakeSparse(dir / "src/hole", 8 * 1024 * 1024, {}); // nothing but a hole
    // Over three blocks of 1 MiB, its last one short.
    WriteFile(dir / "src/data", Pattern(3 * 1024 * 1024 + 12345));
    // The old kernel has no SEEK_DATA: it writes zeros and all, still exact.
    const std::pair<const char *, Kernel> cases[] = {
        {"sparse", Kernel::kCurrent},    {"sparse", Kernel::kNoKernelCopy},
        {"sparse", Kernel::kOld},        {"hole", Kernel::kCurrent},
        {"data", Kernel::kNoKernelCopy}, {"data", Kernel::kEmptyKernelCopy}};
    for (const auto &[name, kernel] : cases) {
        SCOPED_TRACE(name);
        unlink((dir / "out/" + name).c_str());
        TestRun run = RunFileOperation([&, name = name, kernel = kernel] {
            SetKernel(kernel);
            int result = CopyDirEntry((dir / "out").c_str(), (dir / "src").c_str(), name);
            int last_cell_x = 70 + 9 * 19 + 4, track_y = 100 + 2 * option.font_height + 5;
            return result == 1 && ColorIs(gScreenSurface, last_cell_x, track_y, color_white);
        });
        EXPECT_EQ(run.result, 1);
        EXPECT_TRUE(ReadFile(dir / "out/" + name) == ReadFile(dir / "src/" + name));
        if (kernel != Kernel::kOld) {
            EXPECT_LE(Blocks(dir / "out/" + name), Blocks(dir / "src/" + name));
        }
    }
}

// In a folder's copy each file after the first repaints only its name and track: the last
// file's dialog must look exactly as the dialog drawn anew for that file alone, after a copy of z
// whose dialog the screen then covered.
TEST(CopyDialog, LaterFilesLookAsIfTheDialogWereDrawnAnew) {
    TempDir dir;
    // In table order: a short name, one folded over two lines, and a short one after it.
    const std::string x = "=" + std::string(39, 'x');
    MakeTree(dir.path,
             {"src/", "src/tree/", "src/z", "src/tree/a" + x,
              "src/tree/b_" + std::string(60, 'w') + x, "src/tree/c" + x, "folder/", "alone/"});
    TestRun run = RunFileOperation([&] {
        FillScreen(color_black);
        ShowWholeScreen();
        int copied = CopyDirEntry((dir / "folder").c_str(), (dir / "src").c_str(), "tree/");
        SurfacePtr in_folder = BackupScreenSurface();
        copied += CopyDirEntry((dir / "alone").c_str(), (dir / "src").c_str(), "z");
        FillScreen(color_black);
        ShowWholeScreen();
        copied += CopyDirEntry((dir / "alone").c_str(), (dir / "src/tree").c_str(), "c");
        return copied == 3 && !memcmp(in_folder->pixels, gScreenSurface->pixels, kScreenBytes);
    });
    EXPECT_EQ(run.result, 1);
}
