/*
 * Preloaded into the crash workload: counts the calls that change a file
 * (pwrite, write to a file descriptor above 2, ftruncate) and, when asked,
 * kills the process with SIGKILL right before the k-th one, or halfway through
 * it (the part of a large write that a kill can leave behind).
 *
 * VIDEZ5_CRASH_AT=k        kill before change k (1-based)
 * VIDEZ5_CRASH_TORN=1      write about the first half of change k, up to a page boundary
 *                          of the file, then kill
 * VIDEZ5_CRASH_ZERO=k      from change k on, pwrite writes nothing and returns 0 (a
 *                          file system that stops taking data): the process must not hang
 * VIDEZ5_FAIL_WHEN=path   while a file of that name exists, writes fail with ENOSPC (a
 *                          disk that fills up), so that a test program chooses the call;
 *                          with VIDEZ5_FAIL_SIZE=n, only writes of n bytes or more
 * VIDEZ5_NO_FLOCK=errno    flock fails with that errno value (38 ENOSYS, 37 ENOLCK): a file
 *                          system without locks
 * VIDEZ5_SLOW_UNLINK=ms     sleep that long before removing an undo journal, which
 *                          widens any gap between a writer's close and that removal
 * VIDEZ5_CRASH_LOG=path    append "k offset size what" for every change, what being
 *                          its first bytes (TREE, SNOD, HEAP, the superblock, ...),
 *                          and what the workload writes to standard output, which
 *                          tells the call each change belongs to
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static long kill_at = -1, zero_from = -1, changes = 0;
static int torn = 0, log_fd = -1, slow_unlink_ms = 0;
static const char* fail_when = NULL;
static size_t fail_size = 0;
static int no_flock = 0;

static ssize_t (*real_pwrite64)(int, const void*, size_t, off_t);
static ssize_t (*real_pwrite)(int, const void*, size_t, off_t);
static ssize_t (*real_write)(int, const void*, size_t);
static int (*real_ftruncate)(int, off_t);
static int (*real_ftruncate64)(int, off_t);
static int (*real_unlink)(const char*);

__attribute__((constructor)) static void init(void) {
    real_pwrite64 = dlsym(RTLD_NEXT, "pwrite64");
    real_pwrite = dlsym(RTLD_NEXT, "pwrite");
    real_write = dlsym(RTLD_NEXT, "write");
    real_ftruncate = dlsym(RTLD_NEXT, "ftruncate");
    real_ftruncate64 = dlsym(RTLD_NEXT, "ftruncate64");
    real_unlink = dlsym(RTLD_NEXT, "unlink");
    const char* s;
    if ((s = getenv("VIDEZ5_CRASH_AT"))) kill_at = atol(s);
    if ((s = getenv("VIDEZ5_CRASH_ZERO"))) zero_from = atol(s);
    torn = (s = getenv("VIDEZ5_CRASH_TORN")) && *s == '1';
    if ((s = getenv("VIDEZ5_SLOW_UNLINK"))) slow_unlink_ms = atoi(s);
    fail_when = getenv("VIDEZ5_FAIL_WHEN");
    if ((s = getenv("VIDEZ5_FAIL_SIZE"))) fail_size = (size_t)atol(s);
    if ((s = getenv("VIDEZ5_NO_FLOCK"))) no_flock = atoi(s);
    if ((s = getenv("VIDEZ5_CRASH_LOG"))) log_fd = open(s, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

/* Returns how many bytes of the change to let through before the kill; -1: all. */
static long before_change(int fd, off_t offset, size_t size, const void* bytes) {
    if (fd == log_fd) return -1;
    ++changes;
    if (log_fd >= 0) {
        char what[5] = "-", line[100];
        for (int i = 0; bytes && size >= 4 && i < 4; ++i) {
            const char c = ((const char*)bytes)[i];
            what[i] = c >= 'A' && c <= 'Z' ? c : '.';
        }
        const int len = snprintf(line, sizeof line, "%ld %lld %zu %s\n", changes, (long long)offset, size, what);
        real_write(log_fd, line, (size_t)len);
    }
    if (changes != kill_at) return -1;
    /* A kill cuts a write where the kernel does: at a page of the file. */
    if (torn && size >= 8192 && offset >= 0) {
        const long long cut = ((long long)offset + (long long)(size / 2)) / 4096 * 4096 - (long long)offset;
        return cut > 0 ? (long)cut : 0;
    }
    kill(getpid(), SIGKILL);
    return 0;
}

static ssize_t torn_write(ssize_t (*w)(int, const void*, size_t, off_t), int fd, const void* buf, size_t size,
                          off_t offset) {
    if (fail_when != NULL && fd != log_fd && size >= fail_size && access(fail_when, F_OK) == 0) {
        errno = ENOSPC;
        return -1;
    }
    const long part = before_change(fd, offset, size, buf);
    if (zero_from > 0 && changes >= zero_from && fd != log_fd) return 0;
    if (part < 0) return w(fd, buf, size, offset);
    w(fd, buf, (size_t)part, offset);
    kill(getpid(), SIGKILL);
    return -1;
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off_t at) { return torn_write(real_pwrite64, fd, buf, n, at); }
ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) { return torn_write(real_pwrite, fd, buf, n, at); }
ssize_t write(int fd, const void* buf, size_t size) {
    /* The workload's "returned N" lines, among the changes they follow. */
    if (fd == 1 && log_fd >= 0) real_write(log_fd, buf, size);
    if (fd > 2 && before_change(fd, -1, size, buf) == 0) kill(getpid(), SIGKILL);
    return real_write(fd, buf, size);
}
static int truncate_change(int (*t)(int, off_t), int fd, off_t length) {
    if (fail_when != NULL && fail_size == 0 && access(fail_when, F_OK) == 0) {
        errno = ENOSPC;
        return -1;
    }
    if (before_change(fd, length, 0, NULL) >= 0) kill(getpid(), SIGKILL);
    return t(fd, length);
}
int ftruncate(int fd, off_t length) { return truncate_change(real_ftruncate, fd, length); }
int ftruncate64(int fd, off_t length) { return truncate_change(real_ftruncate64, fd, length); }

int unlink(const char* path) {
    static const char suffix[] = ".videz5-journal";
    const size_t n = strlen(path), k = sizeof suffix - 1;
    if (slow_unlink_ms > 0 && n >= k && strcmp(path + n - k, suffix) == 0) usleep((useconds_t)slow_unlink_ms * 1000);
    return real_unlink(path);
}

int flock(int fd, int operation) {
    static int (*real_flock)(int, int);
    if (!real_flock) real_flock = dlsym(RTLD_NEXT, "flock");
    if (no_flock > 0) {
        errno = no_flock;
        return -1;
    }
    return real_flock(fd, operation);
}
