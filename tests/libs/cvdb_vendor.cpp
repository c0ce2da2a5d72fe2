/* cvdb_vendor.cpp - a database library that, like a vendor's, brings a
 * library of its own along (vendor_dep.cpp, found beside it): the black-box
 * tests cut that one short. Every call fails; the table is read so that
 * the dependency's pages are needed. */
#include "cvdb.h"

extern const unsigned char vendor_dep_table[];
extern const unsigned vendor_dep_size;

int sqlite_conn(const char *, const char *, sqlite_handle *)
{
    unsigned sum = 0;
    for (unsigned i = 0; i < vendor_dep_size; i++)
        sum += vendor_dep_table[i];
    return sum ? -1 : -2;
}
int sqlite_disconn(sqlite_handle) { return -1; }
int sqlite_execute(sqlite_handle, const char *) { return -1; }
int sqlite_query_record(sqlite_handle, const char *, sqlite_stmt *, int *) { return -1; }
const char *sqlite_query_column_name(sqlite_handle, sqlite_stmt, int) { return ""; }
int sqlite_query_column_text(sqlite_stmt, int, char *, int) { return -1; }
int sqlite_query_next(sqlite_stmt) { return -1; }
int sqlite_clear_stmt(sqlite_stmt) { return -1; }
