/* Test-only LD_PRELOAD library: every call that could change the system clock or the hardware
 * clock is written, with its value, to the file named by QUORVEL_CLOCK_CALL_LOG and answered
 * with success. None of them is ever passed on to the kernel, so a program run under this
 * library believes it set the clock while the clock stays as it was.
 *
 * One line per call: the call's name, then key=value fields, then when it was made on this
 * machine's clocks: real=<CLOCK_REALTIME ns> mono=<CLOCK_MONOTONIC ns>.
 *
 * Recorded: clock_settime, settimeofday, adjtimex, ntp_adjtime, clock_adjtime and
 * ioctl(RTC_SET_TIME); any other ioctl goes on to the C library. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/rtc.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

/* Appends one line to the log, adding the moment of the call. */
static void record(const char *fields)
{
    struct timespec real, mono;
    clock_gettime(CLOCK_REALTIME, &real);
    clock_gettime(CLOCK_MONOTONIC, &mono);

    char line[512];
    const int length =
        snprintf(line, sizeof line, "%s real=%lld%09ld mono=%lld%09ld\n", fields,
                 (long long)real.tv_sec, real.tv_nsec, (long long)mono.tv_sec, mono.tv_nsec);
    if (length <= 0)
        return;
    const size_t size = (size_t)length < sizeof line ? (size_t)length : sizeof line - 1;

    const char *path = getenv("QUORVEL_CLOCK_CALL_LOG");
    const int fd = path ? open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644) : 2;
    if (fd < 0)
        return;
    const ssize_t written = write(fd, line, size);
    (void)written;
    if (fd != 2)
        close(fd);
}

static void recordTimex(const char *name, long long clock, const struct timex *tx)
{
    char fields[256];
    if (!tx) {
        snprintf(fields, sizeof fields, "%s clock=%lld null=1", name, clock);
    } else {
        snprintf(fields, sizeof fields,
                 "%s clock=%lld modes=%u offset=%ld freq=%ld sec=%lld usec=%lld tick=%ld", name,
                 clock, tx->modes, tx->offset, tx->freq, (long long)tx->time.tv_sec,
                 (long long)tx->time.tv_usec, tx->tick);
    }
    record(fields);
}

EXPORT int clock_settime(clockid_t clock, const struct timespec *given)
{
    /* The C library declares the value never null; a caller may still pass null. */
    const struct timespec *volatile value = given;
    char fields[160];
    if (value)
        snprintf(fields, sizeof fields, "clock_settime clock=%d sec=%lld nsec=%ld", (int)clock,
                 (long long)value->tv_sec, value->tv_nsec);
    else
        snprintf(fields, sizeof fields, "clock_settime clock=%d null=1", (int)clock);
    record(fields);
    return 0;
}

EXPORT int settimeofday(const struct timeval *value, const struct timezone *zone)
{
    char fields[160];
    if (value)
        snprintf(fields, sizeof fields, "settimeofday sec=%lld usec=%lld zone=%d",
                 (long long)value->tv_sec, (long long)value->tv_usec, zone != NULL);
    else
        snprintf(fields, sizeof fields, "settimeofday null=1 zone=%d", zone != NULL);
    record(fields);
    return 0;
}

EXPORT int adjtimex(struct timex *tx)
{
    recordTimex("adjtimex", 0, tx);
    return 0;
}

EXPORT int ntp_adjtime(struct timex *tx)
{
    recordTimex("ntp_adjtime", 0, tx);
    return 0;
}

EXPORT int clock_adjtime(clockid_t clock, struct timex *tx)
{
    recordTimex("clock_adjtime", clock, tx);
    return 0;
}

EXPORT int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);

    /* The kernel reads the request as 32 bits. */
    if ((unsigned int)request == (unsigned int)RTC_SET_TIME) {
        const struct rtc_time *tm = argument;
        char fields[200];
        if (tm)
            snprintf(fields, sizeof fields,
                     "rtc_set_time fd=%d year=%d mon=%d mday=%d hour=%d min=%d sec=%d", fd,
                     tm->tm_year, tm->tm_mon, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec);
        else
            snprintf(fields, sizeof fields, "rtc_set_time fd=%d null=1", fd);
        record(fields);
        return 0;
    }

    typedef int (*IoctlFunction)(int, unsigned long, ...);
    static IoctlFunction next;
    if (!next) {
        void *symbol = dlsym(RTLD_NEXT, "ioctl");
        memcpy(&next, &symbol, sizeof next); /* a function pointer from dlsym's data pointer */
    }
    return next ? next(fd, request, argument) : -1;
}
