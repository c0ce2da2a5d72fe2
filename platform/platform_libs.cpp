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

/* ---- the file the loader would take ----
 *
 * dlopen maps a library's segments straight from its file: one cut short by
 * an interrupted firmware update kills the tool with SIGBUS while the loader
 * relocates it, and one built for another machine the loader passes over in
 * its search without a word ("No such file or directory"). So the file the
 * loader would take is found first, the way the loader searches, checked,
 * and then opened by its path. */

/* The tool's own ELF header, which the linker places at the start of its
 * first segment: the class, byte order and machine every library must have. */
extern "C" const ElfW(Ehdr) __ehdr_start;

/* What the search for one library has come upon. */
typedef struct PlatformLibSearch {
    const char *soname;
    char path[PATH_MAX];    /* the file taken */
    const char *fault;      /* what is wrong with it, or nullptr */
    char foreign[PATH_MAX]; /* the first file passed over as another machine's */
} PlatformLibSearch;

static int platform_read_at(int fd, void *buf, size_t len, off_t at)
{
    size_t done = 0;
    while (done < len) {
        ssize_t n = pread(fd, (char *)buf + done, len - done, at + (off_t)done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += (size_t)n;
    }
    return 0;
}

/* What keeps the loader from mapping the object open on fd safely, or
 * nullptr. *foreign is set for an object the loader's search passes over. */
static const char *platform_elf_fault(int fd, bool *foreign)
{
    *foreign = false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return "not a regular file";
    uint64_t size = (uint64_t)st.st_size;
    ElfW(Ehdr) eh;
    if (size < sizeof eh || platform_read_at(fd, &eh, sizeof eh, 0) != 0)
        return "truncated";
    if (memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0)
        return "not an ELF object";
    const ElfW(Ehdr) &own = __ehdr_start;
    if (eh.e_ident[EI_CLASS] != own.e_ident[EI_CLASS] || eh.e_ident[EI_DATA] != own.e_ident[EI_DATA] ||
        eh.e_machine != own.e_machine) {
        *foreign = true;
        return "built for another machine";
    }
    if (eh.e_phentsize != sizeof(ElfW(Phdr)))
        return nullptr; /* the loader refuses it with its own message */
    if (eh.e_phoff > size || (uint64_t)eh.e_phnum * sizeof(ElfW(Phdr)) > size - eh.e_phoff)
        return "truncated";
    for (unsigned i = 0; i < eh.e_phnum; i++) {
        ElfW(Phdr) ph;
        if (platform_read_at(fd, &ph, sizeof ph, (off_t)(eh.e_phoff + i * sizeof ph)) != 0)
            return "truncated";
        if (ph.p_type == PT_LOAD && (ph.p_offset > size || ph.p_filesz > size - ph.p_offset))
            return "truncated";
    }
    return nullptr;
}

/* Looks at one place the loader would look: 1 when the search ends here
 * (the file is taken, fit or not), 0 when it goes on. */
static int platform_lib_candidate(PlatformLibSearch *search, const char *dir)
{
    char path[PATH_MAX];
    if ((size_t)snprintf(path, sizeof path, "%s/%s", dir, search->soname) >= sizeof path)
        return 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    bool foreign;
    const char *fault = platform_elf_fault(fd, &foreign);
    close(fd);
    if (foreign) {
        if (search->foreign[0] == '\0')
            snprintf(search->foreign, sizeof search->foreign, "%s", path);
        return 0;
    }
    snprintf(search->path, sizeof search->path, "%s", path);
    search->fault = fault;
    return 1;
}

/* The loader's cache of the directories of /etc/ld.so.conf, which it
 * consults after the tool's RUNPATH and before its default directories:
 * the path it gives for the soname, in buf, or nullptr. */
static const char *platform_cache_lookup(const char *soname, char *buf, size_t size)
{
    static const char magic[] = "glibc-ld.so.cache1.1";
    enum { HEADER = 48, ENTRY = 24, CACHE_MAX = 16 << 20 };
    int fd = open("/etc/ld.so.cache", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    char *cache = nullptr;
    size_t len = 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= HEADER && st.st_size <= CACHE_MAX) {
        len = (size_t)st.st_size;
        cache = (char *)malloc(len + 1);
        if (cache && platform_read_at(fd, cache, len, 0) != 0) {
            free(cache);
            cache = nullptr;
        }
    }
    close(fd);
    if (!cache)
        return nullptr;
    cache[len] = '\0'; /* ends the last text however the file ends */
    const char *found = nullptr;
    uint32_t count;
    memcpy(&count, cache + 20, sizeof count);
    if (memcmp(cache, magic, sizeof magic - 1) == 0 && count <= (len - HEADER) / ENTRY) {
        for (uint32_t i = 0; i < count && !found; i++) {
            const char *entry = cache + HEADER + (size_t)i * ENTRY;
            uint32_t key, value;
            uint64_t hwcap;
            memcpy(&key, entry + 4, sizeof key);
            memcpy(&value, entry + 8, sizeof value);
            memcpy(&hwcap, entry + 16, sizeof hwcap);
            /* Entries for other machines are told apart by their file, as
             * in a directory; those of hardware-capability subdirectories
             * are left to the loader. */
            if (hwcap == 0 && key < len && value < len && strcmp(cache + key, soname) == 0 &&
                (size_t)snprintf(buf, size, "%s", cache + value) < size)
                found = buf;
        }
    }
    free(cache);
    return found;
}

/* Finds the file the loader would take for the soname, in its order: the
 * tool's RPATH, LD_LIBRARY_PATH, its RUNPATH, the loader's cache, the
 * default directories. 1 when one was taken (search->fault says whether it
 * is fit), 0 when there is none. */
static int platform_lib_search(PlatformLibSearch *search)
{
    /* The loader's own list of the tool's search directories, with
     * $ORIGIN expanded and LD_LIBRARY_PATH where the loader heeds it; the
     * cache is the one place the list leaves out. */
    void *self = dlopen(nullptr, RTLD_LAZY);
    Dl_serinfo sizes;
    Dl_serinfo *dirs = nullptr;
    if (self && dlinfo(self, RTLD_DI_SERINFOSIZE, &sizes) == 0) {
        dirs = (Dl_serinfo *)malloc(sizes.dls_size);
        if (dirs && (dlinfo(self, RTLD_DI_SERINFOSIZE, dirs) != 0 || dlinfo(self, RTLD_DI_SERINFO, dirs) != 0)) {
            free(dirs);
            dirs = nullptr;
        }
    }
    int taken = 0;
    for (unsigned i = 0; dirs && i < dirs->dls_cnt && !taken; i++)
        taken = platform_lib_candidate(search, dirs->dls_serpath[i].dls_name);
    free(dirs);
    char cached[PATH_MAX];
    if (!taken && platform_cache_lookup(search->soname, cached, sizeof cached)) {
        char *slash = strrchr(cached, '/');
        if (slash && strcmp(slash + 1, search->soname) == 0) {
            *slash = '\0';
            taken = platform_lib_candidate(search, cached[0] ? cached : "/");
        }
    }
    return taken;
}

/* Opens the library once and finds the call at index in it: 0, or -1
 * after the error line. A library that cannot be opened is tried again at
 * the next call that needs it, and reported again. */
static int platform_lib_open(PlatformLib *lib, size_t index)
{
    char reason[PATH_MAX + 64];
    if (!lib->handle) {
        void *handle = dlopen(lib->soname, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
        if (!handle) {
            PlatformLibSearch search = {};
            search.soname = lib->soname;
            if (platform_lib_search(&search)) {
                if (search.fault) {
                    snprintf(reason, sizeof reason, "%s: %s", search.path, search.fault);
                    report_error("cannot load platform library %s: %s\n", lib->soname, reason);
                    return -1;
                }
                handle = dlopen(search.path, RTLD_NOW | RTLD_LOCAL);
            } else if (search.foreign[0]) {
                report_error("cannot load platform library %s: %s: built for another machine\n",
                             lib->soname, search.foreign);
                return -1;
            } else {
                /* Found nowhere the loader is known to look: let the loader
                 * search and say what it found. */
                handle = dlopen(lib->soname, RTLD_NOW | RTLD_LOCAL);
            }
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
