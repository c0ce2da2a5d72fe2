// media_plain_reader.h - the plain way of reading a media unit file, which
// the module's block reader must match: lines of at most 1023 bytes with
// fgets, each searched with strstr and seen up to its first NUL byte, as
// "%s" prints it. The reader's test and its fuzz target compare against it.
#ifndef MEDIA_PLAIN_READER_H
#define MEDIA_PLAIN_READER_H

#include <stdio.h>
#include <string.h>

#include <string>

struct MediaPlainReader {
    FILE *fp;
    char buf[1024];

    // The next line, or false at the end of the file.
    bool read(std::string *line)
    {
        memset(buf, 0, sizeof buf);
        if (!fgets(buf, sizeof buf, fp))
            return false;
        *line = buf;
        return true;
    }
    // Reads up to and including the first line that contains marker.
    bool find(const char *marker, std::string *line)
    {
        while (read(line)) {
            if (strstr(buf, marker))
                return true;
        }
        return false;
    }
};

#endif
