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
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
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

/* ---- the open, under a guard ----
 *
 * dlopen maps a library's segments straight from its file, and the loader
 * trusts what it finds there: a file cut short by an interrupted firmware
 * update faults while the loader relocates it, a damaged program header can
 * make the loader abort, a FIFO under the library's name makes it wait for
 * ever, and a vendor's constructor may crash, block or call exit(). Which
 * file the loader takes (its hardware-capability subdirectories, its cache,
 * a vendor library's own dependencies) is the loader's to decide, so the
 * tool lets it open the library once, in the tool's own process, and holds
 * a guard over that open: whatever ends it ends the tool with the library's
 * one error line and the loader's own status for a library it cannot load,
 * never with a signal, a silent status or a wait no stop request ends. A
 * trial in a child process cost a fork per run and ran every constructor
 * twice. */

/* An open from the camera's flash takes well under a second; a name that
 * makes the loader wait (a FIFO, a hung mount, a constructor that blocks) is
 * given up after this. */
enum { PLATFORM_OPEN_SEC = 10 };

static const int platform_fault_signals[] = {SIGBUS, SIGSEGV, SIGILL, SIGFPE, SIGABRT};
static const char *const platform_fault_names[] = {"Bus error", "Segmentation fault", "Illegal instruction",
                                                   "Floating point exception", "Aborted"};
/* The tool's stop requests. */
static const int platform_stop_signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

enum { PLATFORM_FAULTS = sizeof platform_fault_signals / sizeof platform_fault_signals[0],
       PLATFORM_STOPS = sizeof platform_stop_signals / sizeof platform_stop_signals[0] };

/* What the open replaced, put back when it is done. */
typedef struct PlatformGuard {
    struct sigaction fault[PLATFORM_FAULTS];
    struct sigaction stop[PLATFORM_STOPS];
    struct sigaction alarm;
    stack_t stack;
    unsigned alarm_left;
} PlatformGuard;

static PlatformGuard platform_guard;
static volatile sig_atomic_t platform_guarded;
/* The error line's head, made before the open: the handlers only finish it. */
static char platform_guard_head[256];

/* Ends the tool in a guarded open: the line names the library, the object
 * (where known) and what ended the open. Only calls safe in a signal
 * handler. */
[[noreturn]] static void platform_guard_end(const char *object, const char *what, const char *more)
{
    char line[sizeof platform_guard_head + PATH_MAX + 96];
    size_t n = 0;
    auto put = [&](const char *text) {
        while (*text && n < sizeof line - 1)
            line[n++] = *text++;
    };
    put(platform_guard_head);
    if (object[0]) {
        put(object);
        put(": ");
    }
    put(what);
    put(more);
    line[n++] = '\n';
    ssize_t w = write(STDERR_FILENO, line, n);
    (void)w;
    _exit(PLATFORM_LOAD_FAILED);
}

/* The file mapped at address at, from /proc/self/maps (the loader's own
 * list is behind a lock the open may hold), into out; empty when none. */
static void platform_mapped_file(uintptr_t at, char *out, size_t size)
{
    out[0] = '\0';
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
                size_t n = (size_t)(nl - path) < size - 1 ? (size_t)(nl - path) : size - 1;
                memcpy(out, path, n);
                out[n] = '\0';
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

static void platform_guard_fault(int sig, siginfo_t *info, void *)
{
    /* Just after the guard was lifted: the fault strikes again, with the
     * default action (the handler was set to reset itself). */
    if (!platform_guarded)
        return;
    char object[PATH_MAX];
    object[0] = '\0';
    /* Only a fault the processor raised has an address. */
    if (info->si_code > 0 && sig != SIGABRT)
        platform_mapped_file((uintptr_t)info->si_addr, object, sizeof object);
    for (size_t i = 0; i < PLATFORM_FAULTS; i++) {
        if (platform_fault_signals[i] == sig)
            platform_guard_end(object, platform_fault_names[i], " while it was opened");
    }
}

static void platform_guard_stop(int sig)
{
    /* The tool's own handler first: its signal line, its stop flag. */
    for (size_t i = 0; i < PLATFORM_STOPS; i++) {
        const struct sigaction &own = platform_guard.stop[i];
        if (platform_stop_signals[i] == sig && !(own.sa_flags & SA_SIGINFO) && own.sa_handler != SIG_DFL &&
            own.sa_handler != SIG_IGN)
            own.sa_handler(sig);
    }
    if (platform_guarded)
        platform_guard_end("", "stopped", " while it was opened");
}

static void platform_guard_timeout(int)
{
    if (platform_guarded)
        platform_guard_end("", "not opened within 10 s", "");
}

/* A constructor that calls exit() would end the tool with the status it
 * chose, 0 included, and a script would read a pass. */
static void platform_guard_exit(void)
{
    if (platform_guarded)
        platform_guard_end("", "exit() called", " while it was opened");
}

static void platform_guard_on(void)
{
    static bool exit_caught;
    if (!exit_caught)
        exit_caught = atexit(platform_guard_exit) == 0;
    /* A stack overflow in a constructor leaves no stack for the handler. */
    static char alternate[64 * 1024];
    stack_t stack = {};
    stack.ss_sp = alternate;
    stack.ss_size = sizeof alternate;
    sigaltstack(&stack, &platform_guard.stack);
    struct sigaction act = {};
    sigfillset(&act.sa_mask);
    act.sa_sigaction = platform_guard_fault;
    act.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    for (size_t i = 0; i < PLATFORM_FAULTS; i++)
        sigaction(platform_fault_signals[i], &act, &platform_guard.fault[i]);
    act.sa_handler = platform_guard_stop;
    act.sa_flags = SA_ONSTACK;
    for (size_t i = 0; i < PLATFORM_STOPS; i++) {
        sigaction(platform_stop_signals[i], &act, &platform_guard.stop[i]);
        /* One the tool ignores (a hang-up under nohup) stays ignored. */
        if (platform_guard.stop[i].sa_handler == SIG_IGN)
            sigaction(platform_stop_signals[i], &platform_guard.stop[i], nullptr);
    }
    act.sa_handler = platform_guard_timeout;
    sigaction(SIGALRM, &act, &platform_guard.alarm);
    platform_guarded = 1;
    platform_guard.alarm_left = alarm(PLATFORM_OPEN_SEC);
}

static void platform_guard_off(void)
{
    alarm(platform_guard.alarm_left);
    platform_guarded = 0;
    sigaction(SIGALRM, &platform_guard.alarm, nullptr);
    for (size_t i = 0; i < PLATFORM_STOPS; i++)
        sigaction(platform_stop_signals[i], &platform_guard.stop[i], nullptr);
    for (size_t i = 0; i < PLATFORM_FAULTS; i++)
        sigaction(platform_fault_signals[i], &platform_guard.fault[i], nullptr);
    sigaltstack(&platform_guard.stack, nullptr);
}

/* The objects mapped before the open, known by their program headers, and
 * the first new one found unfit. */
typedef struct PlatformObjects {
    const void *phdr[256];
    size_t count;
    const char *object;
    const char *fault;
} PlatformObjects;

static int platform_note_object(struct dl_phdr_info *info, size_t, void *data)
{
    PlatformObjects *seen = (PlatformObjects *)data;
    /* One not noted is checked like a new one, which does no harm. */
    if (seen->count < sizeof seen->phdr / sizeof seen->phdr[0])
        seen->phdr[seen->count++] = info->dlpi_phdr;
    return 0;
}

/* A file shorter than the segments the loader mapped from it faults where
 * the lost part is first touched, which may be a call the module makes long
 * after the open: a stat against the program headers finds it before any. */
static int platform_check_object(struct dl_phdr_info *info, size_t, void *data)
{
    PlatformObjects *seen = (PlatformObjects *)data;
    for (size_t i = 0; i < seen->count; i++) {
        if (seen->phdr[i] == info->dlpi_phdr)
            return 0;
    }
    if (!info->dlpi_name[0])
        return 0;
    struct stat st;
    seen->object = info->dlpi_name;
    if (stat(info->dlpi_name, &st) != 0) {
        seen->fault = "its file is gone";
        return 1;
    }
    for (unsigned i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD)
            continue;
        /* Not all of what the header says comes from the file was mapped:
         * some loaders take such a header without a word. */
        if (ph.p_filesz > ph.p_memsz)
            seen->fault = "a segment larger in the file than in memory";
        else if (ph.p_offset > (uint64_t)st.st_size || ph.p_filesz > (uint64_t)st.st_size - ph.p_offset)
            seen->fault = "file shorter than its loaded segments";
        if (seen->fault)
            return 1;
    }
    return 0;
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
            int n = REPORT_ERROR_HEAD(platform_guard_head, sizeof platform_guard_head);
            if (n > 0 && (size_t)n < sizeof platform_guard_head)
                snprintf(platform_guard_head + n, sizeof platform_guard_head - (size_t)n,
                         "cannot load platform library %s: ", lib->soname);
            /* What the tool printed so far is not lost if the guard ends it. */
            fflush(stdout);
            PlatformObjects seen = {};
            dl_iterate_phdr(platform_note_object, &seen);
            platform_guard_on();
            handle = dlopen(lib->soname, RTLD_NOW | RTLD_LOCAL);
            if (handle)
                dl_iterate_phdr(platform_check_object, &seen);
            platform_guard_off();
            if (!handle) {
                report_error("cannot load platform library %s: %s\n", lib->soname, dlerror());
                return -1;
            }
            /* Ended at once: a close, or the exit's, would run its
             * destructors, code from the very file found unfit. */
            if (seen.fault) {
                report_error("cannot load platform library %s: %s: %s\n", lib->soname, seen.object,
                             seen.fault);
                fflush(stdout);
                _exit(PLATFORM_LOAD_FAILED);
            }
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
        exit(PLATFORM_LOAD_FAILED);
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
