/* osa_log.cpp - System V key and semaphore wrappers, and the log file on
 * flash that several programs on the camera append to, one writer at a time. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include "osa.h"

OSA_LogFile g_osa_log = {"/mnt/nand/debug.log", -1, 0, -1, {0, 0, 0}};

int32_t OSA_ipcMakeKey(const char *path, uint8_t project)
{
    return (int32_t)ftok(path, project);
}

int OSA_ipcSemOpen(OSA_SemSet *set, int32_t key, uint32_t count, uint32_t initial,
                   uint32_t maximum, int create)
{
    set->count = count;
    set->maximum = maximum;
    if (initial > maximum)
        initial = maximum;
    if (create & 1) {
        if (count > 32)
            return -1;
        set->id = semget(key, (int)count, IPC_CREAT | IPC_EXCL | 0666);
        if (set->id < 0)
            return -1;
        for (uint32_t i = 0; i < count; i++)
            semctl(set->id, (int)i, SETVAL, (int)initial);
        return 0;
    }
    set->id = semget(key, 0, 0666);
    return set->id < 0 ? -1 : 0;
}

/* SEM_UNDO: a process that dies between its wait and its post must not
 * leave the lock taken for every other writer on the camera. */
static int osa_sem_op(OSA_SemSet *set, uint32_t index, int delta, int wait)
{
    struct sembuf op;
    op.sem_num = (unsigned short)index;
    op.sem_op = (short)delta;
    op.sem_flg = (short)(SEM_UNDO | (wait ? 0 : IPC_NOWAIT));
    int rc;
    do {
        rc = semop(set->id, &op, 1);
    } while (rc < 0 && errno == EINTR);
    return rc < 0 ? -1 : 0;
}

int OSA_ipcSemWait(OSA_SemSet *set, uint32_t index, int wait)
{
    if (index > set->count - 1)
        return -1;
    return osa_sem_op(set, index, -1, wait);
}

int OSA_ipcSemWaitMsec(OSA_SemSet *set, uint32_t index, uint32_t ms)
{
    if (index > set->count - 1) {
        errno = EINVAL;
        return -1;
    }
    struct sembuf op;
    op.sem_num = (unsigned short)index;
    op.sem_op = -1;
    op.sem_flg = SEM_UNDO;
    struct timespec limit;
    limit.tv_sec = ms / 1000;
    limit.tv_nsec = (long)(ms % 1000) * 1000000L;
    /* Not retried on EINTR: an interrupt is the user asking to stop waiting. */
    return semtimedop(set->id, &op, 1, &limit) < 0 ? -1 : 0;
}

int OSA_ipcSemPost(OSA_SemSet *set, uint32_t index, int wait)
{
    if (index > set->count - 1)
        return -1;
    if (OSA_ipcSemValue(set, index) >= (int)set->maximum)
        return 0;
    return osa_sem_op(set, index, 1, wait);
}

int OSA_ipcSemValue(OSA_SemSet *set, uint32_t index)
{
    return semctl(set->id, (int)index, GETVAL);
}

int OSA_logInit(void)
{
    if (g_osa_log.initialised == 1)
        return 0;
    g_osa_log.key = OSA_ipcMakeKey("/mnt/nand/", 's');
    if (g_osa_log.key == -1) {
        report_error("OSA_ipcMakeKey() \n");
        return -1;
    }
    if (OSA_ipcSemOpen(&g_osa_log.sem, g_osa_log.key, 1, 1, 1, 1) != 0 &&
        OSA_ipcSemOpen(&g_osa_log.sem, g_osa_log.key, 1, 0, 1, 0) != 0) {
        report_error("OSA_ipcSemOpen() \n");
        return -1;
    }
    g_osa_log.initialised = 1;
    return 0;
}

int OSA_logOpen(void)
{
    if (g_osa_log.fd != -1)
        return 0;
    /* Never blocking: a FIFO under the log's name would hold the open until
     * a reader came. */
    int fd = open(g_osa_log.path, O_RDWR | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                  0644);
    /* A pipe or a device under the log's name would take the records away
     * from the log's readers, or block once nobody drains it: refused as
     * an open that failed, with the kernel's answer to a name that is no
     * file to append to. (A directory or a socket fails to open by itself.) */
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        report_error("%s is not a regular file, the record is not written\n", g_osa_log.path);
        fd = -1;
        errno = ENXIO;
    }
    if (fd < 0) {
        perror("open log:");
        return -1;
    }
    g_osa_log.fd = fd;
    return 0;
}

/* Takes back the bytes from first to end when nothing follows them, and
 * syncs the shorter file (as far as the flash lets it), or the record
 * could come back after a cut. */
static void osa_log_take_back(off_t first, off_t end, int one_run, const char *what)
{
    struct stat st;
    if (one_run && fstat(g_osa_log.fd, &st) == 0 && st.st_size == end && ftruncate(g_osa_log.fd, first) == 0)
        (void)fsync(g_osa_log.fd);
    else
        report_error("%s: %s record is left at byte %lld\n", g_osa_log.path, what,
                     (long long)first);
}

/* Appends the whole record or nothing: a record cut short by a full flash
 * or a file-size limit would shift every later record of the shared file
 * for its readers. Only the bytes this write added are ever taken back:
 * another program may append at the same time (without the lock, or not
 * honouring it), and its record must stay. Each piece lands at the file's
 * end, so the offset after it tells where it went. */
static int osa_log_append(const void *data, uint32_t length)
{
    const char *p = (const char *)data;
    size_t left = length;
    off_t first = 0, end = -1;
    size_t written = 0;
    int one_run = 1; /* the pieces written so far follow each other */
    while (left > 0) {
        ssize_t n = write(g_osa_log.fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int saved = n == 0 ? ENOSPC : errno;
            if (written > 0)
                osa_log_take_back(first, end, one_run, "a cut");
            errno = saved;
            perror("write log");
            return -1;
        }
        off_t at = lseek(g_osa_log.fd, 0, SEEK_CUR);
        if (at < 0 || (written > 0 && at - n != end))
            one_run = 0;
        if (written == 0)
            first = at - n;
        end = at;
        written += (size_t)n;
        p += n;
        left -= (size_t)n;
    }
    /* A record whose sync failed (JFFS2 answers EIO after a failed page
     * program) may be gone after a power cut: it is no record kept, and
     * is taken back like a cut one so that it cannot come back later. */
    if (fsync(g_osa_log.fd) != 0) {
        int saved = errno;
        osa_log_take_back(first, end, one_run, "an unsynced");
        errno = saved;
        perror("sync log");
        return -1;
    }
    return 0;
}

int OSA_log(const void *data, uint32_t length)
{
    if (g_osa_log.initialised == 0 && OSA_logInit() != 0) {
        report_error("Faild init semphare \n");
        return -1;
    }
    if (OSA_logOpen() != 0) {
        report_error("Faild to open log: %s \n", g_osa_log.path);
        return -1;
    }
    /* A writer of another program may have died inside the lock without
     * undo, leaving it taken for good: wait a bounded time, or until an
     * interrupt, then write anyway. The lock is given back only if taken,
     * or two writers would be let in at once. */
    int taken = OSA_ipcSemWaitMsec(&g_osa_log.sem, 0, OSA_LOG_LOCK_WAIT_MSEC) == 0;
    if (!taken) {
        if (errno == EAGAIN)
            report_error("log lock still taken after %u ms, writing without it\n",
                         (unsigned)OSA_LOG_LOCK_WAIT_MSEC);
        else
            report_error("log lock not taken (%s), writing without it\n", strerror(errno));
    }
    int result = osa_log_append(data, length);
    if (taken)
        OSA_ipcSemPost(&g_osa_log.sem, 0, 1);
    return result;
}

int OSA_logClose(void)
{
    if (g_osa_log.fd != -1)
        close(g_osa_log.fd);
    g_osa_log.fd = -1;
    return 0;
}
