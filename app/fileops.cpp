#include "app/fileops.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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

// Composes dir, a slash and name into path; false, when they and the terminator do not fit.
// Directory names keep their trailing "/", so deeper paths hold doubled slashes; they are used
// as they are.
static bool JoinPath(char *path, size_t size, const char *dir, const char *name) {
    int length = snprintf(path, size, "%s/%s", dir, name);
    return length >= 0 && static_cast<size_t>(length) < size;
}

// Something stands at path unless the query says plainly that nothing does: a failure for any
// other reason (a date the C library cannot hold, say) must never let a copy write over it.
static bool Occupied(const char *path) {
    struct stat status;
    return lstat(path, &status) == 0 || errno != ENOENT;
}

static bool IsParentEntry(const char *name) {
    return strcmp(name, kParentEntry) == 0;
}

// One level of a recursive copy; it lives on the heap so that a copy several hundred levels deep
// costs a few kilobytes a level and no stack.
struct CopyLevel {
    char dest[kPathSize];
    char source[kPathSize];
    struct stat status;
};

// Reads the directory into a table one name larger than its count. A directory that grew between
// its count and its reading fills that spare slot and is read again: cut to the count, the table
// would leave out names that were there all along, and the copy would succeed without them.
static std::unique_ptr<EntryName[]> ReadWholeDir(const char *path, int &filled) {
    for (int attempt = 1;; attempt++) {
        int count = CountDir(path);
        auto entries = std::make_unique<EntryName[]>(count + 1);
        filled = SeekDir(path, entries.get(), count + 1);
        if (filled <= count || attempt == kDirReadAttempts)
            return entries;
    }
}

// Creates dest and copies every entry of source into it, stopping at the first failure.
static int CopyDirectory(const char *dest, const char *source) {
    if (mkdir(dest, kNewDirMode) != 0)
        return PopupError(kPathErrorWidth, kPathErrorHeight, "can't create dir %s", dest);
    int filled = 0;
    auto entries = ReadWholeDir(source, filled);
    for (int i = 0; i < filled; i++) {
        if (IsParentEntry(entries[i]))
            continue;
        if (!CopyDirEntry(dest, source, entries[i]))
            return 0;
    }
    return 1;
}

int CopyDirEntry(const char *dest_dir, const char *source_dir, const char *name) {
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
    if (S_ISDIR(level->status.st_mode))
        return CopyDirectory(level->dest, level->source);
    if (S_ISREG(level->status.st_mode))
        return CopyFile(level->dest, level->source);
    return PopupError(kErrorWidth, kErrorHeight, "unknown file type");
}

// The progress bar of one file: a cell is drawn for every step bytes copied.
struct Progress {
    int64_t step;
    int64_t running;
    int cells;
    int track_y;
};

// Draws the copy dialog with the file's name and an empty track, and shows it.
static Progress StartProgress(const char *source_path, int64_t size) {
    Progress progress = {size / kProgressCells, 0, 0, kTrackTop + 2 * option.font_height};
    DrawDialogBox(-1, -1, kCopyDialogWidth, kCopyDialogHeight, "Copying");
    auto name = std::make_unique<char[]>(kMessageSize);
    BaseName(name.get(), source_path, kMessageSize);
    SDL_Rect text_area = {kCopyTextLeft, static_cast<Sint16>(kCopyTextTop + option.font_height),
                          kCopyTextWidth,
                          static_cast<Uint16>(kCopyTextHeight - option.font_height)};
    DrawText(text_area, name.get());
    SDL_Rect track = {kCopyTextLeft, static_cast<Sint16>(progress.track_y),
                      kProgressCells * kCellWidth, kCellHeight};
    SDL_FillRect(gScreenSurface, &track, MapColor(gScreenSurface, kTrackColor));
    SDL_Flip(gScreenSurface);
    return progress;
}

// Counts a copied block and draws, and shows one by one, the cells it completes.
static void AdvanceProgress(Progress &progress, int64_t count) {
    progress.running += count;
    while (progress.running > progress.step && progress.cells < kProgressCells) {
        SDL_Rect cell = {static_cast<Sint16>(kCopyTextLeft + kCellWidth * progress.cells),
                         static_cast<Sint16>(progress.track_y), kCellWidth, kCellHeight};
        SDL_FillRect(gScreenSurface, &cell, MapColor(gScreenSurface, kCellColor));
        SDL_Flip(gScreenSurface);
        progress.cells++;
        progress.running -= progress.step;
    }
}

enum class CopyOutcome { kDone, kReadFailed, kWriteFailed };

// The data transfer of one file: in the kernel while it copies, else through a block buffer.
struct DataCopy {
    int source;
    int dest;
    bool in_kernel;
    bool copied_any;
    std::unique_ptr<char[]> block;
};

// Reads the rest of the block, as count leaves it, into the buffer and writes it out; a read
// that returns nothing marks the end.
static CopyOutcome PlainCopy(DataCopy &copy, size_t &count, bool &at_end) {
    if (!copy.block)
        copy.block.reset(new char[kCopyBlockSize]);
    size_t wanted = kCopyBlockSize - count;
    size_t got = 0;
    while (got < wanted) {
        ssize_t read_count = read(copy.source, copy.block.get() + got, wanted - got);
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
            written = write(copy.dest, copy.block.get(), got);
        while (written < 0 && errno == EINTR);
        // A regular file takes all or fails: a short write means a full disk or a size limit.
        if (written != static_cast<ssize_t>(got))
            return CopyOutcome::kWriteFailed;
    }
    copy.copied_any = copy.copied_any || got > 0;
    count += got;
    return CopyOutcome::kDone;
}

// Copies one block of up to kCopyBlockSize bytes into count, as a stream read of that size
// would; at_end is set when the source ended within it.
static CopyOutcome CopyBlock(DataCopy &copy, size_t &count, bool &at_end) {
    count = 0;
    while (copy.in_kernel && count < kCopyBlockSize) {
        ssize_t moved =
            copy_file_range(copy.source, nullptr, copy.dest, nullptr, kCopyBlockSize - count, 0);
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
    return PlainCopy(copy, count, at_end);
}

// Copies until the source ends; the bar advances once per block.
static CopyOutcome CopyData(int source, int dest, Progress &progress) {
    DataCopy copy = {source, dest, true, false, nullptr};
    bool at_end = false;
    while (!at_end) {
        size_t count = 0;
        CopyOutcome outcome = CopyBlock(copy, count, at_end);
        if (outcome != CopyOutcome::kDone)
            return outcome;
        AdvanceProgress(progress, static_cast<int64_t>(count));
    }
    return CopyOutcome::kDone;
}

int CopyFile(const char *dest_path, const char *source_path) {
    FilePtr source(fopen(source_path, "r"));
    if (!source)
        return PopupError(kPathErrorWidth, kPathErrorHeight, "can't open %s", source_path);
    FilePtr dest(fopen(dest_path, "w"));
    if (!dest) {
        source.reset();
        return PopupError(kPathErrorWidth, kPathErrorHeight, "can't create %s", dest_path);
    }
    // Without a size there is no step; a source that cannot tell it counts as unreadable.
    struct stat status;
    if (fstat(fileno(source.get()), &status) != 0) {
        source.reset();
        dest.reset();
        return PopupError(kPathErrorWidth, kPathErrorHeight, "read %s failed", source_path);
    }
    Progress progress = StartProgress(source_path, status.st_size);
    CopyOutcome outcome = CopyData(fileno(source.get()), fileno(dest.get()), progress);
    source.reset();
    bool close_failed = fclose(dest.release()) != 0;
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
    return 1;
}

// One level of a recursive delete, on the heap for the same reason as a copy level.
struct DeleteLevel {
    char path[kPathSize];
    struct stat status;
};

// Deletes every entry of the directory, then the directory itself.
static int DeleteDirectory(const char *path) {
    int count = CountDir(path);
    auto entries = std::make_unique<EntryName[]>(count);
    int filled = SeekDir(path, entries.get(), count);
    for (int i = 0; i < filled; i++) {
        if (IsParentEntry(entries[i]))
            continue;
        if (!DeleteDirEntry(path, entries[i]))
            return 0;
    }
    if (rmdir(path) != 0)
        return PopupError(kErrorWidth, kErrorHeight, "rmdir() failed");
    return 1;
}

int DeleteDirEntry(const char *dir, const char *name) {
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
        if (entry_length < length)
            level->path[entry_length] = '/';
        return DeleteDirectory(level->path);
    }
    if (S_ISREG(mode) || S_ISLNK(mode)) {
        if (unlink(level->path) != 0)
            return PopupError(kErrorWidth, kErrorHeight, "unlink() failed");
        return 1;
    }
    return PopupError(kErrorWidth, kErrorHeight, "unknown file type");
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
