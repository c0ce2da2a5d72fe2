/* cv_media.cpp - media module: runs the media status script, which leaves
 * one text file per audio and video pipeline unit in /tmp/media, then
 * copies whole unit files to the terminal or prints chosen sections of
 * them: a heading line found by a marker text and a fixed number of the
 * lines after it. */
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "cv_media.h"
#include "debug.h"

/* Indexed by the option value of the unit options; no option has value 12. */
static const char *const media_unit_names[24] = {
    "acodec", "adec", "aenc", "ai",  "ao",   "audio", "chnl", "h264e",
    "h265e",  "isp",  "ive",  "jpege", "",   "rc",    "rgn",  "sys",
    "vb",     "vda",  "venc", "vgs", "vi",   "vo",    "vpss", "video",
};

enum {
    MEDIA_OPT_AUDIO = 5,
    MEDIA_OPT_VIDEO = 23,
};

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t media_module_id = 19;

static const struct option media_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"all", no_argument, nullptr, 'a'},
    {"acodec", no_argument, nullptr, 0},
    {"adec", no_argument, nullptr, 1},
    {"aenc", no_argument, nullptr, 2},
    {"ai", no_argument, nullptr, 3},
    {"ao", no_argument, nullptr, 4},
    {"audio", no_argument, nullptr, 5},
    {"chnl", no_argument, nullptr, 6},
    {"h264e", no_argument, nullptr, 7},
    {"h265e", no_argument, nullptr, 8},
    {"isp", no_argument, nullptr, 9},
    {"ive", no_argument, nullptr, 10},
    {"jpege", no_argument, nullptr, 11},
    {"rc", no_argument, nullptr, 13},
    {"rgn", no_argument, nullptr, 14},
    {"sys", no_argument, nullptr, 15},
    {"vb", no_argument, nullptr, 16},
    {"vda", no_argument, nullptr, 17},
    {"venc", no_argument, nullptr, 18},
    {"vgs", no_argument, nullptr, 19},
    {"vi", no_argument, nullptr, 20},
    {"vo", no_argument, nullptr, 21},
    {"vpss", no_argument, nullptr, 22},
    {"video", no_argument, nullptr, 23},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp media_option_help[] = {
    {"module", "module name: media"},
    {"", "Display all information!"},
    {"", "Display acodec information!"},
    {"", "Display adec information!"},
    {"", "Display aenc information!"},
    {"", "Display ai information!"},
    {"", "Display ao information!"},
    {"", "Display audio information!"},
    {"", "Display chnl information!"},
    {"", "Display h264e information!"},
    {"", "Display h265e information!"},
    {"", "Display isp information!"},
    {"", "Display ive information!"},
    {"", "Display jpege information!"},
    {"", "Display rc information!"},
    {"", "Display rgn information!"},
    {"", "Display sys information!"},
    {"", "Display vb information!"},
    {"", "Display vda information!"},
    {"", "Display venc information!"},
    {"", "Display vgs information!"},
    {"", "Display vi information!"},
    {"", "Display vo information!"},
    {"", "Display vpss information!"},
    {"", "Display video information!"},
};

/* A marker and how many of the lines after its line are printed. */
typedef struct MediaMarker {
    const char *text;
    int lines;
} MediaMarker;

/* One printer: the heading goes before the first marker's line. */
typedef struct MediaSection {
    const char *path;
    const char *heading;
    const MediaMarker *markers;
    int count;
} MediaSection;

static const MediaMarker media_sys_markers[] = {{"System State:", 0}};
/* Four blanks between the words, as the unit file has them. */
static const MediaMarker media_vb_markers[] = {{"PoolId    PhysAddr    VirtAddr    IsComm", 1}};
static const MediaMarker media_vpss_markers[] = {
    {"VPSS GRP WORK STATUS", 2},
    {"VPSS CHN OUTPUT RESOLUTION", 3},
};
static const MediaMarker media_vi_markers[] = {
    {"VI DEV ATTR", 2},       {"VI PHYCHN ATTR", 2},    {"VI PHYCHN STATUS 1", 2},
    {"VI PHYCHN STATUS 2", 2}, {"VI WDR ATTR", 2},      {"VI WDR DES STATUS", 2},
    {"VI WDR SRC STATUS", 2}, {"VI WDR COMBINE STATUS", 2}, {"VI CHN STATUS", 2},
};
static const MediaMarker media_venc_markers[] = {{"VENC CHN ATTR 1", 5}, {"VENC STREAM STATE", 5}};
static const MediaMarker media_rc_markers[] = {{"RUN INFO1", 5}};

static const MediaMarker media_acodec_markers[] = {{"ACODEC PARAM", 2}};
static const MediaMarker media_ao_markers[] = {{"AO DEV ATTR", 2}, {"AO DEV STATUS", 2}};
static const MediaMarker media_adec_markers[] = {{"ADEC CHN ATTR", 2}};
static const MediaMarker media_ai_markers[] = {{"AI DEV ATTR", 2}, {"AI DEV STATUS", 2}};
static const MediaMarker media_aenc_markers[] = {{"AENC CHN ATTR", 2}};
static const MediaMarker media_ai_vqe_markers[] = {
    {"AI CHN VQE STATUS0", 2}, {"AI CHN VQE STATUS1", 2}, {"AI CHN VQE STATUS2", 2},
    {"AI CHN VQE STATUS3", 2}, {"AI CHN VQE STATUS4", 2},
};
static const MediaMarker media_ao_vqe_markers[] = {
    {"AO CHN VQE STATUS0", 2}, {"AO CHN VQE STATUS1", 2}, {"AO CHN VQE STATUS2", 2},
    {"AO CHN VQE STATUS3", 2}, {"AO CHN VQE STATUS4", 2},
};

#define MEDIA_MARKERS(list) list, (int)(sizeof list / sizeof list[0])

static const MediaSection media_video_sections[] = {
    {"/tmp/media/sys.log", "[SYS]\n", MEDIA_MARKERS(media_sys_markers)},
    {"/tmp/media/vb.log", "[VB]\n", MEDIA_MARKERS(media_vb_markers)},
    {"/tmp/media/vpss.log", "[VPSS]\n", MEDIA_MARKERS(media_vpss_markers)},
    {"/tmp/media/vi.log", "[VI]\n", MEDIA_MARKERS(media_vi_markers)},
    {"/tmp/media/venc.log", "[VENC]\n", MEDIA_MARKERS(media_venc_markers)},
    {"/tmp/media/rc.log", "[RC]\n", MEDIA_MARKERS(media_rc_markers)},
};
static const MediaSection media_audio_sections[] = {
    {"/tmp/media/acodec.log", "[ACODEC]\n", MEDIA_MARKERS(media_acodec_markers)},
    {"/tmp/media/ao.log", "[AO]\n", MEDIA_MARKERS(media_ao_markers)},
    {"/tmp/media/adec.log", "[ADEC]\n", MEDIA_MARKERS(media_adec_markers)},
    {"/tmp/media/ai.log", "[AI]\n", MEDIA_MARKERS(media_ai_markers)},
    {"/tmp/media/aenc.log", "[AENC]\n", MEDIA_MARKERS(media_aenc_markers)},
};
static const MediaSection media_ai_vqe_section = {"/tmp/media/ai.log", "[AI VQE]\n",
                                                  MEDIA_MARKERS(media_ai_vqe_markers)};
static const MediaSection media_ao_vqe_section = {"/tmp/media/ao.log", "[AO VQE]\n",
                                                  MEDIA_MARKERS(media_ao_vqe_markers)};

static void media_usage(void)
{
    print_module_usage(media_module_id, media_options, media_option_help);
}

/* ---- unit file reader ----
 * Unit files may be large with the wanted sections near the end, so they
 * are read in big blocks and searched with memmem, never copied line by
 * line; what is found is exactly what reading lines of at most
 * MEDIA_LINE_MAX bytes and searching each with strstr would find. */

/* At most two unit files are open at once (the VQE printer). */
static MediaFile g_media_files[2];

MediaFile *media_open_log(const char *path)
{
    MediaFile *mf = !g_media_files[0].in_use ? &g_media_files[0] : &g_media_files[1];
    /* Never blocking: a FIFO planted under a unit's name in /tmp would hold
     * the open, or a read, until a writer came. It reads as empty instead;
     * files and devices ignore the flag. */
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    mf->fp = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (!mf->fp) {
        if (fd >= 0)
            close(fd);
        perror("fopen");
        exit(-1);
    }
    struct stat st;
    mf->endless = fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
    snprintf(mf->path, sizeof mf->path, "%s", path);
    mf->start = 0;
    mf->end = 0;
    mf->chunk = MEDIA_READ_SIZE;
    mf->eof = 0;
    mf->in_use = 1;
    return mf;
}

void media_close_log(MediaFile *mf)
{
    fclose(mf->fp);
    mf->fp = nullptr;
    mf->in_use = 0;
}

/* Drops the bytes before start and reads one more block after the rest.
 * A stop request ends a unit that is not a regular file (a link to a
 * device, a FIFO fed for ever), which would otherwise be searched for
 * ever; a regular file ends by itself and is read to its end, so that a
 * stop leaves every section a script looks for in place. */
static void media_fill(MediaFile *mf)
{
    if (g_stop_flag && mf->endless) {
        if (!mf->eof)
            report_error("stop requested, %s not read to its end\n", mf->path);
        mf->eof = 1;
        return;
    }
    if (mf->start > 0) {
        memmove(mf->data, mf->data + mf->start, mf->end - mf->start);
        mf->end -= mf->start;
        mf->start = 0;
    }
    size_t room = sizeof mf->data - mf->end;
    size_t want = mf->chunk < room ? mf->chunk : room;
    errno = 0;
    size_t got = fread(mf->data + mf->end, 1, want, mf->fp);
    mf->end += got;
    if (got == 0) {
        /* A FIFO whose writer has nothing yet answers EAGAIN rather than
         * hold the run; what it leaves out must not pass for a unit
         * without the marker. */
        if (ferror(mf->fp))
            report_error("read %s failed: %s\n", mf->path, strerror(errno));
        mf->eof = 1;
    }
}

/* The end of the line that begins at from: 1 when the whole line is in
 * the buffer, 0 when more must be read first, -1 at the end of the file. */
static int media_line_end(const MediaFile *mf, size_t from, size_t *line_end)
{
    /* Set on every path, though callers read it only after a whole line:
     * an optimising compiler cannot see that and warns. */
    *line_end = from;
    size_t avail = mf->end - from;
    size_t limit = avail < MEDIA_LINE_MAX ? avail : MEDIA_LINE_MAX;
    const char *nl = (const char *)memchr(mf->data + from, '\n', limit);
    if (nl) {
        *line_end = (size_t)(nl - mf->data) + 1;
        return 1;
    }
    if (avail >= MEDIA_LINE_MAX) {
        *line_end = from + MEDIA_LINE_MAX;
        return 1;
    }
    if (!mf->eof)
        return 0;
    if (avail == 0)
        return -1;
    *line_end = mf->end;
    return 1;
}

/* Where a line begins for the byte at pos: lines begin after a newline
 * and every MEDIA_LINE_MAX bytes into a longer one. */
static size_t media_line_start(const MediaFile *mf, size_t pos)
{
    const char *nl = (const char *)memrchr(mf->data + mf->start, '\n', pos - mf->start);
    size_t text_start = nl ? (size_t)(nl - mf->data) + 1 : mf->start;
    return text_start + (pos - text_start) / MEDIA_LINE_MAX * MEDIA_LINE_MAX;
}

static void media_take_line(MediaFile *mf, size_t from, size_t to, MediaLine *line)
{
    line->text = mf->data + from;
    const char *nul = (const char *)memchr(line->text, '\0', to - from);
    line->length = nul ? (size_t)(nul - line->text) : to - from;
    mf->start = to;
}

int media_read_line(MediaFile *mf, MediaLine *line)
{
    for (;;) {
        size_t to;
        int r = media_line_end(mf, mf->start, &to);
        if (r < 0)
            return 0;
        if (r > 0) {
            media_take_line(mf, mf->start, to, line);
            return 1;
        }
        media_fill(mf);
    }
}

int media_find_line(MediaFile *mf, const char *marker, MediaLine *line)
{
    size_t marker_len = strlen(marker);
    size_t from = mf->start;
    for (;;) {
        const char *hit = (const char *)memmem(mf->data + from, mf->end - from, marker, marker_len);
        if (!hit) {
            if (mf->eof) {
                mf->start = mf->end;
                return 0;
            }
            /* Every whole line before the last, unfinished one has been
             * searched; keep that one and read on. */
            mf->start = mf->end > mf->start ? media_line_start(mf, mf->end) : mf->start;
            media_fill(mf);
            from = mf->start;
            continue;
        }
        size_t pos = (size_t)(hit - mf->data);
        size_t begin = media_line_start(mf, pos);
        size_t to;
        if (media_line_end(mf, begin, &to) == 0) {
            mf->start = begin;
            media_fill(mf);
            from = mf->start;
            continue;
        }
        /* strstr sees a line only up to its first NUL byte. */
        if (pos + marker_len <= to && !memchr(mf->data + begin, '\0', pos + marker_len - begin)) {
            media_take_line(mf, begin, to, line);
            return 1;
        }
        from = pos + 1;
    }
}

static void media_print_line(const MediaLine *line)
{
    printf("%.*s", (int)line->length, line->text);
}

static void media_print_lines(MediaFile *mf, int count)
{
    MediaLine line;
    for (int i = 0; i < count && media_read_line(mf, &line); i++)
        media_print_line(&line);
}

/* The markers of one section, in order, on an open file. A file is read
 * once from top to bottom, so a marker missing from it also hides the
 * markers after it. */
static void media_print_markers(MediaFile *mf, const MediaSection *section)
{
    MediaLine line;
    for (int i = 0; i < section->count; i++) {
        if (!media_find_line(mf, section->markers[i].text, &line))
            continue;
        if (i == 0)
            printf("%s", section->heading);
        media_print_line(&line);
        media_print_lines(mf, section->markers[i].lines);
    }
}

static void media_print_section(const MediaSection *section)
{
    MediaFile *mf = media_open_log(section->path);
    media_print_markers(mf, section);
    printf("\n");
    media_close_log(mf);
}

static void media_show_video(void)
{
    for (const MediaSection &section : media_video_sections)
        media_print_section(&section);
}

static void media_show_vqe(void)
{
    MediaFile *ao = media_open_log(media_ao_vqe_section.path);
    MediaFile *ai = media_open_log(media_ai_vqe_section.path);
    media_print_markers(ai, &media_ai_vqe_section);
    media_print_markers(ao, &media_ao_vqe_section);
    printf("\n");
    media_close_log(ao);
    media_close_log(ai);
}

static void media_show_audio(void)
{
    for (const MediaSection &section : media_audio_sections)
        media_print_section(&section);
    media_show_vqe();
}

static void media_show_all(void)
{
    media_show_video();
    media_show_audio();
}

static void media_cat_log(const char *unit)
{
    char cmd[128];
    snprintf(cmd, sizeof cmd, "cat /tmp/media/%s.log", unit);
    OSA_system(cmd);
}

static int media_init_param(int argc, char **argv)
{
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:a", media_options, nullptr)) != -1) {
        switch (c) {
        case 'M':
            break;
        case 'a':
            media_show_all();
            break;
        case MEDIA_OPT_AUDIO:
            media_show_audio();
            break;
        case MEDIA_OPT_VIDEO:
            media_show_video();
            break;
        case '?':
            report_error("Unknow option\n");
            return -1;
        default:
            /* Every other unit option copies its unit file. */
            if (c >= 0 && c < MEDIA_OPT_VIDEO && media_unit_names[c][0])
                media_cat_log(media_unit_names[c]);
            break;
        }
    }
    return 0;
}

static int media_test_main(int argc, char **argv)
{
    OSA_system("av_log.sh");
    if (media_init_param(argc, argv) != 0) {
        media_usage();
        exit(-1);
    }
    return 0;
}

static ModuleDesc g_media_module = {"media", media_module_id, media_test_main, media_usage, nullptr};
DEBUG_MODULE(g_media_module)
