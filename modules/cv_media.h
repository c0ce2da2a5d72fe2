/* cv_media.h - the media module's unit file reader, for the module's tests. */
#ifndef CV_MEDIA_H
#define CV_MEDIA_H

#include <stddef.h>
#include <stdio.h>

/* A unit file is read as lines of at most MEDIA_LINE_MAX bytes: a longer
 * line comes in pieces of that size, each piece counting as a line. */
#define MEDIA_LINE_MAX 1023
#define MEDIA_READ_SIZE (256 * 1024)

typedef struct MediaFile {
    FILE *fp;
    size_t start; /* next unread byte of data; always where a line begins */
    size_t end;   /* end of the bytes read so far */
    size_t chunk; /* bytes asked of one read */
    int eof;
    int in_use;
    int endless;      /* not a regular file: it may never end */
    char path[64];    /* named on standard error if a stop cuts it short */
    char data[MEDIA_READ_SIZE + MEDIA_LINE_MAX];
} MediaFile;

typedef struct MediaLine {
    const char *text;
    size_t length; /* up to the line's first NUL byte, as "%s" prints it */
} MediaLine;

/* Opens path; a file that cannot be opened ends the process (status 255). */
MediaFile *media_open_log(const char *path);
void media_close_log(MediaFile *mf);
/* 1 and the next line, or 0 at the end of the file. The line stays valid
 * until the next read from the same file. */
int media_read_line(MediaFile *mf, MediaLine *line);
/* Reads up to and including the first line that contains marker: 1 and
 * that line, or 0 when the end of the file came first. */
int media_find_line(MediaFile *mf, const char *marker, MediaLine *line);

#endif
