// camsim_logwriter - appends records to the camera's guarded log, as a
// second program on the camera would: camsim_logwriter TAG COUNT SIZE.
// Each record is SIZE bytes: "TAG:index:" then TAG's letter repeated, then a
// line end, so a checker can tell whole records from torn ones.
// camsim_logwriter --hold takes the log's semaphore, prints "held" and
// sleeps with it until it is killed: a writer that dies inside the lock.
// camsim_logwriter --stale leaves the semaphore taken for good, as a writer
// of a program without undo that died inside the lock; --value prints it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sem.h>
#include <unistd.h>

#include "osa.h"

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--hold") == 0) {
        if (OSA_logInit() != 0 || OSA_ipcSemWait(&g_osa_log.sem, 0, 1) != 0)
            return 1;
        printf("held\n");
        fflush(stdout);
        for (;;)
            pause();
    }
    if (argc == 2 && strcmp(argv[1], "--stale") == 0)
        return OSA_logInit() != 0 || semctl(g_osa_log.sem.id, 0, SETVAL, 0) != 0;
    if (argc == 2 && strcmp(argv[1], "--value") == 0) {
        if (OSA_logInit() != 0)
            return 1;
        printf("%d\n", OSA_ipcSemValue(&g_osa_log.sem, 0));
        return 0;
    }
    if (argc != 4) {
        fprintf(stderr, "usage: camsim_logwriter TAG COUNT SIZE | --hold | --stale | --value\n");
        return 2;
    }
    const char *tag = argv[1];
    int count = atoi(argv[2]);
    int size = atoi(argv[3]);
    if (size < 16 || size > 65536 || count < 0)
        return 2;
    char *record = (char *)malloc((size_t)size);
    if (!record || OSA_logInit() != 0)
        return 1;
    for (int i = 0; i < count; i++) {
        memset(record, tag[0], (size_t)size);
        int n = snprintf(record, (size_t)size, "%s:%d:", tag, i);
        record[n] = tag[0];
        record[size - 1] = '\n';
        if (OSA_log(record, (uint32_t)size) != 0)
            return 1;
    }
    OSA_logClose();
    free(record);
    return 0;
}
