/* cv_mtd.h - the mtd module's partition table entry and its /proc/mtd line
 * reader, for the module's tests. */
#ifndef CV_MTD_H
#define CV_MTD_H

#include <stdint.h>

#define MTD_MAX_BAD_BLOCKS 128

/* Sizes and offsets in 64 bits: a NAND of 8 GiB is ordinary, and a size
 * cut to 32 bits would move every later partition's bad blocks. */
typedef struct MtdPartition {
    char path[32];       /* "/dev/" followed by the device name */
    uint64_t offset;     /* start on the whole flash */
    uint64_t size;       /* bytes */
    uint64_t erase_size; /* bytes */
    char name[32];       /* as /proc/mtd shows it, quotes included */
    uint64_t scanned;    /* bytes from its start asked about: size when whole */
    uint32_t bad_count;  /* bad blocks found; only the first 128 are kept */
    uint64_t bad[MTD_MAX_BAD_BLOCKS];
} MtdPartition;

/* Fills one table entry from a line such as
 *   mtd3: 00400000 00020000 "rootfs"
 * Returns -1 when the line names no device that fits the path field or
 * lacks the sizes; the size is still filled in when it could be read. */
int mtd_parse_partition(const char *line, MtdPartition *part);

#endif
