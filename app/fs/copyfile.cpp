// The copy of one regular file: its data in the kernel or through a page-aligned buffer, holes
// kept as holes, under an unfinished name until it is complete.
#include "app/fs/copyfile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "common/format.h"
#include "common/globals.h"
#include "common/limits.h"
#include "common/utf8.h"
#include "dialogs/dialogbox.h"
#include "app/fs/copydialog.h"
#include "app/fs/fileops.h"

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

// Puts both files at offset; a destination that cannot stand there (past the largest file its
// file system holds) is a failure to write it, not to read the source.
static CopyOutcome SeekBoth(DataCopy &copy, int64_t offset) {
    if (lseek(copy.source, offset, SEEK_SET) != offset)
        return CopyOutcome::kReadFailed;
    if (lseek(copy.dest, offset, SEEK_SET) != offset)
        return CopyOutcome::kWriteFailed;
    return CopyOutcome::kDone;
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
        CopyOutcome outcome = SeekBoth(copy, offset);
        if (outcome != CopyOutcome::kDone)
            return outcome;
        int64_t copied = 0;
        outcome = CopyRange(copy, hole - data, progress, copied, at_end);
        offset += copied;
        if (outcome != CopyOutcome::kDone)
            return outcome;
    }
    if (plain) {
        CopyOutcome outcome = SeekBoth(copy, offset);
        if (outcome != CopyOutcome::kDone)
            return outcome;
        int64_t copied = 0;
        outcome = CopyRange(copy, -1, progress, copied, at_end);
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
// The longest unfinished name: the suffix and one digit after as much of the final name as fits.
static const size_t kPartNameRoom = kNameSize - 1 - (sizeof kPartSuffix - 1) - 1;

// Composes the attempt-th unfinished name of dest_path into part: a final name too long to take
// the suffix is cut, at a character's start, to leave it room. False when it does not fit.
static bool PartName(char *part, size_t part_size, const char *dest_path, int attempt) {
    const char *slash = strrchr(dest_path, '/');
    size_t dir_length = slash == nullptr ? 0 : static_cast<size_t>(slash + 1 - dest_path);
    size_t name_length = strlen(dest_path + dir_length);
    if (name_length > kPartNameRoom) {
        name_length = kPartNameRoom;
        while (name_length > 0 && IsContinuationByte(dest_path[dir_length + name_length]))
            name_length--;
    }
    char digit[2] = {attempt == 0 ? '\0' : static_cast<char>('0' + attempt), '\0'};
    return FormatInto(part, part_size, "%.*s%s%s", static_cast<int>(dir_length + name_length),
                      dest_path, kPartSuffix, digit);
}

// Puts the directory that holds path into dir: "." for a bare name. False when it does not fit.
static bool DirectoryOf(char *dir, size_t dir_size, const char *path) {
    if (!FormatInto(dir, dir_size, "%s", path))
        return false;
    char *slash = strrchr(dir, '/');
    if (slash == nullptr)
        return FormatInto(dir, dir_size, ".");
    slash[slash == dir ? 1 : 0] = '\0';
    return true;
}

// Where the kernel makes files without a name (O_TMPFILE) and they can be named through
// /proc/self/fd, a copy is written nameless and linked under its final name once stored: one
// directory entry made, where an unfinished name costs an entry made, renamed and removed. FAT
// refuses it, and a 2.6 kernel answers EISDIR; those copies take unfinished names.
static const int kNameless = -1;

// The directory's path is composed in scratch, which it leaves empty.
static int OpenNameless(const char *dest_path, mode_t mode, char *scratch, size_t scratch_size) {
    int descriptor = -1;
#ifdef O_TMPFILE
    static const bool proc_usable = access("/proc/self/fd", X_OK) == 0;
    if (proc_usable && DirectoryOf(scratch, scratch_size, dest_path))
        descriptor = open(scratch, O_TMPFILE | O_WRONLY, mode);
#else
    (void)dest_path;
    (void)mode;
    (void)scratch_size;
#endif
    scratch[0] = '\0';
    return descriptor;
}

// Gives a nameless file the name path, never replacing an entry. Straight from the descriptor
// where the process may (root, as on the console), which spares a walk through /proc a file.
static bool LinkNameless(int descriptor, const char *path) {
    static bool from_descriptor_refused = false;
    if (!from_descriptor_refused) {
        if (linkat(descriptor, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT)
            return false;
        from_descriptor_refused = true;
    }
    char link[32];
    return FormatInto(link, sizeof link, "/proc/self/fd/%d", descriptor) &&
           linkat(AT_FDCWD, link, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
}

// Keeps what a nameless copy holds under the first free unfinished name, as a copy written
// under one would stay; the errno of a failure that came before is kept.
static void KeepNameless(int descriptor, const char *dest_path) {
    int failure = errno;
    auto part = std::make_unique<char[]>(kPathSize);
    for (int attempt = 0; attempt < kPartNames; attempt++)
        if (!PartName(part.get(), kPathSize, dest_path, attempt) ||
            LinkNameless(descriptor, part.get()) || errno != EEXIST)
            break;
    errno = failure;
}

// Creates the file under which the new dest_path is written until it is complete, with the
// permission bits mode (less the creation mask): nameless where it can be (attempt is kNameless),
// else under the attempt-th unfinished name, put into part; when no unfinished name is free,
// part stays empty and the file is made under dest_path itself, never over an entry there.
static int CreateDestination(const char *dest_path, mode_t mode, char *part, size_t part_size,
                             int &attempt) {
    part[0] = '\0';
    attempt = kNameless;
    int descriptor = OpenNameless(dest_path, mode, part, part_size);
    if (descriptor >= 0)
        return descriptor;
    for (attempt = 0; attempt < kPartNames; attempt++) {
        if (!PartName(part, part_size, dest_path, attempt))
            break;
        descriptor = open(part, O_WRONLY | O_CREAT | O_EXCL, mode);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    part[0] = '\0';
    return open(dest_path, O_WRONLY | O_CREAT | O_EXCL, mode);
}

// A complete copy still under its unfinished name, open, until its data is on the storage.
struct WaitingCopy {
    const char *dest; // in waiting_paths
    int attempt;      // of its unfinished name (PartName), or kNameless
    int descriptor;
};

// The copies waiting for their names, and how many bytes they hold. Flushing them together costs
// one pass of the storage instead of one a file; they are named before any result shows.
static std::unique_ptr<WaitingCopy[]> waiting;
static int waiting_count = 0;
static int64_t waiting_bytes = 0;
// Their final names, one after another.
static std::unique_ptr<char[]> waiting_paths;
static size_t waiting_paths_used = 0;

// How many copies may wait: no more than half the files the process may open, so that the
// listings and the copy itself always find a descriptor.
static int WaitingLimit() {
    static int limit = 0;
    if (limit == 0) {
        struct rlimit open_files;
        limit = kWaitingCopies;
        if (getrlimit(RLIMIT_NOFILE, &open_files) == 0 && open_files.rlim_cur != RLIM_INFINITY &&
            open_files.rlim_cur / 2 < static_cast<rlim_t>(limit))
            limit = open_files.rlim_cur / 2 > 1 ? static_cast<int>(open_files.rlim_cur / 2) : 1;
    }
    return limit;
}

// Whether the file's data reached the storage. After a flush of its whole file system only the
// file's own write-back errors are asked for, which costs no pass of the device; without one,
// the file is flushed by itself.
static bool Stored(int descriptor, bool file_system_flushed) {
    if (file_system_flushed)
        return sync_file_range(descriptor, 0, 0,
                               SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                   SYNC_FILE_RANGE_WAIT_AFTER) == 0;
    return fsync(descriptor) == 0;
}

// Flushes the directory that holds path, with the entries a rename changed in it.
static bool FlushDirectoryOf(const char *path) {
    auto dir = std::make_unique<char[]>(kPathSize);
    if (!DirectoryOf(dir.get(), kPathSize, path))
        return false;
    int descriptor = open(dir.get(), O_RDONLY | O_DIRECTORY);
    if (descriptor < 0)
        return false;
    bool flushed = fsync(descriptor) == 0 || errno == EINVAL;
    close(descriptor);
    return flushed;
}

// Names a nameless waiting copy once its data is stored, and closes it; what it holds stays under
// an unfinished name when it cannot take its own. The message of its failure, or null.
static const char *LinkCopy(WaitingCopy &copy, bool file_system_flushed) {
    const char *failure = nullptr;
    // Only an entry that took the name meanwhile keeps it; the copy is not needed then.
    bool taken = false;
    if (!Stored(copy.descriptor, file_system_flushed))
        failure = "write %s failed";
    else if (!LinkNameless(copy.descriptor, copy.dest)) {
        taken = errno == EEXIST;
        failure = taken ? "%s already exists" : "write %s failed";
    }
    if (failure != nullptr && !taken)
        KeepNameless(copy.descriptor, copy.dest);
    if (close(copy.descriptor) != 0 && failure == nullptr)
        failure = "write %s failed";
    return failure;
}

// Gives one waiting copy its final name once its data is stored, and closes it; the message of
// its failure, or null.
static const char *NameCopy(WaitingCopy &copy, bool file_system_flushed, bool filled_later) {
    if (copy.attempt == kNameless)
        return LinkCopy(copy, file_system_flushed);
    auto part = std::make_unique<char[]>(kPathSize);
    PartName(part.get(), kPathSize, copy.dest, copy.attempt);
    if (!Stored(copy.descriptor, file_system_flushed)) {
        close(copy.descriptor);
        return "write %s failed";
    }
    if (!RenameWithoutReplacing(part.get(), copy.dest)) {
        // Only an entry that took the name meanwhile keeps it; the copy is not needed then.
        bool taken = errno == EEXIST;
        close(copy.descriptor);
        if (!taken)
            return "write %s failed";
        unlink(part.get());
        return "%s already exists";
    }
    bool written = !filled_later || (fsync(copy.descriptor) == 0 && FlushDirectoryOf(copy.dest));
    written = close(copy.descriptor) == 0 && written;
    return written ? nullptr : "write %s failed";
}

int FinishCopies() {
    if (waiting_count == 0)
        return 1;
    // One pass of the device writes every waiting file's data and entries at once.
    bool file_system_flushed = SyncFileSystem(waiting[0].descriptor);
    // FAT writes a renamed file's new entry empty (no size, no first cluster) and fills it in only
    // when the file itself is written back: until then a cut would leave the name with nothing.
    auto part = std::make_unique<char[]>(kPathSize);
    bool filled_later = false;
    for (int i = 0; i < waiting_count; i++)
        if (waiting[i].attempt != kNameless) {
            PartName(part.get(), kPathSize, waiting[i].dest, waiting[i].attempt);
            filled_later = OnFat(part.get());
            break;
        }
    const char *failed_format = nullptr;
    const char *failed_path = nullptr;
    for (int i = 0; i < waiting_count; i++) {
        const char *format = NameCopy(waiting[i], file_system_flushed, filled_later);
        if (format != nullptr && failed_format == nullptr) {
            failed_format = format;
            failed_path = waiting[i].dest;
        }
    }
    waiting_count = 0;
    waiting_bytes = 0;
    int result = 1;
    if (failed_format != nullptr)
        result = PopupError(kPathErrorWidth, kPathErrorHeight, failed_format, failed_path);
    waiting.reset();
    waiting_paths.reset();
    waiting_paths_used = 0;
    return result;
}

int FailCopy(int width, int height, const char *format, ...) {
    if (!FinishCopies())
        return 0;
    va_list arguments;
    va_start(arguments, format);
    PopupErrorList(width, height, format, arguments);
    va_end(arguments);
    return 0;
}

// Keeps a complete copy open under its unfinished name until FinishCopies names it; enough
// waiting files or bytes are finished at once.
static int AwaitName(int descriptor, int attempt, const char *dest, int64_t size) {
    size_t length = strlen(dest) + 1;
    int result = 1;
    // No room left for it: the ones waiting are named first.
    if (waiting_count == WaitingLimit() || waiting_paths_used + length > kWaitingPathBytes)
        result = FinishCopies();
    if (!waiting) {
        waiting = std::make_unique<WaitingCopy[]>(kWaitingCopies);
        waiting_paths = std::make_unique<char[]>(kWaitingPathBytes);
    }
    char *path = waiting_paths.get() + waiting_paths_used;
    CopyString(path, length, dest);
    waiting_paths_used += length;
    waiting[waiting_count++] = {path, attempt, descriptor};
    waiting_bytes += size;
    if (waiting_bytes >= kWaitingCopyBytes) {
        int finished = FinishCopies();
        result = finished && result;
    }
    return result;
}

int CopyFileLater(const char *dest_path, const char *source_path) {
    FilePtr source(fopen(source_path, "r"));
    if (!source)
        return FailCopy(kPathErrorWidth, kPathErrorHeight, "can't open %s", source_path);
    // Without a size there is no step; a source that cannot tell it counts as unreadable.
    struct stat status;
    if (fstat(fileno(source.get()), &status) != 0)
        return FailCopy(kPathErrorWidth, kPathErrorHeight, "read %s failed", source_path);
    auto part = std::make_unique<char[]>(kPathSize);
    // The copy is no more open than its source: its permission bits, less the creation mask.
    int attempt = 0;
    int descriptor =
        CreateDestination(dest_path, status.st_mode & 0777, part.get(), kPathSize, attempt);
    // A process allowed fewer open files than the waiting copies hold names them first.
    if (descriptor < 0 && (errno == EMFILE || errno == ENFILE) && waiting_count > 0) {
        if (!FinishCopies())
            return 0;
        descriptor =
            CreateDestination(dest_path, status.st_mode & 0777, part.get(), kPathSize, attempt);
    }
    if (descriptor < 0)
        return FailCopy(kPathErrorWidth, kPathErrorHeight, "can't create %s", dest_path);
    MarkChanged();
    Progress progress = StartProgress(source_path, status.st_size);
    CopyOutcome outcome = CopyData(fileno(source.get()), descriptor, status, progress);
    source.reset();
    // A file cut short keeps its unfinished name: only a complete one is ever named.
    if (outcome != CopyOutcome::kDone && attempt == kNameless)
        KeepNameless(descriptor, dest_path);
    if (outcome != CopyOutcome::kDone)
        close(descriptor);
    if (outcome == CopyOutcome::kReadFailed)
        return FailCopy(kPathErrorWidth, kPathErrorHeight, "read %s failed", source_path);
    if (outcome == CopyOutcome::kWriteFailed)
        return FailCopy(kPathErrorWidth, kPathErrorHeight, "write %s failed", dest_path);
    if (part[0] != '\0' || attempt == kNameless)
        return AwaitName(descriptor, attempt, dest_path, status.st_size);
    if (close(descriptor) != 0)
        return FailCopy(kPathErrorWidth, kPathErrorHeight, "write %s failed", dest_path);
    return 1;
}

int CopyFile(const char *dest_path, const char *source_path) {
    return CopyFileLater(dest_path, source_path) && FinishCopies();
}
