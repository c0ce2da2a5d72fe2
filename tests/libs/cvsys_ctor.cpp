/* cvsys_ctor.cpp - the system library's stand-in with a constructor that
 * does what $CAMSIM_CTOR says, as a vendor's might: exit0, exit3, crash,
 * overflow (its stack), block. Each run of it first adds a line to
 * $CAMSIM_DIR/ctor.log, a side effect that must happen once per run. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Ends only where the stack does. */
static unsigned deeper(unsigned depth)
{
    volatile char frame[4096];
    frame[0] = (char)depth;
    return depth == ~0u ? 0 : deeper(depth + 1) + frame[0];
}

__attribute__((constructor)) static void cvsys_ctor(void)
{
    const char *dir = getenv("CAMSIM_DIR");
    const char *mode = getenv("CAMSIM_CTOR");
    char path[4096];
    snprintf(path, sizeof path, "%s/ctor.log", dir ? dir : "/tmp");
    if (FILE *log = fopen(path, "a")) {
        fputs("constructor\n", log);
        fclose(log);
    }
    if (!mode)
        return;
    if (strcmp(mode, "exit0") == 0)
        exit(0);
    if (strcmp(mode, "exit3") == 0)
        exit(3);
    if (strcmp(mode, "crash") == 0) {
        /* The first page, never mapped (not null, which a sanitized
         * build would catch before the processor). */
        volatile unsigned long nowhere = 16;
        *(volatile int *)nowhere = 1;
    }
    if (strcmp(mode, "overflow") == 0)
        deeper(0);
    while (strcmp(mode, "block") == 0)
        pause();
}
