// sdmmc_card_test.cpp - the card handling on its own: the mount table as
// the kernel writes it, and what a failed put-back says.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>

#include "sdmmc_card.h"

namespace {

TEST(SdmmcCard, MountTableLinesGiveDeviceNamesAndReadOnlyAsTheKernelMeansThem)
{
    struct Case {
        const char *line;
        int result;
        dev_t device;
        const char *point, *source;
        int read_only;
    } cases[] = {
        {"36 25 179:0 / /mnt/mmc rw,relatime - vfat /dev/mmcblk0 rw,fmask=0000\n", 0, makedev(179, 0), "/mnt/mmc",
         "/dev/mmcblk0", 0},
        // Blanks in names come as \040; tags may stand before the dash.
        {"37 25 179:1 / /media/a\\040b rw shared:1 master:2 - vfat /dev/mmcblk0p1 rw\n", 0, makedev(179, 1),
         "/media/a b", "/dev/mmcblk0p1", 0},
        // A FAT error makes the filesystem read-only, not the mount.
        {"38 25 179:0 / /mnt/mmc rw - vfat /dev/mmcblk0 ro,fmask=0000\n", 0, makedev(179, 0), "/mnt/mmc",
         "/dev/mmcblk0", 1},
        // A filesystem with no device of its own, its source empty.
        {"39 25 0:50 / /mnt/mmc rw - tmpfs  rw\n", 0, 0, "/mnt/mmc", "", 0},
        {"garbage\n", -1, 0, "", "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        std::string line = c.line;
        SdmmcMount m = {};
        ASSERT_EQ(sdmmc_card_parse_mount(&line[0], &m), c.result);
        if (c.result != 0)
            continue;
        EXPECT_EQ(m.device, c.device);
        EXPECT_STREQ(m.point, c.point);
        EXPECT_STREQ(m.source, c.source);
        EXPECT_EQ(m.read_only, c.read_only);
        EXPECT_EQ(std::string(m.options).find(",ro") != std::string::npos, c.read_only == 1) << m.options;
    }
}

// A mount program that fails: the put-back says with what status, and a
// card that is no block device is found nowhere.
TEST(SdmmcCard, AFailedPutBackSaysWhy)
{
    char dir[] = "/tmp/sdmmc_card_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string mount = std::string(dir) + "/mount";
    FILE *f = fopen(mount.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("#!/bin/sh\nexit 32\n", f);
    fclose(f);
    chmod(mount.c_str(), 0755);
    std::string path = std::string(dir) + ":" + getenv("PATH");
    std::string saved = getenv("PATH");
    setenv("PATH", path.c_str(), 1);
    SdmmcMount was = {};
    snprintf(was.point, sizeof was.point, "%s", dir);
    snprintf(was.options, sizeof was.options, "rw");
    char why[512] = "";
    int result = sdmmc_card_put_back(mount.c_str(), mount.c_str(), &was, 1, why, sizeof why);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(result, -1);
    EXPECT_STREQ(why, "mount failed with status 32");
    SdmmcCardMounts found;
    EXPECT_EQ(sdmmc_card_find_mounts(mount.c_str(), dir, &found), -1);
    EXPECT_EQ(sdmmc_card_partition_count(mount.c_str()), -1);
    unlink(mount.c_str());
    rmdir(dir);
}

} // namespace
