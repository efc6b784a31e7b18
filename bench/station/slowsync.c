/* A disk whose every sync is slow, for bench_station: loaded with LD_PRELOAD,
 * fsync() and fdatasync() wait SLOWSYNC_MS milliseconds (200 by default: an
 * SD card, an eMMC panel PC or a USB stick under load) and then sync as ever.
 * SQLite syncs through these two calls, so every commit of the station (one
 * sync of the -wal with synchronous=FULL) takes that much longer.
 *
 *   LD_PRELOAD=build-bench/bench/station/libslowsync.so SLOWSYNC_MS=200 \
 *       build-bench/bench/station/bench_station --seconds 40
 *
 * The same library slows any program built before or after a change, so the
 * two can be measured side by side. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

static long delayMs(void)
{
    static long ms = -1;
    if (ms < 0) {
        const char *text = getenv("SLOWSYNC_MS");
        ms = text ? atol(text) : 200;
    }
    return ms;
}

static void wait(void)
{
    const long ms = delayMs();
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

int fsync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    wait();
    return real(fd);
}

int fdatasync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    wait();
    return real(fd);
}
