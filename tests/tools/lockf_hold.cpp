// lockf_hold - stands in for another program on the camera that holds the
// database lock file: takes an exclusive lockf lock on PATH, prints
// "locked", keeps the lock for MS milliseconds, creates MARKER (so a
// waiter can tell it ran only afterwards), then releases the lock.
//
// usage: lockf_hold PATH MS MARKER
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: lockf_hold PATH MS MARKER\n");
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_CREAT, 0666);
    if (fd < 0 || lockf(fd, F_LOCK, 0) != 0) {
        perror(argv[1]);
        return 1;
    }
    printf("locked\n");
    fflush(stdout);
    long ms = strtol(argv[2], nullptr, 0);
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
    int marker = open(argv[3], O_WRONLY | O_CREAT, 0644);
    if (marker < 0) {
        perror(argv[3]);
        return 1;
    }
    close(marker);
    lockf(fd, F_ULOCK, 0);
    close(fd);
    return 0;
}
