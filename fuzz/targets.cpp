// The libFuzzer targets, one program each: the build defines FUZZ_<TARGET> for the one it makes.
// Each reads its numbers and text from the front of the input (past its end every number is 0),
// runs one function of the program on buffers of exactly the size it is given, so that the
// sanitizers see any access past them, and crashes with what went wrong when a check fails.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <SDL.h>
#include <SDL_ttf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/fs/fileops.h"
#include "app/fs/listing.h"
#include "app/infopopups.h"
#include "app/session.h"
#include "dialogs/dialogbox.h"
#include "dialogs/lineinput.h"
#include "input/input.h"
#include "tests/font_reads.h"

static const char kMark = '#';

static void Check(bool holds, const char *what) {
    if (!holds) {
        fprintf(stderr, "fuzz: %s\n", what);
        abort();
    }
}

// count items, every byte the mark, so that a check sees which ones were written.
template <typename T> static std::unique_ptr<T[]> Marked(size_t count) {
    auto items = std::unique_ptr<T[]>(new T[count]);
    memset(items.get(), kMark, sizeof(T) * count);
    return items;
}

inline bool AllMarks(const char *from, size_t bytes) {
    return std::string(from, bytes).find_first_not_of(kMark) == std::string::npos;
}

struct Input {
    const uint8_t *data;
    size_t size;
    size_t at;

    // A little-endian number of the given bytes (at most 2).
    int Take(int bytes) {
        int value = 0;
        for (int i = 0; i < bytes; i++)
            value |= (at < size ? data[at++] : 0) << (8 * i);
        return value;
    }
    size_t Left() const { return size - at; }
    // The next count bytes (fewer at the end) and a terminator.
    std::unique_ptr<char[]> TakeString(size_t count) {
        count = std::min(count, Left());
        auto text = Marked<char>(count + 1);
        memcpy(text.get(), data + at, count);
        text[count] = '\0';
        at += count;
        return text;
    }
};

#if defined(FUZZ_FOLD_STRING)
// FoldString on any text, width, height, line height, font size and table size: its last row
// lies in the table, a text of ASCII is never refused, and its rows, each terminated and no wider
// than the width, put back together are the start of the text.
static const int kFontSizes[] = {4, 6, 8, 10, 12, 14};
static TTF_Font *fonts[std::size(kFontSizes)];

static void Setup() {
    // Init's font would be lost when the first of these is set.
    TTF_CloseFont(font);
    for (size_t i = 0; i < std::size(kFontSizes); i++)
        Check((fonts[i] = TTF_OpenFont(ZORVEL_FUZZ_FONT, kFontSizes[i])), "cannot open the font");
}

static void Run(Input &in) {
    // Widths of either sign; heights as the unsigned 16-bit rectangle fields bring them, and
    // small negative ones too.
    int max_width = static_cast<int16_t>(in.Take(2));
    int max_height = in.Take(2) - 64;
    int row_count = 1 + in.Take(1) % kFoldRows;
    option.font_height = in.Take(1) % 32;
    font = fonts[in.Take(1) % std::size(kFontSizes)];
    auto text = in.TakeString(in.Left());
    auto rows = Marked<FoldRow>(row_count);
    int last = FoldString(max_width, max_height, text.get(), rows.get(), row_count);

    Check(last >= -1 && last < row_count, "the last row lies outside the table");
    size_t length = strlen(text.get());
    bool ascii = std::all_of(&text[0], &text[length], [](char c) { return (c & 0x80) == 0; });
    Check(last != -1 || !ascii, "a text of ASCII characters was refused");
    size_t at = 0;
    for (int row = 0; row <= last; row++) {
        size_t row_length = strnlen(rows[row], kFoldRowSize);
        Check(row_length < kFoldRowSize, "a row is not terminated");
        Check(at + row_length <= length && memcmp(rows[row], &text[at], row_length) == 0,
              "the rows are not the start of the text");
        at += row_length;
        // A row ends at a line feed, which no row holds, or before a character that did not fit.
        at += row < last && text[at] == '\n';
        int width = 0;
        TTF_SizeUTF8(font, rows[row], &width, nullptr);
        Check(row_length == 0 || width <= max_width, "a row is wider than the width");
    }
}

#elif defined(FUZZ_SPLIT_BY_SPACE)
// SplitBySpace on any text into tables of any size: it stores at most `most` words, each the
// first 49 bytes of a word, writes no row beyond its count, and its count agrees with a plain
// reading of the text: separators before the first word make an empty first word, runs of
// separators between words make none.
static void Setup() {}

static void Run(Input &in) {
    int most = in.Take(1) % (kDiskWords + 3);
    auto text = in.TakeString(in.Left());
    // A row past the table stands for any row beyond.
    auto words = Marked<ReportWord>(most + 1);
    int count = SplitBySpace(text.get(), words.get(), most);

    std::vector<std::string> expected;
    for (const char *at = text.get(); *at != '\0' && static_cast<int>(expected.size()) < most;) {
        size_t length = strcspn(at, " \t\n");
        expected.emplace_back(at, std::min(length, kWordSize - 1));
        at += length + strspn(at + length, " \t\n");
    }
    Check(count == static_cast<int>(expected.size()),
          "the count differs from the words of the text");
    for (int i = 0; i < count; i++)
        Check(strnlen(words[i], kWordSize) < kWordSize && expected[i] == words[i],
              "a stored word differs from the word of the text");
    Check(AllMarks(words[count], (most + 1 - count) * kWordSize),
          "a row beyond the count was written");
}

#elif defined(FUZZ_BASE_NAME)
// BaseName on any path into an output just large enough for the last component or larger: it
// gives that output back holding the component, trailing slashes left out.
static void Setup() {}

static void Run(Input &in) {
    size_t spare = in.Take(1) % 8;
    auto path = in.TakeString(in.Left());
    std::string text = path.get();
    size_t end = text.find_last_not_of('/');
    // No slash before the component makes npos + 1, the start.
    size_t start = end == std::string::npos ? 0 : text.rfind('/', end) + 1;
    std::string expected = end == std::string::npos ? "" : text.substr(start, end + 1 - start);
    // A component that does not fit ends the process, by design: sizes here always fit.
    size_t size = expected.size() + 1 + spare;
    auto output = Marked<char>(size);
    Check(BaseName(output.get(), path.get(), size) == output.get(),
          "the result is not the output buffer");
    Check(strnlen(output.get(), size) < size && expected == output.get(),
          "the output is not the last component");
}

#elif defined(FUZZ_LINE_INPUT)
// The line-input dialog driven by any sequence of button states, with any capacity, visible
// count, box size and initial text: it hands back at most capacity bytes with their terminator,
// types only printable codes, and leaves the result alone when it refuses its box.
// The keys of the twelve buttons, in the order of the bits of a scripted sample.
static const SDLKey kButtonKeys[] = {SDLK_UP,    SDLK_DOWN,      SDLK_LEFT,   SDLK_RIGHT,
                                     SDLK_LCTRL, SDLK_LALT,      SDLK_SPACE,  SDLK_LSHIFT,
                                     SDLK_TAB,   SDLK_BACKSPACE, SDLK_RETURN, SDLK_ESCAPE};
static const int kStartBit = 1 << 10;
// Samples after the script before the dialog must have finished.
static const size_t kFinishingSamples = 5000;
// The button states of the current input, two bytes a sample.
static const uint8_t *script;
static size_t script_samples;
static size_t sample;

extern "C" {
Uint8 *__real_SDL_GetKeyState(int *numkeys);
SDL_Surface *__real_TTF_RenderUTF8_Shaded(TTF_Font *, const char *, SDL_Color, SDL_Color);

// The field's text and cursor cell must hold whatever the font library reads of them.
SDL_Surface *__wrap_TTF_RenderUTF8_Shaded(TTF_Font *font, const char *text, SDL_Color fg,
                                          SDL_Color bg) {
    ReadAsTheFontLibraryDoes(text);
    return __real_TTF_RenderUTF8_Shaded(font, text, fg, bg);
}

// Each sample of the key table takes the next states of the script; after it, everything is let
// go and START pressed in turn until the dialog finishes.
Uint8 *__wrap_SDL_GetKeyState(int *numkeys) {
    Uint8 *keys = __real_SDL_GetKeyState(numkeys);
    size_t after = sample - script_samples;
    Check(sample < script_samples || after < 2 * kFinishingSamples,
          "the dialog does not finish on START");
    int states = sample < script_samples ? script[2 * sample] | script[2 * sample + 1] << 8
                 : after % 2 == 1        ? kStartBit
                                         : 0;
    for (int button = 0; button < BTN_COUNT; button++)
        keys[kButtonKeys[button]] = (states >> button) & 1;
    sample++;
    return keys;
}

void __wrap_SDL_Delay(Uint32) {}
}

static void Setup() {
    // The keyboard's images are in the build folder's graphics/, as in a start directory.
    CopyString(option.start_dir, sizeof option.start_dir, ZORVEL_BUILD_DIR);
}

static void Run(Input &in) {
    int capacity = 1 + in.Take(2) % 300;
    int visible = 1 + in.Take(1) % 64;
    int width = in.Take(2) % 348 - 8;
    int height = in.Take(1);
    auto initial = in.TakeString(in.Take(2) % 400);
    script = in.data + in.at;
    script_samples = in.Left() / 2;
    sample = 0;
    auto result = Marked<char>(capacity + 1);
    int answer = LineInput(width, height, capacity, visible, "fuzz", initial.get(), result.get());

    if (width > 320 || height > 240) {
        Check(answer == 0 && AllMarks(result.get(), capacity + 1),
              "a refused box touched the result");
        return;
    }
    Check(answer == 1, "the dialog did not hand back its text");
    size_t length = strnlen(result.get(), capacity + 1);
    Check(length <= static_cast<size_t>(capacity),
          "the text is longer than the capacity or not terminated");
    for (size_t i = 0; i < length && initial[0] == '\0'; i++)
        Check(static_cast<unsigned char>(result[i]) >= 32,
              "a control code was typed into the text");
}

#elif defined(FUZZ_LISTING)
// CountDir and SeekDir on directories made from the input: files, directories, links of every
// kind and pipes, with any names a file system takes, into tables of any capacity. The count
// takes every entry but "."; the table holds, up to its capacity and never past it, the
// directories with their "/" and then the rest, each group in byte order, every name the very
// name of its entry.
enum Kind { kFile, kDirectory, kLinkToDirectory, kLinkToFile, kDanglingLink, kPipe, kKinds };
static std::string base;

static void Setup() {
    char pattern[] = "/tmp/zorvel-fuzz-listing-XXXXXX";
    Check(mkdtemp(pattern) != nullptr, "cannot make a temporary directory");
    base = pattern;
    atexit([] { rmdir(base.c_str()); });
}

// A name a file system takes: no "/", no NUL, not "." nor "..", at most 255 bytes.
static std::string TakeName(Input &in) {
    size_t length = 1 + in.Take(1) % (kNameSize - 1);
    std::string name;
    for (; name.size() < length && in.Left() > 0;) {
        char c = static_cast<char>(in.Take(1));
        name += c == '/' ? '%' : c == '\0' ? '\x01' : c;
    }
    if (name.empty() || name == "." || name == "..")
        name += "_";
    return name;
}

static bool Make(const std::string &path, int kind) {
    static const char *const kLinkTargets[] = {".", "/etc/passwd", "/nonexistent/zorvel"};
    if (kind == kFile)
        return close(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644)) == 0;
    if (kind == kDirectory)
        return mkdir(path.c_str(), 0755) == 0;
    if (kind == kPipe)
        return mkfifo(path.c_str(), 0644) == 0;
    return symlink(kLinkTargets[kind - kLinkToDirectory], path.c_str()) == 0;
}

static void Run(Input &in) {
    int capacity_choice = in.Take(1);
    std::string dir = base + "/d";
    Check(mkdir(dir.c_str(), 0755) == 0, "cannot make the directory");
    // The directories with the parent entry, and the rest.
    std::vector<std::string> groups[2] = {{"../"}, {}};
    int left_out = 0;
    while (in.Left() > 0) {
        int kind = in.Take(1) % kKinds;
        std::string name = TakeName(in);
        std::vector<std::string> &group = groups[kind == kDirectory ? 0 : 1];
        // A group holds at most kGroupLimit - 1 entries; a name already taken is not made again.
        if (static_cast<int>(group.size()) >= kGroupLimit - 1 || !Make(dir + "/" + name, kind))
            continue;
        // A directory's name with its "/" must fit a slot, or it is left out: cut short, it would
        // stand for another name.
        if (kind == kDirectory && name.size() + 1 >= kNameSize)
            left_out++;
        else
            group.push_back(kind == kDirectory ? name + "/" : name);
    }
    std::vector<std::string> expected;
    for (auto &group : groups) {
        std::sort(group.begin(), group.end());
        expected.insert(expected.end(), group.begin(), group.end());
    }

    int count = CountDir(dir.c_str());
    Check(count == static_cast<int>(expected.size()) + left_out,
          "the count differs from the entries made");
    // Tables a little smaller or larger than the count, or exactly that large.
    int capacity = std::max(0, count + capacity_choice % 7 - 3);
    auto table = Marked<EntryName>(capacity);
    int unlisted = -1;
    int stored = SeekDir(dir.c_str(), table.get(), capacity, &unlisted);
    Check(stored == std::min(static_cast<int>(expected.size()), capacity) && unlisted == left_out,
          "the table holds another number of names");
    for (int i = 0; i < stored; i++)
        Check(strnlen(table[i], kNameSize) < kNameSize && expected[i] == table[i],
              "a slot differs from the sorted listing");
    std::filesystem::remove_all(dir);
}
#endif

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    CopyString(option.font_file, sizeof option.font_file, ZORVEL_FUZZ_FONT);
    Check(Init() == 1, "cannot open the dummy display with the font");
    Setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in{data, size, 0};
    Run(in);
    return 0;
}
