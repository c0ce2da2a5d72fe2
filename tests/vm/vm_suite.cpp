// vm_suite.cpp - one boot of the emulated camera per test suite.
#include "vm_suite.h"

#include "sdmmc_expect.h"

std::unique_ptr<Camsim> VmSuite::cam_;
CamsimResult VmSuite::run_;
bool VmSuite::with_card_ = false;

CutAndAfter cut_then_boot(Camsim &cam, const std::string &card, const std::string &cut_on,
                          const std::string &command, const std::string &next)
{
    std::string flash = cam.scratch() + "/flash";
    cam.option("--flash", flash);
    cam.option("--cut-on", cut_on);
    CutAndAfter r;
    r.cut = cam.run(command, 280);
    Camsim again(Sandbox::vm);
    if (!card.empty())
        again.option("--card", card);
    again.option("--flash", flash);
    r.after = again.run(next, 280);
    return r;
}

void VmSuite::boot(const std::vector<int> &card_mb, const std::string &script)
{
    insert_cards(card_mb);
    start(script);
}

void VmSuite::insert_cards(const std::vector<int> &card_mb)
{
    cam_ = std::make_unique<Camsim>(Sandbox::vm);
    with_card_ = !card_mb.empty();
    for (size_t i = 0; i < card_mb.size(); i++)
        insert_card(*cam_, "card" + std::to_string(i) + ".img", card_mb[i]);
}

void VmSuite::start(const std::string &script)
{
    run_ = cam_->run(kRunCase + kRecordMachine + script, 280);
}

void VmSuite::TearDownTestSuite()
{
    cam_.reset();
}

void VmSuite::SetUp()
{
    ASSERT_TRUE(cam_);
    // 125: camvm itself failed (no emulator, no guest, a time-out).
    ASSERT_NE(run_.status, 125) << run_.err;
    EXPECT_EQ(cam_->read_file("guard.machine"), "aarch64\n") << "not the Arm64 kernel\n" << run_.err;
    EXPECT_EQ(cam_->read_file("guard.flash"), "jffs2 nand\n") << "/mnt/nand was not JFFS2 on the NAND";
    if (with_card_) {
        EXPECT_EQ(cam_->read_file("guard.mount"), "/dev/mmcblk0 vfat\n")
            << "/mnt/mmc was not the kernel's vfat on the card";
        EXPECT_EQ(cam_->read_file("guard.card"), "SD\n") << "mmcblk0 was not an SD card";
    }
}
