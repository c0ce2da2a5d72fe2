// vm_suite.h - the emulated camera's test suites: each suite boots the
// guest once (sandbox/camvm) and runs one script of many cases, which its
// tests then read back. Every test first checks that the run really was on
// the emulated hardware, not on a stand-in.
#ifndef VM_SUITE_H
#define VM_SUITE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "camsim_run.h"

// What tells the emulated camera from a stand-in, recorded by the script:
// the machine, and the filesystem of /mnt/nand with the kind of flash
// under it (the MTD device of its mtdblock), and (once a card is mounted
// on /mnt/mmc) the mount's source and type and the card's kind as the MMC
// stack sees it.
inline const std::string kRecordMachine =
    "uname -m > $CAMSIM_DIR/guard.machine\n"
    "awk '$2 == \"/mnt/nand\" { sub(\"/dev/mtdblock\", \"\", $1); print $3, $1 }' /proc/mounts |\n"
    "  while read -r fs n; do echo \"$fs $(cat /sys/class/mtd/mtd$n/type)\"; done > $CAMSIM_DIR/guard.flash\n";
inline const std::string kRecordCard =
    "awk '$2 == \"/mnt/mmc\" { print $1, $3 }' /proc/mounts > $CAMSIM_DIR/guard.mount\n"
    "cat /sys/block/mmcblk0/device/type > $CAMSIM_DIR/guard.card\n";

// A run of command on a flash kept in the scratch directory (and the card
// image card, when one is named), the power cut when the guest has printed
// what cut_on names (camvm's --cut-on TEXT[+S]); then next in a new boot on
// the same images.
struct CutAndAfter {
    CamsimResult cut, after;
};
CutAndAfter cut_then_boot(Camsim &cam, const std::string &card, const std::string &cut_on,
                          const std::string &command, const std::string &next);

class VmSuite : public ::testing::Test {
protected:
    // Boots the camera with cards of these sizes in MiB (QEMU's SD cards
    // must be a power of two), card0.img and on in the scratch directory,
    // and runs the script; kRunCase and kRecordMachine come first. With
    // cards, the script records the card with kRecordCard while it is
    // mounted.
    static void boot(const std::vector<int> &card_mb, const std::string &script);
    // The same in two steps, for a suite that prepares its cards' content.
    static void insert_cards(const std::vector<int> &card_mb);
    static void start(const std::string &script);
    static void TearDownTestSuite();
    void SetUp() override;

    static std::unique_ptr<Camsim> cam_;
    static CamsimResult run_;
    static bool with_card_;
};

#endif
