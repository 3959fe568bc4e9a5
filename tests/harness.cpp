#include "tests/harness.h"

#include <SDL_ttf.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <ftw.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "app/browser.h"
#include "app/session.h"
#include "common/globals.h"
#include "input/input.h"
#include "tests/font_reads.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#include <sys/resource.h>
// Descriptors the leak check of a child needs for its report.
static const rlim_t kLeakCheckFiles = 64;
#endif

const char *const kTestFont = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf";

struct KeyChange {
    int pass;
    SDLKey key;
    bool down;
};
static std::vector<KeyChange> key_changes;
static std::multimap<int, std::string> captures_at;
static int pass_count = 0, flip_count = 0, pass_limit = 0;
// While set, samples neither apply the script nor count as passes.
static bool script_paused = false;
static KeySource key_source;
static std::multimap<int, std::function<void()>> flip_actions;
static std::multimap<int, std::function<void()>> open_dir_actions;
static int open_dir_count = 0;

// Declares the real function and its wrap (the linker's --wrap) with the same parameters.
#define WRAPPED(type, name, ...)                                                                   \
    type __real_##name(__VA_ARGS__);                                                               \
    type __wrap_##name(__VA_ARGS__)

extern "C" {
WRAPPED(Uint8 *, SDL_GetKeyState, int *numkeys);
WRAPPED(void, SDL_Delay, Uint32 ms);
WRAPPED(int, SDL_Flip, SDL_Surface *screen);
WRAPPED(void, SDL_UpdateRect, SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h);
WRAPPED(void, SDL_UpdateRects, SDL_Surface *screen, int count, SDL_Rect *rects);
WRAPPED(ssize_t, copy_file_range, int in, loff_t *in_offset, int out, loff_t *out_offset,
        size_t length, unsigned int flags);
WRAPPED(off_t, lseek, int fd, off_t offset, int whence);
WRAPPED(off64_t, lseek64, int fd, off64_t offset, int whence);
WRAPPED(SDL_Surface *, TTF_RenderUTF8_Blended, TTF_Font *font, const char *text, SDL_Color fg);
WRAPPED(SDL_Surface *, TTF_RenderUTF8_Shaded, TTF_Font *font, const char *text, SDL_Color fg,
        SDL_Color bg);
WRAPPED(DIR *, opendir, const char *path);
WRAPPED(long, syscall, long number, ...);
WRAPPED(void, sync, void);
WRAPPED(int, fsync, int descriptor);
WRAPPED(int, rename, const char *from, const char *to);
WRAPPED(int, statfs, const char *path, struct statfs *status);
WRAPPED(int, statfs64, const char *path, struct statfs64 *status);
WRAPPED(int, sync_file_range, int descriptor, off64_t offset, off64_t length, unsigned flags);
WRAPPED(int, open, const char *path, int flags, ...);
WRAPPED(int, open64, const char *path, int flags, ...);
WRAPPED(int, linkat, int from_dir, const char *from, int to_dir, const char *to, int flags);
}

static std::string drawn_text, shaded_text;

SDL_Surface *__wrap_TTF_RenderUTF8_Blended(TTF_Font *font, const char *text, SDL_Color fg) {
    ReadAsTheFontLibraryDoes(text);
    drawn_text += text;
    return __real_TTF_RenderUTF8_Blended(font, text, fg);
}

SDL_Surface *__wrap_TTF_RenderUTF8_Shaded(TTF_Font *font, const char *text, SDL_Color fg,
                                          SDL_Color bg) {
    ReadAsTheFontLibraryDoes(text);
    shaded_text += text;
    shaded_text += "\n";
    return __real_TTF_RenderUTF8_Shaded(font, text, fg, bg);
}

std::string TakeDrawnText() {
    return std::exchange(drawn_text, {});
}

std::string TakeShadedText() {
    return std::exchange(shaded_text, {});
}

// Each sample of the key table is one pass: the script's changes for it are applied first.
Uint8 *__wrap_SDL_GetKeyState(int *numkeys) {
    Uint8 *keys = __real_SDL_GetKeyState(numkeys);
    if (script_paused)
        return keys;
    for (const KeyChange &change : key_changes)
        if (change.pass == pass_count)
            keys[change.key] = change.down ? 1 : 0;
    if (key_source)
        key_source(pass_count, keys);
    pass_count++;
    if (pass_limit > 0 && pass_count > pass_limit) {
        printf("harness: pass limit %d reached\n", pass_limit);
        fflush(stdout);
        _exit(99);
    }
    return keys;
}

// Pauses cost nothing in tests.
void __wrap_SDL_Delay(Uint32) {}

static Kernel kernel = Kernel::kCurrent;
static bool storage_fails = false, all_fat = false;
// The flushes and renames of a RunLoop, logged only while it runs.
static bool logging_flushes = false;
static std::string flush_log;

void SetKernel(Kernel answers) {
    kernel = answers;
}
void FailStorage(bool fail) {
    storage_fails = fail;
}
void PretendFat(bool fat) {
    all_fat = fat;
}

// Answers a refused call: -1 with errno set to error.
static int Refuse(int error) {
    errno = error;
    return -1;
}

static void LogFlush(const std::string &line) {
    if (logging_flushes)
        flush_log += line + "\n";
}

static std::string DescriptorPath(long descriptor) {
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%ld", descriptor);
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length < 0)
        return "?";
    // A file made without a name reads as "DIR/#INODE (deleted)".
    std::string path(target, length);
    size_t hash = path.rfind("/#");
    if (hash != std::string::npos && path.size() > 10 &&
        path.substr(path.size() - 10) == " (deleted)")
        return path.substr(0, hash + 1) + "(nameless)";
    return path;
}

long __wrap_syscall(long number, ...) {
    va_list arguments;
    va_start(arguments, number);
    long a[6];
    for (long &argument : a)
        argument = va_arg(arguments, long);
    va_end(arguments);
    bool old = kernel == Kernel::kOld;
    if (number == SYS_syncfs) {
        LogFlush((old ? "refused syncfs " : "syncfs ") + DescriptorPath(a[0]));
        if (old || (storage_fails && kernel != Kernel::kQuietSyncfs))
            return Refuse(old ? ENOSYS : EIO);
    }
    if (number == SYS_statx && old)
        return Refuse(ENOSYS);
    if (number == SYS_renameat2 && (old || kernel == Kernel::kNoReplaceFlag))
        return Refuse(old ? ENOSYS : EINVAL);
    if (number == SYS_renameat2)
        LogFlush(std::string("rename ") + reinterpret_cast<const char *>(a[1]) + " " +
                 reinterpret_cast<const char *>(a[3]));
    return __real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

// Files made without a name: refused by FAT (also where the no-replace flag is) and, as EISDIR,
// by the console's 2.6 kernel.
static int OpenAsTheKernelWould(int (*real_open)(const char *, int, ...), const char *path,
                                int flags, va_list arguments) {
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
    if ((flags & O_TMPFILE) == O_TMPFILE &&
        (kernel == Kernel::kOld || kernel == Kernel::kNoReplaceFlag || all_fat))
        return Refuse(kernel == Kernel::kOld ? EISDIR : EOPNOTSUPP);
    return real_open(path, flags, mode);
}

#define WRAP_OPEN(name)                                                                            \
    int __wrap_##name(const char *path, int flags, ...) {                                          \
        va_list arguments;                                                                         \
        va_start(arguments, flags);                                                                \
        int descriptor = OpenAsTheKernelWould(__real_##name, path, flags, arguments);              \
        va_end(arguments);                                                                         \
        return descriptor;                                                                         \
    }
WRAP_OPEN(open)
WRAP_OPEN(open64)

int __wrap_linkat(int from_dir, const char *from, int to_dir, const char *to, int flags) {
    const char *fd_prefix = "/proc/self/fd/";
    std::string from_path = from;
    if ((flags & AT_EMPTY_PATH) != 0 && from_path.empty())
        from_path = DescriptorPath(from_dir);
    else if (from_path.rfind(fd_prefix, 0) == 0)
        from_path = DescriptorPath(atol(from + strlen(fd_prefix)));
    LogFlush("link " + from_path + " " + to);
    // Kernels before 6.10 (Debian 12's among them) let only a process with root's rights link a
    // descriptor itself.
    if ((flags & AT_EMPTY_PATH) != 0 && geteuid() != 0)
        return Refuse(ENOENT);
    return __real_linkat(from_dir, from, to_dir, to, flags);
}

void __wrap_sync() {
    LogFlush("sync");
    __real_sync();
}

// Logs a flush of the descriptor; true when the storage fails it.
static bool FlushFails(const char *call, int descriptor) {
    LogFlush(std::string(call) + " " + DescriptorPath(descriptor));
    return storage_fails;
}

int __wrap_fsync(int descriptor) {
    return FlushFails("fsync", descriptor) ? Refuse(EIO) : __real_fsync(descriptor);
}

// FAT's magic number in statfs's f_type.
static const long kFatMagic = 0x4d44;

template <typename Status>
static int StatfsAsTheKernelWould(int (*real)(const char *, Status *), const char *path,
                                  Status *status) {
    int result = real(path, status);
    if (result == 0 && all_fat)
        status->f_type = kFatMagic;
    return result;
}
int __wrap_statfs(const char *path, struct statfs *status) {
    return StatfsAsTheKernelWould(__real_statfs, path, status);
}
int __wrap_statfs64(const char *path, struct statfs64 *status) {
    return StatfsAsTheKernelWould(__real_statfs64, path, status);
}

int __wrap_sync_file_range(int descriptor, off64_t offset, off64_t length, unsigned flags) {
    return FlushFails("sync_file_range", descriptor)
               ? Refuse(EIO)
               : __real_sync_file_range(descriptor, offset, length, flags);
}

int __wrap_rename(const char *from, const char *to) {
    LogFlush(std::string("rename ") + from + " " + to);
    return __real_rename(from, to);
}

ssize_t __wrap_copy_file_range(int in, loff_t *in_offset, int out, loff_t *out_offset,
                               size_t length, unsigned int flags) {
    if (kernel == Kernel::kOld || kernel == Kernel::kNoKernelCopy)
        return Refuse(ENOSYS);
    if (kernel == Kernel::kEmptyKernelCopy)
        return 0;
    return __real_copy_file_range(in, in_offset, out, out_offset, length, flags);
}

template <typename Offset>
static Offset SeekAsTheKernelWould(Offset (*real)(int, Offset, int), int fd, Offset offset,
                                   int whence) {
    if (kernel == Kernel::kOld && (whence == SEEK_DATA || whence == SEEK_HOLE))
        return Refuse(EINVAL);
    return real(fd, offset, whence);
}
off_t __wrap_lseek(int fd, off_t offset, int whence) {
    return SeekAsTheKernelWould(__real_lseek, fd, offset, whence);
}
off64_t __wrap_lseek64(int fd, off64_t offset, int whence) {
    return SeekAsTheKernelWould(__real_lseek64, fd, offset, whence);
}

// The model display: what the display shows, as only the pushed areas made it. After every
// showing it must equal the screen surface, or something was drawn and not pushed (or pushed
// before it was drawn). The count of mismatches lives in memory shared with forked children.
static SDL_Surface *model = nullptr, *model_screen = nullptr;
static long *shared_mismatches = [] {
    void *memory =
        mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<long *>(memory);
}();

long ModelMismatches() {
    return shared_mismatches != nullptr ? *shared_mismatches : 0;
}

// A new screen surface starts a new display, which shows what the screen holds.
static bool ModelFollows(SDL_Surface *screen) {
    if (screen == nullptr || screen != SDL_GetVideoSurface())
        return false;
    if (model == nullptr || model_screen != screen || model->w != screen->w ||
        model->h != screen->h || model->pitch != screen->pitch) {
        if (model != nullptr)
            SDL_FreeSurface(model);
        model = SDL_ConvertSurface(screen, screen->format, 0);
        model_screen = screen;
    }
    return model != nullptr;
}

static void CheckModel(SDL_Surface *screen) {
    size_t row_bytes = static_cast<size_t>(screen->w) * screen->format->BytesPerPixel;
    for (int y = 0; y < screen->h; y++) {
        const Uint8 *shown = static_cast<Uint8 *>(model->pixels) + y * model->pitch;
        const Uint8 *drawn = static_cast<Uint8 *>(screen->pixels) + y * screen->pitch;
        if (memcmp(shown, drawn, row_bytes) != 0) {
            fprintf(stderr,
                    "harness: after showing %d the display differs from the screen in row %d\n",
                    flip_count, y);
            if (shared_mismatches != nullptr)
                __atomic_add_fetch(shared_mismatches, 1, __ATOMIC_SEQ_CST);
            return;
        }
    }
}

// Counts and models one showing of the areas (the whole screen for a flip), then runs the
// actions and captures of that showing.
static void Showing(SDL_Surface *screen, const SDL_Rect *areas, int count) {
    flip_count++;
    if (ModelFollows(screen)) {
        // A plain copy of the pixels, clipped to the screen as SDL's updates are.
        for (int i = 0; i < count; i++) {
            SDL_Rect from = areas[i], to = areas[i];
            SDL_BlitSurface(screen, &from, model, &to);
        }
        CheckModel(screen);
    }
    auto actions = flip_actions.equal_range(flip_count);
    for (auto it = actions.first; it != actions.second; ++it)
        it->second();
    auto range = captures_at.equal_range(pass_count - 1);
    for (auto it = range.first; it != range.second; ++it)
        SDL_SaveBMP(screen, it->second.c_str());
}

void __wrap_SDL_UpdateRect(SDL_Surface *screen, Sint32 x, Sint32 y, Uint32 w, Uint32 h) {
    __real_SDL_UpdateRect(screen, x, y, w, h);
    // SDL takes a zero rectangle for the whole screen.
    bool whole = x == 0 && y == 0 && w == 0 && h == 0;
    SDL_Rect area = {static_cast<Sint16>(x), static_cast<Sint16>(y),
                     static_cast<Uint16>(whole ? screen->w : static_cast<int>(w)),
                     static_cast<Uint16>(whole ? screen->h : static_cast<int>(h))};
    Showing(screen, &area, 1);
}

void __wrap_SDL_UpdateRects(SDL_Surface *screen, int count, SDL_Rect *rects) {
    __real_SDL_UpdateRects(screen, count, rects);
    Showing(screen, rects, count);
}

int __wrap_SDL_Flip(SDL_Surface *screen) {
    int result = __real_SDL_Flip(screen);
    SDL_Rect whole = {0, 0, static_cast<Uint16>(screen->w), static_cast<Uint16>(screen->h)};
    Showing(screen, &whole, 1);
    return result;
}

void ScriptClear() {
    key_changes.clear();
    captures_at.clear();
    pass_count = 0;
    flip_count = 0;
    pass_limit = 0;
    key_source = nullptr;
    flip_actions.clear();
    open_dir_actions.clear();
    open_dir_count = 0;
}

DIR *__wrap_opendir(const char *path) {
    if (!flush_log.empty())
        LogFlush("opendir");
    open_dir_count++;
    auto actions = open_dir_actions.equal_range(open_dir_count);
    for (auto it = actions.first; it != actions.second; ++it)
        it->second();
    return __real_opendir(path);
}

void ScriptSource(KeySource source) {
    key_source = std::move(source);
}

void ScriptOnFlip(int flip, std::function<void()> action) {
    flip_actions.emplace(flip, std::move(action));
}

void ScriptOnOpenDir(int call, std::function<void()> action) {
    open_dir_actions.emplace(call, std::move(action));
}

void ScriptHold(SDLKey key, int from, int until) {
    key_changes.push_back({from, key, true});
    key_changes.push_back({until, key, false});
}

void ScriptTap(SDLKey key, int pass) {
    ScriptHold(key, pass, pass + 1);
}
void ScriptLimit(int passes) {
    pass_limit = passes;
}
int ScriptPass() {
    return pass_count;
}
int FlipCount() {
    return flip_count;
}

void KeyPlan::Press(const std::string &buttons, const std::vector<std::string> &captures) {
    static const std::map<char, SDLKey> kKeys = {
        {'U', kUp}, {'D', kDown}, {'L', kLeft}, {'R', kRight}, {'A', kA},    {'B', kB},
        {'X', kX},  {'Y', kY},    {'l', kL},    {'r', kR},     {'S', kStart}};
    size_t next_capture = 0;
    for (size_t at = 0; at < buttons.size(); at++) {
        size_t digits = 0;
        char button = buttons[at];
        if (button == '^' || button == 'Q') { // SELECT held around the press
            ScriptHold(kSelect, pass, pass + 3);
            ScriptTap(button == 'Q' ? kStart : kKeys.at(buttons[++at]), pass + 1);
            pass += 4;
        } else if (button == '+') {
            ScriptTap(kKeys.at(buttons[++at]), pass); // and the next button in the same pass
        } else if (button == ',' || button == '.') {
            pass += button == ',' ? 1 : 2;
        } else if (button == 'C') {
            captures_at.emplace(pass++, captures.at(next_capture++));
        } else if (at + 1 < buttons.size() &&
                   isdigit(static_cast<unsigned char>(buttons[at + 1]))) {
            int passes = std::stoi(buttons.substr(at + 1), &digits);
            ScriptHold(kKeys.at(button), pass, pass + passes);
            pass += passes + 1;
            at += digits;
        } else if (button != ' ') {
            ScriptTap(kKeys.at(button), pass);
            pass += 2;
        }
    }
}

KeyPlan Plan(const std::string &buttons) {
    ScriptClear();
    ScriptLimit(5000);
    KeyPlan plan;
    plan.Press(buttons);
    return plan;
}

// _exit skips the leak check that exit runs: a child's leaks count too. The check needs a few
// descriptors, which a test may have taken away with its limit.
static void CheckChildLeaks() {
#if defined(__SANITIZE_ADDRESS__)
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < kLeakCheckFiles) {
        files.rlim_cur = kLeakCheckFiles;
        if (files.rlim_max < kLeakCheckFiles)
            files.rlim_max = kLeakCheckFiles;
        if (setrlimit(RLIMIT_NOFILE, &files) != 0)
            return;
    }
    __lsan_do_leak_check();
#endif
}

// The status with which the sanitizer scripts have every report end its process.
static const int kSanitizerStatus = 23;

// Keeps a child's sanitizer report in the scripts' log folder, so that it fails the run even when
// the test does not look at the child's status. Not every report can be sent to a file of its own
// (the undefined-behaviour sanitizer beside the address sanitizer writes to standard error only).
static void KeepSanitizerReport(pid_t child, const std::string &errors) {
    const char *folder = getenv("ZORVEL_SANITIZER_LOGS");
    if (folder != nullptr)
        std::ofstream(std::string(folder) + "/child." + std::to_string(child))
            << "a forked child ended with status " << kSanitizerStatus << "; its standard error:\n"
            << errors;
}

// What was written to a file without a name, from its start.
static std::string Written(FILE *file) {
    // The child wrote through the same open file: its end is where the writing stopped.
    fseek(file, 0, SEEK_END);
    std::string text(ftell(file), '\0');
    rewind(file);
    text.resize(fread(&text[0], 1, text.size(), file));
    fclose(file);
    return text;
}

TestRun RunChild(const std::function<int()> &body) {
    FILE *out = tmpfile(), *err = tmpfile();
    if (out == nullptr || err == nullptr)
        abort();
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child == 0) {
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(err), STDERR_FILENO);
        int status = body();
        fflush(stdout);
        CheckChildLeaks();
        _exit(status);
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    TestRun result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    result.out = Written(out);
    // What the child wrote to standard error shows as if written here.
    std::string errors = Written(err);
    fputs(errors.c_str(), stderr);
    if (result.status == kSanitizerStatus)
        KeepSanitizerReport(child, errors);
    return result;
}

// A child's record, printed last: the result, the "Error" popups of the shaded text, the text
// drawn anti-aliased, what the check returned and the flush log, each led by \x1e.
static void PrintRecord(int result, const std::string &shaded, const std::string &checked) {
    printf("\x1e%d\x1e%d\x1e%s\x1e%s\x1e%s", result, CountOf(shaded, "Error\n"),
           TakeDrawnText().c_str(), checked.c_str(), flush_log.c_str());
}

// Runs body in a child and reads the record it printed; what came before it is the output.
static TestRun RunRecorded(const std::function<int()> &body) {
    TestRun run = RunChild(body);
    const std::string printed = run.out;
    size_t start = printed.find('\x1e');
    run.out = printed.substr(0, start);
    std::string fields[5];
    for (std::string &field : fields) {
        if (start == std::string::npos)
            return run;
        size_t end = printed.find('\x1e', start + 1);
        field = printed.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        start = end;
    }
    run.result = atoi(fields[0].c_str());
    run.popups = atoi(fields[1].c_str());
    run.drawn = fields[2];
    run.checked = fields[3];
    run.flushes = fields[4];
    return run;
}

TestRun RunFileOperation(const std::function<int()> &operation) {
    return RunRecorded([&] {
        if (gScreenSurface == nullptr && !OpenTestDisplay())
            return 97;
        ScriptClear();
        for (int tap = 0; tap < 40; tap++)
            ScriptTap(SDLK_LCTRL, 10 * tap + 5);
        ScriptLimit(400);
        TakeDrawnText();
        TakeShadedText();
        int result = operation();
        PrintRecord(result, TakeShadedText(), "");
        return 0;
    });
}

bool OpenTestDisplay() {
    // Closes, without End's sync and log line, a display that an earlier test of this process
    // (or the parent of this child) left open: Init would otherwise lose its fonts.
    if (gScreenSurface != nullptr || font != nullptr || font_small != nullptr)
        CloseDisplay();
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    option.font_size = 10;
    CopyString(option.font_file, sizeof option.font_file, kTestFont);
    if (Init() != 1)
        return false;
    // The new display shows what the new screen holds.
    if (model != nullptr)
        SDL_FreeSurface(model);
    model = nullptr;
    model_screen = nullptr;
    // Some SDL builds keep the key table from an earlier display: start with every key up.
    memset(__real_SDL_GetKeyState(nullptr), 0, SDLK_LAST);
    return true;
}

bool OpenKeyboardTestDisplay() {
    if (!OpenTestDisplay())
        return false;
    std::string graphics = ZORVEL_GRAPHICS_DIR;
    CopyString(option.start_dir, sizeof option.start_dir,
               graphics.substr(0, graphics.rfind('/')).c_str());
    memset(SDL_GetKeyState(nullptr), 0, SDLK_LAST);
    return true;
}

// In a child: runs the browser in dir from every key up, with start run just before the loop;
// nonzero when it cannot start.
static int Browse(const std::string &dir, const std::function<void()> &start) {
    if (chdir(dir.c_str()) != 0)
        return 98;
    if (!OpenTestDisplay())
        return 97;
    if (pass_limit == 0)
        pass_limit = 100000;
    // Two passes with every key up leave no state of earlier tests in the button input.
    script_paused = true;
    memset(__real_SDL_GetKeyState(nullptr), 0, SDLK_LAST);
    GetInput();
    GetInput();
    script_paused = false;
    if (start)
        start();
    MainLoop();
    return 0;
}

TestRun RunLoop(const std::string &dir, const std::function<int()> &setup,
                const std::function<std::string()> &check) {
    return RunRecorded([&] {
        int status = setup ? setup() : 0;
        if (status == 0)
            status = Browse(dir, [] {
                TakeShadedText();
                TakeDrawnText();
                flush_log.clear();
                logging_flushes = true;
            });
        if (status != 0)
            return status;
        logging_flushes = false;
        std::string shaded = TakeShadedText();
        End();
        PrintRecord(0, shaded, check ? check() : "");
        return 0;
    });
}

int CountOf(const std::string &text, const std::string &piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        count++;
    return count;
}

std::vector<std::string> Names(const std::string &dir) {
    std::vector<std::string> names;
    DIR *stream = opendir(dir.c_str());
    if (stream == nullptr)
        return names;
    while (dirent *entry = readdir(stream))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    closedir(stream);
    std::sort(names.begin(), names.end());
    return names;
}

std::string Pattern(size_t size) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; i++)
        content[i] = static_cast<char>(i * 31 + i / 1000);
    return content;
}

// The test process's own folder for its trees, in TMPDIR or /tmp, made on first use and removed
// at its end: a test that goes up from its tree lists only these, however full /tmp is.
static std::string TestRunDir() {
    static std::string dir = [] {
        const char *base = getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/zt-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr || chmod(pattern.c_str(), 0711) != 0)
            abort();
        static const pid_t owner = getpid();
        static std::string made = pattern;
        atexit([] {
            if (getpid() == owner)
                rmdir(made.c_str());
        });
        return pattern;
    }();
    return dir;
}

TempDir::TempDir() : TempDir(TestRunDir()) {}

TempDir::TempDir(const std::string &parent) {
    std::string pattern = parent + "/t-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr)
        abort();
    path = pattern;
}

static int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) {
    return remove(path);
}

TempDir::~TempDir() {
    // Directories made unwritable by a test must not keep their contents.
    chmod(path.c_str(), 0700);
    nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void WriteFile(const std::string &path, const std::string &content) {
    std::ofstream stream(path, std::ios::binary);
    if (!stream)
        abort();
    stream << content;
}

std::string ReadFile(const std::string &path) {
    // Read a buffer at a time: the tests compare files of 64 MiB.
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

void MakeTree(const std::string &root, const std::vector<std::string> &entries) {
    for (const std::string &entry : entries) {
        size_t equals = entry.find('='), arrow = entry.find("->");
        if (entry.back() == '/')
            MakeDir(root + "/" + entry);
        else if (equals != std::string::npos)
            WriteFile(root + "/" + entry.substr(0, equals), entry.substr(equals + 1));
        else if (arrow != std::string::npos) {
            if (symlink(entry.substr(arrow + 2).c_str(),
                        (root + "/" + entry.substr(0, arrow)).c_str()) != 0)
                abort();
        } else
            WriteFile(root + "/" + entry, entry.substr(entry.rfind('/') + 1));
    }
}

void MakeDir(const std::string &path) {
    if (mkdir(path.c_str(), 0755) != 0)
        abort();
}

bool Exists(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

SDL_Color ColorAt(SDL_Surface *surface, int x, int y) {
    SDL_LockSurface(surface);
    const Uint8 *row = static_cast<const Uint8 *>(surface->pixels) + y * surface->pitch;
    const Uint8 *at = row + x * surface->format->BytesPerPixel;
    // The low bytes of a little-endian word, whatever the pixel's size.
    Uint32 pixel = 0;
    memcpy(&pixel, at, surface->format->BytesPerPixel);
    SDL_UnlockSurface(surface);
    SDL_Color color = {0, 0, 0, 0};
    SDL_GetRGB(pixel, surface->format, &color.r, &color.g, &color.b);
    return color;
}

bool ColorIs(SDL_Surface *surface, int x, int y, SDL_Color expected) {
    SDL_Color color = ColorAt(surface, x, y);
    return abs(color.r - expected.r) <= 8 && abs(color.g - expected.g) <= 8 &&
           abs(color.b - expected.b) <= 8;
}
