/* cv_db.cpp - db module: a small SQL console over the camera's configuration
 * databases. Queries print a text table; statements come from the command
 * line or from a file. Every statement runs under a process lock and a file
 * lock that the camera's other programs honour too. */
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cvdb.h"
#include "debug.h"

static char db_path[64];
static char db_lock_path[64];
static sqlite_handle db_handle;
static pthread_rwlock_t db_rwlock = PTHREAD_RWLOCK_INITIALIZER;

static const char db_table_list_sql[] = "select name from sqlite_master where type='table' order by name;";

/* Query result text, and one column value of one row. */
enum { DB_RESULT_SIZE = 2048, DB_CELL_SIZE = 256 };

/* The longest statement line a file may hold: past it the file is not a
 * statement file (a device or a file without line ends), and reading on
 * would take the camera's memory. */
enum { DB_LINE_MAX = 1 << 20 };

/* db_lock's results besides a descriptor: run the statement without the
 * file lock (the lock file cannot be opened), or do not run it at all. */
enum { DB_UNLOCKED = -1, DB_REFUSED = -2 };

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t db_module_id = 12;

static const struct option db_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"select", required_argument, nullptr, 's'},
    {"execute", required_argument, nullptr, 'e'},
    {"file", required_argument, nullptr, 'f'},
    {"database", required_argument, nullptr, 'd'},
    {"table", no_argument, nullptr, 't'},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp db_option_help[] = {
    {"module", "module name: db"},
    {"str", "Cmd inquiry string.for example -s \"select * from user;\""},
    {"str", "Cmd execute string"},
    {"file", "Filepath to execute"},
    {"str", "Set database [cvdb, oem, sddb, log], default[cvdb]"},
    {"", "List table name"},
};

/* Its calls into the database library; the usage lists tables with them too. */
static const ModuleCall db_calls[] = {
    {"sqlite_conn", 0},         {"sqlite_disconn", 0},           {"sqlite_execute", 0},
    {"sqlite_query_record", 0}, {"sqlite_query_column_name", 0}, {"sqlite_query_column_text", 0},
    {"sqlite_query_next", 0},   {"sqlite_clear_stmt", 0},        {nullptr, 0},
};

static void db_show_current(void)
{
    OSA_printf("Current Database File: [%s] \n", db_path);
}

static int db_set_database(const char *name)
{
    /* Both databases share one lock file. */
    if (strcmp(name, "cvdb") == 0) {
        snprintf(db_path, sizeof db_path, "%s", "/mnt/nand/cvdb.db");
        snprintf(db_lock_path, sizeof db_lock_path, "%s", "/tmp/db.fl");
    } else if (strcmp(name, "oem") == 0) {
        snprintf(db_path, sizeof db_path, "%s", "/mnt/nand2/oem.db");
        snprintf(db_lock_path, sizeof db_lock_path, "%s", "/tmp/db.fl");
    } else {
        OSA_printf("Invalid Database '%s'! Optional: [cvdb, oem, sddb, log] \n", name);
    }
    db_show_current();
    return 0;
}

static int db_con_init(void)
{
    if (access(db_path, F_OK) != 0) {
        report_error("db=[%s] file not existed. \n", db_path);
        return -1;
    }
    if (db_handle)
        return 0;
    if (sqlite_conn(db_path, "", &db_handle) != 0) {
        db_handle = nullptr;
        report_error("db init failed. \n");
        db_show_current();
        return -1;
    }
    return 0;
}

static int is_db_init(void)
{
    if (db_handle)
        return 1;
    report_error("db=[%s] not init. \n", db_path);
    return 0;
}

static void db_disconnect(void)
{
    if (db_handle) {
        sqlite_disconn(db_handle);
        db_handle = nullptr;
    }
}

/* The lock file lies in /tmp, where anyone may plant a link or a FIFO under
 * its name: never follow a link, never block in the open, and take nothing
 * but a plain file. */
static int db_open_lock_file(void)
{
    /* lockf needs the file open for writing: other programs, whatever
     * their user, must be able to open it so (less the umask). */
    int fd = open(db_lock_path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0 && errno == ELOOP) {
        report_error("lock file %s is a symbolic link, statement not run. \n", db_lock_path);
        return DB_REFUSED;
    }
    struct stat st;
    if (fd < 0) {
        /* A lock file that cannot be opened lets the statement run without
         * it; a directory or a socket under the name is such a one, as the
         * failed open touched nothing. A device whose open failed may have
         * felt it: refused like one that opened. */
        if (lstat(db_lock_path, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) ||
            S_ISSOCK(st.st_mode))
            return DB_UNLOCKED;
    }
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        if (fd >= 0)
            close(fd);
        report_error("lock file %s is not a plain file, statement not run. \n", db_lock_path);
        return DB_REFUSED;
    }
    return fd;
}

/* Waits for the file lock until it is free or a stop is requested: 0 when
 * taken, 1 when the statement must not run, -1 when the lock cannot be had
 * at all. A blocking lockf would be restarted after the signal handler and
 * could wait for ever. */
static int db_wait_file_lock(int fd)
{
    if (g_stop_flag) {
        report_error("db=[%s] stop requested, statement not run. \n", db_path);
        return 1;
    }
    /* Length 0 from offset 0: the whole file, however long it grows. */
    while (lockf(fd, F_TLOCK, 0) != 0) {
        if (errno != EACCES && errno != EAGAIN && errno != EINTR)
            return -1;
        if (g_stop_flag) {
            report_error("db=[%s] is locked, statement not run. \n", db_path);
            return 1;
        }
        OSA_sleepMsec(20);
    }
    return 0;
}

static int db_lock(void)
{
    int fd = db_open_lock_file();
    if (fd < 0)
        return fd;
    pthread_rwlock_wrlock(&db_rwlock);
    int r = db_wait_file_lock(fd);
    if (r != 0) {
        close(fd);
        pthread_rwlock_unlock(&db_rwlock);
        return r > 0 ? DB_REFUSED : DB_UNLOCKED;
    }
    return fd;
}

static void db_unlock(int fd)
{
    if (fd < 0)
        return;
    pthread_rwlock_unlock(&db_rwlock);
    lockf(fd, F_ULOCK, 0);
    close(fd);
}

/* Appends at the end of the text in buf, never writing past cap bytes. */
static void db_append(char *buf, size_t cap, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
static void db_append(char *buf, size_t cap, const char *fmt, ...)
{
    size_t len = strlen(buf);
    if (len + 1 >= cap)
        return;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf + len, cap - len, fmt, ap);
    va_end(ap);
}

static int db_query(const char *sql, char *buf, size_t cap)
{
    if (!is_db_init())
        return -1;
    int fd = db_lock();
    if (fd == DB_REFUSED)
        return -1;
    sqlite_stmt stmt = nullptr;
    int columns = 0;
    int rc = sqlite_query_record(db_handle, sql, &stmt, &columns);
    if (rc != 0 || columns <= 0) {
        if (stmt)
            sqlite_clear_stmt(stmt);
        db_unlock(fd);
        OSA_printf("[0 Items, No Match Records!] \n");
        return -1;
    }
    db_append(buf, cap, "\n");
    for (int i = 0; i < columns; i++) {
        const char *name = sqlite_query_column_name(db_handle, stmt, i);
        if (name)
            db_append(buf, cap, "%-16s", name);
    }
    char cell[DB_CELL_SIZE];
    do {
        db_append(buf, cap, "\n");
        for (int i = 0; i < columns; i++) {
            cell[0] = '\0';
            sqlite_query_column_text(stmt, i, cell, sizeof cell);
            db_append(buf, cap, i < columns - 1 ? "%-16s" : "%s", cell);
        }
        /* A full table takes no more rows; stepping on would only cost time. */
        if (strlen(buf) + 1 >= cap)
            break;
    } while (sqlite_query_next(stmt) == 0);
    db_append(buf, cap, "\n");
    sqlite_clear_stmt(stmt);
    db_unlock(fd);
    return 0;
}

static int db_select(const char *sql)
{
    db_con_init(); /* a failure shows in the query */
    char buf[DB_RESULT_SIZE];
    memset(buf, 0, sizeof buf);
    if (db_query(sql, buf, sizeof buf) != 0) {
        db_disconnect();
        OSA_printf("SQL: '%s' Failed!! \n", sql);
        return -1;
    }
    OSA_printf("Query Result: %s \n", buf);
    db_disconnect();
    return 0;
}

/* 0 when the statement ran, whatever its result; -1 when it did not run
 * (no connection, or the lock was refused or a stop requested), which its
 * error line says. */
static int db_execute(const char *sql)
{
    if (!is_db_init())
        return -1;
    int fd = db_lock();
    if (fd == DB_REFUSED)
        return -1;
    int rc = sqlite_execute(db_handle, sql);
    db_unlock(fd);
    /* A failed statement (a full flash, no descriptor left for its
     * journal) loses what it was to write: never silently. A statement
     * from a file is shown without its line end. */
    if (rc != 0) {
        size_t len = strlen(sql);
        if (len > 0 && sql[len - 1] == '\n')
            len--;
        report_error("db=[%s] '%.*s' failed, database library result %d. \n", db_path, (int)len,
                     sql, rc);
    }
    return 0;
}

/* The database library commits by deleting the rollback journal, and syncs
 * the database and the journal but not their directory. On the camera's
 * NAND the deletion then waits in JFFS2's write buffer, and a power cut
 * seconds after the run brings the journal back: the next open takes it
 * for an unfinished transaction and rolls the last commit back. Once its
 * statements have run, the run syncs the directory: one page program. */
static void db_sync_directory(void)
{
    char dir[sizeof db_path];
    snprintf(dir, sizeof dir, "%s", db_path);
    char *slash = strrchr(dir, '/');
    if (!slash)
        return;
    slash[slash == dir ? 1 : 0] = '\0';
    if (OSA_syncDirectory(dir) != 0)
        report_error("db=[%s] %s not synced: %s; a power cut may undo the last commit. \n", db_path, dir,
                     strerror(errno));
}

static int db_execute_cmd(const char *sql)
{
    db_con_init();
    /* The line ends the option whatever became of the statement: scripts
     * wait for it. One that did not run has had its error line. */
    if (db_execute(sql) == 0)
        db_sync_directory();
    OSA_printf("End execute: '%s' \n", sql);
    db_disconnect();
    return 0;
}

/* A statement file read through its descriptor: a FIFO or a terminal
 * could keep a read (or the open) waiting for ever, and a stop request
 * would not end it, as the interrupted call is restarted. Such a file is
 * opened without waiting and each read waits for data in steps that look
 * at the stop flag. */
struct DbFile {
    int fd;
    int wait; /* not a regular file: wait for data before each read */
    size_t pos, len;
    char buf[4096];
};

enum { DB_STOPPED = -2 };

/* The next byte, EOF at the end of the file, DB_STOPPED on a stop request. */
static int db_getc(DbFile *f)
{
    while (f->pos == f->len) {
        if (f->wait) {
            struct pollfd pfd = {f->fd, POLLIN, 0};
            if (g_stop_flag)
                return DB_STOPPED;
            if (poll(&pfd, 1, 100) <= 0)
                continue;
        }
        ssize_t n = read(f->fd, f->buf, sizeof f->buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return EOF;
        f->pos = 0;
        f->len = (size_t)n;
    }
    return (unsigned char)f->buf[f->pos++];
}

/* Reads one line, its line end included, into *line, grown as needed.
 * Returns its length, 0 at the end of the file, -1 when the line is longer
 * than DB_LINE_MAX, DB_STOPPED when a stop request ended the wait for it. */
static long db_read_line(DbFile *f, char **line, size_t *cap)
{
    size_t len = 0;
    int ch;
    while ((ch = db_getc(f)) != EOF) {
        if (ch == DB_STOPPED)
            return DB_STOPPED;
        if (len == DB_LINE_MAX)
            return -1;
        if (len + 1 >= *cap) {
            size_t bigger = *cap ? *cap * 2 : 256;
            if (bigger > DB_LINE_MAX + 1)
                bigger = DB_LINE_MAX + 1;
            char *p = (char *)realloc(*line, bigger);
            if (!p)
                return -1;
            *line = p;
            *cap = bigger;
        }
        (*line)[len++] = (char)ch;
        if (ch == '\n')
            break;
    }
    if (len > 0)
        (*line)[len] = '\0';
    return (long)len;
}

static int db_execute_file(const char *path)
{
    db_con_init();
    DbFile file = {};
    struct stat st;
    file.fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd >= 0 && fstat(file.fd, &st) == 0) {
        file.wait = !S_ISREG(st.st_mode);
        /* Whole lines: a line cut in pieces would run as several broken
         * statements (a cut DELETE could lose its WHERE). */
        char *line = nullptr;
        size_t cap = 0;
        unsigned long number = 0;
        int ran = 0;
        long len;
        while (!g_stop_flag && (len = db_read_line(&file, &line, &cap)) != 0) {
            if (len == DB_STOPPED)
                break;
            number++;
            if (len < 0) {
                report_error("%s: line %lu is longer than %d bytes, not run. \n", path, number,
                             (int)DB_LINE_MAX);
                break;
            }
            if (line[0] == '\0')
                break;
            /* The library would take the statement as ending at the NUL: a
             * DELETE could lose its WHERE. */
            if (memchr(line, '\0', (size_t)len)) {
                report_error("%s: line %lu holds a NUL byte, not run. \n", path, number);
                continue;
            }
            ran |= db_execute(line) == 0;
        }
        free(line);
        if (ran)
            db_sync_directory();
        /* Lines after a stop are not read; none of them passes for run. */
        if (g_stop_flag && number == 0)
            report_error("%s: stop requested, the file is not read. \n", path);
        else if (g_stop_flag)
            report_error("%s: stop requested, the file is not read past line %lu. \n", path,
                         number);
    }
    if (file.fd >= 0)
        close(file.fd);
    db_disconnect();
    return 0;
}

static void db_usage(void)
{
    print_module_usage(db_module_id, db_options, db_option_help);
    OSA_printf("DB table list: \n");
    if (db_path[0] == '\0')
        db_set_database("cvdb");
    /* Help never stops on a missing library: its error line stands in for
     * the list. */
    if (open_module_calls(db_calls, 0) == 0)
        db_select(db_table_list_sql);
}

static int db_init_param(int argc, char **argv)
{
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:s:e:f:d:t", db_options, nullptr)) != -1) {
        switch (c) {
        case 's':
            db_select(optarg);
            break;
        case 'e':
            db_execute_cmd(optarg);
            break;
        case 'f':
            db_execute_file(optarg);
            break;
        case 't':
            db_select(db_table_list_sql);
            break;
        case 'd':
            db_set_database(optarg);
            break;
        case 'M':
            break;
        default:
            report_error("Unknow option. \n");
            return -1;
        }
    }
    return 0;
}

static int db_test_main(int argc, char **argv)
{
    restore_default_databases();
    db_set_database("cvdb");
    if (db_init_param(argc, argv) != 0)
        db_usage();
    return 0;
}

static ModuleDesc g_db_module = {"db", db_module_id, db_test_main, db_usage, nullptr, db_calls};
DEBUG_MODULE(g_db_module)
