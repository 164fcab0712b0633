/* Test-only probe of the guards that keep a clock service from changing this machine's clock.
 * Each check prints one line "name=result", result being 0 or the error's name (EPERM, ...).
 * Every call is one that cannot change the clock even when no guard is there: either it
 * changes nothing by its arguments, or its value is one the kernel rejects as invalid before
 * it looks at the caller's rights.
 *
 *   clock-guard-probe capability   the capability bits and settimeofday(NULL, NULL)
 *   clock-guard-probe seccomp      the clock system calls, made directly (not through libc)
 *   clock-guard-probe recorder     the same calls through libc, where a preloaded library may
 *                                  take them
 * Several may be given. */

#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/rtc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

#define CAP_SYS_TIME_BIT 25
#define ADJTIME_WITHOUT_SINGLESHOT 0x8000 /* ADJ_ADJTIME alone: the kernel says EINVAL */
#define X32_SYSCALL_BIT 0x40000000

static void report(const char *name, long result)
{
    if (result < 0)
        printf("%s=%s\n", name, strerrorname_np(errno) ? strerrorname_np(errno) : "E?");
    else
        printf("%s=0\n", name);
}

/* Whether CAP_SYS_TIME is in the set called `field` in /proc/self/status, as 0 or 1. */
static int hasSysTime(const char *field)
{
    FILE *status = fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    char line[256];
    int found = -1;
    const size_t length = strlen(field);
    while (fgets(line, sizeof line, status)) {
        if (strncmp(line, field, length) == 0 && line[length] == ':') {
            const unsigned long long set = strtoull(line + length + 1, NULL, 16);
            found = (int)((set >> CAP_SYS_TIME_BIT) & 1);
        }
    }
    fclose(status);
    return found;
}

static void probeCapability(void)
{
    static const char *const sets[] = {"CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb"};
    for (size_t i = 0; i < sizeof sets / sizeof sets[0]; ++i)
        printf("sys_time_in_%s=%d\n", sets[i], hasSysTime(sets[i]));
    /* Needs CAP_SYS_TIME, and with no time and no zone changes nothing. */
    report("cap_settimeofday_null", syscall(SYS_settimeofday, NULL, NULL));
}

static void probeSeccomp(void)
{
    const struct timespec badSpec = {.tv_sec = 1, .tv_nsec = 2000000000L};
    struct timex readOnly = {.modes = 0};
    struct rtc_time tm = {.tm_year = 100, .tm_mday = 1};
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return;
    int queued = 0;

    report("sc_settimeofday_null", syscall(SYS_settimeofday, NULL, NULL));
    report("sc_clock_settime_invalid", syscall(SYS_clock_settime, CLOCK_REALTIME, &badSpec));
    report("sc_adjtimex_read", syscall(SYS_adjtimex, &readOnly));
    report("sc_clock_adjtime_read", syscall(SYS_clock_adjtime, CLOCK_REALTIME, &readOnly));
    report("sc_ioctl_rtc_set_time_on_pipe", syscall(SYS_ioctl, pipeFds[0], RTC_SET_TIME, &tm));
    /* The same request with bits above the 32 that the kernel reads. */
    report("sc_ioctl_rtc_set_time_high_bits",
           syscall(SYS_ioctl, pipeFds[0], RTC_SET_TIME | 0xff00000000UL, &tm));
    report("sc_ioctl_fionread_on_pipe", syscall(SYS_ioctl, pipeFds[0], FIONREAD, &queued));
    report("sc_x32_getpid", syscall(X32_SYSCALL_BIT | SYS_getpid));
    close(pipeFds[0]);
    close(pipeFds[1]);
}

static void probeRecorder(void)
{
    const struct timespec badSpec = {.tv_sec = 1234567, .tv_nsec = 2000000000L};
    const struct timeval badVal = {.tv_sec = 7654321, .tv_usec = 2000000};
    struct timex invalid = {.modes = ADJTIME_WITHOUT_SINGLESHOT, .offset = 4242};
    struct rtc_time tm = {.tm_year = 107, .tm_mon = 5, .tm_mday = 15, .tm_hour = 10};
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    int pipeFds[2];
    if (devNull < 0 || pipe(pipeFds) != 0)
        return;
    int queued = -1;

    report("lib_clock_settime_invalid", clock_settime(CLOCK_REALTIME, &badSpec));
    report("lib_settimeofday_invalid", settimeofday(&badVal, NULL));
    report("lib_adjtimex_invalid", adjtimex(&invalid));
    report("lib_ntp_adjtime_invalid", ntp_adjtime(&invalid));
    report("lib_clock_adjtime_invalid", clock_adjtime(CLOCK_REALTIME, &invalid));
    report("lib_ioctl_rtc_set_time_on_devnull", ioctl(devNull, RTC_SET_TIME, &tm));
    /* Any other ioctl still works. */
    const ssize_t written = write(pipeFds[1], "abc", 3);
    (void)written;
    report("lib_ioctl_fionread_on_pipe", ioctl(pipeFds[0], FIONREAD, &queued));
    printf("lib_fionread_count=%d\n", queued);
    close(devNull);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "capability") == 0) {
            probeCapability();
        } else if (strcmp(argv[i], "seccomp") == 0) {
            probeSeccomp();
        } else if (strcmp(argv[i], "recorder") == 0) {
            probeRecorder();
        } else {
            fprintf(stderr, "clock-guard-probe: unknown check %s\n", argv[i]);
            return 2;
        }
    }
    return 0;
}
