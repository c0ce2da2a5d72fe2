/* cvdb.cpp - the configuration database library: a thin wrapper over SQLite 3. */
#include "cvdb.h"

#include <sqlite3.h>
#include <stdio.h>

/* A statement that meets another program's lock waits this long before it
 * gives up, instead of failing at once. */
static const int cvdb_busy_timeout_ms = 10000;

int sqlite_conn(const char *path, const char *key, sqlite_handle *db)
{
    (void)key; /* no encryption on this platform */
    if (!path || !db)
        return -1;
    sqlite3 *conn = nullptr;
    int rc = sqlite3_open_v2(path, &conn, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(conn);
        *db = nullptr;
        return -1;
    }
    sqlite3_busy_timeout(conn, cvdb_busy_timeout_ms);
    *db = conn;
    return 0;
}

int sqlite_disconn(sqlite_handle db)
{
    return sqlite3_close_v2((sqlite3 *)db) == SQLITE_OK ? 0 : -1;
}

int sqlite_execute(sqlite_handle db, const char *sql)
{
    if (!db || !sql)
        return -1;
    char *err = nullptr;
    int rc = sqlite3_exec((sqlite3 *)db, sql, nullptr, nullptr, &err);
    sqlite3_free(err);
    return rc; /* SQLite's own code: SQLITE_OK is 0 */
}

int sqlite_query_record(sqlite_handle db, const char *sql, sqlite_stmt *stmt, int *columns)
{
    if (!db || !sql || !stmt || !columns)
        return -1;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2((sqlite3 *)db, sql, -1, &st, nullptr) != SQLITE_OK) {
        *stmt = nullptr;
        return -1;
    }
    *stmt = st;
    if (!st)
        return -1; /* empty text */
    if (sqlite3_step(st) != SQLITE_ROW)
        return -1;
    *columns = sqlite3_column_count(st);
    return 0;
}

const char *sqlite_query_column_name(sqlite_handle db, sqlite_stmt stmt, int column)
{
    (void)db;
    return stmt ? sqlite3_column_name((sqlite3_stmt *)stmt, column) : nullptr;
}

int sqlite_query_column_text(sqlite_stmt stmt, int column, char *buf, int size)
{
    if (!buf || size <= 0)
        return -1;
    buf[0] = '\0';
    if (!stmt)
        return -1;
    const unsigned char *text = sqlite3_column_text((sqlite3_stmt *)stmt, column);
    snprintf(buf, (size_t)size, "%s", text ? (const char *)text : "");
    return 0;
}

int sqlite_query_next(sqlite_stmt stmt)
{
    if (!stmt)
        return -1;
    return sqlite3_step((sqlite3_stmt *)stmt) == SQLITE_ROW ? 0 : 1;
}

int sqlite_clear_stmt(sqlite_stmt stmt)
{
    return sqlite3_finalize((sqlite3_stmt *)stmt) == SQLITE_OK ? 0 : -1;
}
