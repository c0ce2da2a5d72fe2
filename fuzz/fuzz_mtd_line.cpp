// fuzz_mtd_line.cpp - the mtd module's /proc/mtd line reader with any line
// fgets could hand it (at most 1023 bytes, ending at the first newline).
// Beyond the sanitizers' checks: both text fields stay terminated inside
// their arrays, and an accepted line's device path is "/dev/" followed by
// exactly the text before the line's first colon, with the two sizes read
// as hexadecimal numbers after it.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "cv_mtd.h"

[[noreturn]] static void fail(const char *what, const char *line)
{
    fprintf(stderr, "mtd_parse_partition: %s for line \"%s\"\n", what, line);
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text((const char *)data, size < 1023 ? size : 1023);
    size_t nl = text.find('\n');
    if (nl != std::string::npos)
        text.resize(nl + 1);
    const char *line = text.c_str();

    MtdPartition part;
    memset(&part, 0xa5, sizeof part);
    int r = mtd_parse_partition(line, &part);
    if (r != 0 && r != -1)
        fail("result neither 0 nor -1", line);
    if (!memchr(part.path, '\0', sizeof part.path) || !memchr(part.name, '\0', sizeof part.name))
        fail("unterminated field", line);
    if (r != 0)
        return 0;

    size_t device_len = strcspn(line, ":");
    if (line[device_len] != ':' || device_len == 0)
        fail("accepted without a device name and colon", line);
    std::string want_path = "/dev/" + std::string(line, device_len);
    if (want_path != part.path)
        fail("path is not /dev/ and the device name", line);

    char *end = nullptr;
    uint64_t size_field = strtoull(line + device_len + 1, &end, 16);
    if (size_field != part.size)
        fail("size differs from the hexadecimal field", line);
    // A "0x" with no digit after it the scan consumes whole and strtoul only
    // in part, so the erase size is compared after plain numbers alone.
    const char *first = line + device_len + 1;
    if (memchr(first, 'x', (size_t)(end - first)) == nullptr &&
        memchr(first, 'X', (size_t)(end - first)) == nullptr && (*end == ' ' || *end == '\t')) {
        uint64_t erase_field = strtoull(end, nullptr, 16);
        if (erase_field != part.erase_size)
            fail("erase size differs from the hexadecimal field", line);
    }
    if (part.offset != 0 || part.bad_count != 0)
        fail("fields the reader does not own were not cleared", line);
    return 0;
}
