/*
 * Preloaded into the crash workload: counts the calls that change a file
 * (pwrite, write to a file descriptor above 2, ftruncate) and, when asked,
 * kills the process with SIGKILL right before the k-th one, or halfway through
 * it (the part of a large write that a kill can leave behind). It can also log
 * every such call with the HDF5 routine it came from, which names the phase
 * of a library call a kill would hit.
 *
 * VIDEZ5_CRASH_AT=k        kill before change k (1-based)
 * VIDEZ5_CRASH_TORN=1      write the first half (whole pages) of change k, then kill
 * VIDEZ5_CRASH_ZERO=k      from change k on, pwrite writes nothing and returns 0 (a
 *                          file system that stops taking data): the process must not hang
 * VIDEZ5_CRASH_LOG=path    append "k phase offset size" for every change
 * VIDEZ5_CRASH_TRACE=path  keep the phase of the latest file access (reads too) in
 *                          that file, for a kill that comes from outside
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static long kill_at = -1;
static long zero_from = -1;
static int torn = 0;
static int log_fd = -1;
static int trace_fd = -1;
static long changes = 0;

static ssize_t (*real_pwrite64)(int, const void*, size_t, off_t);
static ssize_t (*real_pwrite)(int, const void*, size_t, off_t);
static ssize_t (*real_write)(int, const void*, size_t);
static ssize_t (*real_pread64)(int, void*, size_t, off_t);
static ssize_t (*real_pread)(int, void*, size_t, off_t);
static int (*real_ftruncate)(int, off_t);
static int (*real_ftruncate64)(int, off_t);

__attribute__((constructor)) static void init(void) {
    real_pwrite64 = dlsym(RTLD_NEXT, "pwrite64");
    real_pwrite = dlsym(RTLD_NEXT, "pwrite");
    real_write = dlsym(RTLD_NEXT, "write");
    real_pread64 = dlsym(RTLD_NEXT, "pread64");
    real_pread = dlsym(RTLD_NEXT, "pread");
    real_ftruncate = dlsym(RTLD_NEXT, "ftruncate");
    real_ftruncate64 = dlsym(RTLD_NEXT, "ftruncate64");
    const char* s = getenv("VIDEZ5_CRASH_AT");
    if (s) kill_at = atol(s);
    s = getenv("VIDEZ5_CRASH_ZERO");
    if (s) zero_from = atol(s);
    s = getenv("VIDEZ5_CRASH_TORN");
    torn = s && *s == '1';
    s = getenv("VIDEZ5_CRASH_LOG");
    if (s) log_fd = open(s, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    s = getenv("VIDEZ5_CRASH_TRACE");
    if (s) trace_fd = open(s, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    void* warm[4];
    backtrace(warm, 4); /* loads the unwinder now, not inside a traced call */
}

/* "entry/H5Routine": the outermost library entry point and HDF5 routine on the stack. */
static void phase(char* out, size_t size) {
    void* frames[64];
    const int n = backtrace(frames, 64);
    const char* entry = "-";
    const char* routine = "-";
    for (int i = n - 1; i >= 0; --i) {
        Dl_info info;
        if (!dladdr(frames[i], &info) || !info.dli_sname || !info.dli_fname) continue;
        if (strncmp(info.dli_sname, "ftoc_", 5) == 0 && entry[0] == '-') entry = info.dli_sname;
        if (strstr(info.dli_fname, "libhdf5") && routine[0] == '-') routine = info.dli_sname;
    }
    snprintf(out, size, "%s/%s", entry, routine);
}

static void trace(void) {
    if (trace_fd < 0) return;
    char line[256];
    phase(line, sizeof line);
    const size_t len = strlen(line);
    memset(line + len, ' ', sizeof line - len - 1);
    line[sizeof line - 1] = '\n';
    real_pwrite64(trace_fd, line, sizeof line, 0);
}

/* Returns how many bytes of the change to let through before the kill; -1: all. */
static long before_change(int fd, off_t offset, size_t size, const void* bytes) {
    if (fd == log_fd || fd == trace_fd) return -1;
    ++changes;
    trace();
    if (log_fd >= 0) {
        char p[200], line[300];
        phase(p, sizeof p);
        /* The first bytes name the structure: TREE, SNOD, HEAP, the superblock... */
        char what[5] = "-";
        if (bytes && size >= 4) {
            for (int i = 0; i < 4; ++i) {
                const char c = ((const char*)bytes)[i];
                what[i] = c >= 'A' && c <= 'Z' ? c : '.';
            }
            what[4] = 0;
        }
        const int len = snprintf(line, sizeof line, "%ld %s %lld %zu %s\n", changes, p, (long long)offset, size, what);
        real_write(log_fd, line, (size_t)len);
    }
    if (changes != kill_at) return -1;
    if (torn && size >= 8192) return (long)((size / 2) & ~(size_t)4095);
    kill(getpid(), SIGKILL);
    return 0;
}

static ssize_t torn_write(ssize_t (*w)(int, const void*, size_t, off_t), int fd, const void* buf, size_t size,
                          off_t offset) {
    const long part = before_change(fd, offset, size, buf);
    if (zero_from > 0 && changes >= zero_from && fd != log_fd && fd != trace_fd) return 0;
    if (part < 0) return w(fd, buf, size, offset);
    w(fd, buf, (size_t)part, offset);
    kill(getpid(), SIGKILL);
    return -1;
}

ssize_t pwrite64(int fd, const void* buf, size_t size, off_t offset) {
    return torn_write(real_pwrite64, fd, buf, size, offset);
}
ssize_t pwrite(int fd, const void* buf, size_t size, off_t offset) {
    return torn_write(real_pwrite, fd, buf, size, offset);
}
ssize_t write(int fd, const void* buf, size_t size) {
    if (fd > 2 && before_change(fd, -1, size, buf) == 0) kill(getpid(), SIGKILL);
    return real_write(fd, buf, size);
}
ssize_t pread64(int fd, void* buf, size_t size, off_t offset) {
    if (fd != trace_fd) trace();
    return real_pread64(fd, buf, size, offset);
}
ssize_t pread(int fd, void* buf, size_t size, off_t offset) {
    if (fd != trace_fd) trace();
    return real_pread(fd, buf, size, offset);
}
int ftruncate(int fd, off_t length) {
    if (before_change(fd, length, 0, NULL) >= 0) kill(getpid(), SIGKILL);
    return real_ftruncate(fd, length);
}
int ftruncate64(int fd, off_t length) {
    if (before_change(fd, length, 0, NULL) >= 0) kill(getpid(), SIGKILL);
    return real_ftruncate64(fd, length);
}
