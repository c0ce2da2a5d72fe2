// sdmmc module: card detection, mount, format, repair, capacity report, speed
// and fill tests, run against loop-device cards made from image files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "camsim_run.h"
#include "sdmmc_expect.h"

namespace {

const std::string kUsage = module_usage("sdmmc");

TEST(SdmmcOptions, BadValueOrUnknownOptionEndsWithUsageAndStatus255)
{
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-n", "0"}, error_line("sdmmc_init_param", "filling file numbers must in [1-40960]!\n")},
        {{"-n", "40961"}, error_line("sdmmc_init_param", "filling file numbers must in [1-40960]!\n")},
        {{"--filenum", "x"}, error_line("sdmmc_init_param", "filling file numbers must in [1-40960]!\n")},
        // Past 32 bits: not taken for its low bits (that would be 1).
        {{"-n", "4294967297"},
         error_line("sdmmc_init_param", "filling file numbers must in [1-40960]!\n")},
        {{"-z", "0"}, error_line("sdmmc_init_param", "filling file size must in [1-1024]!\n")},
        {{"-z", "1025"}, error_line("sdmmc_init_param", "filling file size must in [1-1024]!\n")},
        {{"-z", "-1"}, error_line("sdmmc_init_param", "filling file size must in [1-1024]!\n")},
        // Parsing stops at the bad value: the mount after it never runs.
        {{"-z", "0x401", "-m"}, error_line("sdmmc_init_param", "filling file size must in [1-1024]!\n")},
        {{"-x"}, "debug: invalid option -- 'x'\n" + error_line("sdmmc_init_param", "Unknow option\n")},
        {{"-n"}, "debug: option requires an argument -- 'n'\n" +
                     error_line("sdmmc_init_param", "Unknow option\n")},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.module("sdmmc", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
        EXPECT_EQ(r.status, 255);
    }
}

TEST(SdmmcOptions, ValuesInRangeAndInitAloneDoNothingVisible)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--init"},
        {"-n", "40960", "-z", "1024"},
        {"-n", "1", "-z", "1"},
        {"--filenum=0x10", "--filesize", "010"},
    };
    for (const auto &args : cases) {
        Camsim cam;
        CamsimResult r = cam.module("sdmmc", args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

TEST(SdmmcOptions, ActionBeforeAnUnknownOptionStillRuns)
{
    Camsim cam;
    CamsimResult r = cam.debug({"-M", "sdmmc", "-m", "-x"});
    EXPECT_EQ(r.out, kNotInserted + kUsage);
    EXPECT_EQ(without_line_numbers(r.err), error_line("sdmmc_init_param", "sdmmc mount faild!\n") +
                                               "debug: invalid option -- 'x'\n" +
                                               error_line("sdmmc_init_param", "Unknow option\n"));
    EXPECT_EQ(r.status, 255);
}

TEST(SdmmcDetect, WithoutCardEveryActionReportsMissingCardAndItsOwnFailure)
{
    Camsim cam;
    CamsimResult r = cam.run("debug -M sdmmc " + kNoCardArgs);
    EXPECT_EQ(r.out, no_card_out());
    EXPECT_EQ(without_line_numbers(r.err), no_card_err());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(flushes(cam), 0);
}

TEST(SdmmcDetect, TwoCardsFailAfterOneReinitialisation)
{
    Camsim cam;
    insert_card(cam, "a.img", 40);
    insert_card(cam, "b.img", 40);
    CamsimResult r = cam.debug({"-M", "sdmmc", "-m", "-r"});
    EXPECT_EQ(r.out, kTwoCardsOut);
    EXPECT_EQ(without_line_numbers(r.err), two_cards_err());
    EXPECT_EQ(r.status, 0);
}

TEST(SdmmcDetect, SecondDetectionDecidesAfterTheReinitPause)
{
    struct Case {
        const char *removed;
        std::string out, err, mounted;
    } cases[] = {
        // One card left: the action goes on with it.
        {"/dev/mmcblk1", kTryReinit + "SD/mmc inserted!\n", "", "/dev/mmcblk0\n"},
        {"/dev/mmcblk0 /dev/mmcblk1", kTryReinit + kNotInserted,
         error_line("sdmmc_init", "SD/mmc has unknow error!\n") +
             error_line("sdmmc_init_param", "sdmmc mount faild!\n"),
         ""},
    };
    for (const auto &c : cases) {
        Camsim cam;
        insert_card(cam, "a.img", 40);
        insert_card(cam, "b.img", 40);
        CamsimResult r = cam.run(kWaitFor + kFormatCard0 +
                                 "debug -M sdmmc -m > $CAMSIM_DIR/out 2> $CAMSIM_DIR/err &\n"
                                 "wait_for 'grep -q reinit $CAMSIM_DIR/out'\n"
                                 "rm " + std::string(c.removed) + "\n"
                                 "wait $!; echo $? > $CAMSIM_DIR/status\n"
                                 "findmnt -n -o SOURCE /mnt/mmc > $CAMSIM_DIR/mounted\n");
        EXPECT_EQ(cam.read_file("out"), c.out) << c.removed;
        EXPECT_EQ(without_line_numbers(cam.read_file("err")), c.err) << c.removed;
        EXPECT_EQ(cam.read_file("status"), "0\n") << c.removed;
        EXPECT_EQ(cam.read_file("mounted"), c.mounted) << c.removed;
    }
}

// A dd first on PATH (for the tool run with kHeldPath) that holds its write
// of NAME, having made /tmp/held, until /tmp/go exists: a signal then
// certainly arrives while that dd runs.
inline std::string holding_dd(const std::string &name)
{
    return "mkdir -p /tmp/bin; cat > /tmp/bin/dd <<EOF\n"
           "#!/bin/sh\n"
           "case \" \\$* \" in *\" of=/mnt/mmc/" + name + " \"*) : > /tmp/held\n"
           "    until [ -e /tmp/go ]; do sleep 0.05; done ;;\n"
           "esac\n"
           "exec $(command -v dd) \"\\$@\"\n"
           "EOF\n"
           "chmod +x /tmp/bin/dd\n";
}
const std::string kHeldPath = "PATH=/tmp/bin:$PATH ";
const std::string kFillWithHeldFile2 =
    kWaitFor + kFormatCard0 + "debug -M sdmmc -m\n" + holding_dd("file2") + kStatfsTo + "before\n";
const std::string kWaitForFile2 = "wait_for 'test -e /tmp/held'\n";

// Below the mount point lies the camera's own filesystem: the tests must
// not measure or fill it, neither when the card is mounted elsewhere nor
// when it leaves the mount point during a fill.
TEST(SdmmcMount, TestsNeedTheCardItselfOnTheMountPoint)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    cam.run(kWaitFor + kRunCase + kFormatCard0 +
                "mkdir /mnt/card && mount -t vfat /dev/mmcblk0 /mnt/card\n"
                "run_case elsewhere debug -M sdmmc -m -i -s -n 1 -z 1 -F\n"
                "umount /mnt/card\n"
                "debug -M sdmmc -m\n" + holding_dd("file2") + kHeldPath +
                "debug -M sdmmc -n 10 -z 1 -F > $CAMSIM_DIR/gone.out 2> $CAMSIM_DIR/gone.err &\n"
                "tool=$!\n" +
                kWaitForFile2 + "umount -l /mnt/mmc\n"
                                "pkill -f '^/bin/sh /tmp/bin/dd '\n"
                                "wait $tool\n"
                                "ls -A /mnt/mmc > $CAMSIM_DIR/left\n",
            120);
    CamsimResult r = cam.case_result("elsewhere");
    EXPECT_EQ(r.out, "");
    const std::string elsewhere = "/dev/mmcblk0 is mounted elsewhere (/mnt/card), not on /mnt/mmc\n";
    EXPECT_EQ(without_line_numbers(r.err),
              error_line("sdmmc_info", elsewhere) +
                  error_line("sdmmc_init_param", "sdmmc check information faild!\n") +
                  error_line("sdmmc_test_speed", elsewhere) +
                  error_line("sdmmc_init_param", "sdmmc test speed faild!\n") +
                  error_line("sdmmc_filling_disk", elsewhere) +
                  error_line("sdmmc_init_param", "sdmmc filling disk faild!\n"));
    EXPECT_EQ(r.status, 0);

    std::string out = cam.read_file("gone.out");
    EXPECT_EQ(out.substr(out.find("Create ")), create_lines(0, 3) + "Create total 3 files \n");
    EXPECT_EQ(without_line_numbers(cam.read_file("gone.err")),
              error_line("sdmmc_filling_disk", "/dev/mmcblk0 is not mounted on /mnt/mmc\n") +
                  error_line("sdmmc_init_param", "sdmmc filling disk faild!\n"));
    EXPECT_EQ(cam.read_file("left"), "");
}

TEST(SdmmcMount, BlankCardIsFormattedFat32ThenMountsAndReportsItsSize)
{
    Camsim cam;
    std::string image = insert_card(cam, "card.img", 40);
    // A card as sold: one FAT32 partition in an MBR, not formatted yet.
    CamsimResult r = cam.run("printf ',,c\\n' | sfdisk -q " + shell_quote(image) +
                             "\n"
                             "debug -M sdmmc -m -f -m -i\n"
                             "blkid -p -o export /dev/mmcblk0 | grep -E '^(TYPE|VERSION|PTTYPE)=' "
                             "> $CAMSIM_DIR/blkid\n"
                             "findmnt -n -o SOURCE /mnt/mmc > $CAMSIM_DIR/mounted\n"
                             "dosfsck -n -v /dev/mmcblk0 | sed -n 's/.*data clusters (\\([0-9]*\\) bytes).*/\\1/p' "
                             "> $CAMSIM_DIR/data_area\n",
                             240);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(error_lines(r.err), error_line("sdmmc_init_param", "sdmmc mount faild!\n"))
        << "only the mount before the format fails\n" << r.err;
    EXPECT_NE(r.out.find("Partition 1 has been deleted."), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Sd/mmc format failed!"), std::string::npos) << r.out;
    EXPECT_EQ(cam.read_file("blkid"), "VERSION=FAT32\nTYPE=vfat\n");
    EXPECT_EQ(cam.read_file("mounted"), "/dev/mmcblk0\n");
    // The capacity is the FAT's data area, as with the kernel's vfat (in
    // whole 4 KiB blocks of the stand-in's tmpfs).
    unsigned long long total = std::stoull("0" + cam.read_file("data_area")) / 4096 * 4096;
    EXPECT_GT(total, 39ull << 20);
    EXPECT_NE(r.out.find("Total = " + std::to_string(total) + " B = " + std::to_string(total >> 10) +
                         " KB = " + mb(total) + " MB = " + gb(total) + " GB\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(flushes(cam), 2); // after fdisk and after mkdosfs
}

TEST(SdmmcMount, CardThatCannotBeOpenedFailsEveryActionWithoutEndingTheTool)
{
    Camsim cam;
    // A node whose driver does not exist: present, but every open fails,
    // so fdisk quits before reading the commands fed to it.
    CamsimResult r = cam.run("m=240; while grep -q \"^ *$m \" /proc/devices; do m=$((m+1)); done\n"
                             "mknod /dev/mmcblk0 b $m 0\n"
                             "debug -M sdmmc -f -r -m\n",
                             240);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(error_lines(r.err), error_line("sdmmc_init_param", "sdmmc format disk faild!\n") +
                                      error_line("sdmmc_init_param", "sdmmc repair disk faild!\n") +
                                      error_line("sdmmc_init_param", "sdmmc mount faild!\n"));
    EXPECT_NE(r.out.find("Sd/mmc format failed!\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Sd/mmc repair /dev/mmcblk0 faild!\n"), std::string::npos) << r.out;
}

TEST(SdmmcRepair, MendsADamagedOrMountedCardAndFailsOnOneMountedElsewhereOrWithoutBootSector)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    CamsimResult r = cam.run(repair_script());
    EXPECT_EQ(r.status, 0) << r.err;
    expect_repairs(cam);
}

// A check that failed (here a dosfsck that gives up) leaves a damaged
// filesystem: it goes back on the mount point read-only, and a line says so.
// A put-back that fails (here mount) says which card, where it should have
// gone and why: the card is then on no mount point.
TEST(SdmmcRepair, ACardNotRepairedIsMountedAgainReadOnlyAndAFailedPutBackSaysWhy)
{
    struct Case {
        const char *failing;
        std::string out, err;
    } cases[] = {
        {"dosfsck", "/dev/mmcblk0 ro\n",
         error_line("sdmmc_repair_disk", "/dev/mmcblk0 is mounted read-only again: its filesystem was not repaired\n")},
        {"mount", "",
         error_line("sdmmc_put_back", "/dev/mmcblk0 could not be mounted again on /mnt/mmc: mount failed with status 4\n")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.failing);
        Camsim cam;
        insert_card(cam, "card.img", 40);
        std::string stub = std::string("/tmp/bin/") + c.failing;
        CamsimResult r = cam.run(kFormatCard0 + "debug -M sdmmc -m\n"
                                                "mkdir /tmp/bin; printf '#!/bin/sh\\nexit 4\\n' > " + stub + "\n"
                                                "chmod +x " + stub + "\n"
                                                "PATH=/tmp/bin:$PATH debug -M sdmmc -r | grep '^Sd/mmc'\n"
                                                "findmnt -n -o SOURCE,OPTIONS /mnt/mmc | cut -d, -f1\n");
        EXPECT_EQ(r.out, "Sd/mmc repair /dev/mmcblk0 faild!\n" + c.out);
        EXPECT_EQ(error_lines(r.err), c.err + error_line("sdmmc_init_param", "sdmmc repair disk faild!\n"));
    }
}

TEST(SdmmcInfo, FiguresAreThoseOfStatfsOnTheMountPoint)
{
    Camsim cam;
    insert_card(cam, "card.img", 48);
    // The second run finds the card mounted and must not mount it again.
    CamsimResult r = cam.run(kFormatCard0 +
                             "debug -M sdmmc -m\n"
                             "dd if=/dev/zero of=/mnt/mmc/data bs=1M count=3 status=none\n"
                             "debug -M sdmmc -i\n" +
                             kStatfsTo + "statfs\n");
    Figures f = read_figures(cam, "statfs");
    EXPECT_GT(f.total() - f.free(), 0u);
    EXPECT_EQ(r.out, info_text(f));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(SdmmcSpeed, WritesAndReadsBackThenLeavesNoTestFile)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    // 128 MiB do not fit on the card: the clean-up must happen anyway.
    CamsimResult r = cam.run(kFormatCard0 + "debug -M sdmmc -s\n"
                                            "ls -A /mnt/mmc > $CAMSIM_DIR/left\n"
                                            "findmnt -n -o SOURCE /mnt/mmc > $CAMSIM_DIR/mounted\n",
                             240);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(error_lines(r.err), "");
    EXPECT_EQ(count_of(r.err, "records in"), 2) << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(cam.read_file("left"), "");
    EXPECT_EQ(cam.read_file("mounted"), "/dev/mmcblk0\n");
    EXPECT_EQ(flushes(cam), 1);
}

TEST(SdmmcSpeed, AStopDuringTheWriteStillRemovesTheTestFile)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    // The writing dd is held until the interrupt ends it.
    CamsimResult r = cam.run(kWaitFor + kFormatCard0 + "debug -M sdmmc -m\n" + holding_dd("empty.file") +
                             kHeldPath + "setsid sh -c '" + kInGroup + "' sh debug -M sdmmc -s > /tmp/out &\n"
                             "tool=$!\n"
                             "wait_for 'test -e /tmp/held'\n"
                             "kill -INT -$(cat /tmp/group); wait $tool; echo \"status $?\"\n"
                             "cat /tmp/out; ls -A /mnt/mmc\n");
    EXPECT_EQ(r.out, "status 0\n\nGet signal, signo = 2\n");
    EXPECT_EQ(error_lines(r.err), error_line("sdmmc_stop_requested", "Sd/mmc speed test stopped!\n") +
                                      error_line("sdmmc_init_param", "sdmmc test speed faild!\n"));
}

TEST(SdmmcFill, EachFillUsesTheCountAndSizeGivenBeforeItAndGoesOnWhenTheCardIsFull)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    CamsimResult r = cam.run(kFormatCard0 + "debug -M sdmmc -m\n" + kStatfsTo + "empty\n" +
                                 "debug -M sdmmc -n 2 -z 1 -F -n 4 -z 16 -F > $CAMSIM_DIR/out\n" +
                                 kStatfsTo + "full\n" +
                                 "cd /mnt/mmc && stat -c '%n %s' * > $CAMSIM_DIR/files\n",
                             240);
    Figures empty = read_figures(cam, "empty"), after_first = empty, full = read_figures(cam, "full");
    after_first.bfree -= 2 * (1 << 20) / empty.bsize;
    EXPECT_EQ(full.bfree, 0u);
    EXPECT_EQ(cam.read_file("out"), fill_header(empty, 2, 1) + create_lines(0, 2) +
                                        fill_footer(2, after_first) + fill_header(after_first, 4, 16) +
                                        create_lines(0, 4) + fill_footer(4, full));
    // The first two files were overwritten; the card filled up during file2.
    std::string files = cam.read_file("files");
    EXPECT_NE(files.find("file0 16777216\nfile1 16777216\nfile2 "), std::string::npos) << files;
    EXPECT_NE(files.find("file3 0\n"), std::string::npos) << files;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(error_lines(r.err), "");
    EXPECT_EQ(flushes(cam), 2);
}

TEST(SdmmcFill, PrintsTheFreeSpaceAfterEvery32Files)
{
    Camsim cam;
    insert_card(cam, "card.img", 48);
    CamsimResult r = cam.run(kFormatCard0 + "debug -M sdmmc -m\n" + kStatfsTo + "empty\n" +
                                 "debug -M sdmmc -n 33 -z 1 -F > $CAMSIM_DIR/out\n" + kStatfsTo +
                                 "after\n" + "ls /mnt/mmc | wc -l > $CAMSIM_DIR/count\n",
                             300);
    Figures empty = read_figures(cam, "empty"), after32 = empty, after = read_figures(cam, "after");
    after32.bfree -= 32 * (1 << 20) / empty.bsize;
    EXPECT_EQ(cam.read_file("out"), fill_header(empty, 33, 1) + create_lines(0, 32) + "Free size = " +
                                        mb(after32.free()) + " MB \n" + create_lines(32, 33) +
                                        fill_footer(33, after));
    EXPECT_EQ(cam.read_file("count"), "33\n");
    EXPECT_EQ(r.status, 0);
}

TEST(SdmmcFill, InterruptOfTheToolAloneStopsBeforeTheNextFile)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    CamsimResult r = cam.run(kFillWithHeldFile2 + kHeldPath +
                                 "debug -M sdmmc -n 0x64 -z 1 -F > $CAMSIM_DIR/out &\n"
                                 "tool=$!\n" +
                                 kWaitForFile2 +
                                 "kill -INT $tool\n"
                                 // The dd goes on: let go, it ends normally.
                                 ": > /tmp/go\n"
                                 "wait $tool; echo $? > $CAMSIM_DIR/status\n"
                                 "stat -c %s /mnt/mmc/file2 > $CAMSIM_DIR/written\n" +
                                 kStatfsTo + "after\n",
                             240);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(cam.read_file("status"), "0\n");
    EXPECT_EQ(cam.read_file("written"), "1048576\n");
    EXPECT_EQ(cam.read_file("out"), fill_header(read_figures(cam, "before"), 100, 1) +
                                        create_lines(0, 3) + "\nGet signal, signo = 2\n" +
                                        fill_footer(3, read_figures(cam, "after")));
    // The total is the files made; that the fill was cut short, beside it.
    EXPECT_EQ(error_lines(r.err), error_line("sdmmc_stop_requested", "Sd/mmc filling stopped!\n") +
                                      error_line("sdmmc_init_param", "sdmmc filling disk faild!\n"));
}

TEST(SdmmcFill, InterruptOfTheWholeProcessGroupEndsTheRunningDdAndTheFill)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    // As Ctrl-C at a terminal: the signal goes to the tool's process group.
    // -n after -F comes too late for it: the fill uses the default count.
    CamsimResult r = cam.run(
        kFillWithHeldFile2 + kHeldPath +
            "setsid sh -c 'echo $$ > /tmp/group; exec debug -M sdmmc -z 1 -F -n 10 > "
            "$CAMSIM_DIR/out' &\n"
            "tool=$!\n" +
            kWaitForFile2 + "kill -INT -$(cat /tmp/group)\n"
                            "if ! wait_for \"! pgrep -f '^/bin/sh /tmp/bin/dd ' > /dev/null\"; then\n"
                            "    echo dd still running > $CAMSIM_DIR/stuck; : > /tmp/go\n"
                            "fi\n"
                            "wait $tool; echo $? > $CAMSIM_DIR/status\n" +
            kStatfsTo + "after\n",
        240);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(cam.has_file("stuck"));
    EXPECT_EQ(cam.read_file("status"), "0\n");
    EXPECT_EQ(cam.read_file("out"), fill_header(read_figures(cam, "before"), 128, 1) +
                                        create_lines(0, 3) + "\nGet signal, signo = 2\n" +
                                        fill_footer(3, read_figures(cam, "after")));
}

// On a card whose filesystem has links and FIFOs (mounted by something
// else), a test file's name may lead elsewhere: into the configuration
// database, or a FIFO nobody reads. The fill and the speed test leave such
// a name alone and say so; the fill writes its other files.
TEST(SdmmcFill, ALinkOrFifoUnderATestFilesNameIsNeitherFollowedNorWritten)
{
    for (const std::string plant : {"ln -s /mnt/nand/cvdb.db", "mkfifo"}) {
        Camsim cam;
        insert_card(cam, "card.img", 40);
        cam.run(kRunCase + kFormatCard0 + "debug -M sdmmc -m; cp /mnt/nand/cvdb.db /tmp/db\n" + plant +
                " /mnt/mmc/file0; " + plant + " /mnt/mmc/empty.file\n"
                "run_case fill timeout 30 debug -M sdmmc -n 2 -z 1 -F\n"
                "run_case speed timeout 30 debug -M sdmmc -s\n"
                "cmp -s /tmp/db /mnt/nand/cvdb.db; echo $? > $CAMSIM_DIR/db\n"
                "cd /mnt/mmc; stat -c '%n %F' file0 empty.file; stat -c '%n %s' file1 > $CAMSIM_DIR/files\n",
                120);
        SCOPED_TRACE(plant);
        CamsimResult r = cam.case_result("fill");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(without_line_numbers(r.err),
                  error_line("sdmmc_filling_disk", "/mnt/mmc/file0 is not a regular file, not written\n") +
                      error_line("sdmmc_init_param", "sdmmc filling disk faild!\n"));
        EXPECT_NE(r.out.find(create_lines(0, 2) + "Create total 2 files \n"), std::string::npos) << r.out;
        r = cam.case_result("speed");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(without_line_numbers(r.err),
                  error_line("sdmmc_test_speed", "/mnt/mmc/empty.file is not a regular file, not written\n") +
                      error_line("sdmmc_init_param", "sdmmc test speed faild!\n"));
        EXPECT_EQ(cam.read_file("db"), "0\n");
        EXPECT_EQ(cam.read_file("files"), "file1 1048576\n");
    }
}

TEST(SdmmcMount, AnIgnoredChildSignalFromTheParentDoesNotFailTheCommands)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    CamsimResult r = cam.run(kFormatCard0 +
                             "perl -e '$SIG{CHLD} = \"IGNORE\"; exec @ARGV' debug -M sdmmc -m\n"
                             "grep -c ' /mnt/mmc ' /proc/mounts\n");
    EXPECT_EQ(r.out, "1\n");
    EXPECT_EQ(error_lines(r.err), "");
}

TEST(SdmmcFormat, CtrlCWhileFdiskWaitsLeavesTheCardAsItWasAndStartsNoRepairOrFill)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    // As Ctrl-C at a terminal: the signal reaches fdisk and the tool alike.
    // fdisk's last prompt and blank line may come before or after the
    // signal's line; the tool's own lines come after fdisk has ended.
    CamsimResult r = cam.run(
        kWaitFor + "mkdosfs -F 32 -i 12345678 /dev/mmcblk0 > /dev/null\n"
                   "setsid sh -c 'echo $$ > /tmp/group; exec debug -M sdmmc -f -r -F' > /tmp/out &\n"
                   "tool=$!\n"
                   "wait_for 'pgrep -x fdisk > /dev/null'\n"
                   "kill -INT -$(cat /tmp/group); wait $tool; echo \"status $?\"\n"
                   "sed -n '/signal/,$p' /tmp/out | grep -v -e '^$' -e '^Command (m for help): $'\n"
                   "blkid -p -o value -s UUID /dev/mmcblk0\n",
        120);
    // Each action keeps its own lines, as when it fails or finds the stop
    // flag set; that it was stopped is said on standard error.
    EXPECT_EQ(r.out, "status 0\nGet signal, signo = 2\nSd/mmc format failed!\n"
                     "Sd/mmc repair /dev/mmcblk0 faild!\n"
                     "All size = 39 MB, free size = 39 MB \n"
                     "Try to filling sdmmc by creating 128 files, echo file size 128 MB \n"
                     "Create total 0 files \nFree size = 39 MB \n1234-5678\n");
    EXPECT_EQ(error_lines(r.err), error_line("sdmmc_stop_requested", "Sd/mmc format stopped!\n") +
                                      error_line("sdmmc_init_param", "sdmmc format disk faild!\n") +
                                      error_line("sdmmc_stop_requested", "Sd/mmc repair stopped!\n") +
                                      error_line("sdmmc_init_param", "sdmmc repair disk faild!\n") +
                                      error_line("sdmmc_stop_requested", "Sd/mmc filling stopped!\n") +
                                      error_line("sdmmc_init_param", "sdmmc filling disk faild!\n"));
}

TEST(SdmmcFormat, AMountedCardIsUnmountedForTheFormatAndMountedAgainWithTheNewFilesystem)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    CamsimResult r = cam.run(kFormatCard0 + "debug -M sdmmc -m; echo old > /mnt/mmc/old\n"
                                            "debug -M sdmmc -f > /dev/null\n"
                                            "ls -A /mnt/mmc; grep -c ' /mnt/mmc ' /proc/mounts\n");
    EXPECT_EQ(r.out, "1\n");
    EXPECT_EQ(error_lines(r.err), "");
}

// A dropped SSH session: SIGHUP to the tool's process group (reset first,
// in case the tests themselves run under nohup).
TEST(SdmmcFormat, AHangUpWhileFdiskWaitsStopsTheFormatAndMountsTheCardAgain)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    CamsimResult r = cam.run(
        kWaitFor + kFormatCard0 + "debug -M sdmmc -m\n"
                                  "setsid sh -c '" + kInGroup + "' sh perl -e '$SIG{HUP} = \"DEFAULT\"; exec @ARGV' "
                                  "debug -M sdmmc -f > /tmp/out &\n"
                                  "tool=$!\n"
                                  "wait_for 'pgrep -x fdisk > /dev/null'\n"
                                  "kill -HUP -$(cat /tmp/group); wait $tool; echo \"status $?\"\n"
                                  "grep -e failed -e signal /tmp/out\n"
                                  "findmnt -n -o SOURCE /mnt/mmc\n");
    EXPECT_EQ(r.out, "status 0\nGet signal, signo = 1\nSd/mmc format failed!\n/dev/mmcblk0\n");
    EXPECT_EQ(error_lines(r.err), error_line("sdmmc_stop_requested", "Sd/mmc format stopped!\n") +
                                      error_line("sdmmc_init_param", "sdmmc format disk faild!\n"));
}

// Ctrl-C while mkdosfs runs: a card it has begun to write holds a half-made
// filesystem, which must not go back on the mount point; one it has not
// written yet still holds its old one (fdisk's empty table leaves a
// whole-card FAT's boot sector as it was), which goes back. A stand-in that
// waits before the real mkdosfs gives the moment.
TEST(SdmmcFormat, CtrlCWhileMkdosfsRunsMountsTheCardAgainOnlyWhenNothingWasWritten)
{
    struct Case {
        const char *first_step, *mounted;
        std::string err;
    } cases[] = {
        {"dd if=/dev/zero of=/dev/mmcblk0 bs=512 count=1 conv=notrunc status=none",
         "unmounted\n", error_line("sdmmc_format_disk", "Sd/mmc /dev/mmcblk0 has no usable filesystem, please format it again!\n")},
        {":", "/dev/mmcblk0\n", ""},
    };
    for (const auto &c : cases) {
        Camsim cam;
        insert_card(cam, "card.img", 40);
        CamsimResult r = cam.run(
            kWaitFor + kFormatCard0 + "debug -M sdmmc -m\n"
                                      "mkdir /tmp/bin; printf '#!/bin/sh\\n%s\\n: > /tmp/started\\nsleep 30\\nexec %s \"$@\"\\n' "
                                      "'" + std::string(c.first_step) + "' \"$(command -v mkdosfs)\" > /tmp/bin/mkdosfs; chmod +x /tmp/bin/mkdosfs\n"
                                      "PATH=/tmp/bin:$PATH setsid sh -c '" + kInGroup + "' sh debug -M sdmmc -f > /tmp/out &\n"
                                      "tool=$!\n"
                                      "wait_for 'test -e /tmp/started'\n"
                                      "kill -INT -$(cat /tmp/group); wait $tool; echo \"status $?\"\n"
                                      "grep -e signal -e failed -e usable /tmp/out\n"
                                      "findmnt -n -o SOURCE /mnt/mmc || echo unmounted\n");
        SCOPED_TRACE(c.first_step);
        EXPECT_EQ(r.out, "status 0\nGet signal, signo = 2\nSd/mmc format failed!\n" + std::string(c.mounted));
        EXPECT_EQ(error_lines(r.err), c.err + error_line("sdmmc_init_param", "sdmmc format disk faild!\n"));
    }
}

// Two runs on one card: the second waits while the first holds the card
// (here flock, as another run of the tool would), and a stop ends the wait.
TEST(SdmmcTwoRuns, ASecondRunWaitsForTheCardUntilAStopRequest)
{
    Camsim cam;
    insert_card(cam, "card.img", 40);
    CamsimResult r = cam.run(kWaitFor + kFormatCard0 +
                             "flock /dev/mmcblk0 sleep 60 & holder=$!\n"
                             "wait_for '! flock -n /dev/mmcblk0 true'\n"
                             "debug -M sdmmc -i > /tmp/out 2> $CAMSIM_DIR/err & tool=$!\n"
                             "wait_for 'grep -q busy $CAMSIM_DIR/err'\n"
                             "kill -INT $tool; wait $tool; echo \"status $?\"; kill $holder\n"
                             "cat /tmp/out; grep -c ' /mnt/mmc ' /proc/mounts\n");
    EXPECT_EQ(r.out, "status 0\n\nGet signal, signo = 2\n0\n");
    EXPECT_EQ(without_line_numbers(cam.read_file("err")),
              error_line("sdmmc_lock_card", "SD/mmc /dev/mmcblk0 is busy, waiting for the other run!\n") +
                  error_line("sdmmc_info", "sdmmc mount failed!\n") +
                  error_line("sdmmc_init_param", "sdmmc check information faild!\n"));
}

} // namespace
