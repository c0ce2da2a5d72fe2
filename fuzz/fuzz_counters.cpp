// fuzz_counters.cpp - the bounds of this executable's 8-bit coverage
// counters, for the argument-vector target that copies a child's counters
// back. This file is built without coverage instrumentation: in an
// instrumented file, declaring the section bounds makes the compiler rename
// its own references to them, and the executable's counters are then lost.
#include <stdint.h>

extern "C" uint8_t __start___sancov_cntrs[];
extern "C" uint8_t __stop___sancov_cntrs[];

extern "C" uint8_t *fuzz_counters_start(void)
{
    return __start___sancov_cntrs;
}

extern "C" uint8_t *fuzz_counters_stop(void)
{
    return __stop___sancov_cntrs;
}
