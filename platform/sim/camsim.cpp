/* camsim.cpp - call trace and state files of the simulated camera. */
#include "camsim.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char *camsim_dir(void)
{
    const char *dir = getenv("CAMSIM_DIR");
    return (dir && *dir) ? dir : nullptr;
}

int camsim_active(void)
{
    return camsim_dir() != nullptr;
}

static int camsim_path(const char *name, char *path, size_t size)
{
    const char *dir = camsim_dir();
    if (!dir)
        return -1;
    int n = snprintf(path, size, "%s/%s", dir, name);
    return (n < 0 || (size_t)n >= size) ? -1 : 0;
}

static int write_all(int fd, const char *data, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        data += n;
        len -= (size_t)n;
    }
    return 0;
}

void camsim_trace(const char *fmt, ...)
{
    char path[PATH_MAX];
    if (camsim_path("calls.log", path, sizeof path) != 0)
        return;
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof line - 1, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    if ((size_t)n > sizeof line - 2)
        n = (int)sizeof line - 2;
    line[n++] = '\n';
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    /* One write per line, so that lines from several processes never mix. */
    ssize_t w;
    do {
        w = write(fd, line, (size_t)n);
    } while (w < 0 && errno == EINTR);
    close(fd);
}

int camsim_state_text(const char *name, char *buf, size_t size)
{
    char path[PATH_MAX];
    if (size == 0 || camsim_path(name, path, sizeof path) != 0)
        return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t used = 0;
    for (;;) {
        ssize_t n = read(fd, buf + used, size - 1 - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        used += (size_t)n;
        if (used == size - 1)
            break;
    }
    close(fd);
    while (used > 0 && (buf[used - 1] == '\n' || buf[used - 1] == '\r'))
        used--;
    buf[used] = '\0';
    return 0;
}

long camsim_state_long(const char *name, long def)
{
    char text[64];
    if (camsim_state_text(name, text, sizeof text) != 0)
        return def;
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (end == text || errno != 0)
        return def;
    return v;
}

int camsim_state_write(const char *name, const void *data, size_t len)
{
    char path[PATH_MAX], tmp[PATH_MAX + 8];
    if (camsim_path(name, path, sizeof path) != 0)
        return -1;
    /* Make the parent directory (state names may hold one level, "gpio/5"). */
    const char *slash = strrchr(name, '/');
    if (slash) {
        char sub[PATH_MAX];
        if (snprintf(sub, sizeof sub, "%s/%.*s", camsim_dir(), (int)(slash - name), name) <
            (int)sizeof sub)
            mkdir(sub, 0755);
    }
    if (snprintf(tmp, sizeof tmp, "%s.%ld", path, (long)getpid()) >= (int)sizeof tmp)
        return -1;
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    int rc = write_all(fd, (const char *)data, len);
    close(fd);
    /* Replace in one step, so a reader never sees half a file. */
    if (rc != 0 || rename(tmp, path) != 0) {
        unlink(tmp);
        return -1;
    }
    return 0;
}
