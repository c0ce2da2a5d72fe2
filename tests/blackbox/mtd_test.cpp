// mtd module: bad-block scan of the partitions of /proc/mtd, run against the
// sandbox's simulated flash (camsim --mtd).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kUsage = module_usage("mtd");
const std::string kHeading = "dev:    size   erasesize  name\n";

struct Partition {
    std::string line;    // as /proc/mtd shows it
    std::string device;  // the file behind /dev/<device>; empty: no node
    std::string blocks;  // "bad OFFSET" and "fail OFFSET" lines
};

// Lays out a simulated flash in the scratch directory and hands it to the
// following runs. Without partitions there is no /proc/mtd at all.
void make_flash(Camsim &cam, const std::vector<Partition> &parts, bool with_proc = true)
{
    std::string dir = cam.scratch() + "/flash";
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/dev").c_str(), 0755);
    std::string proc = kHeading;
    for (const auto &p : parts) {
        proc += p.line + "\n";
        if (!p.device.empty())
            write_whole_file(dir + "/dev/" + p.device, p.blocks);
    }
    if (with_proc)
        write_whole_file(dir + "/mtd", proc);
    cam.option("--mtd", dir);
}

std::string scan_error(const std::string &message)
{
    return " ERROR  (cv_mtd|cv_badblock_check|N): " + message;
}

// What standard error says before the total of a scan that left
// partitions, or parts of them, unasked.
std::string partial_note(int partial, int partitions)
{
    return scan_error("the total covers the scanned part only: " + std::to_string(partial) + " of " +
                      std::to_string(partitions) + " partitions not fully scanned\n");
}

TEST(Mtd, ReportsBadBlocksByWholeFlashOffsetPartitionByPartition)
{
    Camsim cam;
    make_flash(cam, {
                        {"mtd0: 00100000 00020000 \"boot\"", "mtd0", ""},
                        // 0x30000 lies inside a block and 0x400000 past the end:
                        // neither is ever asked about.
                        {"mtd1: 00400000 00020000 \"kernel\"", "mtd1",
                         "bad 0x20000\nbad 0x30000\nbad 0x3e0000\nbad 0x400000\n"},
                        {"mtd2: 00200000 00020000 \"rootfs\"", "mtd2", ""},
                        {"mtd3: 00800000 00040000 \"data\"", "mtd3", "bad 0\nbad 0x40000\n"},
                    });
    CamsimResult r = cam.module("mtd", {"-b", "1"});
    EXPECT_EQ(r.out, "/dev/mtd1 (\"kernel\") : \n"
                     "Bad block found at : 00120000\n"
                     "Bad block found at : 004e0000\n"
                     "/dev/mtd3 (\"data\") : \n"
                     "Bad block found at : 00700000\n"
                     "Bad block found at : 00740000\n"
                     "\nTotal bad block : 4\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(Mtd, OffsetsBeyondFourGibibytesAreKeptWhole)
{
    Camsim cam;
    // A 4 GiB partition of 256 MiB blocks, then one written with nine digits.
    make_flash(cam, {{"mtd0: 100000000 10000000 \"data\"", "mtd0", "bad 0xf0000000\n"},
                     {"mtd1: 00100000 00020000 \"boot\"", "mtd1", "bad 0x20000\n"}});
    CamsimResult r = cam.module("mtd", {"-b", "1"});
    EXPECT_EQ(r.out, "/dev/mtd0 (\"data\") : \n"
                     "Bad block found at : f0000000\n"
                     "/dev/mtd1 (\"boot\") : \n"
                     "Bad block found at : 100020000\n"
                     "\nTotal bad block : 2\n");
    EXPECT_EQ(r.err, "");
}

TEST(Mtd, AFlashWithoutBadBlocksPrintsOnlyTheZeroTotal)
{
    Camsim cam;
    make_flash(cam, {{"mtd0: 00100000 00020000 \"boot\"", "mtd0", ""},
                     {"mtd1: 00400000 00020000 \"kernel\"", "mtd1", ""}});
    CamsimResult r = cam.module("mtd", {"-b", "1"});
    EXPECT_EQ(r.out, "\nTotal bad block : 0\n");
    EXPECT_EQ(r.err, "");
}

TEST(Mtd, ScansOnlyWhenABadblockOptionReadsAsOne)
{
    const std::string scan = "/dev/mtd0 (\"boot\") : \n"
                             "Bad block found at : 00020000\n"
                             "\nTotal bad block : 1\n";
    const std::string unknown = " ERROR  (cv_mtd|mtd_init_param|N): Unknow option\n";
    struct Case {
        std::vector<std::string> args; // after the program name
        std::string out, err;
    } cases[] = {
        {{"-M", "mtd"}, kUsage, ""},
        {{"-M", "mtd", "-b", "1"}, scan, ""},
        {{"-M", "mtd", "--badblock", "1"}, scan, ""},
        {{"-M", "mtd", "-b", "  1"}, scan, ""},
        {{"-M", "mtd", "-b", "+1"}, scan, ""},
        {{"-M", "mtd", "-b", "1st"}, scan, ""},
        {{"-M", "mtd", "-b", "2", "-b", "1"}, scan, ""},
        {{"-M", "mtd", "-b", "1", "-b", "0"}, scan, ""},
        {{"-b", "1", "-M", "mtd"}, scan, ""},
        {{"-M", "mtd", "-b", "0"}, "", ""},
        {{"-M", "mtd", "-b", "2"}, "", ""},
        {{"-M", "mtd", "-b", "0x1"}, "", ""},
        // 2^32 + 1: read whole, not cut down to 1.
        {{"-M", "mtd", "-b", "4294967297"}, "", ""},
        {{"-M", "mtd", "-x", "-b", "1"}, kUsage + scan,
         "debug: invalid option -- 'x'\n" + unknown},
        {{"-M", "mtd", "-b"}, kUsage, "debug: option requires an argument -- 'b'\n" + unknown},
        {{"-M", "mtd", "--bad", "1", "--what"}, kUsage + scan,
         "debug: unrecognized option '--what'\n" + unknown},
    };
    Camsim cam;
    make_flash(cam, {{"mtd0: 00100000 00020000 \"boot\"", "mtd0", "bad 0x20000\n"}});
    for (const auto &c : cases) {
        CamsimResult r = cam.debug(c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
        EXPECT_EQ(r.status, 0);
    }
}

TEST(Mtd, WithoutProcMtdPrintsOneErrorLineAndNothingElse)
{
    Camsim cam;
    make_flash(cam, {{"mtd0: 00100000 00020000 \"boot\"", "mtd0", "bad 0\n"}}, false);
    CamsimResult r = cam.module("mtd", {"-b", "1"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(without_line_numbers(r.err), scan_error("/proc/mtd open failed\n"));
    EXPECT_EQ(r.status, 0);
}

TEST(Mtd, PartitionsBeyondSixteenAreLeftOutWithAMessage)
{
    std::vector<Partition> parts;
    std::string expected;
    for (int i = 0; i < 18; i++) {
        char line[64], device[16], at[64];
        snprintf(line, sizeof line, "mtd%d: 00040000 00020000 \"p%d\"", i, i);
        snprintf(device, sizeof device, "mtd%d", i);
        parts.push_back({line, device, "bad 0x20000\n"});
        if (i < 16) {
            snprintf(at, sizeof at, "Bad block found at : %08x\n", i * 0x40000 + 0x20000);
            expected += "/dev/" + std::string(device) + " (\"p" + std::to_string(i) + "\") : \n" + at;
        }
    }
    expected += "\nTotal bad block : 16\n";
    Camsim cam;
    make_flash(cam, parts);
    CamsimResult r = cam.module("mtd", {"-b", "1"});
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(without_line_numbers(r.err),
              scan_error("2 partitions beyond the first 16 not scanned\n") + partial_note(2, 18));
}

TEST(Mtd, BadBlocksBeyondOneHundredTwentyEightAreCountedButNotListed)
{
    // 130 blocks, all bad, then a partition whose entry must stay intact.
    std::string blocks, expected = "/dev/mtd0 (\"worn\") : \n";
    for (int b = 0; b < 130; b++) {
        char line[64];
        snprintf(line, sizeof line, "bad 0x%x\n", b * 0x20000);
        blocks += line;
        if (b < 128) {
            snprintf(line, sizeof line, "Bad block found at : %08x\n", b * 0x20000);
            expected += line;
        }
    }
    expected += "/dev/mtd1 (\"next\") : \n"
                "Bad block found at : 01060000\n"
                "\nTotal bad block : 131\n";
    Camsim cam;
    make_flash(cam, {{"mtd0: 01040000 00020000 \"worn\"", "mtd0", blocks},
                     {"mtd1: 00100000 00020000 \"next\"", "mtd1", "bad 0x20000\n"}});
    CamsimResult r = cam.module("mtd", {"-b", "1"});
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(without_line_numbers(r.err), scan_error("/dev/mtd0: 2 more bad blocks not listed\n"));
}

TEST(Mtd, TheTableHoldsSixteenPartitionsAndListsOneHundredTwentyEightBadBlocksEachExactly)
{
    // The first partition has all its blocks bad; each other one has one.
    struct Case {
        int partitions, first_bad;
        std::string err;
    } cases[] = {
        {16, 1, ""},
        {17, 1, scan_error("1 partitions beyond the first 16 not scanned\n") + partial_note(1, 17)},
        {2, 128, ""},
        {2, 129, scan_error("/dev/mtd0: 1 more bad blocks not listed\n")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.partitions) + " partitions, " + std::to_string(c.first_bad) + " bad");
        std::vector<Partition> parts;
        std::string expected, blocks;
        uint32_t offset = 0;
        int total = 0;
        for (int i = 0; i < c.partitions; i++) {
            int bad = i == 0 ? c.first_bad : 1;
            uint32_t size = (uint32_t)(i == 0 ? bad : 2) * 0x20000;
            char line[64], device[16], at[64];
            snprintf(line, sizeof line, "mtd%d: %08x 00020000 \"p%d\"", i, size, i);
            snprintf(device, sizeof device, "mtd%d", i);
            blocks.clear();
            if (i < 16)
                expected += "/dev/" + std::string(device) + " (\"p" + std::to_string(i) + "\") : \n";
            for (int b = i == 0 ? 0 : 1; b < (i == 0 ? bad : 2); b++) {
                snprintf(at, sizeof at, "bad 0x%x\n", b * 0x20000);
                blocks += at;
                snprintf(at, sizeof at, "Bad block found at : %08x\n", offset + b * 0x20000);
                if (i < 16 && b < 128)
                    expected += at;
            }
            if (i < 16)
                total += bad;
            parts.push_back({line, device, blocks});
            offset += size;
        }
        expected += "\nTotal bad block : " + std::to_string(total) + "\n";
        Camsim cam;
        make_flash(cam, parts);
        CamsimResult r = cam.module("mtd", {"-b", "1"});
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
    }
}

TEST(Mtd, UnusablePartitionLinesAreSkippedWithoutHangingOrOverflowingAndMarkTheTotal)
{
    const std::string long_device(40, 'x');
    Camsim cam;
    make_flash(cam, {
                        // Erase size 0: stepping through it would never end.
                        {"mtd0: 00100000 00000000 \"zero\"", "mtd0", "bad 0\n"},
                        // A name longer than its field is cut to 31 characters.
                        {"mtd1: 00100000 00020000 \"a-very-long-partition-name-indeed\"", "mtd1",
                         "bad 0\n"},
                        // A device name that does not fit the path field, and a
                        // line without its erase size: not scanned, but their
                        // sizes still count in the offsets of what follows.
                        {"mtd" + long_device + ": 00100000 00020000 \"long\"", "", ""},
                        {"mtd3: 00100000", "", ""},
                        // The third step would lie past 4 GiB; the position must
                        // not wrap round to 0.
                        {"mtd4: fff00000 80000000 \"big\"", "mtd4", "bad 0x80000000\n"},
                    });
    CamsimResult r = cam.module("mtd", {"-b", "1"}, 60);
    EXPECT_EQ(r.out, "/dev/mtd1 (\"a-very-long-partition-name-ind) : \n"
                     "Bad block found at : 00100000\n"
                     "/dev/mtd4 (\"big\") : \n"
                     "Bad block found at : 80400000\n"
                     "\nTotal bad block : 2\n");
    EXPECT_EQ(without_line_numbers(r.err),
              scan_error("unreadable partition line: mtd" + long_device +
                         ": 00100000 00020000 \"long\"\n") +
                  scan_error("unreadable partition line: mtd3: 00100000\n") +
                  scan_error("/dev/mtd0 erase size is 0, not scanned\n") + partial_note(3, 5));
}

// Scripts match the total line as it stands: a scan that could not ask
// about the whole flash prints it unchanged and says so, and where a stop
// left it, on standard error just before it.
TEST(Mtd, AScanOfPartOfTheFlashKeepsTheTotalLineAndSaysWhyOnStandardError)
{
    const Partition boot = {"mtd0: 00100000 00020000 \"boot\"", "mtd0", "bad 0x20000\n"};
    const Partition rootfs = {"mtd2: 00200000 00020000 \"rootfs\"", "mtd2", "bad 0x1e0000\n"};
    const std::string boot_out = "/dev/mtd0 (\"boot\") : \nBad block found at : 00020000\n";
    const std::string rootfs_out = "/dev/mtd2 (\"rootfs\") : \nBad block found at : 006e0000\n";
    struct Case {
        const char *what;
        std::vector<Partition> parts;
        std::string out, err;
        std::string note; // the end of err, just before the total
    };
    std::vector<Case> cases = {
        {"a node that does not open",
         {boot, {"mtd1: 00400000 00020000 \"kernel\"", "", ""}, rootfs},
         boot_out + rootfs_out + "\nTotal bad block : 2\n",
         scan_error("/dev/mtd1 open failed\n") + partial_note(1, 3), partial_note(1, 3)},
        {"refused requests, keeping what was found before them",
         {{"mtd0: 00100000 00020000 \"boot\"", "mtd0", "bad 0x20000\nfail 0x60000\nbad 0x80000\n"},
          {"mtd1: 00400000 00020000 \"kernel\"", "mtd1", "fail 0\n"},
          rootfs},
         "ioctl MEMGETBADBLOCK failed, /dev/mtd0, error=-1\n"
         "ioctl MEMGETBADBLOCK failed, /dev/mtd1, error=-1\n" +
             boot_out + rootfs_out + "\nTotal bad block : 2\n",
         partial_note(2, 3), partial_note(2, 3)},
        {"nothing asked about at all",
         {{"mtd0: 00100000 00000000 \"boot\"", "mtd0", "bad 0\n"}},
         "\nTotal bad block : 0\n",
         scan_error("/dev/mtd0 erase size is 0, not scanned\n") + partial_note(1, 1),
         partial_note(1, 1)},
        // A signal at the last block comes after the whole flash was asked
        // about: the verdict is the usual one.
        {"stopped at the last block",
         {{"mtd0: 00100000 00020000 \"boot\"", "mtd0", "bad 0x20000\nsignal 0xe0000 2\n"}},
         "\nGet signal, signo = 2\n" + boot_out + "\nTotal bad block : 1\n", "", ""},
    };
    // The bad block at 0x200000 of mtd1 lies beyond the stop: a total of 1
    // must not pass for the whole flash's.
    for (int signo : {2, 3, 15}) {
        const std::string note =
            scan_error("Scan stopped at /dev/mtd1 (\"kernel\") offset 00160000\n") + partial_note(2, 3);
        cases.push_back({"stopped by a signal",
                         {boot,
                          {"mtd1: 00400000 00020000 \"kernel\"", "mtd1",
                           "signal 0x40000 " + std::to_string(signo) + "\nbad 0x200000\n"},
                          {"mtd2: 00200000 00020000 \"rootfs\"", "mtd2", "bad 0\n"}},
                         "\nGet signal, signo = " + std::to_string(signo) + "\n" + boot_out +
                             "\nTotal bad block : 1\n",
                         note, note});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Camsim cam;
        make_flash(cam, c.parts);
        // Once with both streams in one place, where the note must come
        // just before the total, then each on its own.
        CamsimResult r = cam.run("debug -M mtd -b 1 2>&1; echo ---; debug -M mtd -b 1");
        size_t split = r.out.find("---\n");
        ASSERT_NE(split, std::string::npos) << r.out;
        std::string both = without_line_numbers(r.out.substr(0, split));
        std::string tail = c.note + c.out.substr(c.out.rfind("\nTotal bad block"));
        EXPECT_EQ(both.substr(both.size() - std::min(both.size(), tail.size())), tail);
        EXPECT_EQ(r.out.substr(split + 4), c.out);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
        EXPECT_EQ(r.status, 0);
    }
}

} // namespace
