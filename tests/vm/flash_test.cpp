// flash_test.cpp - the camera's flash on the emulated camera: the bad-block
// scan through the kernel's MTD layer on its simulated NAND, and the tool's
// files on JFFS2 (the guarded log, the databases, their restore) on a flash
// that fills up, then what a second boot with the same flash finds.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "vm_suite.h"

namespace {

const std::string kCvdbLine = "Current Database File: [/mnt/nand/cvdb.db] \n";
const std::string kBlock = " ERROR  (cv_mtd|cv_badblock_check|N): ";

// Fills a flash filesystem with what does not compress, up to the last
// write it refuses.
const std::string kFill = "fill() { dd if=/dev/urandom of=$1/fill bs=4096 2>/dev/null; }\n";

// The NAND's bad blocks, numbered over the chip: one in boot (blocks 0-7),
// one in kernel (8-39), 130 in rootfs (40-295), more than the scan lists,
// and two in the rest (296-1023), the last one the chip's last block.
std::string bad_blocks()
{
    std::string list = "3,9";
    for (int b = 40; b < 170; b++)
        list += "," + std::to_string(b);
    return list + ",1000,1023";
}

std::string bad_at(unsigned offset)
{
    char line[64];
    snprintf(line, sizeof line, "Bad block found at : %08x\n", offset);
    return line;
}

class VmFlash : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        insert_cards({});
        cam_->option("--nand-parts", "8,32,256");
        cam_->option("--nand-bad", bad_blocks());
        cam_->option("--flash", cam_->scratch() + "/flash");
        cam_->option("--flash-size", "2");
        start(kFill + "cat /proc/mtd > $CAMSIM_DIR/proc_mtd\n"
                      "run_case scan debug -M mtd -b 1\n"
                      "run_case db_insert debug -M db -e \"insert into ports values('ssh', 22)\"\n"
                      "run_case ir debug -M ir -t 1 -d 1\n"
                      "cp /mnt/nand/debug.log $CAMSIM_DIR/log.first\n"
                      "fill /mnt/nand\n"
                      "run_case ir_full debug -M ir -t 1 -d 1\n"
                      "cp /mnt/nand/debug.log $CAMSIM_DIR/log.full\n"
                      "run_case db_full debug -M db -e \"insert into ports values('full', 1)\"\n"
                      "run_case db_full_read debug -M db -s \"select * from ports\"\n"
                      "rm /mnt/nand2/oem.db\n"
                      "fill /mnt/nand2\n"
                      "run_case restore_full debug -M gpio -r 1\n"
                      "ls -A /mnt/nand2 > $CAMSIM_DIR/nand2_full\n"
                      "rm /mnt/nand2/fill\n");
        second_ = cam_->run(kRunCase + "run_case db_again debug -M db -s \"select * from ports where port=22\"\n"
                                       "cp /mnt/nand/debug.log $CAMSIM_DIR/log.again\n",
                            280);
    }

    static CamsimResult second_;
};

CamsimResult VmFlash::second_;

TEST_F(VmFlash, ScanFindsTheKernelsBadBlocksByWholeFlashOffsetInTheNamedPartitions)
{
    EXPECT_EQ(cam_->read_file("proc_mtd"), "dev:    size   erasesize  name\n"
                                           "mtd0: 00100000 00020000 \"boot\"\n"
                                           "mtd1: 00400000 00020000 \"kernel\"\n"
                                           "mtd2: 02000000 00020000 \"rootfs\"\n"
                                           "mtd3: 05b00000 00020000 \"part3\"\n"
                                           "mtd4: 00200000 00040000 \"nand\"\n"
                                           "mtd5: 00200000 00040000 \"nand2\"\n");
    std::string rootfs;
    for (unsigned b = 40; b < 168; b++)
        rootfs += bad_at(b * 0x20000);
    CamsimResult r = cam_->case_result("scan");
    EXPECT_EQ(r.out, "/dev/mtd0 (\"boot\") : \n" + bad_at(0x60000) + "/dev/mtd1 (\"kernel\") : \n" +
                         bad_at(0x120000) + "/dev/mtd2 (\"rootfs\") : \n" + rootfs + "/dev/mtd3 (\"part3\") : \n" +
                         bad_at(0x7d00000) + bad_at(0x7fe0000) + "\nTotal bad block : 134\n");
    EXPECT_EQ(without_line_numbers(r.err), kBlock + "/dev/mtd2: 2 more bad blocks not listed\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(VmFlash, AFullFlashRefusesTheLogRecordWholeAndLeavesTheDatabaseAsItWas)
{
    EXPECT_EQ(cam_->case_result("ir").err, "");
    std::string first = cam_->read_file("log.first");
    ASSERT_EQ(first.size(), 1024u);
    EXPECT_EQ(first.rfind("Test date: ", 0), 0u);

    CamsimResult r = cam_->case_result("ir_full");
    EXPECT_NE(r.out.find("\t IR-cut result: success\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "write log: No space left on device\n");
    EXPECT_EQ(cam_->read_file("log.full"), first);

    // The statement's own failure is not the module's to report; the
    // database stays whole without the row.
    r = cam_->case_result("db_full");
    EXPECT_EQ(r.out, kCvdbLine + "End execute: 'insert into ports values('full', 1)' \n");
    r = cam_->case_result("db_full_read");
    EXPECT_EQ(r.out, kCvdbLine + "Query Result: \nname            port            \nhttp            80\n"
                                 "https           443\nrtsp            554\nonvif           8080\nssh             22\n \n");
    EXPECT_EQ(r.err, "");
}

TEST_F(VmFlash, ARestoreOnAFullFlashFailsLeavingNoFileBehind)
{
    CamsimResult r = cam_->case_result("restore_full");
    EXPECT_EQ(without_line_numbers(r.err), " ERROR  (test|restore_database|N): restore /mnt/nand2/oem.db from "
                                           "/opt/app/oem.db failed: No space left on device\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(cam_->read_file("nand2_full"), "fill\n");
}

TEST_F(VmFlash, ADatabaseRowAndALogRecordAreThereAfterASecondBootWithTheSameFlash)
{
    ASSERT_NE(second_.status, 125) << second_.err;
    CamsimResult r = cam_->case_result("db_again");
    EXPECT_EQ(r.out, kCvdbLine + "Query Result: \nname            port            \nssh             22\n \n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(cam_->read_file("log.again"), cam_->read_file("log.first"));
}

} // namespace
