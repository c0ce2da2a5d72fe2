/* no_pidfd.cpp - a kernel older than pidfd_open (Linux 5.3), as a camera's
 * may be: the black-box tests preload it into the tool. Every other system
 * call goes through. */
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/syscall.h>

extern "C" long syscall(long number, ...)
{
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (long &arg : a)
        arg = va_arg(ap, long);
    va_end(ap);
    if (number == SYS_pidfd_open) {
        errno = ENOSYS;
        return -1;
    }
    typedef long (*Syscall)(long, ...);
    static Syscall next = (Syscall)dlsym(RTLD_NEXT, "syscall");
    return next(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
