/* Test-only launcher: no-clock-syscalls PROGRAM [ARGUMENT...]
 *
 * Runs PROGRAM under a seccomp filter that makes the kernel fail, with EPERM, every system
 * call that sets or steers the system clock or sets the hardware clock: clock_settime,
 * settimeofday, adjtimex, clock_adjtime and ioctl(RTC_SET_TIME). The filter stays on the
 * program and on everything it starts, and cannot be removed. The filter reads only the call's
 * number and, for ioctl, its request, so adjtimex and clock_adjtime fail even when they would
 * only read; system calls of any other ABI than x86-64's (i386 through int 0x80, x32) all
 * fail, so that none of them can reach the clock by another number. */

#define _GNU_SOURCE
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/rtc.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#if !defined(__x86_64__)
#error "The clock system call filter is written for x86-64."
#endif

#define X32_SYSCALL_BIT 0x40000000u

/* Offset of the low 32 bits of a system call argument (little-endian). */
#define ARGUMENT_LOW(n) (offsetof(struct seccomp_data, args) + (n) * sizeof(__u64))

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [ARGUMENT...]\n", argv[0]);
        return 127;
    }

    struct sock_filter filter[] = {
        /* [0] Any other ABI: fail everything. */
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
        /* [3] x32 calls share the architecture but carry the x32 bit in their number. */
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, X32_SYSCALL_BIT, 6, 0),
        /* [5] The clock calls. */
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clock_settime, 5, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_settimeofday, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_adjtimex, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clock_adjtime, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ioctl, 2, 0),
        /* [10] Everything else is allowed. */
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        /* [11] Refused. */
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
        /* [12] ioctl: the kernel reads the request as 32 bits, so only those are compared. */
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ARGUMENT_LOW(1)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (__u32)RTC_SET_TIME, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {
        .len = (unsigned short)(sizeof filter / sizeof filter[0]),
        .filter = filter,
    };

    /* Needed to install a filter, and keeps the program from gaining privileges on exec. */
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        fprintf(stderr, "no-clock-syscalls: PR_SET_NO_NEW_PRIVS: %s\n", strerror(errno));
        return 127;
    }
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0) {
        fprintf(stderr, "no-clock-syscalls: seccomp: %s\n", strerror(errno));
        return 127;
    }
    execvp(argv[1], argv + 1);
    fprintf(stderr, "no-clock-syscalls: %s: %s\n", argv[1], strerror(errno));
    return 127;
}
