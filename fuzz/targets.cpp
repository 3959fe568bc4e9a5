// The libFuzzer targets, one program each: the build defines FUZZ_<TARGET> for the one it makes.
// Each reads its numbers and text from the front of the input, runs one function of the program
// on buffers of exactly the size it is given, so that the sanitizers see any access past them,
// and crashes with what went wrong when a check fails.
#include <filesystem>
#include <vector>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "app/fs/fileops.h"
#include "app/fs/listing.h"
#include "app/infopopups.h"
#include "app/session.h"
#include "dialogs/dialogbox.h"
#include "common/buttons.h"
#include "dialogs/lineinput.h"
#include "tests/font_reads.h"

// The input not read yet; past its end every number is 0.
static const uint8_t *input;
static size_t left;

// A little-endian number of the given bytes (at most 2).
static int Take(int bytes) {
    int value = 0;
    for (int i = 0; i < bytes && left > 0; i++, left--)
        value |= *input++ << (8 * i);
    return value;
}

// The next count bytes (fewer at the end) in a buffer of just their size and a terminator.
static std::vector<char> TakeString(size_t count) {
    std::vector<char> text(std::min(count, left) + 1);
    std::generate(text.begin(), text.end() - 1, [] { return static_cast<char>(Take(1)); });
    return text;
}

// Ends the run as a crash that libFuzzer keeps, saying what went wrong.
#define CHECK(holds, what) ((holds) ? void() : (fputs("fuzz: " what "\n", stderr), abort()))

// count items, every byte '#': a check then sees which bytes were written.
template <typename T> static std::unique_ptr<T[]> Marked(size_t count) {
    auto items = std::unique_ptr<T[]>(new T[count]);
    memset(items.get(), '#', sizeof(T) * count);
    return items;
}
inline bool AllMarks(const char *from, size_t bytes) {
    return std::count(from, from + bytes, '#') == static_cast<ptrdiff_t>(bytes);
}

#if defined(FUZZ_FOLD_STRING)
// FoldString on any text, width, height, line height, font size and table size: its last row
// lies in the table, a text of ASCII is never refused, and its rows, each terminated and no wider
// than the width, put back together are the start of the text.
static void Run() {
    // Init's font stays among them, so that it is not lost.
    static TTF_Font *fonts[6] = {font};
    for (int i = 1; fonts[5] == nullptr && i < 6; i++)
        fonts[i] = TTF_OpenFont(ZORVEL_FUZZ_FONT, 2 + 2 * i);
    // Widths of either sign; heights as the unsigned 16-bit rectangle fields bring them, and
    // small negative ones too.
    int max_width = static_cast<int16_t>(Take(2)), max_height = Take(2) - 64;
    int row_count = 1 + Take(1) % kFoldRows;
    option.font_height = Take(1) % 32;
    font = fonts[Take(1) % std::size(fonts)];
    auto text = TakeString(left);
    auto rows = Marked<FoldRow>(row_count);
    int last = FoldString(max_width, max_height, text.data(), rows.get(), row_count);

    size_t length = strlen(text.data()), at = 0;
    bool ascii = std::all_of(&text[0], &text[length], [](char c) { return (c & 0x80) == 0; });
    CHECK(last >= -1 && last < row_count && (last != -1 || !ascii), "another last row");
    for (int row = 0, width = 0; row <= last; row++) {
        size_t row_length = strnlen(rows[row], kFoldRowSize);
        CHECK(row_length < kFoldRowSize && at + row_length <= length &&
                  memcmp(rows[row], &text[at], row_length) == 0,
              "the rows are not the start of the text");
        // A row ends at a line feed, which no row holds, or before a character that did not fit.
        at += row_length + (row < last && text[at + row_length] == '\n');
        TTF_SizeUTF8(font, rows[row], &width, nullptr);
        CHECK(row_length == 0 || width <= max_width, "a row is wider than the width");
    }
}

#elif defined(FUZZ_SPLIT_BY_SPACE)
// SplitBySpace on any text into tables of any size: it stores at most `most` words, each the
// first 49 bytes of a word, writes no row beyond its count, and its count agrees with a plain
// reading of the text: separators before the first word make an empty first word, runs of
// separators between words make none.
static void Run() {
    int most = Take(1) % (kDiskWords + 3), expected = 0;
    auto text = TakeString(left);
    auto words = Marked<ReportWord>(most + 1); // the last row stands for any row beyond
    int count = SplitBySpace(text.data(), words.get(), most);
    for (const char *at = text.data(); *at != '\0' && expected < most; expected++) {
        size_t length = strcspn(at, " \t\n");
        CHECK(expected < count && strnlen(words[expected], kWordSize) < kWordSize &&
                  std::string(at, std::min(length, kWordSize - 1)) == words[expected],
              "another word");
        at += length + strspn(at + length, " \t\n");
    }
    CHECK(count == expected && AllMarks(words[count], (most + 1 - count) * kWordSize),
          "another count of words, or a row past the count written");
}

#elif defined(FUZZ_BASE_NAME)
// BaseName on any path into an output just large enough for the last component or larger: it
// gives that output back holding the component, trailing slashes left out.
static void Run() {
    size_t spare = Take(1) % 8;
    auto path = TakeString(left);
    // The trailing slashes left out, then everything to the last slash (npos + 1 is 0). A
    // component that does not fit ends the process, by design: sizes here always fit.
    std::string expected = path.data();
    expected.erase(expected.find_last_not_of('/') + 1);
    expected.erase(0, expected.rfind('/') + 1);
    size_t size = expected.size() + 1 + spare;
    auto output = Marked<char>(size);
    CHECK(BaseName(output.get(), path.data(), size) == output.get() &&
              strnlen(output.get(), size) < size && expected == output.get(),
          "another component");
}

#elif defined(FUZZ_LINE_INPUT)
// The line-input dialog driven by any sequence of button states, with any capacity, visible
// count, box size and initial text: it hands back at most capacity bytes with their terminator,
// types only printable codes, and leaves the result alone when it refuses its box.
// Samples taken after the script; a dialog that never finishes on START is a timeout.
static size_t finishing;

extern "C" Uint8 *__real_SDL_GetKeyState(int *numkeys);
extern "C" SDL_Surface *__real_TTF_RenderUTF8_Shaded(TTF_Font *, const char *, SDL_Color,
                                                     SDL_Color);

// The field's text and cursor cell must hold whatever the font library reads of them.
extern "C" SDL_Surface *__wrap_TTF_RenderUTF8_Shaded(TTF_Font *font, const char *text, SDL_Color fg,
                                                     SDL_Color bg) {
    ReadAsTheFontLibraryDoes(text);
    return __real_TTF_RenderUTF8_Shaded(font, text, fg, bg);
}

// Each sample of the key table takes the next two bytes of the input, a bit for each button;
// after them, everything is let go and START pressed in turn until the dialog finishes.
extern "C" Uint8 *__wrap_SDL_GetKeyState(int *numkeys) {
    Uint8 *keys = __real_SDL_GetKeyState(numkeys);
    int states = left >= 2 ? Take(2) : static_cast<int>(finishing++ % 2) << BTN_START;
    for (int button = 0; button < BTN_COUNT; button++)
        keys[button_key[button]] = (states >> button) & 1;
    return keys;
}

extern "C" void __wrap_SDL_Delay(Uint32) {}

static void Run() {
    // Boxes up to a little larger than the screen, some with no room at all.
    int capacity = 1 + Take(2) % 300, visible = 1 + Take(1) % 64;
    int width = Take(2) % 348 - 8, height = Take(1);
    auto initial = TakeString(Take(2) % 400);
    finishing = 0;
    auto result = Marked<char>(capacity + 1);
    int answer = LineInput(width, height, capacity, visible, "fuzz", initial.data(), result.get());

    bool refused = width > 320 || height > 240;
    CHECK(refused ? answer == 0 && AllMarks(result.get(), capacity + 1) : answer == 1,
          "another answer");
    size_t length = refused ? 0 : strnlen(result.get(), capacity + 1);
    CHECK(length <= static_cast<size_t>(capacity), "the text overflows its capacity");
    for (size_t i = 0; i < length && initial[0] == '\0'; i++)
        CHECK(static_cast<unsigned char>(result[i]) >= 32, "a control code was typed");
}

#elif defined(FUZZ_LISTING)
// CountDir and SeekDir on directories made from the input: files, directories, links of every
// kind and pipes, with any names a file system takes, into tables of any capacity. The count
// takes every entry but "."; the table holds, up to its capacity and never past it, the
// directories with their "/" and then the rest, each group in byte order, every name the very
// name of its entry.
static void Run() {
    static const char *const kLinkTargets[] = {".", "/etc/passwd", "/nonexistent/zorvel"};
    int capacity_choice = Take(1), left_out = 0;
    char dir[] = "/tmp/zorvel-fuzz-listing-XXXXXX";
    CHECK(mkdtemp(dir) != nullptr, "cannot make a temporary directory");
    // The directories with the parent entry, and the rest, each in byte order.
    std::set<std::string> groups[2] = {{"../"}, {}};
    while (left > 0) {
        // A file, a directory, a link to a directory, to a file or to nothing, or a pipe.
        int kind = Take(1) % 6;
        // A name a file system takes: no "/", no NUL, not "." nor "..", at most 255 bytes.
        std::string name = TakeString(1 + Take(1) % (kNameSize - 1)).data();
        std::replace(name.begin(), name.end(), '/', '%');
        name += name.empty() || name == "." || name == ".." ? "_" : "";
        std::string path = std::string(dir) + "/" + name;
        // A group holds at most kGroupLimit - 1 entries; a name already taken is not made again.
        std::set<std::string> &group = groups[kind == 1 ? 0 : 1];
        if (static_cast<int>(group.size()) >= kGroupLimit - 1 ||
            (kind == 1 ? mkdir(path.c_str(), 0755)
             : kind >= 2 && kind <= 4
                 ? symlink(kLinkTargets[kind - 2], path.c_str())
                 : mknod(path.c_str(), (kind ? S_IFIFO : S_IFREG) | 0644, 0)) != 0)
            continue;
        // A directory's name with its "/" must fit a slot, or it is left out: cut short, it would
        // stand for another name.
        if (kind == 1 && name.size() + 1 >= kNameSize)
            left_out++;
        else
            group.insert(kind == 1 ? name + "/" : name);
    }
    std::vector<std::string> expected(groups[0].begin(), groups[0].end());
    expected.insert(expected.end(), groups[1].begin(), groups[1].end());

    int count = CountDir(dir), unlisted = -1;
    CHECK(count == static_cast<int>(expected.size()) + left_out, "another count of entries");
    // Tables a little smaller or larger than the count, or exactly that large.
    int capacity = std::max(0, count + capacity_choice % 7 - 3);
    auto table = Marked<EntryName>(capacity);
    int stored = SeekDir(dir, table.get(), capacity, &unlisted);
    CHECK(stored == std::min(count - left_out, capacity) && unlisted == left_out, "another table");
    for (int i = 0; i < stored; i++)
        CHECK(strnlen(table[i], kNameSize) < kNameSize && expected[i] == table[i], "another name");
    std::filesystem::remove_all(dir);
}
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The keyboard's images are in the build folder's graphics/, as in a start directory.
    static bool ready = setenv("SDL_VIDEODRIVER", "dummy", 1) == 0 &&
                        CopyString(option.font_file, sizeof option.font_file, ZORVEL_FUZZ_FONT) &&
                        Init() == 1 &&
                        CopyString(option.start_dir, sizeof option.start_dir, ZORVEL_BUILD_DIR);
    CHECK(ready, "cannot open the dummy display with the font");
    input = data;
    left = size;
    Run();
    return 0;
}
