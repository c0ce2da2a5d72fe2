/* osa_net.cpp - dotted-quad IPv4 check, exported for other programs on the
 * camera. Reads the text the way the pattern "%d%c%d%c%d%c%d%c" would, but
 * without the undefined behaviour of scanning a number too large for an int. */
#include <ctype.h>

#include "osa.h"

/* Reads one "%d" item at *p. Returns 1 and the value when one was read (the
 * value is clamped to 256 when out of range, which the caller refuses),
 * 0 when no number stands there. */
static int osa_scan_int(const char **p, long *value)
{
    const char *s = *p;
    while (isspace((unsigned char)*s))
        s++;
    int negative = 0;
    if (*s == '+' || *s == '-')
        negative = (*s++ == '-');
    if (!isdigit((unsigned char)*s))
        return 0;
    long v = 0;
    for (; isdigit((unsigned char)*s); s++) {
        if (v <= 256)
            v = v * 10 + (*s - '0');
    }
    *value = negative ? -v : v;
    *p = s;
    return 1;
}

extern "C" __attribute__((visibility("default"))) int CheckIPAddr(const char *text)
{
    if (!text)
        return 0;
    const char *p = text;
    long part[4];
    char sep[4];
    int items = 0;
    for (int i = 0; i < 4; i++) {
        if (!osa_scan_int(&p, &part[i]))
            break;
        items++;
        if (*p == '\0')
            break;
        sep[i] = *p++;
        items++;
    }
    if (items != 7)
        return 0;
    for (int i = 0; i < 3; i++) {
        if (sep[i] != '.')
            return 0;
    }
    for (int i = 0; i < 4; i++) {
        if (part[i] < 0 || part[i] > 255)
            return 0;
    }
    return 1;
}
