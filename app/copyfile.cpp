// The copy of one regular file: its data in the kernel or through a page-aligned buffer, holes
// kept as holes, under an unfinished name until it is complete.
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

#include "app/copydialog.h"
#include "app/fileops_shared.h"
#include "common/globals.h"
#include "common/limits.h"
#include "dialogs/dialogbox.h"

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
    MarkChanged();
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
