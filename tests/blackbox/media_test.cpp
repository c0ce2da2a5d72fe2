// media_test.cpp - the media module: the video and audio sections taken
// from the unit files, whole unit files copied, missing markers and files,
// and option errors. The unit files come from tests/fixtures/media through
// the sandbox's av_log.sh; expected sections name fixture lines by number.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kUsage = module_usage("media");

const std::vector<std::string> kUnits = {
    "acodec", "adec", "aenc", "ai",  "ao",  "chnl", "h264e", "h265e", "isp", "ive", "jpege",
    "rc",     "rgn",  "sys",  "vb",  "vda", "venc", "vgs",   "vi",    "vo",  "vpss"};

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return lines;
}

// A copy of the fixture unit files in the camera's scratch directory,
// handed to av_log.sh, which the tests may edit before a run.
class Units {
public:
    explicit Units(Camsim &cam) : dir_(cam.scratch() + "/media")
    {
        mkdir(dir_.c_str(), 0755);
        for (auto &unit : kUnits)
            write(unit, read_whole_file(fixture_path("media/" + unit + ".log")));
        cam.option("--media", dir_);
    }
    std::string read(const std::string &unit) const
    {
        return read_whole_file(dir_ + "/" + unit + ".log");
    }
    void write(const std::string &unit, const std::string &text) const
    {
        write_whole_file(dir_ + "/" + unit + ".log", text);
    }
    void remove(const std::string &unit) const { unlink((dir_ + "/" + unit + ".log").c_str()); }
    // Lines counted from 1, each with its newline.
    std::string lines(const std::string &unit, const std::vector<int> &numbers) const
    {
        std::vector<std::string> all = split_lines(read(unit));
        std::string out;
        for (int n : numbers)
            out += all.at((size_t)n - 1);
        return out;
    }
    void replace_line(const std::string &unit, int number, const std::string &line) const
    {
        std::vector<std::string> all = split_lines(read(unit));
        all.at((size_t)number - 1) = line + "\n";
        std::string text;
        for (auto &l : all)
            text += l;
        write(unit, text);
    }
    // Keeps the first count lines and then tail (a line cut short).
    void truncate(const std::string &unit, int count, const std::string &tail = "") const
    {
        std::vector<std::string> all = split_lines(read(unit));
        std::string text;
        for (int i = 0; i < count; i++)
            text += all.at((size_t)i);
        write(unit, text + tail);
    }

private:
    std::string dir_;
};

std::vector<int> range(int first, int last)
{
    std::vector<int> v;
    for (int i = first; i <= last; i++)
        v.push_back(i);
    return v;
}

// The sections of the unedited fixtures.
std::string sys_section(const Units &u) { return "[SYS]\n" + u.lines("sys", {14}) + "\n"; }
std::string vb_section(const Units &u) { return "[VB]\n" + u.lines("vb", {14, 15}) + "\n"; }
std::string vpss_section(const Units &u)
{
    return "[VPSS]\n" + u.lines("vpss", {11, 12, 13, 20, 21, 22, 23}) + "\n";
}
const std::vector<int> kViBlocks = {7,  8,  9,  15, 16, 17, 19, 20, 21, 23, 24, 25, 27, 28,
                                    29, 31, 32, 33, 35, 36, 37, 39, 40, 41, 43, 44, 45};
std::string vi_section(const Units &u) { return "[VI]\n" + u.lines("vi", kViBlocks) + "\n"; }
std::string venc_section(const Units &u)
{
    std::vector<int> blocks = range(7, 12);
    for (int n : range(19, 24))
        blocks.push_back(n);
    return "[VENC]\n" + u.lines("venc", blocks) + "\n";
}
std::string rc_section(const Units &u) { return "[RC]\n" + u.lines("rc", range(8, 13)) + "\n"; }
std::string video(const Units &u)
{
    return sys_section(u) + vb_section(u) + vpss_section(u) + vi_section(u) + venc_section(u) +
           rc_section(u);
}

std::string acodec_section(const Units &u) { return "[ACODEC]\n" + u.lines("acodec", {3, 4, 5}) + "\n"; }
std::string ao_section(const Units &u) { return "[AO]\n" + u.lines("ao", {3, 4, 5, 7, 8, 9}) + "\n"; }
std::string adec_section(const Units &u) { return "[ADEC]\n" + u.lines("adec", {3, 4, 5}) + "\n"; }
std::string ai_section(const Units &u) { return "[AI]\n" + u.lines("ai", {3, 4, 5, 7, 8, 9}) + "\n"; }
std::string aenc_section(const Units &u) { return "[AENC]\n" + u.lines("aenc", {3, 4, 5}) + "\n"; }
const std::vector<int> kVqeBlocks = {15, 16, 17, 19, 20, 21, 23, 24, 25, 27, 28, 29, 31, 32, 33};
std::string vqe_section(const Units &u)
{
    return "[AI VQE]\n" + u.lines("ai", kVqeBlocks) + "[AO VQE]\n" + u.lines("ao", kVqeBlocks) + "\n";
}
std::string audio(const Units &u)
{
    return acodec_section(u) + ao_section(u) + adec_section(u) + ai_section(u) + aenc_section(u) +
           vqe_section(u);
}

TEST(MediaModule, VideoPrintsItsSixSectionsFromTheUnitFiles)
{
    Camsim cam;
    Units units(cam);
    CamsimResult r = cam.debug({"-M", "media", "--video"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, video(units));
}

TEST(MediaModule, AudioPrintsItsFiveSectionsThenTheAiAndAoVqeBlocks)
{
    Camsim cam;
    Units units(cam);
    CamsimResult r = cam.debug({"-M", "media", "--audio"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, audio(units));
}

TEST(MediaModule, OptionsActInCommandLineOrderAndAsOftenAsGiven)
{
    Camsim cam;
    Units units(cam);
    CamsimResult r = cam.run("debug -M media -a > $CAMSIM_DIR/all;"
                             "debug -M media --audio --video > $CAMSIM_DIR/audio-video;"
                             "debug -M media --video --video > $CAMSIM_DIR/twice;"
                             "debug -M media --vb --sys --audio --acodec > $CAMSIM_DIR/mixed");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(cam.read_file("all"), video(units) + audio(units));
    EXPECT_EQ(cam.read_file("audio-video"), audio(units) + video(units));
    EXPECT_EQ(cam.read_file("twice"), video(units) + video(units));
    EXPECT_EQ(cam.read_file("mixed"),
              units.read("vb") + units.read("sys") + audio(units) + units.read("acodec"));
}

TEST(MediaModule, NoOptionRunsTheStatusScriptAndPrintsNothing)
{
    Camsim cam;
    Units units(cam);
    CamsimResult r = cam.run("debug -M media; st=$?; ls /tmp/media > $CAMSIM_DIR/units; exit $st");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(split_lines(cam.read_file("units")).size(), kUnits.size());
}

TEST(MediaModule, EveryUnitOptionCopiesItsWholeUnitFile)
{
    Camsim cam;
    Units units(cam);
    std::string script;
    for (auto &unit : kUnits)
        script += "debug -M media --" + unit + " > $CAMSIM_DIR/" + unit + " || exit 1;";
    CamsimResult r = cam.run(script);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (auto &unit : kUnits)
        EXPECT_EQ(cam.read_file(unit), units.read(unit)) << "--" << unit;
}

TEST(MediaModule, MissingFileOfACopiedUnitIsReportedByCatAndTheRunGoesOn)
{
    Camsim cam;
    Units units(cam);
    units.remove("rgn");
    CamsimResult r = cam.debug({"-M", "media", "--rgn", "--acodec"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, units.read("acodec"));
    EXPECT_EQ(r.err, "cat: /tmp/media/rgn.log: No such file or directory\n");
}

struct SectionCase {
    const char *what;
    std::vector<std::string> args;
    std::function<void(const Units &)> edit;
    std::function<std::string(const Units &)> expected;
};

TEST(MediaModule, SectionsShowOnlyTheMarkersFoundInOrderFromTopToBottom)
{
    const std::vector<SectionCase> cases = {
        {"missing marker hides its block and the later ones of the file",
         {"--video"},
         [](const Units &u) { u.replace_line("vi", 23, "-----VI PHYCHN STATUS II-----"); },
         [](const Units &u) {
             return sys_section(u) + vb_section(u) + vpss_section(u) + "[VI]\n" +
                    u.lines("vi", range(7, 9)) + u.lines("vi", range(15, 17)) +
                    u.lines("vi", range(19, 21)) + "\n" + venc_section(u) + rc_section(u);
         }},
        {"missing first marker drops the heading and the whole section",
         {"--video"},
         [](const Units &u) { u.replace_line("vi", 7, "-----VI DEVICE ATTR-----"); },
         [](const Units &u) {
             return sys_section(u) + vb_section(u) + vpss_section(u) + "\n" + venc_section(u) +
                    rc_section(u);
         }},
        {"marker placed before the previous one is not found",
         {"--video"},
         [](const Units &u) {
             u.replace_line("vpss", 11, "-----VPSS CHN OUTPUT RESOLUTION-----");
             u.replace_line("vpss", 20, "-----VPSS GRP WORK STATUS-----");
         },
         [](const Units &u) {
             return sys_section(u) + vb_section(u) + "[VPSS]\n" + u.lines("vpss", {20, 21, 22}) +
                    "\n" + vi_section(u) + venc_section(u) + rc_section(u);
         }},
        {"marker inside the lines printed for the previous one is taken from further on",
         {"--video"},
         [](const Units &u) { u.replace_line("vpss", 12, " see VPSS CHN OUTPUT RESOLUTION below"); },
         [](const Units &u) {
             return sys_section(u) + vb_section(u) + "[VPSS]\n" +
                    u.lines("vpss", {11, 12, 13, 20, 21, 22, 23}) + "\n" + vi_section(u) +
                    venc_section(u) + rc_section(u);
         }},
        {"block cut short by the end of the file prints the lines there are",
         {"--video"},
         [](const Units &u) { u.truncate("rc", 10, "     1          768"); },
         [](const Units &u) {
             return sys_section(u) + vb_section(u) + vpss_section(u) + vi_section(u) +
                    venc_section(u) + "[RC]\n" + u.lines("rc", {8, 9, 10, 11}) + "\n";
         }},
        {"VB marker on the last line prints that line alone",
         {"--video"},
         [](const Units &u) { u.truncate("vb", 14); },
         [](const Units &u) {
             return sys_section(u) + "[VB]\n" + u.lines("vb", {14}) + "\n" + vpss_section(u) +
                    vi_section(u) + venc_section(u) + rc_section(u);
         }},
        {"VB marker needs its four blanks between the words",
         {"--video"},
         [](const Units &u) {
             u.replace_line("vb", 14, "PoolId PhysAddr VirtAddr IsComm Owner BlkSz BlkCnt Free");
         },
         [](const Units &u) {
             return sys_section(u) + "\n" + vpss_section(u) + vi_section(u) + venc_section(u) +
                    rc_section(u);
         }},
        {"line longer than 1023 bytes comes in pieces, the marker's piece is printed",
         {"--video"},
         [](const Units &u) {
             u.replace_line("sys", 14, std::string(1030, '#') + " System State: 0");
         },
         [](const Units &u) {
             return "[SYS]\n" + std::string(7, '#') + " System State: 0\n\n" + vb_section(u) +
                    vpss_section(u) + vi_section(u) + venc_section(u) + rc_section(u);
         }},
        {"AI VQE block stops at its missing marker, the AO VQE block follows",
         {"--audio"},
         [](const Units &u) { u.replace_line("ai", 23, "-----AI CHN VQE STATE2-----"); },
         [](const Units &u) {
             return acodec_section(u) + ao_section(u) + adec_section(u) + ai_section(u) +
                    aenc_section(u) + "[AI VQE]\n" + u.lines("ai", {15, 16, 17, 19, 20, 21}) +
                    "[AO VQE]\n" + u.lines("ao", kVqeBlocks) + "\n";
         }},
        {"AO VQE heading only with its first marker",
         {"--audio"},
         [](const Units &u) { u.replace_line("ao", 15, "-----AO CHN VQE-----"); },
         [](const Units &u) {
             return acodec_section(u) + ao_section(u) + adec_section(u) + ai_section(u) +
                    aenc_section(u) + "[AI VQE]\n" + u.lines("ai", kVqeBlocks) + "\n";
         }},
    };
    for (const SectionCase &c : cases) {
        SCOPED_TRACE(c.what);
        Camsim cam;
        Units units(cam);
        c.edit(units);
        CamsimResult r = cam.module("media", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, c.expected(units));
    }
}

TEST(MediaModule, MissingUnitFileEndsTheProcessAfterTheEarlierSections)
{
    struct MissingCase {
        const char *unit;
        std::vector<std::string> args;
        std::function<std::string(const Units &)> expected;
    };
    const std::vector<MissingCase> cases = {
        {"rc", {"-a"},
         [](const Units &u) {
             return sys_section(u) + vb_section(u) + vpss_section(u) + vi_section(u) +
                    venc_section(u);
         }},
        {"ai", {"--audio", "--video"},
         [](const Units &u) { return acodec_section(u) + ao_section(u) + adec_section(u); }},
        {"sys", {"--video"}, [](const Units &) { return std::string(); }},
    };
    for (const MissingCase &c : cases) {
        SCOPED_TRACE(c.unit);
        Camsim cam;
        Units units(cam);
        units.remove(c.unit);
        CamsimResult r = cam.module("media", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, c.expected(units));
        EXPECT_EQ(r.err, "fopen: No such file or directory\n");
    }
}

TEST(MediaModule, UnknownOptionAfterVideoPrintsVideoThenTheErrorAndUsageAndExits255)
{
    Camsim cam;
    Units units(cam);
    CamsimResult r = cam.debug({"-M", "media", "--video", "--bogus", "--audio"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, video(units) + kUsage);
    EXPECT_EQ(without_line_numbers(r.err), "debug: unrecognized option '--bogus'\n"
                                           " ERROR  (cv_media|media_init_param|N): Unknow option\n");
}

TEST(MediaModule, StatusScriptRunsEvenWhenTheOptionsAreWrong)
{
    Camsim cam;
    Units units(cam);
    CamsimResult r = cam.run("debug -M media -z; st=$?; ls /tmp/media > $CAMSIM_DIR/units; exit $st");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(without_line_numbers(r.err), "debug: invalid option -- 'z'\n"
                                           " ERROR  (cv_media|media_init_param|N): Unknow option\n");
    EXPECT_EQ(split_lines(cam.read_file("units")).size(), kUnits.size());
}

TEST(MediaModule, AUnitCutShortIsNamedOnStandardErrorAndTheOthersKeepTheirSections)
{
    // A stop request cuts short only what would be read for ever, and a
    // FIFO whose writer is silent only what it has; every regular unit file
    // still gives its whole section, as a script expects.
    struct CutCase {
        const char *name;
        bool interrupt; // SIGINT once the run has got to what it waits on
        bool sys_cut;   // the setup puts its own sys.log in place of the fixture's
        const char *setup;
        const char *path;
        const char *err;
        const char *ready; // returns once the run is there
    };
    const std::vector<CutCase> cases = {
        {"a unit linked to a device that never ends", true, true,
         "mkdir -p /tmp/media; ln -s /dev/zero /tmp/media/sys.log", "$PATH",
         " ERROR  (cv_media|media_fill|N): stop requested, /tmp/media/sys.log not read to its end\n",
         "until ls -l /proc/$pid/fd 2> /dev/null | grep -q /dev/zero; do sleep 0.02; done"},
        {"an interrupt while the status script runs", true, false,
         "mkdir -p /tmp/slow; printf '#!/bin/sh\\n: > /tmp/slow/started\\nsleep 3\\nexec %s\\n'"
         " \"$(command -v av_log.sh)\" >/tmp/slow/av_log.sh; chmod +x /tmp/slow/av_log.sh",
         "/tmp/slow:$PATH", "", "until [ -e /tmp/slow/started ]; do sleep 0.02; done"},
        {"a FIFO whose writer has written nothing", false, true,
         "mkdir -p /tmp/media; mkfifo /tmp/media/sys.log; exec 3<>/tmp/media/sys.log", "$PATH",
         " ERROR  (cv_media|media_fill|N): read /tmp/media/sys.log failed:"
         " Resource temporarily unavailable\n", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Camsim cam;
        Units units(cam);
        std::string expected = (c.interrupt ? "\nGet signal, signo = 2\n" : "") +
                               (c.sys_cut ? "\n" : sys_section(units)) + vb_section(units) +
                               vpss_section(units) + vi_section(units) + venc_section(units) +
                               rc_section(units) + "status 0\n";
        if (c.sys_cut)
            units.remove("sys");
        CamsimResult r = cam.run(std::string(c.setup) + "\nPATH=" + c.path +
                                     " debug -M media --video & pid=$!\n" +
                                     (c.interrupt ? std::string(c.ready) + "; kill -INT $pid; " : "") +
                                     "wait $pid; echo \"status $?\"\n",
                                 60);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
    }
}

} // namespace
