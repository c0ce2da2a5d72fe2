// fuzz_cpu_self.cpp - the cpu monitor's /proc/self/stat reader with any
// text: it reports how many of the four time fields it read, and the
// process total is their sum.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "cv_cpu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<char> text(data, data + size);
    FILE *fp = fmemopen(text.data(), size, "r");
    if (!fp)
        return 0;
    CpuTicks ticks = {};
    int n = cpu_scan_self(fp, &ticks);
    fclose(fp);
    if (n < 0 || n > 4) {
        fprintf(stderr, "cpu_scan_self read %d fields\n", n);
        abort();
    }
    if (n == 0 && ticks.process != 0) {
        fprintf(stderr, "cpu_scan_self: no field read, process total %llu\n",
                (unsigned long long)ticks.process);
        abort();
    }
    return 0;
}
