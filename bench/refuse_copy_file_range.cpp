// Preloaded into cp by bench/run.sh: copy_file_range fails as on a kernel that does not have it,
// so that cp copies through its buffer, as the bench driver's copy-plain does.
#include <cerrno>
#include <sys/types.h>
#include <unistd.h>

extern "C" ssize_t copy_file_range(int, loff_t *, int, loff_t *, size_t, unsigned int) {
    errno = ENOSYS;
    return -1;
}
