/* cv_mtd.cpp - mtd module: asks the MTD driver about every erase block of
 * every partition listed in /proc/mtd and reports the bad ones by their
 * offset on the whole flash. Nothing is ever written to the flash. */
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <mtd/mtd-abi.h>

#include "cv_mtd.h"
#include "debug.h"

#define MTD_MAX_PARTITIONS 16

static MtdPartition g_mtd_partitions[MTD_MAX_PARTITIONS];
static int g_mtd_partition_count;
/* Partition lines of /proc/mtd beyond the table: never scanned. */
static int g_mtd_partitions_left_out;

static const char mtd_proc_path[] = "/proc/mtd";

/* The scan's helpers report under the scan's own name. */
#define mtd_scan_error(...) \
    report_error_at(OSA_sourceName(__FILE__), "cv_badblock_check", __LINE__, __VA_ARGS__)

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t mtd_module_id = 23;

static const struct option mtd_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"badblock", required_argument, nullptr, 'b'},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp mtd_option_help[] = {
    {"module", "module name: mtd"},
    {"1", "cat badblock info"},
};

static void mtd_usage(void)
{
    print_module_usage(mtd_module_id, mtd_options, mtd_option_help);
}

static int mtd_init_param(int argc, char **argv)
{
    int result = -1;
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:b:", mtd_options, nullptr)) != -1) {
        switch (c) {
        case 'M':
            break;
        case 'b':
            /* Read like atoi (blanks and a sign before, anything after), but
             * without atoi's undefined result on overflow. */
            if (strtol(optarg, nullptr, 10) == 1)
                result = 0;
            break;
        default:
            /* Unlike the other modules, a bad option does not end the
             * parsing: the options after it still count. */
            report_error("Unknow option\n");
            mtd_usage();
            break;
        }
    }
    return result;
}

/* Skips what is left of a line longer than the buffer, so that its tail is
 * not taken for a partition line of its own. */
static void mtd_skip_rest_of_line(FILE *fp, const char *line)
{
    size_t len = strlen(line);
    if (len == 0 || line[len - 1] == '\n')
        return;
    int ch;
    while ((ch = fgetc(fp)) != EOF && ch != '\n') {
    }
}

/* Fills one table entry from a line such as
 *   mtd3: 00400000 00020000 "rootfs"
 * Returns -1 when the line names no device that fits the path field or
 * lacks the sizes; the size is still filled in when it could be read, so
 * that the partitions after it keep their offsets. */
int mtd_parse_partition(const char *line, MtdPartition *part)
{
    memset(part, 0, sizeof *part);
    /* The width keeps the name inside its field; a longer one is cut. */
    int fields = sscanf(line, "%*[^:]: %" SCNx64 " %" SCNx64 " %31s", &part->size,
                        &part->erase_size, part->name);
    int device_len = (int)strcspn(line, ":");
    if (fields < 2 || line[device_len] != ':' || device_len == 0)
        return -1;
    if ((size_t)snprintf(part->path, sizeof part->path, "/dev/%.*s", device_len, line) >=
        sizeof part->path)
        return -1;
    return 0;
}

/* Reads /proc/mtd into the partition table. Returns -1 when it cannot be
 * opened. */
static int mtd_read_partitions(void)
{
    FILE *fp = fopen(mtd_proc_path, "r");
    if (!fp) {
        mtd_scan_error("%s open failed\n", mtd_proc_path);
        return -1;
    }
    char line[1024];
    uint64_t running_offset = 0;
    g_mtd_partitions_left_out = 0;
    g_mtd_partition_count = 0;
    while (fgets(line, sizeof line, fp)) {
        mtd_skip_rest_of_line(fp, line);
        if (!strstr(line, "mtd"))
            continue; /* the heading line */
        if (g_mtd_partition_count >= MTD_MAX_PARTITIONS) {
            g_mtd_partitions_left_out++;
            continue;
        }
        MtdPartition *part = &g_mtd_partitions[g_mtd_partition_count];
        if (mtd_parse_partition(line, part) != 0) {
            line[strcspn(line, "\n")] = '\0';
            mtd_scan_error("unreadable partition line: %s\n", line);
            part->path[0] = '\0';
        }
        part->offset = running_offset;
        running_offset += part->size;
        g_mtd_partition_count++;
    }
    fclose(fp);
    if (g_mtd_partitions_left_out > 0)
        mtd_scan_error("%d partitions beyond the first %d not scanned\n", g_mtd_partitions_left_out,
                       MTD_MAX_PARTITIONS);
    return 0;
}

/* Scans one partition as far as it can: part->scanned tells how far. */
static void mtd_scan_partition(MtdPartition *part)
{
    part->bad_count = 0;
    part->scanned = 0;
    if (part->path[0] == '\0' || g_stop_flag)
        return; /* its line could not be read (already reported), or stopped */
    if (part->erase_size == 0) {
        /* Stepping by 0 would ask about the first block for ever. */
        mtd_scan_error("%s erase size is 0, not scanned\n", part->path);
        return;
    }
    int fd = open(part->path, O_RDONLY);
    if (fd < 0) {
        mtd_scan_error("%s open failed\n", part->path);
        return;
    }
    /* The stop flag ends a scan that a size read as nearly 2^64 would
     * make endless; the last step never wraps past the end. */
    uint64_t pos = 0;
    while (pos < part->size && !g_stop_flag) {
        int64_t arg = (int64_t)pos;
        int ret = ioctl(fd, MEMGETBADBLOCK, &arg);
        if (ret < 0) {
            OSA_printf("ioctl MEMGETBADBLOCK failed, %s, error=%d\n", part->path, ret);
            break;
        }
        if (ret > 0) {
            if (part->bad_count < MTD_MAX_BAD_BLOCKS)
                part->bad[part->bad_count] = part->offset + pos;
            part->bad_count++;
        }
        pos = part->erase_size >= part->size - pos ? part->size : pos + part->erase_size;
    }
    part->scanned = pos;
    close(fd);
}

static int cv_badblock_check(void)
{
    if (mtd_read_partitions() != 0)
        return -1;
    const MtdPartition *stopped = nullptr;
    for (int i = 0; i < g_mtd_partition_count; i++) {
        MtdPartition *part = &g_mtd_partitions[i];
        mtd_scan_partition(part);
        if (!stopped && g_stop_flag && part->path[0] != '\0' && part->scanned < part->size)
            stopped = part;
    }

    /* Any partition not scanned to its end (a stop, an erase size of 0, a
     * node that would not open, a refused request, a line left out) makes
     * the total cover part of the flash only. Scripts match the total line
     * as it stands, so that is said on standard error, just before it. */
    uint32_t total = 0;
    int partial = g_mtd_partitions_left_out;
    for (int i = 0; i < g_mtd_partition_count; i++) {
        const MtdPartition *part = &g_mtd_partitions[i];
        if (part->path[0] == '\0' || part->scanned < part->size)
            partial++;
        if (part->bad_count == 0)
            continue;
        uint32_t listed = part->bad_count < MTD_MAX_BAD_BLOCKS ? part->bad_count
                                                               : MTD_MAX_BAD_BLOCKS;
        OSA_mutexTake(&g_console_lock);
        printf("%s (%s) : \n", part->path, part->name);
        for (uint32_t b = 0; b < listed; b++)
            printf("Bad block found at : %08" PRIx64 "\n", part->bad[b]);
        OSA_mutexGive(&g_console_lock);
        if (listed < part->bad_count)
            mtd_scan_error("%s: %u more bad blocks not listed\n", part->path,
                           part->bad_count - listed);
        total += part->bad_count;
    }
    if (stopped)
        mtd_scan_error("Scan stopped at %s (%s) offset %08" PRIx64 "\n", stopped->path,
                       stopped->name, stopped->offset + stopped->scanned);
    if (partial > 0)
        mtd_scan_error(
            "the total covers the scanned part only: %d of %d partitions not fully scanned\n",
            partial, g_mtd_partition_count + g_mtd_partitions_left_out);
    OSA_printf("\nTotal bad block : %d\n", (int)total);
    return 0;
}

static int mtd_test_main(int argc, char **argv)
{
    /* argv holds the program name and the module selection ("-M mtd")
     * whatever else was given; nothing more means nothing was asked. */
    if (argc <= 3) {
        mtd_usage();
        return -1;
    }
    if (mtd_init_param(argc, argv) < 0)
        return -1;
    cv_badblock_check();
    return 0;
}

static void mtd_deinit(void)
{
}

static ModuleDesc g_mtd_module = {"mtd", mtd_module_id, mtd_test_main, mtd_usage, mtd_deinit};
DEBUG_MODULE(g_mtd_module)
