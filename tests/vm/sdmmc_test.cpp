// sdmmc_test.cpp - the sdmmc module on the emulated camera: SD cards on an
// SDHCI controller through the kernel's MMC stack, the kernel's vfat, and
// BusyBox's mount, df, fdisk, mkdosfs, dd and time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "sdmmc_expect.h"
#include "vm_suite.h"

namespace {

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
        start(kPartitionCount + "before\n" + "run_case format debug -M sdmmc -f\n" + kPartitionCount +
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
    CamsimResult r = cam_->case_result("format");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("Sd/mmc format failed!"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err), "") << r.err;
    // BusyBox's time applet reports mkdosfs's run.
    EXPECT_NE(r.err.find("real\t"), std::string::npos) << r.err;
    EXPECT_EQ(cam_->read_file("after"), "0\n");
    EXPECT_EQ(cam_->read_file("fs_type"), "FAT32");
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

} // namespace
