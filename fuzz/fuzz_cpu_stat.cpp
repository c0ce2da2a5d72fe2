// fuzz_cpu_stat.cpp - the cpu monitor's /proc/stat reader and load
// arithmetic. The input is a /proc/stat text; its first two aggregate "cpu"
// records are two samples. Beyond the sanitizers' checks: when the sums did
// not wrap, every share lies in 0..100, user, sys, idle, iowait and steal
// add up to 100, and cpu is 100 - idle, whichever counters went backwards.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "cv_cpu.h"

[[noreturn]] static void fail(const char *what)
{
    fprintf(stderr, "cpu load: %s\n", what);
    abort();
}

// Every counter below 2^56, so that the sums did not wrap: the user and
// system counts are within their sums.
static bool small(const CpuTicks &t)
{
    const uint64_t limit = (uint64_t)1 << 56;
    return t.user_nice < limit && t.system_all < limit && t.idle < limit && t.iowait < limit &&
           t.steal < limit && t.nice <= t.user_nice && t.irq + t.softirq <= t.system_all &&
           t.irq < limit && t.softirq < limit;
}

static bool near(double a, double b)
{
    return fabs(a - b) < 1e-6;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<char> text(data, data + size);
    FILE *fp = fmemopen(text.data(), size, "r");
    if (!fp)
        return 0;
    CpuTicks first = {}, second = {};
    int r1 = cpu_scan_stat(fp, &first);
    int r2 = r1 == 0 ? cpu_scan_stat(fp, &second) : -1;
    fclose(fp);
    if (r1 == -1)
        return 0;
    if (r1 != 0 || (r2 != 0 && r2 != -1))
        fail("result neither 0 nor -1");
    if (small(first) &&
        first.total != first.user_nice + first.system_all + first.idle + first.iowait + first.steal)
        fail("total is not the sum of its parts");
    if (r2 != 0)
        return 0;

    CpuTicks previous = {};
    CpuLoad load = {};
    if (cpu_update_load(&previous, &first, &load) != 0 || memcmp(&previous, &first, sizeof first))
        fail("the first sample does not prime the monitor");
    static const CpuTicks none = {};
    CpuTicks counted = first;
    counted.counters = 0;
    bool primed = memcmp(&counted, &none, sizeof none) != 0;
    int r = cpu_update_load(&previous, &second, &load);
    if (r == -1 && (!primed || second.counters >= first.counters ||
                    memcmp(&previous, &first, sizeof first) != 0))
        fail("a sample refused without fewer counters, or the stored one changed");
    if (r != -1 && memcmp(&previous, &second, sizeof second) != 0)
        fail("the new sample is not kept");
    if (!primed || r != 1 || !small(first) || !small(second))
        return 0;
    const double shares[] = {load.user, load.nice, load.sys, load.idle, load.iowait,
                             load.irq, load.softirq, load.steal, load.cpu};
    for (double s : shares) {
        if (!(s >= -1e-9 && s <= 100.0 + 1e-9))
            fail("a share outside 0..100");
    }
    if (!near(load.user + load.sys + load.idle + load.iowait + load.steal, 100.0))
        fail("the shares do not add up to 100");
    if (!near(load.cpu, 100.0 - load.idle))
        fail("cpu is not 100 - idle");
    return 0;
}
