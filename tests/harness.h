// Test facility: scripted keys pass by pass, screen captures, child sessions, temporary trees.
#pragma once

#include <SDL.h>
#include <functional>
#include <string>
#include <vector>

// The desktop keys of the console's buttons (README, "Buttons").
constexpr SDLKey kUp = SDLK_UP, kDown = SDLK_DOWN, kLeft = SDLK_LEFT, kRight = SDLK_RIGHT;
constexpr SDLKey kA = SDLK_LCTRL, kB = SDLK_LALT, kX = SDLK_SPACE, kY = SDLK_LSHIFT;
constexpr SDLKey kL = SDLK_TAB, kR = SDLK_BACKSPACE, kStart = SDLK_RETURN, kSelect = SDLK_ESCAPE;

// Forgets every scripted key, capture, key source and action, and restarts the counts at 0.
void ScriptClear();
// Holds key down from pass `from` until pass `until` (a pass is one sample of the key table),
// where it is up again.
void ScriptHold(SDLKey key, int from, int until);
// Presses key for the one pass `pass`.
void ScriptTap(SDLKey key, int pass);
// Ends the process with status 99 once more than `passes` passes have been sampled.
void ScriptLimit(int passes);
// Sets keys in the key table on every pass, after the scripted changes of that pass.
using KeySource = std::function<void(int pass, Uint8 *keys)>;
void ScriptSource(KeySource source);
// Runs action right after the flip-th flip of the screen since ScriptClear (counted from 1).
void ScriptOnFlip(int flip, std::function<void()> action);
// Runs action just before the call-th opening of a directory since ScriptClear (counted from 1).
void ScriptOnOpenDir(int call, std::function<void()> action);
// Number of passes sampled since ScriptClear.
int ScriptPass();
// Number of showings of the screen (flips and updates) since ScriptClear.
int FlipCount();
// Showings since the display was opened after which the display, as the pushed areas made it,
// differed from the screen surface; counted in every process of the test run, children included.
long ModelMismatches();

// How the storage answers, for the fault tests.
enum class Kernel {
    kCurrent,
    kOld,            // as the console's 2.6: syncfs, renameat2, statx and copy_file_range answer
                     // ENOSYS, SEEK_DATA and SEEK_HOLE EINVAL, files without a name EISDIR
    kNoKernelCopy,   // copy_file_range answers ENOSYS, as before 4.5
    kNoReplaceFlag,  // renameat2's no-replace flag refused (EINVAL) and files without a name
                     // (O_TMPFILE) too, as FAT did before 4.9
    kQuietSyncfs,    // syncfs tells no failure of the storage, as before 5.8
    kEmptyKernelCopy // copy_file_range gives nothing, as for files of /proc and /sys
};
void SetKernel(Kernel kernel);
// Makes every flush (syncfs, fsync, sync_file_range) fail with EIO while set, as a worn card does.
void FailStorage(bool fail);
// Makes every file system say it is FAT while set.
void PretendFat(bool fat);

// A script of presses one after another, each two passes after the one before.
struct KeyPlan {
    int pass = 0;
    // Lets `passes` passes go by with no change.
    void Wait(int passes) { pass += passes; }
    // Presses buttons one after another: U D L R A B X Y, l and r for L and R, S for START; a
    // button after "^" is pressed with SELECT held, one after "+" together with the next, a
    // button followed by a number is held that many passes; "," lets one pass go by, "." two; "Q"
    // quits with START and SELECT; "C" saves the screen of the next pass, in which nothing
    // changes, as the next of captures.
    void Press(const std::string &buttons, const std::vector<std::string> &captures = {});
};
// A plan with every scripted key forgotten, a pass limit of 5000, and buttons pressed.
KeyPlan Plan(const std::string &buttons = "");

// Every text drawn anti-aliased (the folded lines of popups) since the last call, run together.
std::string TakeDrawnText();
// Every text drawn on a solid background (titles, rows, buttons, bars) since the last call, each
// followed by a line feed.
std::string TakeShadedText();

// How often piece occurs in text.
int CountOf(const std::string &text, const std::string &piece);
// The names in dir, "." and ".." left out, sorted.
std::vector<std::string> Names(const std::string &dir);
// size bytes that differ from one position to the next.
std::string Pattern(size_t size);

// What a run in a child did: its status and standard output (before the record of a recorded run),
// the operation's result, the "Error" popups it showed, every text drawn anti-aliased (names,
// messages, popup texts), what the check after a browser run returned, and the flushes and renames
// of a browser run: "syncfs <path>", "refused syncfs <path>", "sync", "fsync <path>",
// "sync_file_range <path>", "rename <from> <to>", "link <from> <to>", one a line, and "opendir" for
// each directory opened after the first of them.
struct TestRun {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    int result = -1;
    int popups = -1;
    std::string drawn, checked, flushes;
};
// Runs body in a forked child whose standard output is collected; its result is the exit status.
TestRun RunChild(const std::function<int()> &body);

// Runs operation in a child, with the display this process has open or else one opened there,
// and A tapped now and then to close popups; the operation may set key sources and actions of
// its own after the harness's.
TestRun RunFileOperation(const std::function<int()> &operation);
// Runs Init, MainLoop and End in a child inside dir with the scripted keys, as main does: setup
// first (a nonzero result ends the child with it), check after the loop, while the child's mounts
// still stand.
TestRun RunLoop(const std::string &dir, const std::function<int()> &setup = nullptr,
                const std::function<std::string()> &check = nullptr);

// The font the tests open; Debian's VL Gothic.
extern const char *const kTestFont;
// Opens the dummy display and both fonts in this process as Init does; returns false on failure.
bool OpenTestDisplay();
// Opens the test display as OpenTestDisplay does, with the start directory where the build drew
// the keyboard's images and every key up, ready for the line-input dialog.
bool OpenKeyboardTestDisplay();

// A temporary directory removed with everything in it when the owner goes out of scope.
struct TempDir {
    std::string path;
    // Made in /tmp, or in parent when given.
    TempDir();
    explicit TempDir(const std::string &parent);
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    // The path of name inside the directory.
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};
// Makes entries in root, each "NAME/" a directory, "NAME=TEXT" a file holding TEXT, "NAME->TARGET"
// a link, and any other NAME a file holding NAME's last part; aborts on failure.
void MakeTree(const std::string &root, const std::vector<std::string> &entries);
// Writes content to a new file at path; aborts the test program on failure.
void WriteFile(const std::string &path, const std::string &content);
// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string &path);
// Makes a directory (and no parents); aborts on failure.
void MakeDir(const std::string &path);
// True when something exists at path (links not followed).
bool Exists(const std::string &path);

// The colour at (x, y) of a surface of any format.
SDL_Color ColorAt(SDL_Surface *surface, int x, int y);
// True when the colour at (x, y) matches within the precision of a 16-bit screen.
bool ColorIs(SDL_Surface *surface, int x, int y, SDL_Color expected);
