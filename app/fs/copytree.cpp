// The recursive copy of a directory entry: never into itself, never through a directory twice.
#include "app/fs/copytree.h"

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "common/format.h"
#include "common/limits.h"
#include "dialogs/dialogbox.h"
#include "app/fs/copyfile.h"
#include "app/fs/fileops.h"
#include "app/fs/listing.h"

// A directory is made open to its owner, so that its entries can be copied into it, and given the
// source's permission bits once they are.
static const mode_t kOwnerAll = S_IRWXU;
// Readings of a directory that keeps growing between its count and its reading, before the copy
// takes what the last one saw.
static const int kDirReadAttempts = 8;

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
    mode_t mode = level.status.st_mode & 0777;
    if (mkdir(dest, mode | kOwnerAll) != 0)
        return FailCopy(kPathErrorWidth, kPathErrorHeight, "can't create dir %s", dest);
    MarkChanged();
    struct stat made;
    if (stat(dest, &made) == 0)
        level.chain.dest = {made.st_dev, made.st_ino};
    int filled = 0;
    int left_out = 0;
    auto entries = ReadWholeDir(level.source, filled, left_out);
    // A directory whose name the listing cannot hold would be missing from a copy that succeeds.
    if (left_out > 0)
        return FailCopy(kErrorWidth, kErrorHeight, "path too long");
    for (int i = 0; i < filled; i++) {
        if (IsParentEntry(entries[i]))
            continue;
        if (!CopyEntry(dest, level.source, entries[i], &level.chain))
            return 0;
    }
    // A card without permission bits refuses the change; what it shows stays as it is.
    if ((mode & kOwnerAll) != kOwnerAll)
        chmod(dest, mode & ~CreationMask());
    return 1;
}

static int CopyEntry(const char *dest_dir, const char *source_dir, const char *name,
                     const CopyChain *up) {
    auto level = std::make_unique<CopyLevel>();
    if (!JoinPath(level->dest, sizeof level->dest, dest_dir, name))
        return FailCopy(kErrorWidth, kErrorHeight, "path too long");
    // A dangling link there is something of that name too: it is never written through.
    if (Occupied(level->dest))
        return FailCopy(kPathErrorWidth, kPathErrorHeight, "%s already exists", level->dest);
    if (!JoinPath(level->source, sizeof level->source, source_dir, name))
        return FailCopy(kErrorWidth, kErrorHeight, "path too long");
    // A source that cannot be queried (a dangling link, an entry gone meanwhile) has no type.
    if (stat(level->source, &level->status) != 0)
        return FailCopy(kErrorWidth, kErrorHeight, "unknown file type");
    bool directory = S_ISDIR(level->status.st_mode);
    if ((directory || S_ISREG(level->status.st_mode)) && NameChangedByFat(dest_dir, name))
        return FailCopy(kPathErrorWidth, kPathErrorHeight,
                        directory ? "can't create dir %s" : "can't create %s", level->dest);
    if (directory) {
        DirId source = {level->status.st_dev, level->status.st_ino};
        // Entered again, it would go on copying until the path no longer fits.
        if (OnChain(up, source))
            return FailCopy(kErrorWidth, kErrorHeight, "path too long");
        level->chain = {source, source, up};
        return CopyDirectory(*level);
    }
    if (S_ISREG(level->status.st_mode))
        return CopyFileLater(level->dest, level->source);
    return FailCopy(kErrorWidth, kErrorHeight, "unknown file type");
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
        return FailCopy(kErrorWidth, kErrorHeight, "path too long");
    source.reset();
    int copied;
    if (stat(dest_dir, &status) != 0) {
        copied = CopyEntry(dest_dir, source_dir, name, nullptr);
    } else {
        DirId dest = {status.st_dev, status.st_ino};
        CopyChain top = {dest, dest, nullptr};
        copied = CopyEntry(dest_dir, source_dir, name, &top);
    }
    // The copies still waiting take their names before the result shows.
    return FinishCopies() && copied;
}
