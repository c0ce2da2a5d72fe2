/* link_refused.cpp - link() refused with EPERM, as on a flash filesystem
 * without hard links (vfat): the black-box tests preload it into the tool. */
#include <errno.h>
#include <unistd.h>

extern "C" int link(const char *, const char *)
{
    errno = EPERM;
    return -1;
}
