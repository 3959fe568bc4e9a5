#include "app/fileops.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "common/display.h"
#include "common/globals.h"
#include "common/limits.h"
#include "app/listing.h"
#include "dialogs/dialogbox.h"

static const char kParentEntry[] = "../";
static const mode_t kNewDirMode = 0775;
// Readings of a directory that keeps growing between its count and its reading, before the copy
// takes what the last one saw.
static const int kDirReadAttempts = 8;

// The copy dialog. The name's area and the track lie one and two line heights below these tops.
static const int kCopyDialogWidth = 200;
static const int kCopyDialogHeight = 80;
static const int kCopyTextLeft = 70;
static const int kCopyTextTop = 95;
static const int kCopyTextWidth = 180;
static const int kCopyTextHeight = 60;
static const int kTrackTop = 100;
static const int kCellWidth = 9;
static const int kCellHeight = 10;
static const SDL_Color kTrackColor = {50, 50, 50, 0};
static const SDL_Color kCellColor = {255, 255, 255, 0};
// The dialog box's frame around its panel.
static const int kPanelInset = 5;

// Composes dir, a slash and name into path; false, when they and the terminator do not fit.
// Directory names keep their trailing "/", so deeper paths hold doubled slashes; they are used
// as they are.
static bool JoinPath(char *path, size_t size, const char *dir, const char *name) {
    int length = snprintf(path, size, "%s/%s", dir, name);
    return length >= 0 && static_cast<size_t>(length) < size;
}

// Something stands at path when the query finds it, a dangling link included (written through,
// it would create a file outside the chosen directory), or finds it with a date the C library
// cannot hold. Any other failure (no search permission, a file where a directory should be) is
// left to the creation that follows, which reports it in its own words.
static bool Occupied(const char *path) {
    struct stat status;
    return lstat(path, &status) == 0 || errno == EOVERFLOW;
}

// Whether anything was created, renamed or removed since the last flush.
static bool changed_since_flush = false;

void FlushFileSystem(const char *dir) {
    int descriptor = open(dir, O_RDONLY | O_DIRECTORY);
#ifdef SYS_syncfs
    if (descriptor >= 0 && syscall(SYS_syncfs, descriptor) == 0) {
        close(descriptor);
        return;
    }
#endif
    // Kernels before 2.6.39 have no syncfs; a directory that cannot be opened has no descriptor.
    if (descriptor >= 0)
        close(descriptor);
    sync();
}

void FlushChanges(const char *dir) {
    if (!changed_since_flush)
        return;
    FlushFileSystem(dir);
    changed_since_flush = false;
}

// The kernel's flag for a rename that never replaces; older C libraries do not name it.
static const unsigned kRenameNoReplace = 1;

// Renames from to a to that does not exist, never replacing an entry that appeared meanwhile;
// on a kernel or file system without renameat2's flag, the test just before the rename.
static bool RenameWithoutReplacing(const char *from, const char *to) {
#ifdef SYS_renameat2
    if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kRenameNoReplace) == 0)
        return true;
    if (errno != ENOSYS && errno != EINVAL)
        return false;
#endif
    struct stat status;
    if (lstat(to, &status) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(from, to) == 0;
}

static bool IsParentEntry(const char *name) {
    return strcmp(name, kParentEntry) == 0;
}

// A directory as the kernel names it, whatever the path that reached it.
struct DirId {
    dev_t device;
    ino_t inode;
};

static bool SameDir(const DirId &left, const DirId &right) {
    return left.device == right.device && left.inode == right.inode;
}

// The directories a copy stands in, from its top down: each level adds the source directory it
// reads and the destination directory it made. A source directory found on it again is reached
// through a link, or is the copy's own output: entering it would copy without end.
struct CopyChain {
    DirId source;
    DirId dest;
    const CopyChain *up;
};

static bool OnChain(const CopyChain *chain, const DirId &dir) {
    for (; chain != nullptr; chain = chain->up)
        if (SameDir(chain->source, dir) || SameDir(chain->dest, dir))
            return true;
    return false;
}

// One level of a recursive copy; it lives on the heap so that a copy several hundred levels deep
// costs a few kilobytes a level and no stack.
struct CopyLevel {
    char dest[kPathSize];
    char source[kPathSize];
    struct stat status;
    CopyChain chain;
};

static int CopyEntry(const char *dest_dir, const char *source_dir, const char *name,
                     const CopyChain *up);

// Reads the directory into a table one name larger than its count. A directory that grew between
// its count and its reading fills that spare slot and is read again: cut to the count, the table
// would leave out names that were there all along, and the copy would succeed without them.
static std::unique_ptr<EntryName[]> ReadWholeDir(const char *path, int &filled, int &left_out) {
    for (int attempt = 1;; attempt++) {
        int count = CountDir(path);
        auto entries = std::make_unique<EntryName[]>(count + 1);
        filled = SeekDir(path, entries.get(), count + 1, &left_out);
        if (filled <= count || attempt == kDirReadAttempts)
            return entries;
    }
}

// Creates the level's destination and copies every entry of its source into it, stopping at the
// first failure.
static int CopyDirectory(CopyLevel &level) {
    const char *dest = level.dest;
    if (mkdir(dest, kNewDirMode) != 0)
        return PopupError(kPathErrorWidth, kPathErrorHeight, "can't create dir %s", dest);
    changed_since_flush = true;
    struct stat made;
    if (stat(dest, &made) == 0)
        level.chain.dest = {made.st_dev, made.st_ino};
    int filled = 0;
    int left_out = 0;
    auto entries = ReadWholeDir(level.source, filled, left_out);
    // A directory whose name the listing cannot hold would be missing from a copy that succeeds.
    if (left_out > 0)
        return PopupError(kErrorWidth, kErrorHeight, "path too long");
    for (int i = 0; i < filled; i++) {
        if (IsParentEntry(entries[i]))
            continue;
        if (!CopyEntry(dest, level.source, entries[i], &level.chain))
            return 0;
    }
    return 1;
}

static int CopyEntry(const char *dest_dir, const char *source_dir, const char *name,
                     const CopyChain *up) {
    auto level = std::make_unique<CopyLevel>();
    if (!JoinPath(level->dest, sizeof level->dest, dest_dir, name))
        return PopupError(kErrorWidth, kErrorHeight, "path too long");
    // A dangling link there is something of that name too: it is never written through.
    if (Occupied(level->dest))
        return PopupError(kPathErrorWidth, kPathErrorHeight, "%s already exists", level->dest);
    if (!JoinPath(level->source, sizeof level->source, source_dir, name))
        return PopupError(kErrorWidth, kErrorHeight, "path too long");
    // A source that cannot be queried (a dangling link, an entry gone meanwhile) has no type.
    if (stat(level->source, &level->status) != 0)
        return PopupError(kErrorWidth, kErrorHeight, "unknown file type");
    if (S_ISDIR(level->status.st_mode)) {
        DirId source = {level->status.st_dev, level->status.st_ino};
        // Entered again, it would go on copying until the path no longer fits.
        if (OnChain(up, source))
            return PopupError(kErrorWidth, kErrorHeight, "path too long");
        level->chain = {source, source, up};
        return CopyDirectory(*level);
    }
    if (S_ISREG(level->status.st_mode))
        return CopyFile(level->dest, level->source);
    return PopupError(kErrorWidth, kErrorHeight, "unknown file type");
}

static bool DirIdOf(int descriptor, DirId &id) {
    struct stat status;
    if (fstat(descriptor, &status) != 0)
        return false;
    id = {status.st_dev, status.st_ino};
    return true;
}

// Whether dir is the directory source or lies anywhere below it, whatever links or mounts lead
// there: its parents are followed up to the root. A parent that cannot be opened ends the search.
static bool LiesInside(const char *dir, const DirId &source) {
    int descriptor = open(dir, O_RDONLY | O_DIRECTORY);
    DirId here;
    bool inside = false;
    while (descriptor >= 0 && DirIdOf(descriptor, here) && !inside) {
        inside = SameDir(here, source);
        int parent = openat(descriptor, "..", O_RDONLY | O_DIRECTORY);
        close(descriptor);
        descriptor = parent;
        DirId above;
        if (descriptor >= 0 && DirIdOf(descriptor, above) && SameDir(above, here))
            break; // the root is its own parent
    }
    if (descriptor >= 0)
        close(descriptor);
    return inside;
}

int CopyDirEntry(const char *dest_dir, const char *source_dir, const char *name) {
    auto source = std::make_unique<char[]>(kPathSize);
    struct stat status;
    // A copy into the entry itself or below it would copy its own output, level after level,
    // until the path no longer fits: it is refused before anything is made.
    if (JoinPath(source.get(), kPathSize, source_dir, name) && stat(source.get(), &status) == 0 &&
        S_ISDIR(status.st_mode) && LiesInside(dest_dir, {status.st_dev, status.st_ino}))
        return PopupError(kErrorWidth, kErrorHeight, "path too long");
    source.reset();
    if (stat(dest_dir, &status) != 0)
        return CopyEntry(dest_dir, source_dir, name, nullptr);
    DirId dest = {status.st_dev, status.st_ino};
    CopyChain top = {dest, dest, nullptr};
    return CopyEntry(dest_dir, source_dir, name, &top);
}

// The progress bar of one file: a cell is drawn for every step bytes copied.
struct Progress {
    int64_t step;
    int64_t running;
    int cells;
    int track_y;
};

// The copy dialog that the last file left on the screen, with the area its name took.
struct CopyDialogShown {
    bool valid;
    unsigned long screen_changes;
    int font_height;
    SDL_Rect name;
};
static CopyDialogShown dialog_shown = {false, 0, 0, {0, 0, 0, 0}};

static SDL_Rect CopyDialogPanel() {
    return {(kScreenWidth - kCopyDialogWidth) / 2 + kPanelInset,
            (kScreenHeight - kCopyDialogHeight) / 2 + kPanelInset,
            kCopyDialogWidth - 2 * kPanelInset, kCopyDialogHeight - 2 * kPanelInset};
}

static bool Inside(const SDL_Rect &inner, const SDL_Rect &outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

// While nothing else has drawn on the screen since the last file's dialog, and that file's name
// stayed on the panel, the box, panel and title stand there as a new dialog would draw them:
// only the name's area goes back to the panel's colour.
static void DrawCopyDialog() {
    if (dialog_shown.valid && dialog_shown.screen_changes == ScreenChanges() &&
        dialog_shown.font_height == option.font_height &&
        Inside(dialog_shown.name, CopyDialogPanel())) {
        FillPanel(dialog_shown.name);
        return;
    }
    DrawDialogBox(-1, -1, kCopyDialogWidth, kCopyDialogHeight, "Copying");
}

// Draws the copy dialog with the file's name and an empty track, and shows it; in a folder's
// copy each file after the first pushes only its name and then its cells.
static Progress StartProgress(const char *source_path, int64_t size) {
    Progress progress = {size / kProgressCells, 0, 0, kTrackTop + 2 * option.font_height};
    DrawCopyDialog();
    auto name = std::make_unique<char[]>(kMessageSize);
    BaseName(name.get(), source_path, kMessageSize);
    SDL_Rect text_area = {kCopyTextLeft, static_cast<Sint16>(kCopyTextTop + option.font_height),
                          kCopyTextWidth,
                          static_cast<Uint16>(kCopyTextHeight - option.font_height)};
    SDL_Rect name_drawn = DrawText(text_area, name.get());
    SDL_Rect track = {kCopyTextLeft, static_cast<Sint16>(progress.track_y),
                      kProgressCells * kCellWidth, kCellHeight};
    SDL_FillRect(gScreenSurface, &track, MapColor(gScreenSurface, kTrackColor));
    MarkScreenArea(track);
    ShowChangedAreas();
    dialog_shown = {true, ScreenChanges(), option.font_height, name_drawn};
    return progress;
}

// Counts a copied block and draws, and shows one by one, the cells it completes.
static void AdvanceProgress(Progress &progress, int64_t count) {
    progress.running += count;
    while (progress.running > progress.step && progress.cells < kProgressCells) {
        SDL_Rect cell = {static_cast<Sint16>(kCopyTextLeft + kCellWidth * progress.cells),
                         static_cast<Sint16>(progress.track_y), kCellWidth, kCellHeight};
        SDL_FillRect(gScreenSurface, &cell, MapColor(gScreenSurface, kCellColor));
        MarkScreenArea(cell);
        ShowChangedAreas();
        dialog_shown.screen_changes = ScreenChanges();
        progress.cells++;
        progress.running -= progress.step;
    }
}

enum class CopyOutcome { kDone, kReadFailed, kWriteFailed };

struct FreeDeleter {
    void operator()(void *memory) const { free(memory); }
};

// The data transfer of one file: in the kernel while it copies, else through a buffer that starts
// on a page boundary, as the kernel copies whole pages to and from the page cache fastest, and
// holds one chunk: writes of a whole block make the page cache ask for large runs of free pages,
// which a busy machine must first gather.
struct DataCopy {
    int source;
    int dest;
    bool in_kernel;
    bool copied_any;
    std::unique_ptr<char, FreeDeleter> buffer;
};

static bool MakeBuffer(DataCopy &copy) {
    if (copy.buffer)
        return true;
    long page = sysconf(_SC_PAGESIZE);
    void *memory = nullptr;
    if (posix_memalign(&memory, page > 0 ? static_cast<size_t>(page) : sizeof(void *),
                       kCopyChunkSize) != 0)
        return false;
    copy.buffer.reset(static_cast<char *>(memory));
    return true;
}

// Reads one chunk of up to wanted bytes into the buffer and writes it out; a read that returns
// nothing marks the end.
static CopyOutcome CopyChunk(DataCopy &copy, size_t wanted, size_t &got, bool &at_end) {
    got = 0;
    while (got < wanted) {
        ssize_t read_count = read(copy.source, copy.buffer.get() + got, wanted - got);
        if (read_count < 0 && errno == EINTR)
            continue;
        if (read_count < 0)
            return CopyOutcome::kReadFailed;
        if (read_count == 0) {
            at_end = true;
            break;
        }
        got += read_count;
    }
    if (got > 0) {
        ssize_t written;
        do
            written = write(copy.dest, copy.buffer.get(), got);
        while (written < 0 && errno == EINTR);
        // A regular file takes all or fails: a short write means a full disk or a size limit.
        if (written != static_cast<ssize_t>(got))
            return CopyOutcome::kWriteFailed;
    }
    return CopyOutcome::kDone;
}

// Copies the rest of the block, up to wanted bytes as count leaves it, chunk by chunk through the
// buffer; without memory for the buffer nothing can be read.
static CopyOutcome PlainCopy(DataCopy &copy, size_t wanted, size_t &count, bool &at_end) {
    if (!MakeBuffer(copy))
        return CopyOutcome::kReadFailed;
    while (count < wanted && !at_end) {
        size_t chunk = wanted - count < kCopyChunkSize ? wanted - count : kCopyChunkSize;
        size_t got = 0;
        CopyOutcome outcome = CopyChunk(copy, chunk, got, at_end);
        if (outcome != CopyOutcome::kDone)
            return outcome;
        copy.copied_any = copy.copied_any || got > 0;
        count += got;
    }
    return CopyOutcome::kDone;
}

// Copies one block of up to wanted bytes (at most kCopyBlockSize) into count, as a stream read of
// that size would; at_end is set when the source ended within it.
static CopyOutcome CopyBlock(DataCopy &copy, size_t wanted, size_t &count, bool &at_end) {
    count = 0;
    while (copy.in_kernel && count < wanted) {
        ssize_t moved =
            copy_file_range(copy.source, nullptr, copy.dest, nullptr, wanted - count, 0);
        if (moved < 0 && errno == EINTR)
            continue;
        // A refusal goes to the plain path, which also tells a read from a write failure; so
        // does a source that yields nothing at its start, as files of /proc do in the kernel.
        if (moved < 0 || (moved == 0 && !copy.copied_any)) {
            copy.in_kernel = false;
            break;
        }
        if (moved == 0) {
            at_end = true;
            return CopyOutcome::kDone;
        }
        count += moved;
        copy.copied_any = true;
    }
    if (copy.in_kernel)
        return CopyOutcome::kDone;
    return PlainCopy(copy, wanted, count, at_end);
}

// Copies from where both files stand, block by block, until the source ends or, when length is
// not negative, length bytes are copied; copied counts them. The bar advances once per block.
static CopyOutcome CopyRange(DataCopy &copy, int64_t length, Progress &progress, int64_t &copied,
                             bool &at_end) {
    while (!at_end && (length < 0 || copied < length)) {
        size_t wanted = kCopyBlockSize;
        if (length >= 0 && length - copied < static_cast<int64_t>(wanted))
            wanted = static_cast<size_t>(length - copied);
        size_t count = 0;
        CopyOutcome outcome = CopyBlock(copy, wanted, count, at_end);
        if (outcome != CopyOutcome::kDone)
            return outcome;
        copied += static_cast<int64_t>(count);
        AdvanceProgress(progress, static_cast<int64_t>(count));
    }
    return CopyOutcome::kDone;
}

// A file that takes fewer blocks than its size needs has holes, or is packed by its file system;
// files of /proc and the like claim no size at all and are read as they come.
static bool MayHaveHoles(const struct stat &status) {
    return status.st_size > 0 && static_cast<int64_t>(status.st_blocks) * 512 < status.st_size;
}

static bool SeekBoth(DataCopy &copy, int64_t offset) {
    return lseek(copy.source, offset, SEEK_SET) == offset &&
           lseek(copy.dest, offset, SEEK_SET) == offset;
}

// Copies only the source's data and leaves its holes as holes in the copy; the bar advances over
// a hole at once. Where the system cannot tell data from holes (SEEK_DATA refused), the rest is
// copied as it reads, zeros and all.
static CopyOutcome CopyKeepingHoles(DataCopy &copy, Progress &progress) {
    int64_t offset = 0;
    bool at_end = false;
    bool plain = false;
    while (!at_end && !plain) {
        off_t data = lseek(copy.source, offset, SEEK_DATA);
        bool only_hole_left = data < 0 && errno == ENXIO;
        if (only_hole_left)
            data = lseek(copy.source, 0, SEEK_END);
        // A source cut short meanwhile ends where it ends now.
        if (only_hole_left && data >= 0 && data < offset)
            break;
        off_t hole = only_hole_left || data < offset ? data : lseek(copy.source, data, SEEK_HOLE);
        if (data < offset || (!only_hole_left && hole <= data)) {
            plain = true;
            break;
        }
        AdvanceProgress(progress, data - offset);
        offset = data;
        if (only_hole_left)
            break;
        if (!SeekBoth(copy, offset))
            return CopyOutcome::kReadFailed;
        int64_t copied = 0;
        CopyOutcome outcome = CopyRange(copy, hole - data, progress, copied, at_end);
        offset += copied;
        if (outcome != CopyOutcome::kDone)
            return outcome;
    }
    if (plain) {
        if (!SeekBoth(copy, offset))
            return CopyOutcome::kReadFailed;
        int64_t copied = 0;
        CopyOutcome outcome = CopyRange(copy, -1, progress, copied, at_end);
        offset += copied;
        if (outcome != CopyOutcome::kDone)
            return outcome;
    }
    // A hole at the end is the file's size without data.
    if (ftruncate(copy.dest, offset) != 0)
        return CopyOutcome::kWriteFailed;
    return CopyOutcome::kDone;
}

// Copies until the source ends.
static CopyOutcome CopyData(int source, int dest, const struct stat &status, Progress &progress) {
    DataCopy copy = {source, dest, true, false, nullptr};
    if (MayHaveHoles(status))
        return CopyKeepingHoles(copy, progress);
    int64_t copied = 0;
    bool at_end = false;
    return CopyRange(copy, -1, progress, copied, at_end);
}

// A file being copied is written beside its final name under this name and the suffix, with a
// digit when an earlier unfinished copy left that name behind.
static const char kPartSuffix[] = ".zorvel-part";
static const int kPartNames = 10;

// Creates the file under which dest_path is written until it is complete; its name goes into
// part, or stays empty when the file is written under its final name: the destination exists
// already (a device, say), or no unfinished name fits beside it.
static int CreateDestination(const char *dest_path, char *part, size_t part_size) {
    part[0] = '\0';
    struct stat status;
    const char *slash = strrchr(dest_path, '/');
    size_t name_length = strlen(slash == nullptr ? dest_path : slash + 1);
    bool fits = name_length + sizeof kPartSuffix <= kNameSize - 1;
    if (fits && lstat(dest_path, &status) != 0 && errno == ENOENT) {
        for (int attempt = 0; attempt < kPartNames; attempt++) {
            int length = attempt == 0
                             ? snprintf(part, part_size, "%s%s", dest_path, kPartSuffix)
                             : snprintf(part, part_size, "%s%s%d", dest_path, kPartSuffix, attempt);
            if (length < 0 || static_cast<size_t>(length) >= part_size)
                break;
            int descriptor = open(part, O_WRONLY | O_CREAT | O_EXCL, 0666);
            if (descriptor >= 0 || errno != EEXIST)
                return descriptor;
        }
        part[0] = '\0';
    }
    return open(dest_path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
}

int CopyFile(const char *dest_path, const char *source_path) {
    FilePtr source(fopen(source_path, "r"));
    if (!source)
        return PopupError(kPathErrorWidth, kPathErrorHeight, "can't open %s", source_path);
    auto part = std::make_unique<char[]>(kPathSize);
    int descriptor = CreateDestination(dest_path, part.get(), kPathSize);
    FilePtr dest(descriptor < 0 ? nullptr : fdopen(descriptor, "w"));
    if (!dest) {
        if (descriptor >= 0) {
            close(descriptor);
            unlink(part[0] != '\0' ? part.get() : dest_path);
        }
        source.reset();
        return PopupError(kPathErrorWidth, kPathErrorHeight, "can't create %s", dest_path);
    }
    changed_since_flush = true;
    // Without a size there is no step; a source that cannot tell it counts as unreadable.
    struct stat status;
    CopyOutcome outcome = CopyOutcome::kReadFailed;
    bool close_failed = false;
    if (fstat(fileno(source.get()), &status) == 0) {
        Progress progress = StartProgress(source_path, status.st_size);
        outcome = CopyData(fileno(source.get()), fileno(dest.get()), status, progress);
    }
    source.reset();
    close_failed = fclose(dest.release()) != 0;
    // Complete or not, the file takes its final name, as a failed copy always left its part
    // there; only an entry that took the name meanwhile keeps it.
    if (part[0] != '\0' && !RenameWithoutReplacing(part.get(), dest_path)) {
        bool taken = errno == EEXIST;
        if (taken)
            unlink(part.get());
        if (taken && outcome == CopyOutcome::kDone && !close_failed)
            return PopupError(kPathErrorWidth, kPathErrorHeight, "%s already exists", dest_path);
        if (outcome == CopyOutcome::kDone)
            close_failed = true;
    }
    if (outcome == CopyOutcome::kReadFailed)
        return PopupError(kPathErrorWidth, kPathErrorHeight, "read %s failed", source_path);
    if (outcome == CopyOutcome::kWriteFailed || close_failed)
        return PopupError(kPathErrorWidth, kPathErrorHeight, "write %s failed", dest_path);
    return 1;
}

int MoveDirEntry(const char *dest_dir, const char *source_dir, const char *name) {
    char dest[kPathSize];
    if (!JoinPath(dest, sizeof dest, dest_dir, name))
        return PopupError(kErrorWidth, kErrorHeight, "path too long");
    if (Occupied(dest))
        return PopupError(kPathErrorWidth, kPathErrorHeight, "%s already exists", dest);
    char source[kPathSize];
    if (!JoinPath(source, sizeof source, source_dir, name))
        return PopupError(kErrorWidth, kErrorHeight, "path too long");
    if (rename(source, dest) != 0)
        return PopupError(kErrorWidth, kErrorHeight, "rename() failed");
    changed_since_flush = true;
    return 1;
}

static int RemoveDirectory(const char *path) {
    if (rmdir(path) != 0)
        return PopupError(kErrorWidth, kErrorHeight, "rmdir() failed");
    changed_since_flush = true;
    return 1;
}

// One level of a recursive delete, on the heap for the same reason as a copy level.
struct DeleteLevel {
    char path[kPathSize];
    struct stat status;
};

static int DeleteEntry(const char *dir, const char *name, const dev_t *top_device);

// Deletes every entry of the directory, then the directory itself; nothing on another file
// system than device is entered.
static int DeleteDirectory(const char *path, dev_t device) {
    int count = CountDir(path);
    auto entries = std::make_unique<EntryName[]>(count);
    int filled = SeekDir(path, entries.get(), count);
    for (int i = 0; i < filled; i++) {
        if (IsParentEntry(entries[i]))
            continue;
        if (!DeleteEntry(path, entries[i], &device))
            return 0;
    }
    return RemoveDirectory(path);
}

// Whether the directory at path is where a file system is mounted, also one bound from
// elsewhere on the same file system. Kernels before 5.8 cannot tell: there the device decides.
static bool IsMountRoot(const char *path) {
#if defined(SYS_statx) && defined(STATX_ATTR_MOUNT_ROOT)
    struct statx status;
    if (syscall(SYS_statx, AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, 0, &status) == 0 &&
        (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
        return (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#endif
    (void)path;
    return false;
}

static int DeleteEntry(const char *dir, const char *name, const dev_t *top_device) {
    auto level = std::make_unique<DeleteLevel>();
    if (!JoinPath(level->path, sizeof level->path, dir, name))
        return PopupError(kErrorWidth, kErrorHeight, "path too long");
    // The entry's own type, links not followed: a trailing "/" would make even lstat follow a
    // link, so the query and the unlink leave it out. Nothing outside the entry is touched.
    size_t length = strlen(level->path);
    size_t entry_length = length;
    while (entry_length > 1 && level->path[entry_length - 1] == '/')
        entry_length--;
    level->path[entry_length] = '\0';
    if (lstat(level->path, &level->status) != 0)
        return PopupError(kErrorWidth, kErrorHeight, "unknown file type");
    mode_t mode = level->status.st_mode;
    if (S_ISDIR(mode)) {
        dev_t device = top_device == nullptr ? level->status.st_dev : *top_device;
        // A file system mounted inside the entry (a card, a stick, a bound folder) is not the
        // entry's: its mount point is only removed, which fails as long as it is mounted.
        if (top_device != nullptr && (level->status.st_dev != device || IsMountRoot(level->path)))
            return RemoveDirectory(level->path);
        if (entry_length < length)
            level->path[entry_length] = '/';
        return DeleteDirectory(level->path, device);
    }
    if (S_ISREG(mode) || S_ISLNK(mode)) {
        if (unlink(level->path) != 0)
            return PopupError(kErrorWidth, kErrorHeight, "unlink() failed");
        changed_since_flush = true;
        return 1;
    }
    return PopupError(kErrorWidth, kErrorHeight, "unknown file type");
}

int DeleteDirEntry(const char *dir, const char *name) {
    return DeleteEntry(dir, name, nullptr);
}

char *BaseName(char *output, const char *path, size_t size) {
    const char *end = path + strlen(path);
    while (end > path && end[-1] == '/')
        end--;
    const char *start = end;
    while (start > path && start[-1] != '/')
        start--;
    size_t length = static_cast<size_t>(end - start);
    if (size == 0 || length > size - 1)
        FatalExit("error: BaseName() buffer full\n");
    return CopyString(output, length + 1, start);
}
