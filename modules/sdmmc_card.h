/* sdmmc_card.h - the SD card as a block device: where it is mounted (known
 * by its device number), the exclusive claim that keeps every other mount
 * off it while the card is written beneath the filesystem, the kernel's
 * re-read of its partition table, putting a mount back, and the programs
 * that work on it. Nothing here prints: the callers say what went wrong,
 * in their own lines. */
#ifndef SDMMC_CARD_H
#define SDMMC_CARD_H

#include <sys/types.h>

/* One mount of the card or of a partition of it, as the mount table has it. */
typedef struct SdmmcMount {
    dev_t shown;       /* the filesystem's own number, what stat shows */
    dev_t device;      /* the block device behind it: the card's, or its partition's */
    int read_only;     /* the mount or its filesystem (after a FAT error) is read-only */
    char root[256];    /* the directory of the filesystem mounted there */
    char point[256];
    char source[256];
    char options[512]; /* the filesystem's own, then the mount's */
} SdmmcMount;

/* Where the card is mounted. A card mount that another mount covers on
 * the mount point counts as elsewhere: it cannot be reached there. */
typedef struct SdmmcCardMounts {
    int on_point;     /* what the mount point shows is the card */
    SdmmcMount point; /* that mount */
    int elsewhere;    /* how many card mounts there are besides it */
    SdmmcMount other; /* the first of them */
} SdmmcCardMounts;

/* One line of /proc/self/mountinfo; the line is cut up. 0, or -1 when it
 * is not one. */
int sdmmc_card_parse_mount(char *line, SdmmcMount *m);

/* The mounts of card (a node of the whole card) and of its partitions, as
 * seen from point. -1 when the card is no block device or the mount table
 * cannot be read. */
int sdmmc_card_find_mounts(const char *card, const char *point, SdmmcCardMounts *found);

/* The node to check and mount m by: card itself, the name m was mounted
 * by, or the name sysfs gives m's device, each only once seen to be m's
 * device still. nullptr when there is none. */
const char *sdmmc_card_node_of(const char *card, const SdmmcMount *m);

/* The claim: the card opened exclusively, which the kernel refuses while
 * any filesystem, in any mount namespace, detached or not, holds the card
 * or a partition of it, and which keeps every mount off it while held.
 * The descriptor; -1 when something holds the card (EBUSY); -2 when the
 * node cannot be opened at all. */
int sdmmc_card_claim(const char *card);
void sdmmc_card_release(int *claim);

/* Has the kernel read the card's partition table again, through the
 * claim: the one opener the kernel lets do it while the card is claimed.
 * 0; 1 when the kernel keeps no partitions on this card (it reads no
 * table there); -1 with errno. */
int sdmmc_card_reread_table(int claim);
/* How many partitions of card the kernel has, or -1. */
int sdmmc_card_partition_count(const char *card);

/* The first bytes of the card, where the partition table and a whole-card
 * FAT32's boot sector and first FAT sectors lie, read through the page
 * cache that the programs' writes land in. */
enum { SDMMC_CARD_HEAD_SIZE = 65536 };
int sdmmc_card_read_head(int fd, unsigned char *head);

/* The programs. Each returns its wait status, or -1 when it could not be
 * started. */
int sdmmc_card_unmount(const char *point);
int sdmmc_card_mount(const char *node, const char *point, const char *options);
int sdmmc_card_mkdosfs(const char *card);
int sdmmc_card_dosfsck(const char *node, int repair);
/* fdisk on card, fed through *input, which the caller writes and closes;
 * then sdmmc_card_wait for its end. The pid, or -1. */
pid_t sdmmc_card_fdisk(const char *card, int *input);
int sdmmc_card_wait(pid_t pid);

/* Puts node back on was->point with the options it had: read-only when it
 * was, or when read_only. 0, or -1 with why (a short text) filled in. */
int sdmmc_card_put_back(const char *card, const char *node, const SdmmcMount *was, int read_only, char *why,
                        size_t why_size);

#endif
