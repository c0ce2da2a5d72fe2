// fuzz_media_sections.cpp - the media module's unit file reader, which
// finds section markers in big blocks, against reading the same file the
// plain way (tests/modules/media_plain_reader.h).
//
// Input: one byte giving the number of steps (1 to 32), that many step
// bytes (find one of the markers below, or read the next line), two bytes
// for the reader's block size, then the unit file.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "cv_media.h"
#include "media_plain_reader.h"

namespace {

const char *const kMarkers[] = {
    "System State:",
    "PoolId    PhysAddr    VirtAddr    IsComm",
    "VPSS GRP WORK STATUS",
    "VI DEV ATTR",
    "VI PHYCHN STATUS 1",
    "VENC CHN ATTR 1",
    "RUN INFO1",
    "AI CHN VQE STATUS0",
    "AO DEV STATUS",
    "x",
    "ab",
};
const size_t kMarkerCount = sizeof kMarkers / sizeof kMarkers[0];

[[noreturn]] void fail(const char *what, size_t step, const std::string &want,
                       const MediaLine &got)
{
    fprintf(stderr, "media reader: %s at step %zu\n  plain: \"%s\"\n  block: \"%.*s\"\n", what,
            step, want.c_str(), (int)got.length, got.text ? got.text : "");
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    size_t steps = data[0] % 32 + 1;
    if (size < 1 + steps + 2)
        return 0;
    const uint8_t *step_bytes = data + 1;
    size_t chunk_code = (size_t)data[1 + steps] << 8 | data[2 + steps];
    // Small blocks put every edge case of the block reader in reach; now and
    // then the real block size.
    size_t chunk = chunk_code == 0xffff ? MEDIA_READ_SIZE : chunk_code % 2100 + 1;
    const uint8_t *file = data + 3 + steps;
    size_t file_size = size - 3 - steps;

    int fd = memfd_create("unit", 0);
    if (fd < 0)
        abort();
    if (file_size > 0 && write(fd, file, file_size) != (ssize_t)file_size)
        abort();
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    MediaFile *mf = media_open_log(path);
    mf->chunk = chunk;
    MediaPlainReader plain = {fopen(path, "r"), {}};
    if (!plain.fp)
        abort();
    for (size_t step = 0; step < steps; step++) {
        std::string want;
        MediaLine got = {nullptr, 0};
        uint8_t op = step_bytes[step];
        if (op % 4 == 0) {
            bool found = plain.read(&want);
            if (media_read_line(mf, &got) != (found ? 1 : 0))
                fail(found ? "read missed a line" : "read past the end", step, want, got);
            if (!found)
                break;
            if (std::string(got.text, got.length) != want)
                fail("read a different line", step, want, got);
        } else {
            const char *marker = kMarkers[(op / 4) % kMarkerCount];
            bool found = plain.find(marker, &want);
            if (media_find_line(mf, marker, &got) != (found ? 1 : 0))
                fail(found ? "find missed the marker" : "find saw a marker that is not there",
                     step, want, got);
            if (!found)
                break;
            if (std::string(got.text, got.length) != want)
                fail("find gave a different line", step, want, got);
        }
    }
    fclose(plain.fp);
    media_close_log(mf);
    close(fd);
    return 0;
}
