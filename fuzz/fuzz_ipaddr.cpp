// fuzz_ipaddr.cpp - the exported IPv4 check against the scan it stands for:
// "%d%c%d%c%d%c%d%c" must fill exactly seven items, the three separators
// must be dots and the four numbers lie in 0..255. The scan is asked only
// when no run of digits is long enough to overflow an int, where its result
// would be undefined.
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "osa.h"

static bool digit_runs_fit_int(const char *s)
{
    int run = 0;
    for (; *s; s++) {
        run = isdigit((unsigned char)*s) ? run + 1 : 0;
        if (run > 9)
            return false;
    }
    return true;
}

static int scan_check(const char *s)
{
    int n[4];
    char sep[4];
    int items = sscanf(s, "%d%c%d%c%d%c%d%c", &n[0], &sep[0], &n[1], &sep[1], &n[2], &sep[2],
                       &n[3], &sep[3]);
    if (items != 7 || sep[0] != '.' || sep[1] != '.' || sep[2] != '.')
        return 0;
    for (int v : n) {
        if (v < 0 || v > 255)
            return 0;
    }
    return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The check reads a terminated text: a NUL in the input ends it.
    std::string text((const char *)data, size);
    const char *s = text.c_str();
    int got = CheckIPAddr(s);
    if (got != 0 && got != 1) {
        fprintf(stderr, "CheckIPAddr returned %d\n", got);
        abort();
    }
    if (digit_runs_fit_int(s)) {
        int want = scan_check(s);
        if (got != want) {
            fprintf(stderr, "CheckIPAddr(\"%s\") = %d, the scan says %d\n", s, got, want);
            abort();
        }
    }
    if (size == 0 && CheckIPAddr(nullptr) != 0)
        abort();
    return 0;
}
