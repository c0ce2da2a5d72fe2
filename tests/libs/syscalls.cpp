/* syscalls.cpp - preloaded into the tool by the black-box tests, which read
 * from it what the tool did in what order, or make its reads and writes
 * meet interrupts. Only the tool itself is affected, not the programs it
 * starts.
 *   SYSCALLS_LOG=FILE  appends one line per event to FILE:
 *                        write PATH | ftruncate PATH | fsync PATH |
 *                        fdatasync PATH |
 *                        syncfs PATH | fsync-dir PATH (a directory's) |
 *                        link OLD NEW | rename OLD NEW | unlink PATH |
 *                        show TEXT (a print to standard output or error,
 *                        logged as it starts, its first line only)
 *   SYSCALLS_EINTR=1   fails every read, write, waitpid and semop once
 *                        with EINTR: the same call again on the same
 *                        descriptor, process or semaphore set goes through. */
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char *g_log;
int g_eintr;
/* What the last interrupted call was made on: a retry on it goes through. */
const long kNone = -2;
long g_interrupted_read = kNone, g_interrupted_write = kNone, g_interrupted_wait = kNone,
     g_interrupted_semop = kNone;
__thread int g_inside;

__attribute__((constructor)) void syscalls_init()
{
    if (strcmp(program_invocation_short_name, "debug") != 0)
        return;
    /* Only the tool is recorded. The programs it starts need not load this
     * library, and under qemu-aarch64 they cannot: they are the host's. */
    unsetenv("LD_PRELOAD");
    g_log = getenv("SYSCALLS_LOG");
    const char *eintr = getenv("SYSCALLS_EINTR");
    g_eintr = eintr && strcmp(eintr, "1") == 0;
}

/* Raw calls only: the log must not log itself or meet the interrupts. */
void log_line(const char *line)
{
    if (!g_log || g_inside)
        return;
    int fd = (int)syscall(SYS_openat, AT_FDCWD, g_log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    syscall(SYS_write, fd, line, strlen(line));
    syscall(SYS_close, fd);
}

void fd_path(int fd, char *path, size_t size)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, size - 1);
    path[n > 0 ? n : 0] = '\0';
}

void log_fd(const char *what, int fd)
{
    if (!g_log)
        return;
    char path[512], line[600];
    fd_path(fd, path, sizeof path);
    struct stat st;
    int dir = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    snprintf(line, sizeof line, "%s%s %s\n", what, dir ? "-dir" : "", path);
    log_line(line);
}

void log_names(const char *what, const char *from, const char *to)
{
    char line[1100];
    snprintf(line, sizeof line, "%s %s%s%s\n", what, from, *to ? " " : "", to);
    log_line(line);
}

void log_show(const char *fmt, va_list ap)
{
    if (!g_log || g_inside)
        return;
    char text[256], line[300];
    va_list copy;
    va_copy(copy, ap);
    vsnprintf(text, sizeof text, fmt, copy);
    va_end(copy);
    text[strcspn(text, "\n")] = '\0';
    snprintf(line, sizeof line, "show %s\n", text);
    log_line(line);
}

template <typename F> F next(const char *name)
{
    return (F)dlsym(RTLD_NEXT, name);
}

int interrupt(long *last, long on)
{
    if (!g_eintr || g_inside)
        return 0;
    if (*last == on) {
        *last = kNone;
        return 0;
    }
    *last = on;
    errno = EINTR;
    return 1;
}

} // namespace

extern "C" {

ssize_t write(int fd, const void *data, size_t len)
{
    static auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
    if (interrupt(&g_interrupted_write, fd))
        return -1;
    log_fd("write", fd);
    return real(fd, data, len);
}

ssize_t read(int fd, void *data, size_t len)
{
    static auto real = next<ssize_t (*)(int, void *, size_t)>("read");
    if (interrupt(&g_interrupted_read, fd))
        return -1;
    return real(fd, data, len);
}

pid_t waitpid(pid_t pid, int *status, int options)
{
    static auto real = next<pid_t (*)(pid_t, int *, int)>("waitpid");
    /* A wait that does not block cannot meet an interrupt. */
    if (!(options & WNOHANG) && interrupt(&g_interrupted_wait, pid))
        return -1;
    return real(pid, status, options);
}

int semop(int id, struct sembuf *ops, size_t count)
{
    static auto real = next<int (*)(int, struct sembuf *, size_t)>("semop");
    if (interrupt(&g_interrupted_semop, id))
        return -1;
    return real(id, ops, count);
}

#define SYSCALLS_FD_CALL(name)                                                                     \
    int name(int fd)                                                                               \
    {                                                                                              \
        static auto real = next<int (*)(int)>(#name);                                              \
        log_fd(#name, fd);                                                                         \
        return real(fd);                                                                           \
    }
SYSCALLS_FD_CALL(fsync)
SYSCALLS_FD_CALL(fdatasync)
SYSCALLS_FD_CALL(syncfs)

int ftruncate(int fd, off_t length)
{
    static auto real = next<int (*)(int, off_t)>("ftruncate");
    log_fd("ftruncate", fd);
    return real(fd, length);
}

int link(const char *from, const char *to)
{
    static auto real = next<int (*)(const char *, const char *)>("link");
    log_names("link", from, to);
    return real(from, to);
}

int unlink(const char *path)
{
    static auto real = next<int (*)(const char *)>("unlink");
    log_names("unlink", path, "");
    return real(path);
}

int rename(const char *from, const char *to)
{
    static auto real = next<int (*)(const char *, const char *)>("rename");
    log_names("rename", from, to);
    return real(from, to);
}

int renameat2(int from_dir, const char *from, int to_dir, const char *to, unsigned flags)
{
    static auto real = next<int (*)(int, const char *, int, const char *, unsigned)>("renameat2");
    log_names("rename", from, to);
    return real(from_dir, from, to_dir, to, flags);
}

/* The prints: logged as they start, then made by the library itself. */
int vprintf(const char *fmt, va_list ap)
{
    static auto real = next<int (*)(const char *, va_list)>("vprintf");
    log_show(fmt, ap);
    g_inside++;
    int n = real(fmt, ap);
    g_inside--;
    return n;
}

int vfprintf(FILE *stream, const char *fmt, va_list ap)
{
    static auto real = next<int (*)(FILE *, const char *, va_list)>("vfprintf");
    if (stream == stdout || stream == stderr)
        log_show(fmt, ap);
    g_inside++;
    int n = real(stream, fmt, ap);
    g_inside--;
    return n;
}

int printf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vprintf(fmt, ap);
    va_end(ap);
    return n;
}

int fprintf(FILE *stream, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vfprintf(stream, fmt, ap);
    va_end(ap);
    return n;
}

int puts(const char *text)
{
    return printf("%s\n", text);
}

int fputs(const char *text, FILE *stream)
{
    return fprintf(stream, "%s", text);
}

} // extern "C"
