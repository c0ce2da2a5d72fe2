// sdmmc_claim_test.cpp - the card while the tool formats, repairs and tests
// it on the emulated camera, with other programs at it: a daemon that
// mounts the card (or its partition) whenever it can, stops at each step of
// a format, a second run of the tool, Ctrl-C, an ext4 card holding links
// and special files, and a power cut after the speed test.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <sstream>
#include <string>

#include "sdmmc_expect.h"
#include "vm_suite.h"

namespace {

// fdisk, dosfsck and time (which runs mkdosfs and dosfsck for the tool:
// BusyBox's time runs its own mkdosfs, not one on PATH) note in
// /tmp/events when they start and end, after a pause that widens each
// window a mount could get in by; race
// mounts the card or its first partition on /media/y until it gets in,
// notes that in the same file, writes 50 files there and lets go.
const std::string kEvents =
    "mkdir -p /tmp/bin /media/y\n"
    "for p in fdisk dosfsck time; do\n"
    "  printf '#!/bin/sh\\necho \"%s start\" >> /tmp/events\\nsleep 0.3\\n\"%s\" \"$@\"\\ns=$?\\n"
    "echo \"%s end\" >> /tmp/events\\nexit $s\\n' $p \"$(command -v $p)\" $p > /tmp/bin/$p\n"
    "  chmod +x /tmp/bin/$p\n"
    "done\n"
    "race() {\n"
    "  n=0\n"
    "  while [ $n -lt 3000 ]; do\n"
    "    for d in /dev/mmcblk0p1 /dev/mmcblk0; do\n"
    "      if mount -t vfat $d /media/y 2> /dev/null; then\n"
    "        echo \"in $d\" >> /tmp/events; mkdir -p /media/y/new\n"
    "        i=0; while [ $i -lt 50 ]; do echo \"new $i\" > /media/y/new/f$i; i=$((i+1)); done\n"
    "        umount /media/y; return 0\n"
    "      fi\n"
    "    done\n"
    "    n=$((n+1))\n"
    "  done\n"
    "}\n";

// The card with 100 files in old/, mounted on /mnt/mmc: the whole card, or
// its first partition (from LBA 2048, as sold).
const std::string kWholeCard = "umount /mnt/mmc 2> /dev/null; dd if=/dev/zero of=/dev/mmcblk0 bs=1M count=2 2> /dev/null\n"
                               "blockdev --rereadpt /dev/mmcblk0; mkdosfs -F 32 /dev/mmcblk0 > /dev/null\n"
                               "mount -t vfat /dev/mmcblk0 /mnt/mmc\n";
const std::string kPartitionCard =
    "umount /mnt/mmc 2> /dev/null; dd if=/dev/zero of=/dev/mmcblk0 bs=1M count=2 2> /dev/null\n"
    "printf '\\0\\0\\0\\0\\14\\0\\0\\0\\0\\10\\0\\0\\0\\370\\1\\0' | dd of=/dev/mmcblk0 bs=1 seek=446 conv=notrunc 2>/dev/null\n"
    "printf '\\125\\252' | dd of=/dev/mmcblk0 bs=1 seek=510 conv=notrunc 2>/dev/null\n"
    "blockdev --rereadpt /dev/mmcblk0; mkdosfs -F 32 /dev/mmcblk0p1 > /dev/null\n"
    "mount -t vfat /dev/mmcblk0p1 /mnt/mmc\n";
const std::string kOldFiles =
    "mkdir /mnt/mmc/old; i=0; while [ $i -lt 100 ]; do echo \"old $i\" > /mnt/mmc/old/f$i; i=$((i+1)); done; sync\n";

// Runs the tool on the card in the background (its output in NAME.out and
// NAME.err), with the programs noting their steps.
std::string start_tool(const std::string &name, const std::string &args)
{
    return ": > /tmp/events\nPATH=/tmp/bin:$PATH debug -M sdmmc " + args + " > $CAMSIM_DIR/" + name +
           ".out 2> $CAMSIM_DIR/" + name + ".err & tool=$!\n";
}

std::string end_tool(const std::string &name)
{
    return "wait $tool; echo $? > $CAMSIM_DIR/" + name + ".status\n";
}

const std::string kMountedTo = "awk '$2 == \"/mnt/mmc\" { print $1 }' /proc/mounts > $CAMSIM_DIR/";
const std::string kPartitionsTo = "ls /sys/block/mmcblk0 | grep -c '^mmcblk0p' > $CAMSIM_DIR/";

// Another process mounts the card from the moment the tool's first program
// starts until it gets in; the card is then checked for every file.
struct Race {
    const char *name, *args;
    const std::string &card;
    const char *node_after; // what the tool leaves on /mnt/mmc
    int old_files;          // of the 100 in old/, what the action keeps
    const char *partitions; // the kernel's after it
};
const Race kRaces[] = {
    {"format_whole", "-f", kWholeCard, "/dev/mmcblk0", 0, "0\n"},
    {"format_partition", "-f", kPartitionCard, "/dev/mmcblk0", 0, "0\n"},
    {"repair_whole", "-r", kWholeCard, "/dev/mmcblk0", 100, "0\n"},
    {"repair_partition", "-r", kPartitionCard, "/dev/mmcblk0p1", 100, "1\n"},
};

// SIGTERM to the tool alone (fdisk goes on) at a step of a format of a
// partitioned card: before fdisk has its "w", and after.
struct Stop {
    const char *name, *moment;
    bool written;
};
const Stop kStops[] = {
    {"stop_before_w", "[ $(grep -o \"Command (m for help)\" $CAMSIM_DIR/stop_before_w.out | wc -l) -ge 2 ]", false},
    {"stop_after_w", "grep -q \"re-read partition table\" $CAMSIM_DIR/stop_after_w.out", true},
};

std::string race_script()
{
    std::string s;
    for (const Race &r : kRaces) {
        std::string n = r.name;
        s += r.card + kOldFiles + start_tool(n, r.args) +
             "wait_for 'grep -q start /tmp/events'; race & racer=$!\n" + end_tool(n) + "wait $racer\n" +
             "cp /tmp/events $CAMSIM_DIR/" + n + ".events\n" + kMountedTo + n + ".mounted\n" + kPartitionsTo + n +
             ".partitions\n"
             "ls /mnt/mmc/old 2> /dev/null | wc -l > $CAMSIM_DIR/" + n + ".old\n"
             "cat /mnt/mmc/new/* 2> /dev/null | grep -c '^new ' > $CAMSIM_DIR/" + n + ".new\n"
             "node=$(awk '$2 == \"/mnt/mmc\" { print $1 }' /proc/mounts); umount /mnt/mmc\n"
             "dosfsck -n $node > $CAMSIM_DIR/" + n + ".fsck 2>&1; echo \"status $?\" >> $CAMSIM_DIR/" + n + ".fsck\n";
    }
    for (const Stop &st : kStops) {
        std::string n = st.name;
        s += kPartitionCard + "dd if=/dev/mmcblk0 bs=512 count=1 2> /dev/null | md5sum > $CAMSIM_DIR/" + n +
             ".before\n" + start_tool(n, "-f") + "wait_for '" + st.moment + "'\nkill -TERM $tool\n" + end_tool(n) +
             "dd if=/dev/mmcblk0 bs=512 count=1 2> /dev/null | md5sum > $CAMSIM_DIR/" + n + ".after\n" + kMountedTo +
             n + ".mounted\n" + kPartitionsTo + n + ".partitions\n";
    }
    return s;
}

// Two runs on one card, Ctrl-C during the speed test, and an ext4 card with
// a link, a FIFO and a directory under the test files' names (the image
// made on the host: the camera has no mke2fs).
const std::string kOtherScript =
    kWholeCard + start_tool("first", "-f") + "wait_for 'grep -q \"time start\" /tmp/events'\n"
    "run_case second debug -M sdmmc -r\n" + end_tool("first") +
    "grep -c ' /mnt/mmc ' /proc/mounts > $CAMSIM_DIR/two.mounts\n"
    "setsid sh -c '" + kInGroup + "' sh debug -M sdmmc -s > $CAMSIM_DIR/speed.out 2> $CAMSIM_DIR/speed.err & tool=$!\n"
    "wait_for \"grep -qs '^dd' /proc/[0-9]*/cmdline\"\n"
    "kill -INT -$(cat /tmp/group)\n" + end_tool("speed") +
    "ls -A /mnt/mmc > $CAMSIM_DIR/speed.left\n"
    "umount /mnt/mmc; dd if=$CAMSIM_DIR/ext4.img of=/dev/mmcblk0 bs=1M 2> /dev/null\n"
    "mount -t ext4 /dev/mmcblk0 /mnt/mmc && echo victim > /tmp/victim\n"
    "ln -s /tmp/victim /mnt/mmc/empty.file; mkfifo /mnt/mmc/file0; mkdir /mnt/mmc/file1; ln -s /tmp/victim /mnt/mmc/file2\n"
    "run_case ext4_speed debug -M sdmmc -s\n"
    "run_case ext4_fill debug -M sdmmc -n 4 -z 1 -F\n"
    "cat /tmp/victim > $CAMSIM_DIR/victim; stat -c '%n %F %s' /mnt/mmc/file* > $CAMSIM_DIR/ext4.files\n"
    "umount /mnt/mmc\n";

class VmSdmmcClaim : public VmSuite {
protected:
    static void SetUpTestSuite() { boot({64}, kWaitFor + kEvents + kWholeCard + kRecordCard + race_script()); }
};

TEST_F(VmSdmmcClaim, NoMountGetsInWhileFdiskMkdosfsOrDosfsckRunOrBetweenThemAndNoFileIsLost)
{
    for (const Race &r : kRaces) {
        std::string n = r.name;
        SCOPED_TRACE(n);
        EXPECT_EQ(cam_->read_file(n + ".status"), "0\n") << cam_->read_file(n + ".err");
        EXPECT_EQ(error_lines(cam_->read_file(n + ".err")), "");
        // The other mount got in, after the last program had ended.
        std::string events = cam_->read_file(n + ".events");
        size_t in = events.find("in /dev/");
        ASSERT_NE(in, std::string::npos) << events;
        // mkdosfs and dosfsck run under time.
        EXPECT_NE(events.rfind("time end\n", in), std::string::npos) << events;
        EXPECT_EQ(events.rfind("fdisk end\n", in) != std::string::npos, r.args == std::string("-f")) << events;
        EXPECT_EQ(events.find(" start\n", in), std::string::npos) << events;
        EXPECT_EQ(events.find(" end\n", in), std::string::npos) << events;
        EXPECT_EQ(cam_->read_file(n + ".mounted"), std::string(r.node_after) + "\n");
        EXPECT_EQ(cam_->read_file(n + ".partitions"), r.partitions);
        EXPECT_EQ(cam_->read_file(n + ".old"), std::to_string(r.old_files) + "\n");
        EXPECT_EQ(cam_->read_file(n + ".new"), "50\n");
        // BusyBox's mkdosfs writes a label dosfsck finds invalid: what it
        // says of lost clusters counts.
        std::string fsck = cam_->read_file(n + ".fsck");
        EXPECT_EQ(fsck.find("Truncating"), std::string::npos) << fsck;
        EXPECT_EQ(fsck.find("free cluster"), std::string::npos) << fsck;
    }
}

TEST_F(VmSdmmcClaim, AStopBeforeFdiskHasItsWriteLeavesTheTableAsItWasAndOneAfterSaysSo)
{
    for (const Stop &st : kStops) {
        std::string n = st.name;
        SCOPED_TRACE(n);
        EXPECT_EQ(cam_->read_file(n + ".status"), "0\n");
        std::string out = cam_->read_file(n + ".out");
        EXPECT_NE(out.find("Get signal, signo = 15\n"), std::string::npos) << out;
        EXPECT_NE(out.find("Sd/mmc format failed!\n"), std::string::npos) << out;
        std::string lost = st.written ? error_line("sdmmc_format_disk", "Sd/mmc /dev/mmcblk0 has no usable filesystem, "
                                                                         "please format it again!\n")
                                      : "";
        EXPECT_EQ(error_lines(cam_->read_file(n + ".err")),
                  error_line("sdmmc_stop_requested", "Sd/mmc format stopped!\n") + lost +
                      error_line("sdmmc_init_param", "sdmmc format disk faild!\n"));
        EXPECT_EQ(cam_->read_file(n + ".before") == cam_->read_file(n + ".after"), !st.written);
        // What the table holds is what the kernel sees.
        EXPECT_EQ(cam_->read_file(n + ".partitions"), st.written ? "0\n" : "1\n");
        EXPECT_EQ(cam_->read_file(n + ".mounted"), st.written ? "" : "/dev/mmcblk0p1\n");
    }
}

class VmSdmmcTestFiles : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        insert_cards({64});
        std::string image = cam_->dir() + "/ext4.img";
        std::string make = "mkfs.ext4 -q -F -O ^metadata_csum '" + image + "' 16M";
        ASSERT_EQ(system(make.c_str()), 0) << make;
        start(kWaitFor + kEvents + kWholeCard + kRecordCard + kOtherScript);
    }
};

TEST_F(VmSdmmcTestFiles, ASecondRunWaitsForTheFirstAndCtrlCEndsTheSpeedTestWithoutItsFile)
{
    CamsimResult r = cam_->case_result("second");
    EXPECT_EQ(cam_->read_file("first.status"), "0\n");
    EXPECT_NE(r.out.find("Sd/mmc repair /dev/mmcblk0 success!\n"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err),
              error_line("sdmmc_lock_card", "SD/mmc /dev/mmcblk0 is busy, waiting for the other run!\n"));
    EXPECT_EQ(cam_->read_file("two.mounts"), "1\n");

    EXPECT_EQ(cam_->read_file("speed.status"), "0\n");
    EXPECT_NE(cam_->read_file("speed.out").find("Get signal, signo = 2\n"), std::string::npos);
    EXPECT_EQ(error_lines(cam_->read_file("speed.err")),
              error_line("sdmmc_stop_requested", "Sd/mmc speed test stopped!\n") +
                  error_line("sdmmc_init_param", "sdmmc test speed faild!\n"));
    EXPECT_EQ(cam_->read_file("speed.left"), "");
}

TEST_F(VmSdmmcTestFiles, OnExt4NoLinkFifoOrDirectoryIsWrittenThrough)
{
    const std::string not_written = " is not a regular file, not written\n";
    CamsimResult r = cam_->case_result("ext4_speed");
    EXPECT_EQ(error_lines(r.err), error_line("sdmmc_test_speed", "/mnt/mmc/empty.file" + not_written) +
                                      error_line("sdmmc_init_param", "sdmmc test speed faild!\n"));
    r = cam_->case_result("ext4_fill");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(create_lines(0, 4) + "Create total 4 files \n"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err), error_line("sdmmc_filling_disk", "/mnt/mmc/file0" + not_written) +
                                      error_line("sdmmc_filling_disk", "/mnt/mmc/file1" + not_written) +
                                      error_line("sdmmc_filling_disk", "/mnt/mmc/file2" + not_written) +
                                      error_line("sdmmc_init_param", "sdmmc filling disk faild!\n"));
    EXPECT_EQ(cam_->read_file("victim"), "victim\n");
    EXPECT_EQ(cam_->read_file("ext4.files"), "/mnt/mmc/file0 fifo 0\n/mnt/mmc/file1 directory 1024\n"
                                             "/mnt/mmc/file2 symbolic link 11\n/mnt/mmc/file3 regular file 1048576\n");
}

// The power goes at once after the speed test (the kernel reboots without
// a sync, its periodic write-back off): the test file's removal is on the
// card.
TEST(VmSdmmcPowerCut, TheSpeedTestsRemovalSurvivesAPowerCutRightAfterIt)
{
    Camsim cam(Sandbox::vm);
    std::string card = insert_card(cam, "card.img", 64);
    CamsimResult cut = cam.run(kFormatCard0 + "echo 0 > /proc/sys/vm/dirty_writeback_centisecs\n"
                                              "mount -t vfat /dev/mmcblk0 /mnt/mmc; debug -M sdmmc -s > /dev/null 2>&1\n"
                                              "echo $? > $CAMSIM_DIR/speed.status; echo b > /proc/sysrq-trigger\n",
                               280);
    EXPECT_NE(cut.err.find("stopped before the command ended"), std::string::npos) << cut.err;
    EXPECT_EQ(cam.read_file("speed.status"), "0\n");
    Camsim again(Sandbox::vm);
    again.option("--card", card);
    CamsimResult after = again.run("dosfsck -n /dev/mmcblk0 | grep -c -e Truncating -e 'free cluster'\n"
                                   "mount -t vfat -o ro /dev/mmcblk0 /mnt/mmc; ls -A /mnt/mmc\n",
                                   280);
    EXPECT_EQ(after.out, "0\n");
}

} // namespace
