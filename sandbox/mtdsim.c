/* mtdsim.c - a simulated MTD flash for camsim --mtd, preloaded into
 * the programs of the sandbox (sandbox/setup.d/30-mtd.sh). The host kernel
 * has no MTD driver, so when CAMSIM_MTD names a directory this library
 *   - opens $CAMSIM_MTD/mtd wherever /proc/mtd is opened, and
 *   - answers MEMGETBADBLOCK on descriptors of the files under
 *     $CAMSIM_MTD/dev/ (the sandbox's /dev/mtdN lead there), from their
 *     lines "bad OFFSET" (the block is bad) and "fail OFFSET" (the request
 *     fails with EIO); OFFSET is relative to the partition, in C notation.
 *     A line "signal OFFSET N" sends signal N to the asking process before
 *     it gets its answer: a Ctrl-C at a chosen point of a scan.
 * Every other call goes through untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mtd/mtd-abi.h>

static const char mtdsim_proc_path[] = "/proc/mtd";

/* Under an emulator the programs this one starts (a shell, cp) are host
 * programs, which cannot load this library: the sandbox then asks it to
 * take itself out of their environment. The emulator puts it back into
 * every emulated program. */
__attribute__((constructor)) static void mtdsim_init(void)
{
    if (getenv("CAMSIM_MTD_PRELOAD_ONCE")) {
        unsetenv("LD_PRELOAD");
        unsetenv("CAMSIM_MTD_PRELOAD_ONCE");
    }
}

static const char *mtdsim_dir(void)
{
    const char *dir = getenv("CAMSIM_MTD");
    return dir && *dir ? dir : NULL;
}

/* The file that stands for path, or path itself. */
static const char *mtdsim_redirect(const char *path, char *buf, size_t size)
{
    const char *dir = mtdsim_dir();
    if (!dir || !path || strcmp(path, mtdsim_proc_path) != 0)
        return path;
    if ((size_t)snprintf(buf, size, "%s/mtd", dir) >= size)
        return path;
    return buf;
}

static void *mtdsim_next(const char *name)
{
    void *fn = dlsym(RTLD_NEXT, name);
    if (!fn)
        abort(); /* nothing sensible can be done without the real call */
    return fn;
}

typedef FILE *(*mtdsim_fopen_fn)(const char *, const char *);
typedef int (*mtdsim_open_fn)(const char *, int, ...);
typedef int (*mtdsim_openat_fn)(int, const char *, int, ...);
typedef int (*mtdsim_ioctl_fn)(int, unsigned long, ...);

/* The next definition of name, looked up once. */
#define MTDSIM_REAL(type, name) \
    static type real_fn; \
    if (!real_fn) \
        real_fn = (type)mtdsim_next(name)

FILE *fopen(const char *path, const char *mode)
{
    MTDSIM_REAL(mtdsim_fopen_fn, "fopen");
    char buf[PATH_MAX];
    return real_fn(mtdsim_redirect(path, buf, sizeof buf), mode);
}

FILE *fopen64(const char *path, const char *mode)
{
    MTDSIM_REAL(mtdsim_fopen_fn, "fopen64");
    char buf[PATH_MAX];
    return real_fn(mtdsim_redirect(path, buf, sizeof buf), mode);
}

static mode_t mtdsim_mode(int flags, va_list ap)
{
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE)
        return (mode_t)va_arg(ap, int);
    return 0;
}

int open(const char *path, int flags, ...)
{
    MTDSIM_REAL(mtdsim_open_fn, "open");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mtdsim_mode(flags, ap);
    va_end(ap);
    char buf[PATH_MAX];
    return real_fn(mtdsim_redirect(path, buf, sizeof buf), flags, mode);
}

int open64(const char *path, int flags, ...)
{
    MTDSIM_REAL(mtdsim_open_fn, "open64");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mtdsim_mode(flags, ap);
    va_end(ap);
    char buf[PATH_MAX];
    return real_fn(mtdsim_redirect(path, buf, sizeof buf), flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    MTDSIM_REAL(mtdsim_openat_fn, "openat");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mtdsim_mode(flags, ap);
    va_end(ap);
    char buf[PATH_MAX];
    return real_fn(dirfd, mtdsim_redirect(path, buf, sizeof buf), flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    MTDSIM_REAL(mtdsim_openat_fn, "openat64");
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mtdsim_mode(flags, ap);
    va_end(ap);
    char buf[PATH_MAX];
    return real_fn(dirfd, mtdsim_redirect(path, buf, sizeof buf), flags, mode);
}

/* Puts the simulated device file behind fd into file; 0, or -1 when fd is
 * something else. */
static int mtdsim_device_file(int fd, char *file, size_t size)
{
    const char *dir = mtdsim_dir();
    char real_dir[PATH_MAX], link[64], prefix[PATH_MAX + 8];
    if (!dir || !realpath(dir, real_dir))
        return -1;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, file, size - 1);
    if (n < 0)
        return -1;
    file[n] = '\0';
    snprintf(prefix, sizeof prefix, "%s/dev/", real_dir);
    return strncmp(file, prefix, strlen(prefix)) == 0 ? 0 : -1;
}

/* What the driver would answer for the erase block at offset. */
static int mtdsim_bad_block(const char *file, long long offset)
{
    FILE *fp = fopen(file, "r");
    if (!fp) {
        errno = EIO;
        return -1;
    }
    char line[256], word[16];
    int result = 0;
    while (fgets(line, sizeof line, fp)) {
        char number[64];
        int signo;
        if (sscanf(line, "%15s %63s", word, number) != 2)
            continue;
        if (strtoll(number, NULL, 0) != offset)
            continue;
        if (strcmp(word, "signal") == 0 && sscanf(line, "%*s %*s %d", &signo) == 1)
            raise(signo);
        if (strcmp(word, "fail") == 0) {
            result = -1;
            break;
        }
        if (strcmp(word, "bad") == 0)
            result = 1;
    }
    fclose(fp);
    if (result < 0)
        errno = EIO;
    return result;
}

int ioctl(int fd, unsigned long request, ...)
{
    MTDSIM_REAL(mtdsim_ioctl_fn, "ioctl");
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    char file[PATH_MAX];
    if (request == (unsigned long)MEMGETBADBLOCK && arg &&
        mtdsim_device_file(fd, file, sizeof file) == 0) {
        long long offset;
        memcpy(&offset, arg, sizeof offset);
        return mtdsim_bad_block(file, offset);
    }
    return real_fn(fd, request, arg);
}
