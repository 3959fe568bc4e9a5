// Move, recursive delete and the flush after them, the helpers every file operation shares, and
// BaseName; the copy lives in copytree.cpp and copyfile.cpp.
#include "app/fs/fileops.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "common/format.h"
#include "common/globals.h"
#include "common/limits.h"
#include "dialogs/dialogbox.h"
#include "app/fs/listing.h"

bool Occupied(const char *path) {
    struct stat status;
    return lstat(path, &status) == 0 || errno == EOVERFLOW;
}

// Whether anything was created, renamed or removed since the last flush.
static bool changed_since_flush = false;

void MarkChanged() {
    changed_since_flush = true;
}

// The magic number of FAT file systems in statfs's f_type.
static const long kFatMagic = 0x4d44;

bool OnFat(const char *path) {
    struct statfs status;
    return statfs(path, &status) == 0 && status.f_type == kFatMagic;
}

bool NameChangedByFat(const char *dir, const char *name) {
    size_t length = strlen(name);
    // A directory's name carries its "/".
    while (length > 1 && name[length - 1] == '/')
        length--;
    if (length == 0 || (name[length - 1] != '.' && name[length - 1] != ' '))
        return false;
    return OnFat(dir);
}

mode_t CreationMask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

bool SyncFileSystem(int descriptor) {
#ifdef SYS_syncfs
    return syscall(SYS_syncfs, descriptor) == 0;
#else
    (void)descriptor;
    errno = ENOSYS;
    return false;
#endif
}

// Writes the file system of dir to its storage; false when the storage refused it.
static bool StoreFileSystem(const char *dir) {
    int descriptor = open(dir, O_RDONLY | O_DIRECTORY);
    if (descriptor < 0) {
        // A directory that cannot be opened has no descriptor to ask with: the whole machine.
        sync();
        return true;
    }
    bool stored = SyncFileSystem(descriptor);
    // Kernels before 2.6.39 have no syncfs: the whole machine, then the directory's own flush
    // for an answer about its entries.
    if (!stored && errno == ENOSYS) {
        sync();
        stored = fsync(descriptor) == 0 || errno == EINVAL;
    }
    close(descriptor);
    return stored;
}

int FlushFileSystem(const char *dir) {
    if (StoreFileSystem(dir))
        return 1;
    return PopupError(kPathErrorWidth, kPathErrorHeight, "write %s failed", dir);
}

int FlushChanges(const char *dir, int result) {
    if (!changed_since_flush)
        return 1;
    changed_since_flush = false;
    // A command that showed its own failure shows no second one for the flush.
    return result ? FlushFileSystem(dir) : StoreFileSystem(dir);
}

int MoveDirEntry(const char *dest_dir, const char *source_dir, const char *name) {
    char dest[kPathSize];
    if (!JoinPath(dest, sizeof dest, dest_dir, name))
        return PopupError(kErrorWidth, kErrorHeight, "path too long");
    if (Occupied(dest))
        return PopupError(kPathErrorWidth, kPathErrorHeight, "%s already exists", dest);
    if (NameChangedByFat(dest_dir, name))
        return PopupError(kErrorWidth, kErrorHeight, "rename() failed");
    char source[kPathSize];
    if (!JoinPath(source, sizeof source, source_dir, name))
        return PopupError(kErrorWidth, kErrorHeight, "path too long");
    if (rename(source, dest) != 0)
        return PopupError(kErrorWidth, kErrorHeight, "rename() failed");
    MarkChanged();
    return 1;
}

static int RemoveDirectory(const char *path) {
    if (rmdir(path) != 0)
        return PopupError(kErrorWidth, kErrorHeight, "rmdir() failed");
    MarkChanged();
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
        MarkChanged();
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
