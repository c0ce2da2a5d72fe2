// flash_test.cpp - the camera's flash on the emulated camera: one NAND
// chip, the bad-block scan through the kernel's MTD layer over all of it,
// and the tool's files on JFFS2 on its last partitions (the guarded log,
// the databases, their restore) on a flash that fills up; then what later
// boots with the same chip find, and what a power cut leaves.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vm_suite.h"

namespace {

const std::string kCvdbLine = "Current Database File: [/mnt/nand/cvdb.db] \n";
const std::string kBlock = " ERROR  (cv_mtd|cv_badblock_check|N): ";

// Fills a flash filesystem with what does not compress, up to the last
// write it refuses.
const std::string kFill = "fill() { dd if=/dev/urandom of=$1/fill bs=4096 2>/dev/null; }\n";

// The NAND's bad blocks, numbered over the chip: one in boot (blocks 0-7),
// one in kernel (8-39), 130 in rootfs (40-295), more than the scan lists,
// none in part3 (296-991), one in nand (992-1007), under JFFS2, and the
// chip's last block, in nand2 (1008-1023).
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
        for (int i = 0; i < 2; i++) {
            std::string n = std::to_string(i);
            later_[i] = cam_->run(kRunCase + "run_case db_again" + n +
                                      " debug -M db -s \"select * from ports where port=22\"\n"
                                      "cp /mnt/nand/debug.log $CAMSIM_DIR/log.again" + n + "\n",
                                  280);
        }
    }

    // Two boots after the first, each reading what the first wrote.
    static CamsimResult later_[2];
};

CamsimResult VmFlash::later_[2];

// One erase block of the chip's image as the host keeps it: each page's
// 2048 bytes of data, then its 64 out of band.
struct NandBlock {
    int written_pages = 0; // pages whose data is not all erased
    std::vector<unsigned char> first_oob; // out of band of the block's first page
};

NandBlock nand_block(const std::string &image, int block)
{
    const long page = 2048 + 64;
    NandBlock b;
    FILE *f = fopen(image.c_str(), "rb");
    if (!f)
        return b;
    std::vector<unsigned char> bytes(64 * page);
    if (fseek(f, block * 64 * page, SEEK_SET) == 0 && fread(bytes.data(), 1, bytes.size(), f) == bytes.size()) {
        for (int p = 0; p < 64; p++)
            for (long i = 0; i < 2048; i++)
                if (bytes[p * page + i] != 0xff) {
                    b.written_pages++;
                    break;
                }
        b.first_oob.assign(bytes.begin() + 2048, bytes.begin() + page);
    }
    fclose(f);
    return b;
}

TEST_F(VmFlash, ScanFindsTheKernelsBadBlocksByWholeFlashOffsetInTheNamedPartitions)
{
    EXPECT_EQ(cam_->read_file("proc_mtd"), "dev:    size   erasesize  name\n"
                                           "mtd0: 00100000 00020000 \"boot\"\n"
                                           "mtd1: 00400000 00020000 \"kernel\"\n"
                                           "mtd2: 02000000 00020000 \"rootfs\"\n"
                                           "mtd3: 05700000 00020000 \"part3\"\n"
                                           "mtd4: 00200000 00020000 \"nand\"\n"
                                           "mtd5: 00200000 00020000 \"nand2\"\n");
    std::string rootfs;
    for (unsigned b = 40; b < 168; b++)
        rootfs += bad_at(b * 0x20000);
    CamsimResult r = cam_->case_result("scan");
    EXPECT_EQ(r.out, "/dev/mtd0 (\"boot\") : \n" + bad_at(0x60000) + "/dev/mtd1 (\"kernel\") : \n" +
                         bad_at(0x120000) + "/dev/mtd2 (\"rootfs\") : \n" + rootfs + "/dev/mtd4 (\"nand\") : \n" + bad_at(0x7d00000) + "/dev/mtd5 (\"nand2\") : \n" +
                         bad_at(0x7fe0000) + "\nTotal bad block : 134\n");
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

// JFFS2 filled nand around its bad block: the block keeps its bad mark
// and no data, every other block of the partition carries JFFS2's clean
// marker out of band, and most of them hold the fill.
TEST_F(VmFlash, JffsSkipsTheBadBlockInsideNandAndFillsTheRest)
{
    const std::string image = cam_->scratch() + "/flash/nand.img";
    NandBlock bad = nand_block(image, 1000);
    ASSERT_EQ(bad.first_oob.size(), 64u) << "no NAND image at " << image;
    EXPECT_NE(bad.first_oob[0], 0xff) << "block 1000 lost its bad-block mark";
    EXPECT_EQ(bad.written_pages, 0);
    int filled = 0;
    for (int block = 992; block < 1008; block++) {
        if (block == 1000)
            continue;
        NandBlock b = nand_block(image, block);
        ASSERT_EQ(b.first_oob.size(), 64u);
        EXPECT_EQ(b.first_oob[2], 0x85) << "block " << block << " has no clean marker";
        EXPECT_EQ(b.first_oob[3], 0x19) << "block " << block << " has no clean marker";
        filled += b.written_pages > 0;
    }
    EXPECT_GE(filled, 10);
}

TEST_F(VmFlash, ADatabaseRowAndALogRecordAreThereAfterTwoMoreBootsWithTheSameFlash)
{
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE("boot " + std::to_string(i + 2));
        ASSERT_NE(later_[i].status, 125) << later_[i].err;
        EXPECT_EQ(later_[i].status, 0) << later_[i].err;
        std::string n = std::to_string(i);
        CamsimResult r = cam_->case_result("db_again" + n);
        EXPECT_EQ(r.out, kCvdbLine + "Query Result: \nname            port            \nssh             22\n \n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(cam_->read_file("log.again" + n), cam_->read_file("log.first"));
    }
}

// A record fsynced on /mnt/nand is on the chip, out of JFFS2's write
// buffer and the guest's caches, when the power goes a moment later.
TEST(VmNand, ARecordFsyncedJustBeforeACutIsThereAtTheNextBoot)
{
    Camsim cam(Sandbox::vm);
    // Not a whole number of pages: its end sits in the write buffer until
    // the fsync.
    CutAndAfter r = cut_then_boot(cam, "", "synced",
                                  "head -c 5000 /dev/urandom > /tmp/record\n"
                                  "dd if=/tmp/record of=/mnt/nand/record bs=5000 conv=fsync 2>/dev/null\n"
                                  "md5sum < /tmp/record; echo synced; exec sleep 600\n",
                                  "md5sum < /mnt/nand/record\n");
    EXPECT_EQ(r.cut.status, 137) << r.cut.err;
    EXPECT_EQ(r.cut.err, "camvm: power cut 0 s after the guest printed \"synced\"\n");
    ASSERT_EQ(r.cut.out.size(), 36u + 7u) << r.cut.out;
    EXPECT_EQ(r.after.out, r.cut.out.substr(0, 36)) << r.after.err;
    EXPECT_EQ(r.after.status, 0);
}

// A statement that ended is on the chip when the power goes seconds after
// the run, before JFFS2 writes its buffer out by itself: the commit's
// deletion of the journal included, or the next open rolls it back.
TEST(VmNand, AStatementThatEndedOutlivesACutSecondsAfterTheRun)
{
    Camsim cam(Sandbox::vm);
    CutAndAfter r = cut_then_boot(cam, "", "ended+1",
                                  "debug -M db -e 'create table cut(x)' -e 'insert into cut values(42)' > /dev/null\n"
                                  "echo ended; exec sleep 600\n",
                                  "debug -M db -s 'select x from cut'\n");
    EXPECT_EQ(r.cut.status, 137) << r.cut.err;
    ASSERT_EQ(r.cut.out, "ended\n") << r.cut.err;
    EXPECT_EQ(r.after.out, kCvdbLine + "Query Result: \nx               \n42\n \n") << r.after.err;
}

// On a new chip JFFS2's collector is still erasing when a short command
// ends and the unmount stops it: the erase or program it was making is
// finished, not failed (a failure would take the block for bad, and the
// guest reports it as a run that cannot stand). Three new chips, as the
// moment varies.
TEST(VmNand, AnUnmountJustAfterTheFirstMountFailsNoProgramOrErase)
{
    Camsim cam(Sandbox::vm);
    for (int i = 0; i < 3; i++) {
        CamsimResult r = cam.run("true", 280);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

} // namespace
