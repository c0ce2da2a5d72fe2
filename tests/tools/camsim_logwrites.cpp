// camsim_logwrites - puts the kernel's dm-log-writes target between a card
// and a log device in the emulated camera, so that every write that reaches
// the card is recorded in order, and a crash test can replay the card to
// each state a power cut could have left. BusyBox has no dmsetup; this
// speaks the device mapper's ioctls itself.
//   camsim_logwrites start NAME DEV LOGDEV   prints the new device's MAJ:MIN
//   camsim_logwrites point DEV K             rewrites DEV's 4 KiB block K
//                                            from the end as it is, so that
//                                            the log shows the moment
//   camsim_logwrites stop NAME               removes it: the log is complete
#include <errno.h>
#include <fcntl.h>
#include <linux/dm-ioctl.h>
#include <linux/fs.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The ioctl header, then room for one target and its parameters.
struct DmRequest {
    struct dm_ioctl io;
    char data[4096];
};

int dm_call(unsigned long request, const char *name, DmRequest *r, size_t data_len)
{
    int control = open("/dev/mapper/control", O_RDWR | O_CLOEXEC);
    if (control < 0) {
        perror("camsim_logwrites: /dev/mapper/control");
        return -1;
    }
    r->io.version[0] = DM_VERSION_MAJOR;
    r->io.version[1] = 0;
    r->io.version[2] = 0;
    r->io.data_size = (uint32_t)(sizeof r->io + data_len);
    r->io.data_start = sizeof r->io;
    snprintf(r->io.name, sizeof r->io.name, "%s", name);
    int rc = ioctl(control, request, r);
    if (rc != 0)
        fprintf(stderr, "camsim_logwrites: %s: %s\n", name, strerror(errno));
    close(control);
    return rc;
}

int dm_start(const char *name, const char *dev, const char *logdev)
{
    int fd = open(dev, O_RDONLY | O_CLOEXEC);
    uint64_t bytes = 0;
    if (fd < 0 || ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
        perror(dev);
        return 1;
    }
    close(fd);
    DmRequest r = {};
    if (dm_call(DM_DEV_CREATE, name, &r, 0) != 0)
        return 1;
    r = {};
    auto *spec = (struct dm_target_spec *)r.data;
    spec->sector_start = 0;
    spec->length = bytes / 512;
    snprintf(spec->target_type, sizeof spec->target_type, "log-writes");
    char *params = r.data + sizeof *spec;
    size_t len = (size_t)snprintf(params, sizeof r.data - sizeof *spec, "%s %s", dev, logdev) + 1;
    size_t total = (sizeof *spec + len + 7) & ~(size_t)7;
    spec->next = (uint32_t)total;
    r.io.target_count = 1;
    if (dm_call(DM_TABLE_LOAD, name, &r, total) != 0)
        return 1;
    r = {}; // resume: the loaded table goes live
    if (dm_call(DM_DEV_SUSPEND, name, &r, 0) != 0)
        return 1;
    printf("%u:%u\n", major(r.io.dev), minor(r.io.dev));
    return 0;
}

// A point in the card's stream of completed writes: the device's 4 KiB
// block K from its end is read and written back unchanged, past the page
// cache, so the card's content stays as it is. dm-log-writes logs writes in
// the order they completed; a flush would put the recorded writes before
// it too, but also push out what the page cache still holds, which is
// just what a power cut would lose.
int dm_point(const char *dev, long k)
{
    int fd = open(dev, O_RDWR | O_DIRECT | O_CLOEXEC);
    uint64_t bytes = 0;
    void *block = nullptr;
    if (fd < 0 || ioctl(fd, BLKGETSIZE64, &bytes) != 0 || posix_memalign(&block, 4096, 4096) != 0) {
        perror(dev);
        return 1;
    }
    off_t at = (off_t)bytes - (off_t)(k + 1) * 4096;
    int ok = at >= 0 && pread(fd, block, 4096, at) == 4096 && pwrite(fd, block, 4096, at) == 4096;
    if (!ok)
        perror(dev);
    free(block);
    close(fd);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[1], "start") == 0)
        return dm_start(argv[2], argv[3], argv[4]);
    if (argc == 4 && strcmp(argv[1], "point") == 0)
        return dm_point(argv[2], atol(argv[3]));
    if (argc == 3 && strcmp(argv[1], "stop") == 0) {
        DmRequest r = {};
        return dm_call(DM_DEV_REMOVE, argv[2], &r, 0) != 0;
    }
    fprintf(stderr, "usage: camsim_logwrites start NAME DEV LOGDEV | point DEV K | stop NAME\n");
    return 2;
}
