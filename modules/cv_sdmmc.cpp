/* cv_sdmmc.cpp - sdmmc module: find the SD card's device node, mount it on
 * /mnt/mmc, wipe its partition table and format it FAT32, repair it, and on
 * the mounted card report the capacity, time a write and a read, and fill it
 * with files. The card is worked on by the camera's shell programs. */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cvsys.h"
#include "debug.h"
#include "sdmmc_card.h"

/* Probed in this order; the card must be the only one present. */
static const char *const sdmmc_device_nodes[] = {
    "/dev/mmcblk0",
    "/dev/mmcblk1",
    "/dev/mmcblk2",
    "/dev/mmcblk3",
};

#define SDMMC_MOUNT_POINT "/mnt/mmc"

static const char *g_sdmmc_device = "";  /* set by sdmmc_detect */
static uint32_t g_sdmmc_fill_count = 128; /* files written by the fill test */
static uint32_t g_sdmmc_fill_size = 128;  /* MB per fill file */

/* Held from the card's detection to the end of the action: other runs of
 * the module wait for it (see sdmmc_lock_card). */
static int g_sdmmc_lock_fd = -1;
static int g_sdmmc_card_held = 0;
/* A format or a repair of a large card ends well within it; a fill may
 * not, and the second run then says so instead of waiting on. */
static const uint32_t sdmmc_lock_wait_msec = 30000;

static const unsigned long sdmmc_max_fill_count = 40960;
static const unsigned long sdmmc_max_fill_size = 1024;

enum { SDMMC_OPT_INIT = 1 };

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t sdmmc_module_id = 10;

static const char sdmmc_short_options[] = "M:n:z:isrfFm";
static const struct option sdmmc_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"filenum", required_argument, nullptr, 'n'},
    {"filesize", required_argument, nullptr, 'z'},
    {"info", no_argument, nullptr, 'i'},
    {"init", no_argument, nullptr, SDMMC_OPT_INIT},
    {"speed", no_argument, nullptr, 's'},
    {"repair", no_argument, nullptr, 'r'},
    {"format", no_argument, nullptr, 'f'},
    {"filling", no_argument, nullptr, 'F'},
    {"mount", no_argument, nullptr, 'm'},
    {nullptr, 0, nullptr, 0},
};
/* The -z help shows [1-4096]; the bound enforced is 1024, as its rejection
 * message says. */
static const OptionHelp sdmmc_option_help[] = {
    {"module", "module name: sdmmc"},
    {"digit", "sdmmc filling file numbers [n], default 128, [1-40960]"},
    {"digit", "sdmmc filling file echo filesize [n]MB, default 128MB, [1-4096]"},
    {"", "sdmmc base information(blocksize, total size, freesize, usesize)."},
    {"", "Sdmmc init device."},
    {"", "sdmmc check read and write speed."},
    {"", "Repair sdmmc disk."},
    {"", "Format sdmmc disk."},
    {"", "Filling sdmmc disk to full."},
    {"", "Mount sdmmc."},
};

static void sdmmc_usage(void)
{
    print_module_usage(sdmmc_module_id, sdmmc_options, sdmmc_option_help);
}

/* 1: exactly one node exists and is selected; 0: none; -1: two or more. */
static int sdmmc_detect(void)
{
    int count = 0;
    for (const char *node : sdmmc_device_nodes) {
        if (access(node, F_OK) != 0)
            continue;
        count++;
        if (count > 1)
            return -1;
        g_sdmmc_device = node;
    }
    return count == 1 ? 1 : 0;
}

/* After an interrupt nothing that changes the card is started: the user
 * asked to stop, and a format or a fill begun then could not be taken
 * back. 1, with a line saying so, when a stop was requested; the line goes
 * to standard error, beside the action's own lines, which scripts match
 * as they stand. */
static int sdmmc_stop_requested(const char *what)
{
    if (!g_stop_flag)
        return 0;
    report_error("Sd/mmc %s stopped!\n", what);
    return 1;
}

/* The card driver needs no reset on this camera. */
static void sdmmc_device_reinit(void)
{
}

/* Two runs on one card would unmount, format or fill it under each other:
 * each action holds a lock on the card's node for its whole length. The
 * node lives in /dev, which no user can write, so no lock file is needed.
 * A node that cannot be opened has nothing to share: the action goes on
 * and its commands fail on their own. */
static int sdmmc_lock_card(void)
{
    if (g_sdmmc_card_held)
        return 0;
    int fd = open(g_sdmmc_device, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        report_error("SD/mmc %s is busy, waiting for the other run!\n", g_sdmmc_device);
        uint32_t start = OSA_nowMsec();
        while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (g_stop_flag || OSA_nowMsec() - start >= sdmmc_lock_wait_msec) {
                if (!g_stop_flag)
                    report_error("SD/mmc %s is still busy, try again later!\n", g_sdmmc_device);
                close(fd);
                return -1;
            }
            OSA_sleepMsec(100);
        }
    }
    g_sdmmc_lock_fd = fd;
    g_sdmmc_card_held = 1;
    return 0;
}

static void sdmmc_unlock_card(void)
{
    if (g_sdmmc_lock_fd >= 0)
        close(g_sdmmc_lock_fd);
    g_sdmmc_lock_fd = -1;
    g_sdmmc_card_held = 0;
}

static int sdmmc_init(void)
{
    int r = sdmmc_detect();
    if (r == 1)
        return sdmmc_lock_card();
    if (r == 0) {
        OSA_printf("SD/mmc isn't inserted, please check again!\n");
        return -1;
    }
    OSA_printf("SD/mmc has error, try to reinit!\n");
    sdmmc_device_reinit();
    OSA_sleepMsec(1000);
    r = sdmmc_detect();
    if (r == 1) {
        OSA_printf("SD/mmc inserted!\n");
        return sdmmc_lock_card();
    }
    if (r == -1) {
        report_error("SD/mmc has error, reinit faild!\n");
        return -1;
    }
    OSA_printf("SD/mmc isn't inserted, please check again!\n");
    report_error("SD/mmc has unknow error!\n");
    return -1;
}

/* About two seconds: the caches go, then the card's writes are forced out. */
static void sdmmc_flush_caches(void)
{
    cv_free_system_caches();
    OSA_sleepMsec(1000);
    OSA_system("sync");
    OSA_sleepMsec(1000);
}

/* The files written on the mounted card go out to it before the fill
 * reports them: the card is mounted async, and a power cut would lose what
 * the page cache still held. The directory's fsync then has the card drain
 * a write cache of its own. */
static void sdmmc_sync_card(void)
{
    int fd = open(SDMMC_MOUNT_POINT, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || syncfs(fd) != 0)
        sync();
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

/* dosfsck's repairs wait in the page cache of the node it checked while
 * this run holds the card's node open (its lock): they go out to the card,
 * and from the card's own cache, before the repair is reported. */
static void sdmmc_sync_node(const char *node)
{
    int fd = open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0)
        sync();
    if (fd >= 0)
        close(fd);
}

/* Where the card is mounted, by its device number; a line says so when
 * that cannot be told. func and line name the caller in it. */
static int sdmmc_find_card_mounts(SdmmcCardMounts *found, const char *func, int line)
{
    if (sdmmc_card_find_mounts(g_sdmmc_device, SDMMC_MOUNT_POINT, found) == 0)
        return 0;
    report_error_at(OSA_sourceName(__FILE__), func, line, "cannot tell where %s is mounted\n", g_sdmmc_device);
    return -1;
}

/* 0 when the mount point shows the card itself; else a line says where
 * the card is. Beneath the mount point lies the camera's own filesystem.
 * A card that sdmmc_mount found mounted by name is detected and locked
 * here. */
static int sdmmc_check_mount_point(const char *func, int line)
{
    SdmmcCardMounts found;
    if (!g_sdmmc_card_held && sdmmc_init() != 0)
        return -1;
    if (sdmmc_find_card_mounts(&found, func, line) != 0)
        return -1;
    if (found.on_point)
        return 0;
    if (found.elsewhere)
        report_error_at(OSA_sourceName(__FILE__), func, line,
                        "%s is mounted elsewhere (%s), not on " SDMMC_MOUNT_POINT "\n", g_sdmmc_device,
                        found.other.point);
    else
        report_error_at(OSA_sourceName(__FILE__), func, line, "%s is not mounted on " SDMMC_MOUNT_POINT "\n",
                        g_sdmmc_device);
    return -1;
}

/* A card filesystem mounted anywhere counts as mounted: nothing to do. The
 * name check comes first, as it always has; the card's own check by device
 * follows under the lock, which another run may have held while it had
 * the card off the mount point. */
static int sdmmc_mount(void)
{
    if (OSA_system("df | grep mmcblk > /dev/null 2>&1") == 0)
        return 0;
    if (sdmmc_init() != 0)
        return -1;
    SdmmcCardMounts found;
    if (sdmmc_find_card_mounts(&found, __func__, __LINE__) != 0)
        return -1;
    if (found.on_point || found.elsewhere)
        return 0;
    char cmd[256];
    snprintf(cmd, sizeof cmd, "mount -t vfat %s " SDMMC_MOUNT_POINT " -o async,umask=000",
             g_sdmmc_device);
    return OSA_system(cmd);
}

/* The claim that keeps every other mount off the card while a program
 * writes it beneath the filesystem: -1, with a line saying so, when
 * something holds the card; -2 when the node cannot be opened at all (the
 * programs then fail on their own). func and line name the caller. */
static int sdmmc_claim_card(const char *func, int line, const char *not_done)
{
    int claim = sdmmc_card_claim(g_sdmmc_device);
    if (claim == -1)
        report_error_at(OSA_sourceName(__FILE__), func, line, "%s is in use, not %s\n", g_sdmmc_device, not_done);
    return claim;
}

/* *written: whether fdisk or mkdosfs changed the card, so that its old
 * filesystem is gone even though the format failed: a write-protected card
 * refuses both, and keeps its filesystem. */
static void sdmmc_note_writes(int fd, const unsigned char *before, int *written)
{
    static unsigned char now[SDMMC_CARD_HEAD_SIZE];
    if (sdmmc_card_read_head(fd, now) == 0 && memcmp(before, now, SDMMC_CARD_HEAD_SIZE) != 0)
        *written = 1;
}

/* A format succeeds silently: a script reads the absence of this line as
 * a formatted card, so a format stopped, refused or failed in mkdosfs
 * prints it. */
static int sdmmc_format_failed(void)
{
    OSA_printf("Sd/mmc format failed!\n");
    return -1;
}

/* fdisk deletes the four partition entries, fed a character at a time.
 * Without its "w" it quits at the end of its input and writes nothing, so
 * the "w" goes in one write made right after the last stop check: a stop
 * before it leaves the card as it was. 0, or -1 when fdisk cannot be
 * started (a program missing from PATH starts, and ends with status 127). */
static int sdmmc_run_fdisk(void)
{
    int input;
    pid_t fdisk = sdmmc_card_fdisk(g_sdmmc_device, &input);
    if (fdisk < 0) {
        OSA_printf("fdisk %s failed!\n", g_sdmmc_device);
        return -1;
    }
    /* fdisk quits at once when it cannot open the card, before reading its
     * commands; writing to it then must fail, not kill the tool. */
    void (*old_pipe_action)(int) = signal(SIGPIPE, SIG_IGN);
    static const char deletions[] = "d1\nd2\nd3\nd4\n";
    int fed = 1;
    for (size_t i = 0; deletions[i] != '\0' && fed && !g_stop_flag; i++) {
        fed = write(input, deletions + i, 1) == 1;
        if (deletions[i + 1] == '\n')
            OSA_sleepMsec(500);
    }
    if (fed && !g_stop_flag && write(input, " w\n", 3) != 3)
        fed = 0;
    close(input);
    sdmmc_card_wait(fdisk);
    signal(SIGPIPE, old_pipe_action);
    return 0;
}

/* The kernel keeps the card's old partitions until the table is read
 * again, and fdisk's own re-read is refused while this run claims the
 * card: the claim's holder has it re-read and checks that no partition is
 * left. 0, or -1 with a line saying why. */
static int sdmmc_reread_table(int claim, const char *func, int line)
{
    if (sdmmc_card_reread_table(claim) < 0) {
        report_error_at(OSA_sourceName(__FILE__), func, line, "%s: the kernel cannot read its partition table again: %s\n",
                        g_sdmmc_device, strerror(errno));
        return -1;
    }
    int left = sdmmc_card_partition_count(g_sdmmc_device);
    if (left == 0)
        return 0;
    report_error_at(OSA_sourceName(__FILE__), func, line, "%s still has %d partitions after fdisk\n", g_sdmmc_device,
                    left);
    return -1;
}

/* The filesystem goes on the whole device, so the partition entries go
 * first; all under the claim (when the node opens at all). fdisk's result
 * is not judged; mkdosfs's is. func and line name the caller in its lines. */
static int sdmmc_format_card(int *claim, int *written, const char *func, int line)
{
    static unsigned char before[SDMMC_CARD_HEAD_SIZE];
    *written = 0;
    /* A card whose table the kernel will not read again under the claim is
     * not written: its old partitions would outlive the format. */
    int rereads = *claim >= 0 ? sdmmc_card_reread_table(*claim) : 1;
    if (rereads < 0) {
        report_error_at(OSA_sourceName(__FILE__), func, line,
                        "%s: the kernel cannot read its partition table again (%s), not formatted\n",
                        g_sdmmc_device, strerror(errno));
        return sdmmc_format_failed();
    }
    int head = g_sdmmc_lock_fd;
    int known = sdmmc_card_read_head(head, before) == 0;
    if (sdmmc_run_fdisk() != 0)
        return -1;
    /* A card this run cannot read, fdisk cannot write either. */
    if (known)
        sdmmc_note_writes(head, before, written);
    /* Ctrl-C reaches fdisk too and ends it. What fdisk wrote the kernel is
     * to see, stopped or not. */
    if (sdmmc_stop_requested("format")) {
        if (rereads == 0 && *written)
            sdmmc_card_reread_table(*claim);
        return sdmmc_format_failed();
    }
    if (rereads == 0 && sdmmc_reread_table(*claim, func, line) != 0)
        return sdmmc_format_failed();
    sdmmc_flush_caches();
    OSA_sleepMsec(1000);
    if (sdmmc_stop_requested("format"))
        return sdmmc_format_failed();

    known = sdmmc_card_read_head(head, before) == 0;
    int status = sdmmc_card_mkdosfs(g_sdmmc_device);
    int mkdosfs_wrote = 0;
    if (status != 0 && known)
        sdmmc_note_writes(head, before, &mkdosfs_wrote);
    /* A mkdosfs that claims the card itself is refused while this run
     * holds it, before it writes anything: it gets the card, and keeps
     * every other mount off it itself. The camera's own does not. */
    if (status != 0 && *claim >= 0 && known && !mkdosfs_wrote && !g_stop_flag) {
        sdmmc_card_release(claim);
        status = sdmmc_card_mkdosfs(g_sdmmc_device);
    }
    if (status == 0) {
        sdmmc_flush_caches();
        return 0;
    }
    if (known)
        sdmmc_note_writes(head, before, written);
    *written = *written || mkdosfs_wrote;
    return sdmmc_format_failed();
}

/* Takes the card off the mount point before a command that writes the
 * device beneath its filesystem: 0 when it was not mounted, 1 when it was
 * unmounted (*was: how, to mount it again after), -1 when it is mounted
 * elsewhere, which the caller's error line reports, or cannot be
 * unmounted. */
static int sdmmc_unmount_card(const char *func, int line, const char *not_done, SdmmcMount *was)
{
    SdmmcCardMounts found;
    if (sdmmc_find_card_mounts(&found, func, line) != 0)
        return -1;
    if (found.elsewhere) {
        report_error_at(OSA_sourceName(__FILE__), func, line, "%s is mounted elsewhere (%s), not %s\n",
                        g_sdmmc_device, found.other.point, not_done);
        return -1;
    }
    if (!found.on_point)
        return 0;
    if (sdmmc_card_unmount(found.point.point) != 0)
        return -1;
    *was = found.point;
    return 1;
}

/* Puts back what an action took off the mount point, the claim let go
 * first; read_only makes it read-only. A put-back that fails says which
 * device, where and why: the card is then on no mount point. */
static int sdmmc_put_back(const char *node, const SdmmcMount *was, int read_only, int *claim)
{
    char why[512] = "its device is gone";
    sdmmc_card_release(claim);
    if (node && sdmmc_card_put_back(g_sdmmc_device, node, was, read_only, why, sizeof why) == 0)
        return 0;
    report_error("%s could not be mounted again on %s: %s\n", node ? node : was->source, was->point, why);
    return -1;
}

/* A filesystem still mounted on the card would go on writing its old FAT
 * over the new one: the card is taken off the mount point for the format
 * and mounted again after, the new filesystem on the whole card; a format
 * that wrote nothing puts back what was there. From just after the
 * unmount until the card is put back it is claimed, so that nothing mounts
 * it in between (a mkdosfs that takes the card itself gets it for its own
 * run). A format that changed the card and then did not finish leaves
 * no filesystem worth mounting. */
static int sdmmc_format_disk(void)
{
    if (sdmmc_init() != 0)
        return -1;
    if (sdmmc_stop_requested("format"))
        return sdmmc_format_failed();
    SdmmcMount was;
    int mounted = sdmmc_unmount_card(__func__, __LINE__, "formatted", &was);
    if (mounted < 0)
        return sdmmc_format_failed();
    int claim = sdmmc_claim_card(__func__, __LINE__, "formatted");
    int written = 0;
    int result = claim == -1 ? sdmmc_format_failed() : sdmmc_format_card(&claim, &written, __func__, __LINE__);
    if (result != 0 && written) {
        sdmmc_card_release(&claim);
        report_error("Sd/mmc %s has no usable filesystem, please format it again!\n", g_sdmmc_device);
        return -1;
    }
    if (mounted == 1) {
        const char *node = result == 0 ? g_sdmmc_device : sdmmc_card_node_of(g_sdmmc_device, &was);
        if (sdmmc_put_back(node, &was, 0, &claim) != 0)
            result = -1;
    }
    sdmmc_card_release(&claim);
    return result;
}

/* dosfsck writes its repairs to the device beneath any mounted filesystem,
 * and the kernel's vfat marks a mounted card dirty: the filesystem that
 * was on the mount point (the card's, or its partition's) is taken off it
 * for the check and put back after, as it was; read-only when it was not
 * repaired, so that a damaged filesystem takes no writes. dosfsck claims
 * nothing itself: this run's claim keeps every other mount off the card
 * until the repair is on it. dosfsck's status 1 means "changed the
 * filesystem" but also "gave up" (no FAT boot sector): a read-only second
 * check tells the two apart. */
static int sdmmc_repair_disk(void)
{
    if (sdmmc_init() != 0)
        return -1;
    if (sdmmc_stop_requested("repair")) {
        OSA_printf("Sd/mmc repair %s faild!\n", g_sdmmc_device);
        return -1;
    }
    int result = -1;
    SdmmcMount was;
    int mounted = sdmmc_unmount_card(__func__, __LINE__, "checked", &was);
    const char *node = mounted == 1 ? sdmmc_card_node_of(g_sdmmc_device, &was) : g_sdmmc_device;
    if (mounted == 1 && !node)
        report_error("%s is gone, not checked\n", was.source);
    int claim = mounted >= 0 && node ? sdmmc_claim_card(__func__, __LINE__, "checked") : -1;
    int checked = claim != -1;
    if (checked) {
        int status = sdmmc_card_dosfsck(node, 1);
        if (status == 0)
            result = 0;
        else if (WIFEXITED(status) && WEXITSTATUS(status) == 1)
            result = sdmmc_card_dosfsck(node, 0) == 0 ? 0 : -1;
        sdmmc_sync_node(node);
    }
    if (mounted == 1) {
        int read_only = checked && result != 0;
        if (sdmmc_put_back(node, &was, read_only, &claim) != 0)
            result = -1;
        else if (read_only && !was.read_only)
            report_error("%s is mounted read-only again: its filesystem was not repaired\n", node);
    }
    sdmmc_card_release(&claim);
    if (result == 0) {
        OSA_printf("Sd/mmc repair %s success!\n", g_sdmmc_device);
        return 0;
    }
    OSA_printf("Sd/mmc repair %s faild!\n", g_sdmmc_device);
    return -1;
}

/* The tests work through the mount point, so it must show the card
 * itself: "sdmmc mount failed!" when the card cannot be mounted, a line
 * saying where it is when the mount point shows something else. */
static int sdmmc_mount_for_test(const char *func, int line)
{
    if (sdmmc_mount() != 0) {
        report_error_at(OSA_sourceName(__FILE__), func, line, "sdmmc mount failed!\n");
        return -1;
    }
    return sdmmc_check_mount_point(func, line);
}

/* Byte counts of the mounted card. */
typedef struct SdmmcFigures {
    uint64_t block_size;
    uint64_t total;
    uint64_t free; /* every free block, also those kept for root */
} SdmmcFigures;

/* On failure the caller prints no figures: there are none. */
static int sdmmc_read_figures(SdmmcFigures *figures, const char *func, int line)
{
    struct statfs64 fs;
    if (statfs64(SDMMC_MOUNT_POINT, &fs) != 0) {
        report_error_at(OSA_sourceName(__FILE__), func, line, "statfs %s failed: %s\n",
                        SDMMC_MOUNT_POINT, strerror(errno));
        return -1;
    }
    figures->block_size = (uint64_t)fs.f_bsize;
    figures->total = (uint64_t)fs.f_blocks * figures->block_size;
    figures->free = (uint64_t)fs.f_bfree * figures->block_size;
    return 0;
}

static double sdmmc_gb(uint64_t bytes)
{
    return (double)(bytes >> 20) / 1024.0;
}

static int sdmmc_info(void)
{
    if (sdmmc_mount_for_test(__func__, __LINE__) != 0)
        return -1;
    SdmmcFigures fig;
    if (sdmmc_read_figures(&fig, __func__, __LINE__) != 0)
        return -1;
    uint64_t used = fig.total - fig.free;
    OSA_printf("Block = %llu KB \n", (unsigned long long)(fig.block_size >> 10));
    OSA_printf("Total = %llu B = %llu KB = %llu MB = %.2f GB\n", (unsigned long long)fig.total,
               (unsigned long long)(fig.total >> 10), (unsigned long long)(fig.total >> 20),
               sdmmc_gb(fig.total));
    OSA_printf("Free = %llu KB = %llu MB = %.2f GB\n", (unsigned long long)(fig.free >> 10),
               (unsigned long long)(fig.free >> 20), sdmmc_gb(fig.free));
    OSA_printf("Use = %llu KB = %llu MB = %.2f GB\n", (unsigned long long)(used >> 10),
               (unsigned long long)(used >> 20), sdmmc_gb(used));
    return 0;
}

/* dd follows a link and writes into whatever a name leads to: a card that
 * holds a link or a device node under a test file's name (a filesystem
 * with links, mounted by something else) is not written through it. 0 when
 * the name is free or a regular file. */
static int sdmmc_own_file(const char *path, const char *func, int line)
{
    struct stat st;
    if (lstat(path, &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode))
        return 0;
    report_error_at(OSA_sourceName(__FILE__), func, line, "%s is not a regular file, not written\n", path);
    return -1;
}

/* The durations come from "time" and dd themselves; the cache flush between
 * makes the read come from the card, not from memory. The test file is the
 * tool's own: it goes after a stop too. */
static int sdmmc_test_speed(void)
{
    if (sdmmc_mount_for_test(__func__, __LINE__) != 0 || sdmmc_stop_requested("speed test") ||
        sdmmc_own_file(SDMMC_MOUNT_POINT "/empty.file", __func__, __LINE__) != 0)
        return -1;
    OSA_system("time dd if=/dev/zero of=" SDMMC_MOUNT_POINT "/empty.file bs=128k count=1k ");
    sdmmc_flush_caches();
    int stopped = sdmmc_stop_requested("speed test");
    if (!stopped) {
        OSA_system("time dd if=" SDMMC_MOUNT_POINT "/empty.file of=/dev/null bs=128k count=1k ");
        OSA_sleepMsec(1000);
    }
    /* The card is mounted async: without the sync a power cut long after
     * the test leaves the whole test file on it. */
    OSA_system("rm -rf " SDMMC_MOUNT_POINT "/empty.file");
    sdmmc_sync_card();
    return stopped ? -1 : 0;
}

/* Writes the requested number of files whatever the free space: on a full
 * card the remaining dd commands just fail. An interrupt stops it before
 * the next file, and so does a card no longer on the mount point. */
static int sdmmc_filling_disk(void)
{
    if (sdmmc_mount_for_test(__func__, __LINE__) != 0)
        return -1;
    SdmmcFigures fig;
    if (sdmmc_read_figures(&fig, __func__, __LINE__) != 0)
        return -1;
    int result = 0;
    OSA_printf("All size = %llu MB, free size = %llu MB \n", (unsigned long long)(fig.total >> 20),
               (unsigned long long)(fig.free >> 20));
    OSA_printf("Try to filling sdmmc by creating %d files, echo file size %d MB \n",
               (int)g_sdmmc_fill_count, (int)g_sdmmc_fill_size);
    uint32_t i = 0;
    while (i < g_sdmmc_fill_count && !g_stop_flag) {
        if (sdmmc_check_mount_point(__func__, __LINE__) != 0) {
            OSA_printf("Create total %d files \n", (int)i);
            return -1;
        }
        OSA_printf("Create %s/file%d \n", SDMMC_MOUNT_POINT, (int)i);
        char cmd[256], name[64];
        snprintf(name, sizeof name, SDMMC_MOUNT_POINT "/file%d", (int)i);
        snprintf(cmd, sizeof cmd, "dd if=/dev/zero of=%s  bs=128k count=%u > /dev/null 2>&1", name,
                 g_sdmmc_fill_size * 8u);
        if (sdmmc_own_file(name, __func__, __LINE__) == 0)
            OSA_system(cmd);
        else
            result = -1;
        if ((i + 1) % 32 == 0) {
            if (sdmmc_read_figures(&fig, __func__, __LINE__) == 0)
                OSA_printf("Free size = %llu MB \n", (unsigned long long)(fig.free >> 20));
            else
                result = -1;
        }
        OSA_sleepMsec(1000);
        i++;
    }
    sdmmc_sync_card();
    /* The total says how many were made, not that the fill was asked for
     * fewer: a stop is told beside it. */
    if (i < g_sdmmc_fill_count && sdmmc_stop_requested("filling"))
        result = -1;
    OSA_printf("Create total %d files \n", (int)i);
    if (sdmmc_read_figures(&fig, __func__, __LINE__) == 0)
        OSA_printf("Free size = %llu MB \n", (unsigned long long)(fig.free >> 20));
    else
        result = -1;
    sdmmc_flush_caches();
    return result;
}

/* Checks the whole converted value, so that a number past 32 bits is not
 * taken for its low bits. */
static int sdmmc_bounded_number(const char *text, unsigned long max, uint32_t *value)
{
    unsigned long v = OSA_number(text);
    if (v < 1 || v > max)
        return -1;
    *value = (uint32_t)v;
    return 0;
}

static int sdmmc_init_param(int argc, char **argv)
{
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, sdmmc_short_options, sdmmc_options, nullptr)) != -1) {
        switch (c) {
        case 'M':
            break;
        case 'n':
            if (sdmmc_bounded_number(optarg, sdmmc_max_fill_count, &g_sdmmc_fill_count) != 0) {
                report_error("filling file numbers must in [1-40960]!\n");
                return -1;
            }
            break;
        case 'z':
            if (sdmmc_bounded_number(optarg, sdmmc_max_fill_size, &g_sdmmc_fill_size) != 0) {
                report_error("filling file size must in [1-1024]!\n");
                return -1;
            }
            break;
        case 'm':
            if (sdmmc_mount() != 0)
                report_error("sdmmc mount faild!\n");
            break;
        case 's':
            if (sdmmc_test_speed() != 0)
                report_error("sdmmc test speed faild!\n");
            break;
        case 'i':
            if (sdmmc_info() != 0)
                report_error("sdmmc check information faild!\n");
            break;
        case 'r':
            if (sdmmc_repair_disk() != 0)
                report_error("sdmmc repair disk faild!\n");
            break;
        case 'f':
            sdmmc_device_reinit();
            if (sdmmc_format_disk() != 0)
                report_error("sdmmc format disk faild!\n");
            break;
        case 'F':
            if (sdmmc_filling_disk() != 0)
                report_error("sdmmc filling disk faild!\n");
            break;
        case SDMMC_OPT_INIT:
            sdmmc_device_reinit();
            break;
        case '?':
            report_error("Unknow option\n");
            return -1;
        default:
            break;
        }
        sdmmc_unlock_card();
    }
    return 0;
}

/* The format, the speed test and the fill free the caches; the card's
 * other actions run on a system library without that call, or without
 * the library. */
static const ModuleCall sdmmc_calls[] = {
    {"cv_free_system_caches", 'f'},
    {"cv_free_system_caches", 's'},
    {"cv_free_system_caches", 'F'},
    {nullptr, 0},
};

/* Opens the calls of each option acted on (up to the first unknown one)
 * before any of them acts, so that a library without the call stops the
 * run before it has done anything, never between fdisk and mkdosfs.
 * getopt's messages are left to the parsing proper. */
static int sdmmc_open_calls(int argc, char **argv)
{
    int c, result = 0, saved = opterr;
    opterr = 0;
    optind = 0;
    while (result == 0 && (c = getopt_long(argc, argv, sdmmc_short_options, sdmmc_options, nullptr)) != -1 &&
           c != '?')
        result = open_module_calls(sdmmc_calls, c);
    opterr = saved;
    return result;
}

static int sdmmc_test_main(int argc, char **argv)
{
    if (sdmmc_open_calls(argc, argv) != 0)
        exit(-1);
    if (sdmmc_init_param(argc, argv) != 0) {
        sdmmc_usage();
        exit(-1);
    }
    return 0;
}

static ModuleDesc g_sdmmc_module = {"sdmmc", sdmmc_module_id, sdmmc_test_main, sdmmc_usage, nullptr,
                                    sdmmc_calls};
DEBUG_MODULE(g_sdmmc_module)
