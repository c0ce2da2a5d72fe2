/* osa.cpp - platform layer set-up, console lock, clock, sleep, error lines
 * and child processes. */
#include "osa.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

OSA_MutexHndl g_console_lock;

int OSA_init(void)
{
    int status = OSA_mutexCreate(&g_console_lock);
    if (status != 0)
        report_error("OSA_mutexCreate()\n");
    return status;
}

int OSA_shutdown(void)
{
    return OSA_mutexRemove(&g_console_lock);
}

void OSA_printf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    OSA_mutexTake(&g_console_lock);
    vprintf(fmt, ap);
    OSA_mutexGive(&g_console_lock);
    va_end(ap);
}

uint64_t OSA_clockMsec(void)
{
    struct timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
        return 0;
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)(ts.tv_nsec / 1000000);
}

uint32_t OSA_nowMsec(void)
{
    return (uint32_t)OSA_clockMsec();
}

int OSA_sleepMsec(uint32_t ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (long)(ms % 1000) * 1000000L;
    return nanosleep(&ts, nullptr);
}

unsigned long OSA_number(const char *text)
{
    return strtoul(text, nullptr, 0);
}

const char *OSA_sourceName(const char *path)
{
    /* Error lines name the source file as "cv_gpio", not ".../cv_gpio.cpp". */
    static char name[64];
    const char *base = strrchr(path, '/');
    base = base ? base + 1 : path;
    size_t len = strcspn(base, ".");
    if (len >= sizeof name)
        len = sizeof name - 1;
    memcpy(name, base, len);
    name[len] = '\0';
    return name;
}

int report_error_head(char *buf, size_t size, const char *file, const char *func, int line)
{
    return snprintf(buf, size, " ERROR  (%s|%s|%d): ", file, func, line);
}

void report_error_at(const char *file, const char *func, int line, const char *fmt, ...)
{
    char text[1024];
    int n = report_error_head(text, sizeof text, file, func, line);
    if (n < 0)
        return;
    if ((size_t)n < sizeof text) {
        va_list ap;
        va_start(ap, fmt);
        int m = vsnprintf(text + n, sizeof text - (size_t)n, fmt, ap);
        va_end(ap);
        if (m > 0)
            n += m;
    }
    /* A line cut to fit (a loader message with a long path) keeps its end,
     * so that the next line does not run on from it. */
    size_t fmt_len = strlen(fmt);
    if ((size_t)n >= sizeof text - 1 && fmt_len > 0 && fmt[fmt_len - 1] == '\n')
        text[sizeof text - 2] = '\n';
    /* One write, so the line never mixes with another process's. */
    fputs(text, stderr);
    fflush(stderr);
}

int OSA_writeAll(int fd, const void *data, size_t len)
{
    const char *p = (const char *)data;
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return -1;
        }
        p += n;
        len -= (size_t)n;
    }
    return 0;
}

int OSA_syncDirectory(const char *dir)
{
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int rc = fsync(fd);
    int saved = errno;
    close(fd);
    errno = saved;
    return rc;
}

/* The child's output must follow what this process printed before it. */
static pid_t osa_fork(void)
{
    fflush(stdout);
    fflush(stderr);
    return fork();
}

/* In the child, before exec: handlers are reset by exec, but ignored
 * signals would stay ignored. SIGHUP is ignored only under nohup, which
 * the commands keep. */
static void osa_child_signals(void)
{
    signal(SIGINT, SIG_DFL);
    signal(SIGQUIT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
}

static int osa_wait_child(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

int OSA_system(const char *cmd)
{
    if (!cmd)
        return 1;
    pid_t pid = osa_fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        osa_child_signals();
        execl("/bin/sh", "sh", "-c", cmd, (char *)nullptr);
        _exit(127);
    }
    return osa_wait_child(pid);
}

/* In the child: a program that cannot be run says so as a shell would,
 * on the standard error the caller chose, and ends with 127. */
static void osa_exec_child(const char *const argv[])
{
    execvp(argv[0], (char *const *)argv);
    const char *why = strerror(errno);
    struct iovec parts[] = {{(void *)argv[0], strlen(argv[0])},
                            {(void *)": ", 2},
                            {(void *)why, strlen(why)},
                            {(void *)"\n", 1}};
    ssize_t said = writev(STDERR_FILENO, parts, 4);
    (void)said;
    _exit(127);
}

int OSA_exec(const char *const argv[], int quiet)
{
    pid_t pid = osa_fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        osa_child_signals();
        if (quiet) {
            int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
            if (null >= 0) {
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
            }
        }
        osa_exec_child(argv);
    }
    return osa_wait_child(pid);
}

pid_t OSA_spawnFed(const char *const argv[], int *input)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    pid_t pid = osa_fork();
    if (pid == 0) {
        osa_child_signals();
        if (dup2(ends[0], STDIN_FILENO) < 0)
            _exit(127);
        osa_exec_child(argv);
    }
    int saved = errno;
    close(ends[0]);
    if (pid < 0) {
        close(ends[1]);
        errno = saved;
        return -1;
    }
    *input = ends[1];
    return pid;
}

int OSA_waitChild(pid_t pid)
{
    return osa_wait_child(pid);
}

FILE *OSA_popen(const char *cmd, const char *mode)
{
    fflush(stdout);
    fflush(stderr);
    return popen(cmd, mode);
}

int OSA_pclose(FILE *fp)
{
    return pclose(fp);
}
