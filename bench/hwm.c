/* hwm.c - peak memory probe for bench/run, preloaded into the programs of
 * one run: as each process exits it appends "NAME PEAK_KIB" (its VmHWM) to
 * $BENCH_HWM_FILE. The wait status of a run only gives the largest peak of
 * the whole process tree; this tells the tool's own peak from that of the
 * programs it starts. It allocates nothing, so it adds only its own few
 * pages to what it measures. */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static ssize_t hwm_read_file(const char *path, char *buf, size_t size)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t used = 0;
    ssize_t n;
    while (used < size - 1 && (n = read(fd, buf + used, size - 1 - used)) > 0)
        used += (size_t)n;
    close(fd);
    buf[used] = '\0';
    return (ssize_t)used;
}

__attribute__((destructor)) static void hwm_report(void)
{
    const char *out = getenv("BENCH_HWM_FILE");
    char comm[64], status[4096], line[128];
    if (!out || hwm_read_file("/proc/self/comm", comm, sizeof comm) < 0 ||
        hwm_read_file("/proc/self/status", status, sizeof status) < 0)
        return;
    comm[strcspn(comm, "\n")] = '\0';
    const char *hwm = strstr(status, "\nVmHWM:");
    if (!hwm)
        return;
    hwm += 7;
    while (*hwm == ' ' || *hwm == '\t')
        hwm++;
    size_t digits = strspn(hwm, "0123456789");
    size_t name = strlen(comm);
    if (name + digits + 2 > sizeof line)
        return;
    memcpy(line, comm, name);
    line[name] = ' ';
    memcpy(line + name + 1, hwm, digits);
    line[name + 1 + digits] = '\n';
    int fd = open(out, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    /* One write, so that lines of processes exiting together never mix. */
    ssize_t written = write(fd, line, name + digits + 2);
    (void)written;
    close(fd);
}
