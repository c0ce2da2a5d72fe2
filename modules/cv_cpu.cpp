/* cv_cpu.cpp - cpu module: samples the processor load from the kernel's
 * tick counters at a fixed interval, prints one coloured line per cycle,
 * keeps an uncoloured copy in a log file and ends with a summary. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cv_cpu.h"
#include "debug.h"

#define CPU_VERSION "1.0.2"
#define CPU_LOG_NAME_SIZE 64

static int32_t g_cpu_count = 60;
static int32_t g_cpu_delay = 1; /* seconds */
static char g_cpu_log_name[CPU_LOG_NAME_SIZE] = "/tmp/cpulog.txt";

/* The previous sample, kept between calls of cpu_sample. */
static CpuTicks g_cpu_ticks;

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t cpu_module_id = 8;

static const struct option cpu_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"delay", required_argument, nullptr, 'd'},
    {"count", required_argument, nullptr, 'c'},
    {"log", required_argument, nullptr, 'l'},
    {"version", no_argument, nullptr, 'v'},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp cpu_option_help[] = {
    {"module", "module name: cpu"},
    {"digit", "cpu check interval seconds, defalut [1]s"},
    {"digit", "cpu repeat count times, defalut [60]"},
    {"file", "cpu log file, default[/tmp/cpulog.txt]"},
    {"", "cpu version information"},
};

static void cpu_usage(void)
{
    print_module_usage(cpu_module_id, cpu_options, cpu_option_help);
}

static void cpu_print_version(void)
{
    OSA_printf("CPU version: %s\n", CPU_VERSION);
}

static int cpu_init_param(int argc, char **argv)
{
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:d:c:l:v", cpu_options, nullptr)) != -1) {
        switch (c) {
        case 'v':
            cpu_print_version();
            break;
        case 'c':
            g_cpu_count = (int32_t)OSA_number(optarg);
            if (g_cpu_count <= 0) {
                report_error("Cpu count must > 0\n");
                return -1;
            }
            break;
        case 'd':
            g_cpu_delay = (int32_t)OSA_number(optarg);
            if (g_cpu_delay <= 0) {
                report_error("Cpu delay must > 0\n");
                return -1;
            }
            break;
        case 'l':
            if (strlen(optarg) < sizeof g_cpu_log_name) {
                memcpy(g_cpu_log_name, optarg, strlen(optarg) + 1);
            } else {
                report_error("Cpu log name length must < 64!\n");
                return -1;
            }
            break;
        case 'M':
            break;
        case '?':
            report_error("Unknow option\n");
            return -1;
        default:
            break;
        }
    }
    return 0;
}

int cpu_scan_stat(FILE *fp, CpuTicks *ticks)
{
    char token[5];
    unsigned long user, nice, system, idle, iowait, irq, softirq, steal;
    for (;;) {
        /* Zero for each record: a short one (an older kernel) must not keep
         * the counters of the record before it. */
        user = nice = system = idle = iowait = irq = softirq = steal = 0;
        int n = fscanf(fp, "%4s %lu %lu %lu %lu %lu %lu %lu %lu %*[^\n]", token, &user, &nice,
                       &system, &idle, &iowait, &irq, &softirq, &steal);
        if (n == EOF)
            return -1;
        if (n >= 1 && strcmp(token, "cpu") == 0) {
            ticks->counters = (uint64_t)(n - 1);
            break;
        }
    }
    ticks->user_nice = (uint64_t)user + nice;
    ticks->nice = nice;
    ticks->system_all = (uint64_t)system + irq + softirq;
    ticks->idle = idle;
    ticks->iowait = iowait;
    ticks->irq = irq;
    ticks->softirq = softirq;
    ticks->steal = steal;
    ticks->total = (uint64_t)user + nice + system + idle + iowait + irq + softirq + steal;
    return 0;
}

int cpu_scan_self(FILE *fp, CpuTicks *ticks)
{
    unsigned long utime = 0, stime = 0, cutime = 0, cstime = 0;
    int n = fscanf(fp, "%*d %*s %*s %*d %*d %*d %*d %*d %*d %*d %*d %*d %*d %lu %lu %lu %lu",
                   &utime, &stime, &cutime, &cstime);
    if (n == EOF)
        n = 0;
    ticks->process = (uint64_t)utime + stime + cutime + cstime;
    return n;
}

/* current - previous; a counter that went backwards counts as no time
 * rather than wrapping round to 2^64. The kernel's iowait may go back a
 * little, and the idle count of a processor taken offline falls back to a
 * smaller one. */
static uint64_t cpu_delta(uint64_t current, uint64_t previous)
{
    return current >= previous ? current - previous : 0;
}

/* The kernel's own user and system counters, out of the combined ones. */
static uint64_t cpu_user(const CpuTicks *t)
{
    return cpu_delta(t->user_nice, t->nice);
}

static uint64_t cpu_system(const CpuTicks *t)
{
    return cpu_delta(t->system_all, t->irq + t->softirq);
}

int cpu_update_load(CpuTicks *previous, const CpuTicks *current, CpuLoad *load)
{
    static const CpuTicks none = {};
    /* No previous sample: all ten counters zero, however many it held. */
    CpuTicks stored = *previous;
    stored.counters = 0;
    if (memcmp(&stored, &none, sizeof none) == 0) {
        *previous = *current;
        return 0;
    }
    /* A counter missing from the record is not a counter at 0: compared
     * with the stored one it would turn the whole interval into load. One
     * that the stored record lacked has only its total since boot. */
    if (current->counters < previous->counters)
        return -1;
    if (current->counters > previous->counters) {
        *previous = *current;
        return 0;
    }
    /* Every figure is a share of the same changes, each counter's own and
     * never negative, and the interval is their sum: the figures then lie
     * between 0 and 100 % however the counters moved. */
    double user = (double)cpu_delta(cpu_user(current), cpu_user(previous));
    double nice = (double)cpu_delta(current->nice, previous->nice);
    double system = (double)cpu_delta(cpu_system(current), cpu_system(previous));
    double idle = (double)cpu_delta(current->idle, previous->idle);
    double iowait = (double)cpu_delta(current->iowait, previous->iowait);
    double irq = (double)cpu_delta(current->irq, previous->irq);
    double softirq = (double)cpu_delta(current->softirq, previous->softirq);
    double steal = (double)cpu_delta(current->steal, previous->steal);
    double process = (double)cpu_delta(current->process, previous->process);
    double total = user + nice + system + idle + iowait + irq + softirq + steal;
    *previous = *current;
    /* No tick passed: there is no interval to divide by, keep the last load. */
    if (total == 0.0)
        return 0;
    load->user = ((user + nice) * 100.0) / total;
    load->nice = (nice * 100.0) / total;
    load->sys = ((system + irq + softirq) * 100.0) / total;
    load->idle = (idle * 100.0) / total;
    load->iowait = (iowait * 100.0) / total;
    load->irq = (irq * 100.0) / total;
    load->softirq = (softirq * 100.0) / total;
    load->steal = (steal * 100.0) / total;
    /* The process's ticks come from another file, read a moment later. */
    load->process = process < total ? (process * 100.0) / total : 100.0;
    /* idle × 100 / total may round to a hair above 100. */
    load->cpu = 100.0 - (idle * 100.0) / total;
    if (load->cpu < 0.0)
        load->cpu = 0.0;
    return 1;
}

/* The line for a /proc file that cannot be opened is the one for a missing
 * /proc, which scripts know; any other reason (out of descriptors, say)
 * follows it on a line of its own. */
static void cpu_report_open_error(const char *path)
{
    int saved = errno;
    fprintf(stderr, "\033[0;31mError: %s not found. Is the /proc filesystem mounted?\n\033[0;39m \n",
            path);
    if (saved != ENOENT)
        report_error("%s cannot be opened: %s\n", path, strerror(saved));
}

int cpu_sample(CpuLoad *load)
{
    CpuTicks current = {};
    FILE *fp = fopen("/proc/stat", "r");
    if (!fp) {
        cpu_report_open_error("/proc/stat");
        return -1;
    }
    int found = cpu_scan_stat(fp, &current);
    if (fclose(fp) != 0 || found != 0)
        return -1;

    fp = fopen("/proc/self/stat", "r");
    if (!fp) {
        cpu_report_open_error("/proc/self/stat");
        return -1;
    }
    if (cpu_scan_self(fp, &current) < 4) {
        fprintf(stderr, "\033[0;31mError: Failed to get process load information.\n\033[0;39m \n");
        fclose(fp);
        return -1;
    }
    if (fclose(fp) != 0)
        return -1;
    return cpu_update_load(&g_cpu_ticks, &current, load);
}

/* seconds × 1000 does not fit 32 bits beyond about 49 days: sleep in pieces. */
static void cpu_sleep_seconds(int32_t seconds)
{
    uint64_t ms = (uint64_t)seconds * 1000u;
    while (ms > 0) {
        uint32_t step = ms > UINT32_MAX ? UINT32_MAX : (uint32_t)ms;
        if (OSA_sleepMsec(step) != 0)
            return; /* a signal: the caller looks at the stop flag */
        ms -= step;
    }
}

/* 1 when the directory holding path lets anyone create names in it. */
static int cpu_in_shared_directory(const char *path)
{
    char dir[CPU_LOG_NAME_SIZE];
    snprintf(dir, sizeof dir, "%s", path);
    char *slash = strrchr(dir, '/');
    if (!slash)
        snprintf(dir, sizeof dir, ".");
    else if (slash == dir)
        dir[1] = '\0';
    else
        *slash = '\0';
    struct stat st;
    return stat(dir, &st) != 0 || (st.st_mode & S_IWOTH) != 0;
}

/* The default log lies in /tmp, where anyone may plant a name: a link
 * there would have root overwrite what it points to, a FIFO would block
 * the open for ever. So links are never followed, the open never blocks,
 * and in such a directory only a plain file of its own is taken. Elsewhere
 * a device (/dev/null, a serial line) is taken too. */
static int cpu_open_log(const char *path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat st;
    int usable = fstat(fd, &st) == 0 &&
                 (cpu_in_shared_directory(path) ? S_ISREG(st.st_mode) && st.st_nlink == 1
                                                : S_ISREG(st.st_mode) || S_ISCHR(st.st_mode));
    if (usable && S_ISREG(st.st_mode))
        usable = ftruncate(fd, 0) == 0;
    if (usable)
        usable = fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
    if (!usable) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Each line goes to the log as it is printed, so that a run ended by a
 * hang-up, a closed pipe or a kill keeps what was shown; and each is
 * synced before it is shown: on the camera's NAND a line not synced waits
 * in JFFS2's write buffer (up to a page, some seconds), and a power cut
 * then left a log without lines the screen had shown. A sync there costs
 * one 2 KiB page program per line, a line a second at most: a 100-line
 * run wears about two erase blocks. The first failed write (a full flash,
 * a file-size limit, a failed sync) is reported and ends the log; the part
 * of its line that went in is taken back, so the log holds whole lines only. */
static void cpu_log_line(int *fd, const char *line)
{
    if (*fd < 0)
        return;
    char text[160];
    size_t len = (size_t)snprintf(text, sizeof text, "%s\n", line);
    if (len >= sizeof text)
        len = sizeof text - 1;
    off_t before = lseek(*fd, 0, SEEK_CUR);
    /* A line whose sync failed may not survive a cut: it is a failed write.
     * A device that cannot sync (a serial line) is written to all the same. */
    if (OSA_writeAll(*fd, text, len) != 0 ||
        (fsync(*fd) != 0 && errno != EINVAL && errno != EROFS)) {
        int saved = errno;
        /* On a device (a serial line) there is nothing to take back, and
         * ftruncate fails harmlessly. The shorter file is synced, or the
         * line could come back after a cut. */
        if (before >= 0 && ftruncate(*fd, before) == 0)
            (void)fsync(*fd);
        fprintf(stderr, "\033[0;31mError: Can't write log %s: %s\n\033[0;39m \n", g_cpu_log_name,
                strerror(saved));
        close(*fd);
        *fd = -1;
    }
}

static int cpu_test_main(int argc, char **argv)
{
    if (cpu_init_param(argc, argv) != 0) {
        cpu_usage();
        return 0;
    }

    int log = cpu_open_log(g_cpu_log_name);
    if (log >= 0)
        printf("\033[1;32mCreate cpu log: %s\n\033[0;39m \n", g_cpu_log_name);
    else
        fprintf(stderr, "\033[0;31mError: Can't create log %s\n\033[0;39m \n", g_cpu_log_name);
    printf("\033[1;32mARM LOAD RUNNING FOR COUNT: %d \n\033[0;39m \n", g_cpu_count);

    CpuLoad load = {};
    double maximum = 0.0, minimum = 100.0, sum = 0.0;
    int printed = 0;
    int measured = 0; /* a load was worked out at least once */
    /* 64 bits: with a count of INT32_MAX the index must still pass it. */
    int64_t cycle = 0;
    int last = 0;
    while (!g_stop_flag) {
        int result = cpu_sample(&load);
        if (cycle > 0 && cycle <= g_cpu_count) {
            /* Only a printed cycle counts: the last sample after them
             * reaches neither a line nor the summary. */
            measured |= result == 1;
            /* A cycle without a new load shows the last figures again (all
             * zero before the first): scripts read the line as it stands,
             * so only standard error says they were not measured. */
            if (result != 1 && measured)
                report_error("cycle %lld: no load measured, the last figures are shown again\n",
                             (long long)cycle);
            else if (result != 1)
                report_error("cycle %lld: no load measured yet, the figures shown are zero\n",
                             (long long)cycle);
            if (maximum < load.cpu)
                maximum = load.cpu;
            if (minimum > load.cpu)
                minimum = load.cpu;
            sum += load.cpu;
            printed++;
            /* The log gets the terminal line without its colours. */
            char line[128];
            snprintf(line, sizeof line,
                     "CPU:%3.0f%% (sys:%3.0f%% user:%3.0f%% wait:%3.0f%% steal:%3.0f%%)", load.cpu,
                     load.sys, load.user, load.iowait, load.steal);
            cpu_log_line(&log, line);
            printf("\033[1;32m%s\033[0;39m \n", line);
        } else if (cycle > g_cpu_count) {
            g_stop_flag = 1;
            last = 1;
        }
        cycle++;
        /* An interrupt that came during the sample must not wait out a whole
         * delay; the pause after the last cycle is kept. */
        if (last || !g_stop_flag)
            cpu_sleep_seconds(g_cpu_delay);
    }

    /* A run stopped before its first cycle line ends with 0/0 (NaN). */
    if (!measured)
        report_error("no load was measured, the summary holds no measured figure\n");
    double average = sum / (double)printed;
    char line[128];
    snprintf(line, sizeof line, "Average:%4.3f%%   Max:%4.2f%%  Min:%4.2f%%", average, maximum,
             minimum);
    cpu_log_line(&log, line);
    printf("\033[1;32m%s\033[0;39m \n", line);
    if (log >= 0)
        close(log);
    return 0;
}

static ModuleDesc g_cpu_module = {"cpu", cpu_module_id, cpu_test_main, cpu_usage, nullptr};
DEBUG_MODULE(g_cpu_module)
