/* cv_cpu.h - the cpu monitor's sample arithmetic, for the module's tests. */
#ifndef CV_CPU_H
#define CV_CPU_H

#include <stdint.h>
#include <stdio.h>

/* Kernel tick counters of one sample; all zero means no sample yet. */
typedef struct CpuTicks {
    uint64_t user_nice; /* user + nice */
    uint64_t nice;
    uint64_t system_all; /* system + irq + softirq */
    uint64_t idle;
    uint64_t iowait;
    uint64_t irq;
    uint64_t softirq;
    uint64_t steal;
    uint64_t total;   /* user + nice + system + idle + iowait + irq + softirq + steal */
    uint64_t process; /* utime + stime + cutime + cstime of this process */
    uint64_t counters; /* how many of the eight system counters the record held */
} CpuTicks;

/* Percentages of the interval between two samples. */
typedef struct CpuLoad {
    double user; /* includes nice */
    double nice;
    double sys; /* includes irq and softirq */
    double idle;
    double iowait;
    double irq;
    double softirq;
    double steal;
    double cpu; /* everything but idle */
    double process;
} CpuLoad;

/* Reads the aggregate "cpu" record of a /proc/stat stream into the eight
 * system counters and the total of ticks; 0 when found, -1 otherwise. */
int cpu_scan_stat(FILE *fp, CpuTicks *ticks);
/* Reads utime, stime, cutime and cstime of a /proc/<pid>/stat stream into
 * the process total; the number of those four values read. */
int cpu_scan_self(FILE *fp, CpuTicks *ticks);
/* Takes the current counters: the first call only stores them; later calls
 * write the load of the interval since the stored ones and store the new
 * ones. 1 when it wrote a load, 0 when it only stored the counters (the
 * first call, no tick since the last, or a record with more counters than
 * the stored one), -1 when the record holds fewer counters than the stored
 * one: an unreadable sample, nothing is stored. */
int cpu_update_load(CpuTicks *previous, const CpuTicks *current, CpuLoad *load);

/* One sample of the kernel's counters: as cpu_update_load, or -1 when they
 * could not be read (a file that would not open is reported on standard
 * error; the monitor reports every cycle left without a new load). */
int cpu_sample(CpuLoad *load);

#endif
