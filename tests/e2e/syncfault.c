/* Preloaded into the program by the sync-fails cases: fsync and fdatasync of a file whose
 * path starts with $HALCYON_FAIL_SYNC fail with EIO, as a failing disk or a network share
 * reports an error it met writing back; and a sync_file_range that waits, of a file whose path
 * starts with $HALCYON_FAIL_RANGE_SYNC, as the kernel reports such an error once, to whoever
 * waits first (a later fsync then succeeds). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int doomed_by(const char *variable, int fd)
{
    const char *prefix = getenv(variable);
    char link[64], path[PATH_MAX];
    ssize_t length;
    if (!prefix || !*prefix)
        return 0;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    length = readlink(link, path, sizeof path - 1);
    if (length < 0)
        return 0;
    path[length] = '\0';
    return strncmp(path, prefix, strlen(prefix)) == 0;
}

static int sync_or_fail(const char *name, int fd)
{
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, name);
    if (doomed_by("HALCYON_FAIL_SYNC", fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int fsync(int fd) { return sync_or_fail("fsync", fd); }
int fdatasync(int fd) { return sync_or_fail("fdatasync", fd); }

int sync_file_range(int fd, off64_t offset, off64_t count, unsigned int flags)
{
    int (*real)(int, off64_t, off64_t, unsigned int) =
        (int (*)(int, off64_t, off64_t, unsigned int))dlsym(RTLD_NEXT, "sync_file_range");
    if ((flags & SYNC_FILE_RANGE_WAIT_AFTER) && doomed_by("HALCYON_FAIL_RANGE_SYNC", fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd, offset, count, flags);
}
