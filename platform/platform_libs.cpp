/* platform_libs.cpp - the PTZ, Wi-Fi, database and system libraries, opened
 * by the tool itself on first need rather than mapped by the program loader
 * at every start. A camera model without PTZ or Wi-Fi hardware may ship
 * without their library, and a board in bring-up may carry a broken one:
 * linked, such a library kept the tool from starting at all, so not even the
 * GPIO or SD card tests could run. Linked, they were also paid for at every
 * start, whichever module ran.
 *
 * Each call keeps its declaration: the definitions here stand in for the
 * library's, open it on first use and go on into the library's own. They are
 * built with hidden visibility, so they never enter the tool's dynamic symbol
 * table, and an opened library binds its internal calls to its own
 * definitions, never to these. */
#include "platform_libs.h"

#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cvdb.h"
#include "cvptz.h"
#include "cvsys.h"
#include "cvwifi.h"
#include "osa.h"

/* The sonames the build found: the stand-ins' or the vendor's. */
#ifndef PLATFORM_SONAME_CVPTZ
#define PLATFORM_SONAME_CVPTZ "libcvptz.so"
#endif
#ifndef PLATFORM_SONAME_CVWIFI
#define PLATFORM_SONAME_CVWIFI "libcvwifi.so"
#endif
#ifndef PLATFORM_SONAME_CVDB
#define PLATFORM_SONAME_CVDB "libcvdb.so"
#endif
#ifndef PLATFORM_SONAME_CVSYS
#define PLATFORM_SONAME_CVSYS "libcvsys.so"
#endif

typedef struct PlatformLib {
    const char *soname;
    const char *const *names; /* its calls, in the order of entries */
    void **entries;
    size_t count;
    void *handle; /* set once the library is open */
} PlatformLib;

enum { PT_SET_SPEED, PT_RUN, PT_SET_PRESET, PT_REMOVE_PRESET, PT_GO_PRESET, PT_TTY_DEINIT, PT_CALLS };
static const char *const cvptz_names[PT_CALLS] = {
    "pt_set_speed", "pt_run", "pt_set_preset", "pt_remove_preset", "pt_go_preset", "pt_tty_deinit",
};
static void *cvptz_entries[PT_CALLS];
static PlatformLib cvptz_lib = {PLATFORM_SONAME_CVPTZ, cvptz_names, cvptz_entries, PT_CALLS, nullptr};

enum {
    WIFI_CONFIG,
    WIFI_INFO_SCAN,
    WIFI_INFO_LIST_DELETE,
    WIFI_PRINT_CONFIG,
    WIFI_GET_STATUS,
    WIFI_PRINT_STATUS,
    WIFI_WPS_GET_PIN,
    WIFI_CALLS
};
static const char *const cvwifi_names[WIFI_CALLS] = {
    "wifi_config",     "wifi_info_scan",    "wifi_info_list_delete", "wifi_print_config",
    "wifi_get_status", "wifi_print_status", "wifi_wps_get_pin",
};
static void *cvwifi_entries[WIFI_CALLS];
static PlatformLib cvwifi_lib = {PLATFORM_SONAME_CVWIFI, cvwifi_names, cvwifi_entries, WIFI_CALLS,
                                 nullptr};

enum {
    DB_CONN,
    DB_DISCONN,
    DB_EXECUTE,
    DB_QUERY_RECORD,
    DB_QUERY_COLUMN_NAME,
    DB_QUERY_COLUMN_TEXT,
    DB_QUERY_NEXT,
    DB_CLEAR_STMT,
    DB_CALLS
};
static const char *const cvdb_names[DB_CALLS] = {
    "sqlite_conn",         "sqlite_disconn",           "sqlite_execute",
    "sqlite_query_record", "sqlite_query_column_name", "sqlite_query_column_text",
    "sqlite_query_next",   "sqlite_clear_stmt",
};
static void *cvdb_entries[DB_CALLS];
static PlatformLib cvdb_lib = {PLATFORM_SONAME_CVDB, cvdb_names, cvdb_entries, DB_CALLS, nullptr};

enum { SYS_STEPPER_RUN, SYS_STEPPER_CHECK_BUSY, SYS_STEPPER_SET_PIRIS_DUTY, SYS_STEPPER_CLOSE,
       SYS_FREE_SYSTEM_CACHES, SYS_CALLS };
static const char *const cvsys_names[SYS_CALLS] = {
    "STEPPER_run", "STEPPER_check_busy", "STEPPER_set_piris_duty", "STEPPER_close",
    "cv_free_system_caches",
};
static void *cvsys_entries[SYS_CALLS];
static PlatformLib cvsys_lib = {PLATFORM_SONAME_CVSYS, cvsys_names, cvsys_entries, SYS_CALLS, nullptr};

/* ---- a trial load, where a crash cannot reach the tool ----
 *
 * dlopen maps a library's segments straight from its file, and the loader
 * trusts what it finds there: a file cut short by an interrupted firmware
 * update kills the tool with SIGBUS, a damaged program header can make the
 * loader abort, and a FIFO under the library's name makes it wait for ever.
 * Which file the loader takes (its hardware-capability subdirectories, its
 * cache, a vendor library's own dependencies) is the loader's to decide, so
 * the loader itself tries first, in a child process: it opens the library
 * with every symbol bound at once and reads every page of every object it
 * mapped, so that a file cut short faults there. The tool opens the library
 * only after the child ended well. */

/* A trial load from the camera's flash takes well under a second; a name
 * that makes the loader wait (a FIFO, a hung mount) is given up after this. */
enum { PLATFORM_TRIAL_MSEC = 10000 };

/* The tool's stop requests. */
static const int platform_stop_signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

/* The child's end of the pipe to the parent. */
static int platform_trial_report = -1;

/* The objects mapped before the trial, known by their program headers. */
typedef struct PlatformObjects {
    const void *phdr[256];
    size_t count;
} PlatformObjects;

static int platform_note_object(struct dl_phdr_info *info, size_t, void *data)
{
    PlatformObjects *seen = (PlatformObjects *)data;
    /* One not noted is read like a new one, which does no harm. */
    if (seen->count < sizeof seen->phdr / sizeof seen->phdr[0])
        seen->phdr[seen->count++] = info->dlpi_phdr;
    return 0;
}

/* Sends the parent one line (a file's name, the loader's refusal) and
 * ends the child with status. */
[[noreturn]] static void platform_trial_end(int report, const char *text, int status)
{
    char line[PATH_MAX + 64];
    int len = snprintf(line, sizeof line, "%s\n", text);
    if (len > 0) {
        /* A text cut short still ends its line: the parent takes whole
         * lines only. */
        if ((size_t)len >= sizeof line) {
            len = (int)sizeof line - 1;
            line[len - 1] = '\n';
        }
        ssize_t w = write(report, line, (size_t)len);
        (void)w;
    }
    _exit(status);
}

/* Reads one byte of every page the object's file backs: a file cut short
 * faults here, and the fault handler names it. The reads land anywhere in
 * the object, between its variables too, which an address-sanitized build
 * would take for overflows. */
__attribute__((no_sanitize("address"))) static int platform_read_object(struct dl_phdr_info *info, size_t, void *data)
{
    const PlatformObjects *seen = (const PlatformObjects *)data;
    for (size_t i = 0; i < seen->count; i++) {
        if (seen->phdr[i] == info->dlpi_phdr)
            return 0;
    }
    uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
    for (unsigned i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || ph.p_filesz == 0)
            continue;
        /* Not all of what the header says comes from the file was mapped:
         * some loaders take such a header without a word. */
        if (ph.p_filesz > ph.p_memsz)
            platform_trial_end(platform_trial_report, info->dlpi_name, 3);
        uintptr_t start = (info->dlpi_addr + ph.p_vaddr) & ~(page - 1);
        uintptr_t end = info->dlpi_addr + ph.p_vaddr + ph.p_filesz;
        /* An execute-only segment is read all the same: the child is
         * thrown away. */
        if (!(ph.p_flags & PF_R))
            mprotect((void *)start, end - start, PROT_READ | PROT_EXEC);
        for (uintptr_t at = start; at < end; at += page)
            (void)*(volatile const unsigned char *)at;
    }
    return 0;
}

/* A fault in the trial: the file mapped where it struck goes to the parent,
 * then the fault strikes again, the handler gone, and ends the child. Only
 * calls safe in a signal handler. */
static void platform_trial_fault(int, siginfo_t *info, void *)
{
    uintptr_t at = (uintptr_t)info->si_addr;
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    static char buf[PATH_MAX + 256];
    size_t len = 0;
    for (;;) {
        ssize_t got = read(fd, buf + len, sizeof buf - len);
        if (got <= 0)
            break;
        len += (size_t)got;
        char *line = buf;
        char *nl;
        while ((nl = (char *)memchr(line, '\n', len - (size_t)(line - buf))) != nullptr) {
            /* "start-end perms offset dev inode   path" */
            char *p = line;
            uintptr_t start = 0, end = 0;
            for (; p < nl && *p != '-'; p++)
                start = start * 16 + (uintptr_t)(*p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10);
            for (p++; p < nl && *p != ' '; p++)
                end = end * 16 + (uintptr_t)(*p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10);
            char *path = (char *)memchr(line, '/', (size_t)(nl - line));
            if (at >= start && at < end && path) {
                ssize_t w = write(platform_trial_report, path, (size_t)(nl - path + 1));
                (void)w;
                close(fd);
                return;
            }
            line = nl + 1;
        }
        /* A line longer than the buffer is passed over. */
        len -= (size_t)(line - buf);
        if (len == sizeof buf)
            len = 0;
        memmove(buf, line, len);
    }
    close(fd);
}

/* The child: never returns. Its status says how the trial went; what the
 * loader said when it refused the library goes to the parent on report. */
[[noreturn]] static void platform_trial_child(const char *soname, int report, pid_t parent,
                                              const sigset_t *mask)
{
    /* Ends with the tool, even when the tool is killed. */
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(2);
    /* A stop request to the terminal's whole group ends the child quietly:
     * the tool's own handler prints the signal line once. One the tool
     * ignores (a hang-up under nohup) the child ignores too. */
    for (int sig : platform_stop_signals) {
        struct sigaction now;
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
            signal(sig, SIG_DFL);
    }
    sigprocmask(SIG_SETMASK, mask, nullptr);
    /* What the library or a crashing loader prints is not the tool's. */
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd <= 2 && null >= 0; fd++)
        dup2(null, fd);
    platform_trial_report = report;
    struct sigaction fault = {};
    fault.sa_sigaction = platform_trial_fault;
    fault.sa_flags = SA_SIGINFO | SA_RESETHAND;
    sigaction(SIGBUS, &fault, nullptr);
    sigaction(SIGSEGV, &fault, nullptr);
    PlatformObjects seen = {};
    dl_iterate_phdr(platform_note_object, &seen);
    if (!dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
        const char *why = dlerror();
        platform_trial_end(report, why ? why : soname, 1);
    }
    dl_iterate_phdr(platform_read_object, &seen);
    /* _exit: neither the tool's exit handlers nor its stdio buffers are the
     * child's to run or flush. */
    _exit(0);
}

/* Keeps the last whole line the child sent. */
static void platform_trial_take(char *last, size_t size, char *pending, size_t *len, const char *data,
                                size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (data[i] == '\n') {
            pending[*len] = '\0';
            snprintf(last, size, "%s", pending);
            *len = 0;
        } else if (*len + 1 < PATH_MAX + 64) {
            pending[(*len)++] = data[i];
        }
    }
}

/* Lets the loader try the library in a child: 0 when it loaded and every
 * page could be read, -1 with what went wrong in reason. A stop request
 * (any of the tool's handled signals) or the bound ends the wait and the
 * child. */
static int platform_lib_trial(const char *soname, char *reason, size_t size)
{
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) {
        snprintf(reason, size, "trial load not started: %s", strerror(errno));
        return -1;
    }
    /* Blocked from here to the wait, which lets them in atomically: a stop
     * request that arrives before the wait begins still ends it. */
    sigset_t stops, saved;
    sigemptyset(&stops);
    for (int sig : platform_stop_signals)
        sigaddset(&stops, sig);
    sigprocmask(SIG_BLOCK, &stops, &saved);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        close(pipefd[0]);
        platform_trial_child(soname, pipefd[1], parent, &saved);
    }
    int fork_errno = errno;
    close(pipefd[1]);
    if (pid < 0) {
        sigprocmask(SIG_SETMASK, &saved, nullptr);
        close(pipefd[0]);
        snprintf(reason, size, "trial load not started: %s", strerror(fork_errno));
        return -1;
    }
    char last[PATH_MAX + 64] = "";
    char pending[PATH_MAX + 64];
    size_t pending_len = 0;
    uint64_t deadline = OSA_clockMsec() + PLATFORM_TRIAL_MSEC;
    /* The child's end wakes the wait at once where the kernel gives one
     * (Linux 5.3); otherwise the pipe's end does, and the reaping that
     * follows it is awaited a tenth of a millisecond at a time. The child
     * sends at most one short line, which waits in the pipe. */
    int pidfd = -1;
#ifdef SYS_pidfd_open
    pidfd = (int)syscall(SYS_pidfd_open, pid, 0);
#endif
    const bool by_pidfd = pidfd >= 0;
    int status = 0, reaped = 0, stopped = 0, open_pipe = !by_pidfd;
    for (;;) {
        pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid) {
            reaped = 1;
            break;
        }
        uint64_t now = OSA_clockMsec();
        if (w < 0 || now >= deadline)
            break;
        uint64_t left = deadline - now;
        struct pollfd p = {by_pidfd ? pidfd : open_pipe ? pipefd[0] : -1, POLLIN, 0};
        long usec = by_pidfd || open_pipe ? 100000 : 100;
        if (left * 1000 < (uint64_t)usec)
            usec = (long)(left * 1000);
        struct timespec slice = {0, usec * 1000};
        int n = ppoll(&p, 1, &slice, &saved);
        if (n < 0 && errno == EINTR) {
            stopped = 1;
            break;
        }
        if (n > 0 && !by_pidfd) {
            char buf[512];
            ssize_t got = read(pipefd[0], buf, sizeof buf);
            if (got > 0)
                platform_trial_take(last, sizeof last, pending, &pending_len, buf, (size_t)got);
            else if (got == 0 || errno != EINTR)
                open_pipe = 0;
        }
    }
    if (by_pidfd)
        close(pidfd);
    int killed = !reaped;
    if (killed) {
        kill(pid, SIGKILL);
        /* Bounded too: a child stuck in the kernel (a dead mount) is left
         * behind rather than waited for. */
        for (int i = 0; i < 500 && !reaped; i++) {
            reaped = waitpid(pid, &status, WNOHANG) == pid;
            if (!reaped)
                usleep(2000);
        }
    }
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    if (reaped && (open_pipe || by_pidfd)) {
        /* Whatever the child sent before it ended is there now. */
        fcntl(pipefd[0], F_SETFL, O_NONBLOCK);
        char buf[512];
        ssize_t got;
        while ((got = read(pipefd[0], buf, sizeof buf)) > 0)
            platform_trial_take(last, sizeof last, pending, &pending_len, buf, (size_t)got);
    }
    close(pipefd[0]);
    if (stopped) {
        snprintf(reason, size, "trial load stopped");
        return -1;
    }
    if (killed || !reaped) {
        snprintf(reason, size, "trial load not finished within %d s", PLATFORM_TRIAL_MSEC / 1000);
        return -1;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 1 && last[0])
        snprintf(reason, size, "%s", last);
    else if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        snprintf(reason, size, "%s: a segment larger in the file than in memory", last);
    else if (WIFSIGNALED(status) && last[0])
        snprintf(reason, size, "%s: %s in a trial load", last, strsignal(WTERMSIG(status)));
    else if (WIFSIGNALED(status))
        snprintf(reason, size, "%s in a trial load", strsignal(WTERMSIG(status)));
    else
        snprintf(reason, size, "trial load ended with status %d", WEXITSTATUS(status));
    return -1;
}

/* Whether the library is mapped already (linked into the tool, as the
 * vendor's libraries may be). Asked of the loader by name alone, it would
 * go searching, and open, the files it finds. */
static int platform_is_mapped(struct dl_phdr_info *info, size_t, void *data)
{
    const char *slash = strrchr(info->dlpi_name, '/');
    return strcmp(slash ? slash + 1 : info->dlpi_name, (const char *)data) == 0;
}

/* Opens the library once and finds the call at index in it: 0, or -1
 * after the error line. A library that cannot be opened is tried again at
 * the next call that needs it, and reported again. */
static int platform_lib_open(PlatformLib *lib, size_t index)
{
    if (!lib->handle) {
        void *handle = nullptr;
        if (dl_iterate_phdr(platform_is_mapped, (void *)lib->soname))
            handle = dlopen(lib->soname, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
        if (!handle) {
            char reason[PATH_MAX + 128];
            if (platform_lib_trial(lib->soname, reason, sizeof reason) != 0) {
                report_error("cannot load platform library %s: %s\n", lib->soname, reason);
                return -1;
            }
            handle = dlopen(lib->soname, RTLD_NOW | RTLD_LOCAL);
        }
        if (!handle) {
            report_error("cannot load platform library %s: %s\n", lib->soname, dlerror());
            return -1;
        }
        lib->handle = handle;
    }
    if (lib->entries[index])
        return 0;
    dlerror();
    void *entry = dlsym(lib->handle, lib->names[index]);
    const char *missing = dlerror();
    if (missing || !entry) {
        report_error("cannot load platform library %s: %s\n", lib->soname,
                     missing ? missing : lib->names[index]);
        return -1;
    }
    lib->entries[index] = entry;
    return 0;
}

static PlatformLib *const platform_libs[] = {&cvptz_lib, &cvwifi_lib, &cvdb_lib, &cvsys_lib};

int platform_call_open(const char *name)
{
    for (PlatformLib *lib : platform_libs) {
        for (size_t i = 0; i < lib->count; i++) {
            if (strcmp(lib->names[i], name) == 0)
                return platform_lib_open(lib, i);
        }
    }
    report_error("no platform library has a call %s\n", name);
    return -1;
}

/* The library's own definition of a call, typed like the declaration of the
 * call standing in for it. A call reached before its module's calls were
 * opened (a module's code run on its own) opens it here. */
template <typename Call> static Call platform_call(PlatformLib *lib, int index, Call)
{
    if (!lib->entries[index] && platform_lib_open(lib, (size_t)index) != 0)
        exit(-1);
    return reinterpret_cast<Call>(lib->entries[index]);
}

int pt_set_speed(int speed1, int speed2)
{
    return platform_call(&cvptz_lib, PT_SET_SPEED, pt_set_speed)(speed1, speed2);
}

int pt_run(int command)
{
    return platform_call(&cvptz_lib, PT_RUN, pt_run)(command);
}

int pt_set_preset(int preset)
{
    return platform_call(&cvptz_lib, PT_SET_PRESET, pt_set_preset)(preset);
}

int pt_remove_preset(int preset)
{
    return platform_call(&cvptz_lib, PT_REMOVE_PRESET, pt_remove_preset)(preset);
}

int pt_go_preset(int preset)
{
    return platform_call(&cvptz_lib, PT_GO_PRESET, pt_go_preset)(preset);
}

int pt_tty_deinit(int release)
{
    return platform_call(&cvptz_lib, PT_TTY_DEINIT, pt_tty_deinit)(release);
}

int wifi_config(WifiSettings *settings)
{
    return platform_call(&cvwifi_lib, WIFI_CONFIG, wifi_config)(settings);
}

WifiApInfo *wifi_info_scan(uint32_t mode)
{
    return platform_call(&cvwifi_lib, WIFI_INFO_SCAN, wifi_info_scan)(mode);
}

int wifi_info_list_delete(WifiApInfo *list)
{
    return platform_call(&cvwifi_lib, WIFI_INFO_LIST_DELETE, wifi_info_list_delete)(list);
}

int wifi_print_config(void)
{
    return platform_call(&cvwifi_lib, WIFI_PRINT_CONFIG, wifi_print_config)();
}

int wifi_get_status(void)
{
    return platform_call(&cvwifi_lib, WIFI_GET_STATUS, wifi_get_status)();
}

int wifi_print_status(void)
{
    return platform_call(&cvwifi_lib, WIFI_PRINT_STATUS, wifi_print_status)();
}

int wifi_wps_get_pin(char *pin)
{
    return platform_call(&cvwifi_lib, WIFI_WPS_GET_PIN, wifi_wps_get_pin)(pin);
}

int sqlite_conn(const char *path, const char *key, sqlite_handle *db)
{
    return platform_call(&cvdb_lib, DB_CONN, sqlite_conn)(path, key, db);
}

int sqlite_disconn(sqlite_handle db)
{
    return platform_call(&cvdb_lib, DB_DISCONN, sqlite_disconn)(db);
}

int sqlite_execute(sqlite_handle db, const char *sql)
{
    return platform_call(&cvdb_lib, DB_EXECUTE, sqlite_execute)(db, sql);
}

int sqlite_query_record(sqlite_handle db, const char *sql, sqlite_stmt *stmt, int *columns)
{
    return platform_call(&cvdb_lib, DB_QUERY_RECORD, sqlite_query_record)(db, sql, stmt, columns);
}

const char *sqlite_query_column_name(sqlite_handle db, sqlite_stmt stmt, int column)
{
    return platform_call(&cvdb_lib, DB_QUERY_COLUMN_NAME, sqlite_query_column_name)(db, stmt, column);
}

int sqlite_query_column_text(sqlite_stmt stmt, int column, char *buf, int size)
{
    return platform_call(&cvdb_lib, DB_QUERY_COLUMN_TEXT, sqlite_query_column_text)(stmt, column, buf,
                                                                                    size);
}

int sqlite_query_next(sqlite_stmt stmt)
{
    return platform_call(&cvdb_lib, DB_QUERY_NEXT, sqlite_query_next)(stmt);
}

int sqlite_clear_stmt(sqlite_stmt stmt)
{
    return platform_call(&cvdb_lib, DB_CLEAR_STMT, sqlite_clear_stmt)(stmt);
}

int STEPPER_run(StepperParam *param)
{
    return platform_call(&cvsys_lib, SYS_STEPPER_RUN, STEPPER_run)(param);
}

int STEPPER_check_busy(int type)
{
    return platform_call(&cvsys_lib, SYS_STEPPER_CHECK_BUSY, STEPPER_check_busy)(type);
}

int STEPPER_set_piris_duty(int duty)
{
    return platform_call(&cvsys_lib, SYS_STEPPER_SET_PIRIS_DUTY, STEPPER_set_piris_duty)(duty);
}

int STEPPER_close(void)
{
    return platform_call(&cvsys_lib, SYS_STEPPER_CLOSE, STEPPER_close)();
}

int cv_free_system_caches(void)
{
    return platform_call(&cvsys_lib, SYS_FREE_SYSTEM_CACHES, cv_free_system_caches)();
}
