/* sdmmc_card.cpp - the SD card as a block device: its mounts by device
 * number, the exclusive claim, the kernel's re-read of its partition
 * table, the put-back of a mount, and the camera's programs run on it. */
#include "sdmmc_card.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "osa.h"

/* The mount table writes blanks, tabs, newlines and backslashes in names
 * as \ooo. */
static void sdmmc_card_copy_field(char *dst, size_t size, const char *src)
{
    size_t n = 0;
    while (*src && n + 1 < size) {
        if (src[0] == '\\' && src[1] >= '0' && src[1] <= '3' && src[2] >= '0' && src[2] <= '7' &&
            src[3] >= '0' && src[3] <= '7') {
            dst[n++] = (char)((src[1] - '0') * 64 + (src[2] - '0') * 8 + (src[3] - '0'));
            src += 4;
        } else {
            dst[n++] = *src++;
        }
    }
    dst[n] = '\0';
}

static int sdmmc_card_has_option(const char *options, const char *name)
{
    size_t len = strlen(name);
    for (const char *o = options; o; o = strchr(o, ',')) {
        if (*o == ',')
            o++;
        if (strncmp(o, name, len) == 0 && (o[len] == ',' || o[len] == '\0'))
            return 1;
    }
    return 0;
}

/* The whole disk a block device belongs to: its parent in sysfs when it is
 * a partition, else the device itself. */
static dev_t sdmmc_card_whole_disk(dev_t device)
{
    char path[64];
    snprintf(path, sizeof path, "/sys/dev/block/%u:%u/partition", major(device), minor(device));
    if (access(path, F_OK) != 0)
        return device;
    snprintf(path, sizeof path, "/sys/dev/block/%u:%u/../dev", major(device), minor(device));
    FILE *f = fopen(path, "re");
    unsigned int maj, min;
    int ok = f && fscanf(f, "%u:%u", &maj, &min) == 2;
    if (f)
        fclose(f);
    return ok ? makedev(maj, min) : device;
}

/* "ID PARENT MAJ:MIN ROOT POINT OPTIONS [TAGS...] - TYPE SOURCE
 * SUPER-OPTIONS", its fields split at each single blank: an empty source is
 * a field too. A filesystem with no device of its own (major 0) is known by
 * the device node it names as its source. */
int sdmmc_card_parse_mount(char *line, SdmmcMount *m)
{
    char *field[40];
    int n = 0;
    line[strcspn(line, "\n")] = '\0';
    for (char *rest = line; rest && n < 40;)
        field[n++] = strsep(&rest, " ");
    int dash = 6;
    while (dash < n && strcmp(field[dash], "-") != 0)
        dash++;
    unsigned int maj, min;
    if (dash + 3 >= n || sscanf(field[2], "%u:%u", &maj, &min) != 2)
        return -1;
    sdmmc_card_copy_field(m->root, sizeof m->root, field[3]);
    sdmmc_card_copy_field(m->point, sizeof m->point, field[4]);
    sdmmc_card_copy_field(m->source, sizeof m->source, field[dash + 2]);
    /* After a FAT error the kernel marks the filesystem read-only and
     * leaves the mount's own flag as it was: either makes it read-only. */
    m->read_only = sdmmc_card_has_option(field[5], "ro") || sdmmc_card_has_option(field[dash + 3], "ro");
    snprintf(m->options, sizeof m->options, "%s,%s%s", field[dash + 3], field[5], m->read_only ? ",ro" : "");
    m->shown = makedev(maj, min);
    m->device = m->shown;
    struct stat st;
    if (maj == 0)
        m->device = strncmp(m->source, "/dev/", 5) == 0 && stat(m->source, &st) == 0 && S_ISBLK(st.st_mode)
                        ? st.st_rdev
                        : 0;
    return 0;
}

/* The card is on the mount point when the filesystem the mount point leads
 * to (through any link) is the card's, mounted there with its root: a
 * mount over it, or over its parent, hides it. */
int sdmmc_card_find_mounts(const char *card, const char *point, SdmmcCardMounts *found)
{
    memset(found, 0, sizeof *found);
    struct stat st, shown;
    char place[PATH_MAX];
    FILE *table = nullptr;
    if (stat(card, &st) != 0 || !S_ISBLK(st.st_mode) || (table = fopen("/proc/self/mountinfo", "re")) == nullptr)
        return -1;
    int reachable = realpath(point, place) != nullptr && stat(place, &shown) == 0;
    char *text = nullptr;
    size_t size = 0;
    SdmmcMount m;
    while (getline(&text, &size, table) > 0) {
        if (sdmmc_card_parse_mount(text, &m) != 0)
            continue;
        int is_card = m.device != 0 && (m.device == st.st_rdev || sdmmc_card_whole_disk(m.device) == st.st_rdev);
        int at_point = reachable && strcmp(m.point, place) == 0;
        /* A later mount on the mount point covers the earlier ones. */
        if (at_point && found->on_point) {
            found->on_point = 0;
            if (found->elsewhere++ == 0)
                found->other = found->point;
        }
        if (at_point && is_card) {
            found->on_point = 1;
            found->point = m;
        } else if (is_card && found->elsewhere++ == 0) {
            found->other = m;
        }
    }
    free(text);
    fclose(table);
    /* What the mount point shows decides: a part of the card bound there,
     * or a filesystem over it that the table did not name, is not the
     * card on the mount point. */
    if (found->on_point && (found->point.shown != shown.st_dev || strcmp(found->point.root, "/") != 0)) {
        found->on_point = 0;
        if (found->elsewhere++ == 0)
            found->other = found->point;
    }
    return 0;
}

const char *sdmmc_card_node_of(const char *card, const SdmmcMount *m)
{
    static char named[300];
    struct stat st;
    if (stat(card, &st) == 0 && st.st_rdev == m->device)
        return card;
    if (stat(m->source, &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == m->device)
        return m->source;
    char path[64], name[64] = "";
    snprintf(path, sizeof path, "/sys/dev/block/%u:%u/uevent", major(m->device), minor(m->device));
    FILE *f = fopen(path, "re");
    char text[128];
    while (f && fgets(text, sizeof text, f))
        sscanf(text, "DEVNAME=%63[^\n]", name);
    if (f)
        fclose(f);
    snprintf(named, sizeof named, "/dev/%s", name);
    if (name[0] && strchr(name, '/') == nullptr && stat(named, &st) == 0 && S_ISBLK(st.st_mode) &&
        st.st_rdev == m->device)
        return named;
    return nullptr;
}

int sdmmc_card_claim(const char *card)
{
    int fd = open(card, O_RDONLY | O_EXCL | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    return errno == EBUSY ? -1 : -2;
}

void sdmmc_card_release(int *claim)
{
    if (*claim >= 0)
        close(*claim);
    *claim = -2;
}

/* The kernel answers EINVAL for a disk it keeps no partitions on (a loop
 * device bound without partition scanning): there is no table of its to
 * be stale. */
int sdmmc_card_reread_table(int claim)
{
    if (ioctl(claim, BLKRRPART) == 0)
        return 0;
    return errno == EINVAL ? 1 : -1;
}

/* Partitions are the entries of the disk's sysfs directory that hold a
 * "partition" file. */
int sdmmc_card_partition_count(const char *card)
{
    struct stat st;
    char path[64];
    if (stat(card, &st) != 0 || !S_ISBLK(st.st_mode))
        return -1;
    snprintf(path, sizeof path, "/sys/dev/block/%u:%u", major(st.st_rdev), minor(st.st_rdev));
    DIR *dir = opendir(path);
    if (!dir)
        return -1;
    int count = 0;
    for (struct dirent *e; (e = readdir(dir)) != nullptr;) {
        char file[sizeof path + sizeof e->d_name + 16];
        snprintf(file, sizeof file, "%s/%s/partition", path, e->d_name);
        if (e->d_name[0] != '.' && access(file, F_OK) == 0)
            count++;
    }
    closedir(dir);
    return count;
}

int sdmmc_card_read_head(int fd, unsigned char *head)
{
    return fd >= 0 && pread(fd, head, SDMMC_CARD_HEAD_SIZE, 0) == SDMMC_CARD_HEAD_SIZE ? 0 : -1;
}

int sdmmc_card_unmount(const char *point)
{
    const char *const argv[] = {"umount", point, nullptr};
    return OSA_exec(argv, 0);
}

static int sdmmc_card_run_mount(const char *node, const char *point, const char *options, int quiet)
{
    const char *const argv[] = {"mount", "-t", "vfat", node, point, "-o", options, nullptr};
    return OSA_exec(argv, quiet);
}

int sdmmc_card_mount(const char *node, const char *point, const char *options)
{
    return sdmmc_card_run_mount(node, point, options, 0);
}

/* time reports the program's run to the technician. */
int sdmmc_card_mkdosfs(const char *card)
{
    const char *const argv[] = {"time", "mkdosfs", "-I", "-F", "32", card, nullptr};
    return OSA_exec(argv, 0);
}

/* The repair reports what it did; the verdict (repair 0) only its status. */
int sdmmc_card_dosfsck(const char *node, int repair)
{
    const char *const check[] = {"time", "dosfsck", "-a", "-v", "-V", node, nullptr};
    const char *const verdict[] = {"dosfsck", "-n", node, nullptr};
    return repair ? OSA_exec(check, 0) : OSA_exec(verdict, 1);
}

pid_t sdmmc_card_fdisk(const char *card, int *input)
{
    const char *const argv[] = {"fdisk", card, nullptr};
    return OSA_spawnFed(argv, input);
}

int sdmmc_card_wait(pid_t pid)
{
    return OSA_waitChild(pid);
}

static void sdmmc_card_why_status(int status, char *why, size_t why_size)
{
    if (status == -1)
        snprintf(why, why_size, "mount could not be run");
    else if (WIFSIGNALED(status))
        snprintf(why, why_size, "mount was ended by signal %d", WTERMSIG(status));
    else
        snprintf(why, why_size, "mount failed with status %d", WEXITSTATUS(status));
}

int sdmmc_card_put_back(const char *card, const char *node, const SdmmcMount *was, int read_only, char *why,
                        size_t why_size)
{
    char options[sizeof was->options + 4];
    snprintf(options, sizeof options, "%s%s", was->options, read_only && !was->read_only ? ",ro" : "");
    /* Another program's mount of the whole card, even one that fails,
     * holds the card for a moment, and so does one being let go: the
     * put-back is tried again before it counts as failed, and mount says
     * why in its own words on the last try. */
    int status = -1;
    for (int tries = 3; tries > 0; tries--) {
        status = sdmmc_card_run_mount(node, was->point, options, tries > 1);
        if (status == 0)
            return 0;
        if (tries > 1)
            OSA_sleepMsec(200);
    }
    /* The commonest cause: another mount took the card meanwhile, and a
     * card mounted read-write elsewhere cannot be mounted read-only. */
    SdmmcCardMounts found;
    char said[160];
    sdmmc_card_why_status(status, said, sizeof said);
    if (sdmmc_card_find_mounts(card, was->point, &found) == 0 && found.elsewhere)
        snprintf(why, why_size, "%s; the card is mounted on %s%s", said, found.other.point,
                 found.other.read_only ? " (read-only)" : "");
    else
        snprintf(why, why_size, "%s", said);
    return -1;
}
