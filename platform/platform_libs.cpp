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
#include <stdlib.h>
#include <string.h>

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
    void *handle; /* set once every call has been found */
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

/* Which modules call into which library. A module has its libraries opened
 * before it runs rather than at its first call, so that a missing or broken
 * one stops it before it prints or changes anything: sdmmc, for one, frees
 * the caches between fdisk and mkdosfs, and stopping there would leave the
 * card without a filesystem. */
static const struct PlatformLibUser {
    const char *module;
    PlatformLib *lib;
} platform_lib_users[] = {
    {"ptz", &cvptz_lib}, {"motor", &cvsys_lib}, {"sdmmc", &cvsys_lib},
    {"db", &cvdb_lib},   {"wifi", &cvwifi_lib},
};

/* Opens the library and finds all its calls at once, so that one it lacks
 * stops the module before its first call, not halfway through its work.
 * 0 when open; -1 after the error line. */
static int platform_lib_open(PlatformLib *lib)
{
    if (lib->handle)
        return 0;
    const char *reason = nullptr;
    void *handle = dlopen(lib->soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        reason = dlerror();
    for (size_t i = 0; handle && !reason && i < lib->count; i++) {
        dlerror();
        lib->entries[i] = dlsym(handle, lib->names[i]);
        reason = dlerror();
    }
    if (reason) {
        report_error("cannot load platform library %s: %s\n", lib->soname, reason);
        if (handle)
            dlclose(handle);
        return -1;
    }
    lib->handle = handle;
    return 0;
}

void platform_libs_open_for_module(const char *module)
{
    for (const PlatformLibUser &user : platform_lib_users) {
        if (strcmp(user.module, module) == 0 && platform_lib_open(user.lib) != 0)
            exit(-1);
    }
}

/* The library's own definition of a call, typed like the declaration of the
 * call standing in for it. A call reached before its module's libraries were
 * opened (a module's code run on its own) opens the library here. */
template <typename Call> static Call platform_call(PlatformLib *lib, int index, Call)
{
    if (platform_lib_open(lib) != 0)
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
