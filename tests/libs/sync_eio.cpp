/* sync_eio.cpp - every sync of a regular file fails with EIO, as JFFS2's
 * does after a failed page program: the black-box tests preload it into
 * the tool. */
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dlfcn.h>

static int sync_eio(int fd, const char *name)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    typedef int (*Sync)(int);
    Sync next = (Sync)dlsym(RTLD_NEXT, name);
    return next ? next(fd) : 0;
}

extern "C" int fsync(int fd)
{
    return sync_eio(fd, "fsync");
}

extern "C" int fdatasync(int fd)
{
    return sync_eio(fd, "fdatasync");
}
