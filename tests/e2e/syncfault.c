/* Preloaded into the program by the sync-fails case: fsync and fdatasync of a file whose
 * path starts with $HALCYON_FAIL_SYNC fail with EIO, as a failing disk or a network share
 * reports an error it met writing back. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int doomed(int fd)
{
    const char *prefix = getenv("HALCYON_FAIL_SYNC");
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
    if (doomed(fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int fsync(int fd) { return sync_or_fail("fsync", fd); }
int fdatasync(int fd) { return sync_or_fail("fdatasync", fd); }
