/* vendor_dep.cpp - the vendor database library's own dependency: a table
 * large enough that half the file is table. */
extern const unsigned vendor_dep_size = 256 * 1024;
extern const unsigned char vendor_dep_table[256 * 1024] = {1};
