/* cvdb_vendor.cpp - a database library that, like a vendor's, brings a
 * library of its own along (vendor_dep.cpp): the black-box tests cut that
 * one short. Its one call reads the dependency's table. */
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
