// lockf_hold - stands in for another program on the camera that takes the
// database lock file: an exclusive lockf lock on PATH.
//
// usage: lockf_hold PATH MS MARKER
//          prints "locked", keeps the lock for MS milliseconds, creates
//          MARKER (so a waiter can tell it ran only afterwards), releases
//        lockf_hold PATH -- COMMAND [ARG...]
//          runs COMMAND while holding the lock; exits with its status
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int run_locked(char **cmd)
{
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        execvp(cmd[0], cmd);
        perror(cmd[0]);
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

static int hold_and_mark(const char *ms_text, const char *marker_path)
{
    printf("locked\n");
    fflush(stdout);
    long ms = strtol(ms_text, nullptr, 0);
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
    int marker = open(marker_path, O_WRONLY | O_CREAT, 0644);
    if (marker < 0) {
        perror(marker_path);
        return 1;
    }
    close(marker);
    return 0;
}

int main(int argc, char **argv)
{
    int command = argc >= 4 && strcmp(argv[2], "--") == 0;
    if (!command && argc != 4) {
        fprintf(stderr, "usage: lockf_hold PATH MS MARKER | lockf_hold PATH -- COMMAND...\n");
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_CREAT, 0666);
    if (fd < 0 || lockf(fd, F_LOCK, 0) != 0) {
        perror(argv[1]);
        return 1;
    }
    /* The lock belongs to this process, not to a child: it stays held
     * until the command has ended. */
    int status = command ? run_locked(argv + 3) : hold_and_mark(argv[2], argv[3]);
    lockf(fd, F_ULOCK, 0);
    close(fd);
    return status;
}
