/* cvdb.h - configuration database library of the camera platform (libcvdb.so). */
#ifndef PLATFORM_CVDB_H
#define PLATFORM_CVDB_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handles: a connection and a prepared statement. */
typedef void *sqlite_handle;
typedef void *sqlite_stmt;

/* 0 when connected; *db is then set. */
int sqlite_conn(const char *path, const char *key, sqlite_handle *db);
int sqlite_disconn(sqlite_handle db);
/* Runs every statement of sql; 0 on success. */
int sqlite_execute(sqlite_handle db, const char *sql);
/* 0 with *columns > 0 when *stmt stands on the first result row. */
int sqlite_query_record(sqlite_handle db, const char *sql, sqlite_stmt *stmt, int *columns);
const char *sqlite_query_column_name(sqlite_handle db, sqlite_stmt stmt, int column);
/* Copies the current row's value of column as text into buf (always terminated). */
int sqlite_query_column_text(sqlite_stmt stmt, int column, char *buf, int size);
/* 0 when it moved to a further row. */
int sqlite_query_next(sqlite_stmt stmt);
int sqlite_clear_stmt(sqlite_stmt stmt);

#ifdef __cplusplus
}
#endif

#endif
