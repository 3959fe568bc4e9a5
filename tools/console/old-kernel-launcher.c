/* Runs a program as the console's 2.6 kernel would: every o32 system call the console's kernel
 * does not have (those numbered above fallocate's) fails with ENOSYS, and lseek and _llseek refuse
 * SEEK_DATA and SEEK_HOLE with EINVAL, as kernels before 3.1 do. The filter is a classic BPF
 * program installed with seccomp; it is kept across exec, so the program and everything it
 * starts run under it. A process of any other architecture is killed: the numbers would mean
 * other calls.
 *
 *   old-kernel-launcher PROGRAM [ARGUMENT...]
 */
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

/* The newest call of the console's kernel. */
#define NEWEST_OLD_CALL SYS_fallocate
/* Whence values that kernels before 3.1 refuse. */
#define OLD_SEEK_DATA 3
#define OLD_SEEK_HOLE 4

#define SYSCALL_NUMBER offsetof(struct seccomp_data, nr)
#define ARCHITECTURE offsetof(struct seccomp_data, arch)
/* The low word of an argument: the words are 64 bits, little-endian on this CPU. */
#define ARGUMENT_LOW(n) offsetof(struct seccomp_data, args[n])

#define LOAD(offset) BPF_STMT(BPF_LD | BPF_W | BPF_ABS, (offset))
#define JUMP_IF_EQUAL(value, if_true, if_false) \
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (value), (if_true), (if_false))
#define RETURN(value) BPF_STMT(BPF_RET | BPF_K, (value))

static struct sock_filter old_kernel_filter[] = {
    /* 0 */ LOAD(ARCHITECTURE),
    /* 1 */ JUMP_IF_EQUAL(AUDIT_ARCH_MIPSEL, 1, 0),
    /* 2 */ RETURN(SECCOMP_RET_KILL_PROCESS),
    /* 3 */ LOAD(SYSCALL_NUMBER),
    /* 4 */ BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, NEWEST_OLD_CALL, 0, 1),
    /* 5 */ RETURN(SECCOMP_RET_ERRNO | ENOSYS),
    /* 6 */ JUMP_IF_EQUAL(SYS_lseek, 2, 0),
    /* 7 */ JUMP_IF_EQUAL(SYS__llseek, 3, 0),
    /* 8 */ RETURN(SECCOMP_RET_ALLOW),
    /* lseek(fd, offset, whence) */
    /* 9 */ LOAD(ARGUMENT_LOW(2)),
    /* 10 */ BPF_JUMP(BPF_JMP | BPF_JA, 1, 0, 0),
    /* _llseek(fd, offset_high, offset_low, result, whence) */
    /* 11 */ LOAD(ARGUMENT_LOW(4)),
    /* 12 */ JUMP_IF_EQUAL(OLD_SEEK_DATA, 2, 0),
    /* 13 */ JUMP_IF_EQUAL(OLD_SEEK_HOLE, 1, 0),
    /* 14 */ RETURN(SECCOMP_RET_ALLOW),
    /* 15 */ RETURN(SECCOMP_RET_ERRNO | EINVAL),
};

int main(int argc, char **argv) {
    if (argc < 2) {
        fputs("usage: old-kernel-launcher PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    struct sock_fprog program = {
        .len = sizeof old_kernel_filter / sizeof old_kernel_filter[0],
        .filter = old_kernel_filter,
    };
    /* Without privileges a filter may only be installed when exec can never raise them. */
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        fprintf(stderr, "old-kernel-launcher: PR_SET_NO_NEW_PRIVS: %s\n", strerror(errno));
        return 1;
    }
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0) {
        fprintf(stderr, "old-kernel-launcher: PR_SET_SECCOMP: %s\n", strerror(errno));
        return 1;
    }
    execvp(argv[1], argv + 1);
    fprintf(stderr, "old-kernel-launcher: cannot start %s: %s\n", argv[1], strerror(errno));
    return 127;
}
