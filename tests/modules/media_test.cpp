// media_test.cpp - the media module's unit file reader against the plain
// way of reading the same file: lines of at most 1023 bytes with fgets,
// each searched with strstr, whatever the size of the reader's blocks.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "cv_media.h"
#include "media_plain_reader.h"

namespace {

std::string text_of(const MediaLine &line)
{
    return std::string(line.text, line.length);
}

struct TempFile {
    std::string path;
    explicit TempFile(const std::string &data)
    {
        char name[] = "/tmp/media_test_XXXXXX";
        int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, data.data(), data.size()), (ssize_t)data.size());
        close(fd);
        path = name;
    }
    ~TempFile() { unlink(path.c_str()); }
};

// An open unit file, closed however the test ends: the reader has only
// two places for open files.
struct OpenUnit {
    MediaFile *mf;
    explicit OpenUnit(const std::string &path) : mf(media_open_log(path.c_str())) {}
    ~OpenUnit() { media_close_log(mf); }
};

const char *const kMarkers[] = {"VI DEV ATTR", "VI CHN STATUS", "PoolId    PhysAddr", "RUN INFO1"};

// A unit file with lines of all lengths, long lines that come in pieces,
// markers near piece and block edges, cut in two by a piece edge, and
// behind NUL bytes.
std::string make_unit_file(std::mt19937 &rng, size_t approx_size)
{
    std::string data;
    auto pick = [&](size_t n) { return (size_t)(rng() % n); };
    while (data.size() < approx_size) {
        std::string line;
        switch (pick(8)) {
        case 0: // long line, a marker somewhere in it
            line = std::string(900 + pick(1300), 'x');
            line.insert(pick(line.size()), kMarkers[pick(4)]);
            break;
        case 1: // a marker around the first piece edge
            line = std::string(1023 - 12 + pick(20), 'y') + kMarkers[pick(4)];
            break;
        case 2: // a NUL byte before or after a marker
            line = std::string("ab") + (pick(2) ? std::string(1, '\0') + kMarkers[pick(4)]
                                                 : kMarkers[pick(4)] + std::string(1, '\0'));
            break;
        case 3:
            line = std::string(pick(3) == 0 ? 1022 + pick(3) : pick(80), '-');
            break;
        default:
            line = "-----" + std::string(kMarkers[pick(4)]) + "------";
            break;
        }
        data += line + "\n";
    }
    if (pick(2))
        data += "last line without a newline VI CHN STATUS";
    return data;
}

TEST(MediaReader, FindsAndReadsWhatLineByLineReadingFindsForAnyBlockSize)
{
    std::mt19937 rng(20240611);
    const size_t chunks[] = {1, 7, 1000, 1023, 1024, 4099, MEDIA_READ_SIZE};
    for (int round = 0; round < 12; round++) {
        std::string data = make_unit_file(rng, round < 9 ? 40000 : 3 * MEDIA_READ_SIZE);
        TempFile file(data);
        for (size_t chunk : chunks) {
            if (chunk < 1000 && data.size() > 100000)
                continue; // byte-sized reads of big files add nothing but time
            SCOPED_TRACE("round " + std::to_string(round) + " chunk " + std::to_string(chunk));
            OpenUnit unit(file.path);
            MediaFile *mf = unit.mf;
            mf->chunk = chunk;
            MediaPlainReader plain = {fopen(file.path.c_str(), "r"), {}};
            ASSERT_NE(plain.fp, nullptr);
            std::mt19937 ops(round * 100 + (unsigned)chunk);
            for (int step = 0; step < 5000; step++) {
                std::string want;
                MediaLine got;
                if (ops() % 3 == 0) {
                    bool found = plain.read(&want);
                    ASSERT_EQ(media_read_line(mf, &got), found ? 1 : 0) << "read at step " << step;
                    if (!found)
                        break;
                    ASSERT_EQ(text_of(got), want) << "read at step " << step;
                } else {
                    const char *marker = kMarkers[ops() % 4];
                    bool found = plain.find(marker, &want);
                    ASSERT_EQ(media_find_line(mf, marker, &got), found ? 1 : 0)
                        << "find " << marker << " at step " << step;
                    if (!found)
                        break;
                    ASSERT_EQ(text_of(got), want) << "find " << marker << " at step " << step;
                }
            }
            fclose(plain.fp);
        }
    }
}

} // namespace
