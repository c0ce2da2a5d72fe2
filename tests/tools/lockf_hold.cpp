// lockf_hold - stands in for another program on the camera that takes the
// database lock file: runs COMMAND while holding an exclusive lockf lock on
// PATH, and exits with the command's status.
//
// usage: lockf_hold PATH COMMAND [ARG...]
#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: lockf_hold PATH COMMAND [ARG...]\n");
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_CREAT, 0666);
    if (fd < 0 || lockf(fd, F_LOCK, 0) != 0) {
        perror(argv[1]);
        return 1;
    }
    /* The lock belongs to this process, not to the child: it stays held
     * until the command has ended. */
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    lockf(fd, F_ULOCK, 0);
    close(fd);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
