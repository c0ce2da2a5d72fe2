// sdmmc_test.cpp - the sdmmc module on the emulated camera: SD cards on an
// SDHCI controller through the kernel's MMC stack, the kernel's vfat, and
// BusyBox's mount, df, fdisk, mkdosfs, dd and time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "sdmmc_expect.h"
#include "vm_suite.h"

namespace {

// One FAT32 partition entry from LBA 2048 in the card's first sector; over
// a card that holds a whole-card FAT its boot sector stays beneath the
// table.
const std::string kPartitionEntry =
    "printf '\\0\\0\\0\\0\\14\\0\\0\\0\\0\\10\\0\\0\\0\\370\\1\\0' | "
    "dd of=/dev/mmcblk0 bs=1 seek=446 conv=notrunc 2>/dev/null\n";

const std::string kMountAndRecord = "mount -t vfat /dev/mmcblk0 /mnt/mmc\n" + kRecordCard;

class VmSdmmcTwoCards : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        boot({64, 64}, "run_case two debug -M sdmmc -m -r\n"
                       "cat /sys/block/mmcblk1/device/type > $CAMSIM_DIR/card1\n" +
                           kFormatCard0 + kMountAndRecord);
    }
};

TEST_F(VmSdmmcTwoCards, BothCardsFailEachActionAfterOneReinitialisation)
{
    EXPECT_EQ(cam_->read_file("card1"), "SD\n");
    CamsimResult r = cam_->case_result("two");
    EXPECT_EQ(r.out, kTwoCardsOut);
    EXPECT_EQ(without_line_numbers(r.err), two_cards_err());
    EXPECT_EQ(r.status, 0);
}

const std::string kPartitionCount =
    "ls /sys/block/mmcblk0 | grep -c '^mmcblk0p' > $CAMSIM_DIR/";

class VmSdmmcCard : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        insert_cards({64});
        // A card as sold: one FAT32 partition entry (LBA 2048 on), no
        // filesystem yet; the kernel finds the partition as it detects the
        // card.
        std::string image = cam_->scratch() + "/card0.img";
        int fd = open(image.c_str(), O_WRONLY);
        const unsigned char entry[16] = {0, 0, 0, 0, 0x0c, 0, 0, 0, 0x00, 0x08, 0, 0, 0x00, 0xf8, 0x01, 0};
        const unsigned char signature[2] = {0x55, 0xaa};
        bool written = fd >= 0 && pwrite(fd, entry, sizeof entry, 446) == (ssize_t)sizeof entry &&
                       pwrite(fd, signature, 2, 510) == 2;
        if (fd >= 0)
            close(fd);
        ASSERT_TRUE(written) << image;
        // The camera mounted the partition: a repair puts it back, a
        // format puts the whole card there.
        start(kPartitionCount + "before\n" +
              "mkdosfs /dev/mmcblk0p1 > /dev/null && mount -t vfat /dev/mmcblk0p1 /mnt/mmc\n"
              "echo old > /mnt/mmc/old\n"
              "run_case part_repair debug -M sdmmc -r\n"
              "awk '$2 == \"/mnt/mmc\" { print $1 }' /proc/mounts > $CAMSIM_DIR/part_mounted\n"
              "ls /mnt/mmc >> $CAMSIM_DIR/part_mounted\n"
              "run_case format debug -M sdmmc -f\n"
              "ls -A /mnt/mmc > $CAMSIM_DIR/format_left\n" + kPartitionCount +
              "after\n" + "dd if=/dev/mmcblk0 bs=1 skip=82 count=5 2>/dev/null > $CAMSIM_DIR/fs_type\n"
              "run_case mount debug -M sdmmc -m -m\n"
              "grep -c ' /mnt/mmc ' /proc/mounts > $CAMSIM_DIR/mounts\n" +
              kRecordCard + "run_case info debug -M sdmmc -i\n" + kStatfsTo + "statfs\n" +
              "run_case speed debug -M sdmmc -s\n"
              "ls -A /mnt/mmc > $CAMSIM_DIR/left\n"
              // Formatting the mounted card: what is then written through
              // the mount must land in the new filesystem whole.
              "echo old > /mnt/mmc/old\n"
              "run_case reformat debug -M sdmmc -f\n"
              "ls -A /mnt/mmc > $CAMSIM_DIR/reformat_left\n"
              "echo probe > /mnt/mmc/probe; umount /mnt/mmc\n"
              "dosfsck -n /dev/mmcblk0 > $CAMSIM_DIR/reformat_fsck 2>&1\n");
    }
};

TEST_F(VmSdmmcCard, FormatRemovesThePartitionAndMakesFat32WithBusyBoxPrograms)
{
    EXPECT_EQ(cam_->read_file("before"), "1\n") << "the partition was not made";
    // The partition on /mnt/mmc is the card there: the repair checks the
    // partition and puts it back.
    CamsimResult r = cam_->case_result("part_repair");
    EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), "Sd/mmc repair /dev/mmcblk0 success!\n");
    EXPECT_EQ(error_lines(r.err), "");
    EXPECT_EQ(cam_->read_file("part_mounted"), "/dev/mmcblk0p1\nold\n");

    r = cam_->case_result("format");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("Sd/mmc format failed!"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err), "") << r.err;
    // BusyBox's time applet reports mkdosfs's run.
    EXPECT_NE(r.err.find("real\t"), std::string::npos) << r.err;
    EXPECT_EQ(cam_->read_file("after"), "0\n");
    EXPECT_EQ(cam_->read_file("fs_type"), "FAT32");
    // Mounted again as the whole card (the guard checks the source).
    EXPECT_EQ(cam_->read_file("format_left"), "");
}

TEST_F(VmSdmmcCard, MountIsTheKernelsVfatOnceAndInformationComesFromItsStatfs)
{
    // The second -m finds the card in BusyBox's df and mounts nothing.
    CamsimResult r = cam_->case_result("mount");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(cam_->read_file("mounts"), "1\n");

    r = cam_->case_result("info");
    EXPECT_EQ(r.out, info_text(read_figures(*cam_, "statfs")));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(VmSdmmcCard, SpeedTestFillsTheCardThenLeavesNoTestFile)
{
    CamsimResult r = cam_->case_result("speed");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(error_lines(r.err), "");
    EXPECT_EQ(count_of(r.err, "records in"), 2) << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(cam_->read_file("left"), "");
}

TEST_F(VmSdmmcCard, FormatOfAMountedCardMountsTheNewFilesystemInsteadOfWritingOverIt)
{
    CamsimResult r = cam_->case_result("reformat");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(error_lines(r.err), "") << r.err;
    EXPECT_EQ(cam_->read_file("reformat_left"), "");
    // BusyBox's mkdosfs writes a label dosfsck finds invalid; nothing else
    // may be wrong, and the probe file must be there whole.
    std::string fsck = cam_->read_file("reformat_fsck");
    EXPECT_EQ(fsck.find("Truncating"), std::string::npos) << fsck;
    EXPECT_NE(fsck.find("/dev/mmcblk0: 1 files, 2/"), std::string::npos) << fsck;
}

class VmSdmmcFill : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        boot({64}, kWaitFor + kFormatCard0 + "debug -M sdmmc -m\n" + kRecordCard + kStatfsTo + "empty\n" +
                       "run_case fill debug -M sdmmc -n 5 -z 16 -F\n" + kStatfsTo + "full\n" +
                       "(cd /mnt/mmc && stat -c '%n %s' file*) > $CAMSIM_DIR/files\n"
                       "rm /mnt/mmc/file*\n" +
                       kStatfsTo + "before\n" +
                       // Ctrl-C at a terminal: SIGINT to the tool's process group.
                       "setsid sh -c 'echo $$ > /tmp/group; exec debug -M sdmmc -n 100 -z 4 -F "
                       "> $CAMSIM_DIR/stop.out 2> $CAMSIM_DIR/stop.err' &\n"
                       "tool=$!\n"
                       "wait_for \"grep -q 'file2 ' $CAMSIM_DIR/stop.out\"\n"
                       "kill -INT -$(cat /tmp/group)\n"
                       "wait $tool; echo $? > $CAMSIM_DIR/stop.status\n" +
                       kStatfsTo + "after\n");
    }
};

TEST_F(VmSdmmcFill, FillGoesOnToTheCountWhenTheCardIsFull)
{
    Figures empty = read_figures(*cam_, "empty"), full = read_figures(*cam_, "full");
    // vfat takes a page's clusters at a time: less than a page stays free.
    EXPECT_LT(full.free(), 4096u);
    CamsimResult r = cam_->case_result("fill");
    EXPECT_EQ(r.out, fill_header(empty, 5, 16) + create_lines(0, 5) + fill_footer(5, full));
    EXPECT_EQ(error_lines(r.err), "");
    EXPECT_EQ(r.status, 0);
    // The card filled up during file3.
    std::string files = cam_->read_file("files");
    EXPECT_EQ(files.rfind("file0 16777216\nfile1 16777216\nfile2 16777216\nfile3 ", 0), 0u) << files;
    EXPECT_NE(files.find("\nfile4 0\n"), std::string::npos) << files;
}

TEST_F(VmSdmmcFill, InterruptStopsTheFillBeforeTheNextFile)
{
    EXPECT_EQ(cam_->read_file("stop.status"), "0\n");
    EXPECT_EQ(cam_->read_file("stop.out"), fill_header(read_figures(*cam_, "before"), 100, 4) +
                                               create_lines(0, 3) + "\nGet signal, signo = 2\n" +
                                               fill_footer(3, read_figures(*cam_, "after")));
}

class VmSdmmcRepair : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        boot({64}, kFormatCard0 + kMountAndRecord + "umount /mnt/mmc\n" + repair_script());
    }
};

TEST_F(VmSdmmcRepair, MendsADamagedOrMountedCardAndFailsOnOneMountedElsewhereOrWithoutBootSector)
{
    expect_repairs(*cam_);
}

// One card that other names, other runs and signals reach while the tool
// works on it.
class VmSdmmcInUse : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        boot({64},
             kWaitFor + kFormatCard0 + kMountAndRecord +
                 "echo old > /mnt/mmc/old\n"
                 // A dropped SSH session while fdisk waits for its commands.
                 "setsid sh -c '" + kInGroup + "' sh debug -M sdmmc -f > $CAMSIM_DIR/hup.out 2> $CAMSIM_DIR/hup.err &\n"
                 "tool=$!\n"
                 "wait_for \"grep -qs '^fdisk' /proc/[0-9]*/cmdline\"\n"
                 "kill -HUP -$(cat /tmp/group); wait $tool; echo $? > $CAMSIM_DIR/hup.status\n"
                 "ls /mnt/mmc > $CAMSIM_DIR/hup.files\n"
                 // A second run while the format has the card off /mnt/mmc.
                 "debug -M sdmmc -f > /dev/null 2>&1 & format=$!\n"
                 "wait_for \"! grep -q ' /mnt/mmc ' /proc/mounts\"\n"
                 "run_case info debug -M sdmmc -i\n"
                 "wait $format; echo $? > $CAMSIM_DIR/format.status\n"
                 "ls -A /mnt/mmc > $CAMSIM_DIR/format.files\n" +
                 kStatfsTo + "statfs\n"
                 "echo probe > /mnt/mmc/probe; umount /mnt/mmc\n"
                 "dosfsck -n /dev/mmcblk0 > $CAMSIM_DIR/format.fsck 2>&1\n"
                 // A format asked for during a fill.
                 "mount -t vfat /dev/mmcblk0 /mnt/mmc\n"
                 "debug -M sdmmc -n 4 -z 1 -F > $CAMSIM_DIR/fill.out 2>&1 & fill=$!\n"
                 "wait_for \"grep -q 'file1 ' $CAMSIM_DIR/fill.out\"\n"
                 "run_case fill_format debug -M sdmmc -f -m\n"
                 "wait $fill\n"
                 "ls -A /mnt/mmc > $CAMSIM_DIR/fill.card\n"
                 "umount /mnt/mmc; ls -A /mnt/mmc > $CAMSIM_DIR/fill.beneath\n"
                 // The card under another name, mounted elsewhere.
                 "ln -s /dev/mmcblk0 /dev/sdcard; mkdir -p /media/x\n"
                 "mount -t vfat /dev/sdcard /media/x && echo x > /media/x/a\n"
                 "run_case other_name debug -M sdmmc -f -r -i\n"
                 "echo late > /media/x/late.txt; sync; umount /media/x\n"
                 "dosfsck -n /dev/mmcblk0 > $CAMSIM_DIR/other_name.fsck 2>&1\n"
                 // Ctrl-C after fdisk wrote the card (it removes the
                 // entry), before mkdosfs.
                 "mount -t vfat /dev/mmcblk0 /mnt/mmc\n"
                 "for i in 1 2 3 4 5 6 7 8; do echo data > /mnt/mmc/f$i; done\n" +
                 kPartitionEntry +
                 "setsid sh -c '" + kInGroup + "' sh debug -M sdmmc -f > $CAMSIM_DIR/stop.out 2> $CAMSIM_DIR/stop.err &\n"
                 "tool=$!\n"
                 "wait_for \"grep -q 're-read partition table' $CAMSIM_DIR/stop.out\"\n"
                 "kill -INT -$(cat /tmp/group); wait $tool; echo $? > $CAMSIM_DIR/stop.status\n"
                 "grep -c ' /mnt/mmc ' /proc/mounts > $CAMSIM_DIR/stop.mounts\n");
    }
};

TEST_F(VmSdmmcInUse, AHangUpWhileFdiskWaitsStopsTheFormatAndMountsTheOldFilesystemAgain)
{
    EXPECT_EQ(cam_->read_file("hup.status"), "0\n");
    std::string out = cam_->read_file("hup.out");
    EXPECT_NE(out.find("\nGet signal, signo = 1\nSd/mmc format failed!\n"), std::string::npos) << out;
    EXPECT_EQ(error_lines(cam_->read_file("hup.err")),
              error_line("sdmmc_stop_requested", "Sd/mmc format stopped!\n") +
                  error_line("sdmmc_init_param", "sdmmc format disk faild!\n"));
    EXPECT_EQ(cam_->read_file("hup.files"), "old\n");
}

TEST_F(VmSdmmcInUse, ARunThatFindsTheCardOffTheMountPointWaitsForTheFormat)
{
    CamsimResult r = cam_->case_result("info");
    EXPECT_EQ(r.out, info_text(read_figures(*cam_, "statfs")));
    EXPECT_EQ(without_line_numbers(r.err),
              error_line("sdmmc_lock_card", "SD/mmc /dev/mmcblk0 is busy, waiting for the other run!\n"));
    EXPECT_EQ(cam_->read_file("format.status"), "0\n");
    EXPECT_EQ(cam_->read_file("format.files"), "");
    // As after a format alone: BusyBox's label, and the probe file whole.
    std::string fsck = cam_->read_file("format.fsck");
    EXPECT_EQ(fsck.find("Truncating"), std::string::npos) << fsck;
    EXPECT_NE(fsck.find("/dev/mmcblk0: 1 files, 2/"), std::string::npos) << fsck;
}

TEST_F(VmSdmmcInUse, AFormatWaitsForTheFillAndNoFillFileLandsBeneathTheMountPoint)
{
    std::string fill = cam_->read_file("fill.out");
    EXPECT_NE(fill.find("Create /mnt/mmc/file3 \nCreate total 4 files \n"), std::string::npos) << fill;
    CamsimResult r = cam_->case_result("fill_format");
    EXPECT_EQ(error_lines(r.err),
              error_line("sdmmc_lock_card", "SD/mmc /dev/mmcblk0 is busy, waiting for the other run!\n"))
        << r.err;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(cam_->read_file("fill.card"), "");
    EXPECT_EQ(cam_->read_file("fill.beneath"), "");
}

TEST_F(VmSdmmcInUse, ACardMountedElsewhereUnderAnotherNameIsLeftAlone)
{
    CamsimResult r = cam_->case_result("other_name");
    EXPECT_EQ(r.out, "Sd/mmc format failed!\nSd/mmc repair /dev/mmcblk0 faild!\n");
    EXPECT_EQ(without_line_numbers(r.err),
              error_line("sdmmc_format_disk", "/dev/mmcblk0 is mounted elsewhere (/media/x), not formatted\n") +
                  error_line("sdmmc_init_param", "sdmmc format disk faild!\n") +
                  error_line("sdmmc_repair_disk", "/dev/mmcblk0 is mounted elsewhere (/media/x), not checked\n") +
                  error_line("sdmmc_init_param", "sdmmc repair disk faild!\n") +
                  error_line("sdmmc_info", "/dev/mmcblk0 is mounted elsewhere (/media/x), not on /mnt/mmc\n") +
                  error_line("sdmmc_init_param", "sdmmc check information faild!\n"));
    // Both files whole in the one filesystem.
    std::string fsck = cam_->read_file("other_name.fsck");
    EXPECT_NE(fsck.find("/dev/mmcblk0: 2 files, 3/"), std::string::npos) << fsck;
    EXPECT_EQ(fsck.find("Truncating"), std::string::npos) << fsck;
}

TEST_F(VmSdmmcInUse, AFormatStoppedAfterFdiskWroteLeavesTheCardUnmountedAndSaysSo)
{
    EXPECT_EQ(cam_->read_file("stop.status"), "0\n");
    std::string out = cam_->read_file("stop.out");
    EXPECT_NE(out.find("\nGet signal, signo = 2\nSd/mmc format failed!\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("usable"), std::string::npos) << out;
    EXPECT_EQ(error_lines(cam_->read_file("stop.err")),
              error_line("sdmmc_stop_requested", "Sd/mmc format stopped!\n") +
                  error_line("sdmmc_format_disk", "Sd/mmc /dev/mmcblk0 has no usable filesystem, please format it again!\n") +
                  error_line("sdmmc_init_param", "sdmmc format disk faild!\n"));
    EXPECT_EQ(cam_->read_file("stop.mounts"), "0\n");
}

// What the kernel knows about the card and the mount table does not say,
// or says in a way a text match gets wrong: a filesystem still alive after
// a lazy unmount or in another mount namespace, what /mnt/mmc really shows,
// a partition, a filesystem the kernel made read-only, a node named to
// break a shell command line, and a removal left in the page cache.
const std::string kPartitionOfTheCard =
    kPartitionEntry + "blockdev --rereadpt /dev/mmcblk0 && mkdosfs -F 32 /dev/mmcblk0p1 > /dev/null\n";
const std::string kStopFormatDuringFdisk =
    "setsid sh -c '" + kInGroup + "' sh debug -M sdmmc -f > /dev/null 2>&1 & tool=$!\n"
    "wait_for \"grep -qs '^fdisk' /proc/[0-9]*/cmdline\"\n"
    "kill -INT -$(cat /tmp/group); wait $tool\n";
const std::string kMountedTo = "awk '$2 == \"/mnt/mmc\" { print $1, substr($4, 1, 2) }' /proc/mounts > $CAMSIM_DIR/";

class VmSdmmcKernelView : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        boot({64},
             kWaitFor + kFormatCard0 + kMountAndRecord +
                 // A recorder holds a file; the card is detached lazily.
                 "echo keep > /mnt/mmc/keep; sleep 600 < /mnt/mmc/keep & holder=$!\n"
                 "wait_for \"ls -l /proc/$holder/fd 2> /dev/null | grep -q /mnt/mmc/keep\"\n"
                 "umount -l /mnt/mmc\n"
                 "run_case lazy debug -M sdmmc -f\n"
                 "kill $holder; wait_for 'mount -t vfat /dev/mmcblk0 /mnt/mmc 2> /dev/null'\n"
                 // The card mounted in another mount namespace as well.
                 "mkdir -p /media/x\n"
                 "unshare -m sh -c 'mount -t vfat /dev/mmcblk0 /media/x && : > /tmp/ns && exec sleep 600' & ns=$!\n"
                 "wait_for 'test -e /tmp/ns'\n"
                 "run_case namespace debug -M sdmmc -f -r\n" +
                 kMountedTo + "namespace.mounted\n"
                 "kill $ns; wait $ns; ls /mnt/mmc > $CAMSIM_DIR/kept\n"
                 // A write-protected card.
                 "blockdev --setro /dev/mmcblk0; run_case read_only debug -M sdmmc -f; blockdev --setrw /dev/mmcblk0\n"
                 "awk '$2 == \"/mnt/mmc\" { print $1 }' /proc/mounts > $CAMSIM_DIR/read_only.mounted\n"
                 "ls /mnt/mmc >> $CAMSIM_DIR/read_only.mounted\n"
                 // A tmpfs without a source over the card.
                 "run_case tmpfs unshare -m sh -c 'mount -t tmpfs \"\" /mnt/mmc && debug -M sdmmc -i'\n"
                 // /mnt/mmc a link to where the card is.
                 "umount /mnt/mmc; mkdir -p /var/mmc; mount -t vfat /dev/mmcblk0 /var/mmc\n"
                 "rmdir /mnt/mmc; ln -s /var/mmc /mnt/mmc\n"
                 "run_case link debug -M sdmmc -i -r\n"
                 "stat -f -c '%s %b %f' /var/mmc > $CAMSIM_DIR/link.statfs\n"
                 "awk '$1 == \"/dev/mmcblk0\" { print $2 }' /proc/mounts > $CAMSIM_DIR/link.mounted\n"
                 "umount /var/mmc; rm /mnt/mmc; mkdir /mnt/mmc\n"
                 // The kernel makes the card read-only at a FAT error: the
                 // clusters of f, among the first 64, are marked free.
                 "mount -t vfat /dev/mmcblk0 /mnt/mmc; dd if=/dev/zero of=/mnt/mmc/f bs=1k count=8 2> /dev/null\n"
                 "umount /mnt/mmc\n"
                 "fat=$(( $(od -An -tu2 -j11 -N2 /dev/mmcblk0) * $(od -An -tu2 -j14 -N2 /dev/mmcblk0) ))\n"
                 "dd if=/dev/zero of=/dev/mmcblk0 bs=1 count=244 seek=$(( fat + 4 * 3 )) conv=notrunc 2> /dev/null\n"
                 "mount -t vfat -o errors=remount-ro /dev/mmcblk0 /mnt/mmc; cat /mnt/mmc/f > /dev/null 2>&1\n" +
                 kMountedTo + "error.before\n" + kStopFormatDuringFdisk + kMountedTo + "error.after\n"
                 "umount /mnt/mmc\n" +
                 // A card as sold, p1 mounted, its FAT damaged as in the
                 // repair tests.
                 kPartitionOfTheCard +
                 "fat=$(( $(od -An -tu2 -j11 -N2 /dev/mmcblk0p1) * $(od -An -tu2 -j14 -N2 /dev/mmcblk0p1) ))\n"
                 "printf '\\377\\377\\377\\017' | dd of=/dev/mmcblk0p1 bs=1 seek=$(( fat + 4 * 100 )) conv=notrunc 2> /dev/null\n"
                 "mount -t vfat /dev/mmcblk0p1 /mnt/mmc; echo p1 > /mnt/mmc/p1\n"
                 "run_case part_repair debug -M sdmmc -r\n" +
                 kMountedTo + "part_repair.mounted\n" + kStopFormatDuringFdisk + kMountedTo +
                 "part_stopped.mounted\n"
                 "cat /mnt/mmc/p1 > $CAMSIM_DIR/p1; umount /mnt/mmc\n"
                 "dosfsck -n /dev/mmcblk0p1 > /dev/null 2>&1; echo $? > $CAMSIM_DIR/p1.verdict\n"
                 // p1 through a node whose name is a shell command line.
                 "d='/tmp/a;touch${IFS}/tmp/PWNED;:'; mkdir -p \"$d\"\n"
                 "mknod \"$d/n\" b $(tr : ' ' < /sys/block/mmcblk0/mmcblk0p1/dev); mount -t vfat \"$d/n\" /mnt/mmc\n"
                 "run_case named debug -M sdmmc -r\n"
                 "ls /tmp/PWNED > $CAMSIM_DIR/pwned 2>&1\n"
                 "umount /mnt/mmc\n"
                 // What the speed test leaves unwritten, a sync then writes.
                 "mount -t vfat /dev/mmcblk0p1 /mnt/mmc\n"
                 "run_case speed debug -M sdmmc -s\n"
                 "awk '{ print $7 }' /sys/block/mmcblk0/stat > $CAMSIM_DIR/speed.writes; sync\n"
                 "awk '{ print $7 }' /sys/block/mmcblk0/stat >> $CAMSIM_DIR/speed.writes\n");
    }
};

TEST_F(VmSdmmcKernelView, NothingIsWrittenWhileAFilesystemStillHoldsTheCardAndWhatWasUnmountedGoesBack)
{
    CamsimResult r = cam_->case_result("lazy");
    EXPECT_EQ(without_line_numbers(r.err),
              error_line("sdmmc_format_disk", "/dev/mmcblk0 is in use, not formatted\n") +
                  error_line("sdmmc_init_param", "sdmmc format disk faild!\n"));
    EXPECT_EQ(r.out, "Sd/mmc format failed!\n");
    r = cam_->case_result("namespace");
    EXPECT_EQ(r.out, "Sd/mmc format failed!\nSd/mmc repair /dev/mmcblk0 faild!\n");
    EXPECT_EQ(without_line_numbers(r.err),
              error_line("sdmmc_format_disk", "/dev/mmcblk0 is in use, not formatted\n") +
                  error_line("sdmmc_init_param", "sdmmc format disk faild!\n") +
                  error_line("sdmmc_repair_disk", "/dev/mmcblk0 is in use, not checked\n") +
                  error_line("sdmmc_init_param", "sdmmc repair disk faild!\n"));
    EXPECT_EQ(cam_->read_file("namespace.mounted"), "/dev/mmcblk0 rw\n");
    EXPECT_EQ(cam_->read_file("kept"), "keep\n");
}

TEST_F(VmSdmmcKernelView, AWriteProtectedCardKeepsItsFilesystemAndIsMountedAgain)
{
    CamsimResult r = cam_->case_result("read_only");
    EXPECT_NE(r.out.find("Sd/mmc format failed!\n"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err), error_line("sdmmc_init_param", "sdmmc format disk faild!\n"));
    EXPECT_EQ(cam_->read_file("read_only.mounted"), "/dev/mmcblk0\nkeep\n");
}

TEST_F(VmSdmmcKernelView, WhatMntMmcShowsIsDecidedByItsDeviceNumber)
{
    CamsimResult r = cam_->case_result("tmpfs");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(error_lines(r.err),
              error_line("sdmmc_info", "/dev/mmcblk0 is mounted elsewhere (/mnt/mmc), not on /mnt/mmc\n") +
                  error_line("sdmmc_init_param", "sdmmc check information faild!\n"));
    r = cam_->case_result("link");
    EXPECT_EQ(r.out.rfind(info_text(read_figures(*cam_, "link.statfs")), 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Sd/mmc repair /dev/mmcblk0 success!\n"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err), "");
    EXPECT_EQ(cam_->read_file("link.mounted"), "/var/mmc\n");
}

TEST_F(VmSdmmcKernelView, ACardTheKernelMadeReadOnlyStaysReadOnly)
{
    EXPECT_EQ(cam_->read_file("error.before"), "/dev/mmcblk0 ro\n") << "the kernel did not see the FAT error";
    EXPECT_EQ(cam_->read_file("error.after"), "/dev/mmcblk0 ro\n");
}

TEST_F(VmSdmmcKernelView, AMountedPartitionIsCheckedAndPutBackAsThePartition)
{
    CamsimResult r = cam_->case_result("part_repair");
    EXPECT_NE(r.out.find("/dev/mmcblk0p1: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Sd/mmc repair /dev/mmcblk0 success!\n"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err), "");
    EXPECT_EQ(cam_->read_file("part_repair.mounted"), "/dev/mmcblk0p1 rw\n");
    EXPECT_EQ(cam_->read_file("part_stopped.mounted"), "/dev/mmcblk0p1 rw\n");
    EXPECT_EQ(cam_->read_file("p1"), "p1\n");
    EXPECT_EQ(cam_->read_file("p1.verdict"), "0\n");
}

TEST_F(VmSdmmcKernelView, ANodeNamedLikeACommandLineIsNeverRunByAShell)
{
    EXPECT_EQ(cam_->read_file("pwned"), "ls: /tmp/PWNED: No such file or directory\n");
    CamsimResult r = cam_->case_result("named");
    EXPECT_NE(r.out.find("Sd/mmc repair /dev/mmcblk0 success!\n"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err), "");
}

TEST_F(VmSdmmcKernelView, TheSpeedTestsRemovalIsOnTheCardWhenItEnds)
{
    EXPECT_EQ(cam_->case_result("speed").status, 0);
    // The card's count of sectors written, before and after a sync.
    std::stringstream writes(cam_->read_file("speed.writes"));
    unsigned long long before = 0, after = 0;
    writes >> before >> after;
    EXPECT_GT(before, 0u);
    EXPECT_EQ(after, before);
}

} // namespace
