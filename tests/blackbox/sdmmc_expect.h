// sdmmc_expect.h - what the sdmmc module prints and the card set-ups its
// tests use, shared by the runs in the simulated camera and in the emulated
// one.
#ifndef SDMMC_EXPECT_H
#define SDMMC_EXPECT_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "camsim_run.h"

inline const std::string kNotInserted = "SD/mmc isn't inserted, please check again!\n";
inline const std::string kTryReinit = "SD/mmc has error, try to reinit!\n";

// The error line as the tool prints it, with the source line left out.
inline std::string error_line(const std::string &func, const std::string &message)
{
    return " ERROR  (cv_sdmmc|" + func + "|N): " + message;
}

// The tool's error lines among everything the shell programs printed.
inline std::string error_lines(const std::string &err)
{
    std::stringstream in(without_line_numbers(err));
    std::string line, kept;
    while (std::getline(in, line)) {
        if (line.rfind(" ERROR  (", 0) == 0)
            kept += line + "\n";
    }
    return kept;
}

inline int count_of(const std::string &text, const std::string &needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        n++;
    return n;
}

// A blank card image of mb MiB in the scratch directory, inserted in the
// slot (the next /dev/mmcblkN) for the following runs.
inline std::string insert_card(Camsim &cam, const std::string &name, int mb)
{
    std::string path = cam.scratch() + "/" + name;
    FILE *f = fopen(path.c_str(), "w");
    EXPECT_NE(f, nullptr);
    if (f)
        fclose(f);
    EXPECT_EQ(truncate(path.c_str(), (off_t)mb << 20), 0);
    cam.option("--card", path);
    return path;
}

inline const std::string kFormatCard0 = "mkdosfs -F 32 /dev/mmcblk0 > /dev/null\n";

// Runs a check until it holds, for at most 20 s.
inline const std::string kWaitFor =
    "wait_for() { n=0; until eval \"$1\"; do n=$((n+1)); [ $n -lt 400 ] || return 1; sleep 0.05; done; }\n";

// For signals as a terminal sends them, to the tool's whole process group:
// setsid sh -c "$kInGroup" sh COMMAND... keeps the group's number in
// /tmp/group.
inline const std::string kInGroup = "echo $$ > /tmp/group; exec \"$@\"";

// Figures of the mounted card as statfs gives them: block size, blocks, free blocks.
inline const std::string kStatfsTo = "stat -f -c '%s %b %f' /mnt/mmc > $CAMSIM_DIR/";

struct Figures {
    unsigned long long bsize = 0, blocks = 0, bfree = 0;
    unsigned long long total() const { return bsize * blocks; }
    unsigned long long free() const { return bsize * bfree; }
};

inline Figures read_figures(const Camsim &cam, const std::string &name)
{
    Figures f;
    std::stringstream in(cam.read_file(name));
    in >> f.bsize >> f.blocks >> f.bfree;
    EXPECT_GT(f.blocks, 0u) << name;
    return f;
}

inline std::string mb(unsigned long long bytes)
{
    return std::to_string(bytes >> 20);
}

inline std::string gb(unsigned long long bytes)
{
    char text[32];
    snprintf(text, sizeof text, "%.2f", (double)(bytes >> 20) / 1024.0);
    return text;
}

inline std::string fill_header(const Figures &f, unsigned files, unsigned size)
{
    return "All size = " + mb(f.total()) + " MB, free size = " + mb(f.free()) + " MB \n" +
           "Try to filling sdmmc by creating " + std::to_string(files) + " files, echo file size " +
           std::to_string(size) + " MB \n";
}

inline std::string create_lines(unsigned from, unsigned to)
{
    std::string text;
    for (unsigned i = from; i < to; i++)
        text += "Create /mnt/mmc/file" + std::to_string(i) + " \n";
    return text;
}

inline std::string fill_footer(unsigned files, const Figures &f)
{
    return "Create total " + std::to_string(files) + " files \nFree size = " + mb(f.free()) +
           " MB \n";
}

// The cache flushes among the platform calls (shutdown adds calls of its own).
inline int flushes(const Camsim &cam)
{
    int n = 0;
    for (const auto &call : cam.calls())
        n += call == "cv_free_system_caches";
    return n;
}

// The capacity report for these figures.
inline std::string info_text(const Figures &f)
{
    unsigned long long total = f.total(), free = f.free(), used = total - free;
    return "Block = " + std::to_string(f.bsize >> 10) + " KB \n" + "Total = " + std::to_string(total) +
           " B = " + std::to_string(total >> 10) + " KB = " + mb(total) + " MB = " + gb(total) +
           " GB\n" + "Free = " + std::to_string(free >> 10) + " KB = " + mb(free) + " MB = " + gb(free) +
           " GB\n" + "Use = " + std::to_string(used >> 10) + " KB = " + mb(used) + " MB = " + gb(used) +
           " GB\n";
}

// -m -i -s -F -r -f without a card: the presence message of each action on
// standard output, each one's failure lines on standard error.
inline const std::string kNoCardArgs = "-m -i -s -F -r -f";
inline std::string no_card_out()
{
    std::string out;
    for (int i = 0; i < 6; i++)
        out += kNotInserted;
    return out;
}
inline std::string no_card_err()
{
    return error_line("sdmmc_init_param", "sdmmc mount faild!\n") +
           error_line("sdmmc_info", "sdmmc mount failed!\n") +
           error_line("sdmmc_init_param", "sdmmc check information faild!\n") +
           error_line("sdmmc_test_speed", "sdmmc mount failed!\n") +
           error_line("sdmmc_init_param", "sdmmc test speed faild!\n") +
           error_line("sdmmc_filling_disk", "sdmmc mount failed!\n") +
           error_line("sdmmc_init_param", "sdmmc filling disk faild!\n") +
           error_line("sdmmc_init_param", "sdmmc repair disk faild!\n") +
           error_line("sdmmc_init_param", "sdmmc format disk faild!\n");
}

// -m -r with two cards: each action tries once more a second later, then
// fails.
inline const std::string kTwoCardsOut = kTryReinit + kTryReinit;
inline std::string two_cards_err()
{
    return error_line("sdmmc_init", "SD/mmc has error, reinit faild!\n") +
           error_line("sdmmc_init_param", "sdmmc mount faild!\n") +
           error_line("sdmmc_init", "SD/mmc has error, reinit faild!\n") +
           error_line("sdmmc_init_param", "sdmmc repair disk faild!\n");
}

// Marks cluster 100 of the FAT32 card as the end of a chain no file owns.
inline const std::string kDamageFat =
    "bps=$(od -An -tu2 -j11 -N2 /dev/mmcblk0)\n"
    "reserved=$(od -An -tu2 -j14 -N2 /dev/mmcblk0)\n"
    "printf '\\377\\377\\377\\017' | dd of=/dev/mmcblk0 bs=1 "
    "seek=$(( $bps * $reserved + 4 * 100 )) conv=notrunc status=none\n";

// dosfsck's read-only verdict on the card (its exit status), into a file.
inline std::string fsck_verdict_to(const std::string &name)
{
    return "dosfsck -n /dev/mmcblk0 > /dev/null 2>&1; echo $? > $CAMSIM_DIR/" + name + "\n";
}

// The repairs both cameras must get right, on one FAT32 card in one run:
// a damaged FAT on the unmounted card, the mended card mounted on /mnt/mmc
// (and its mount and dirty flag afterwards), the card mounted elsewhere,
// the card mounted read-only, and the card without a boot sector.
inline std::string repair_script()
{
    return kRunCase + kFormatCard0 + kDamageFat + fsck_verdict_to("damaged") +
           "run_case repair_damaged debug -M sdmmc -r\n" + fsck_verdict_to("mended") +
           "debug -M sdmmc -m\n"
           "run_case repair_mounted debug -M sdmmc -r\n"
           "awk '$2 == \"/mnt/mmc\" { print $1 }' /proc/mounts > $CAMSIM_DIR/mounted\n"
           "od -An -tu1 -j65 -N1 /dev/mmcblk0 | tr -d ' ' > $CAMSIM_DIR/dirty\n"
           "umount /mnt/mmc && mkdir /mnt/card && mount -t vfat /dev/mmcblk0 /mnt/card\n"
           "run_case repair_elsewhere debug -M sdmmc -r\n"
           "umount /mnt/card\n"
           "mount -t vfat -o ro,umask=027 /dev/mmcblk0 /mnt/mmc\n"
           "run_case repair_read_only debug -M sdmmc -r\n"
           "awk '$2 == \"/mnt/mmc\" { print substr($4, 1, 2) }' /proc/mounts > $CAMSIM_DIR/ro_mount\n"
           "stat -c %a /mnt/mmc > $CAMSIM_DIR/ro_mode; umount /mnt/mmc\n"
           "dd if=/dev/zero of=/dev/mmcblk0 bs=512 count=1 status=none\n"
           "run_case repair_wiped debug -M sdmmc -r\n";
}

inline void expect_repairs(const Camsim &cam)
{
    const std::string success = "Sd/mmc repair /dev/mmcblk0 success!\n";
    const std::string failed = "Sd/mmc repair /dev/mmcblk0 faild!\n";
    const std::string failed_line = error_line("sdmmc_init_param", "sdmmc repair disk faild!\n");
    auto ends_with = [](const std::string &text, const std::string &end) {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    };

    EXPECT_EQ(cam.read_file("damaged"), "1\n") << "the damage was not made";
    // dosfsck mends the FAT and says so with status 1: a repair.
    CamsimResult r = cam.case_result("repair_damaged");
    EXPECT_TRUE(ends_with(r.out, success)) << r.out;
    EXPECT_NE(r.out.find("Reclaimed 1 unused cluster"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err), "") << r.err;
    EXPECT_EQ(cam.read_file("mended"), "0\n");

    // Checked unmounted (no dirty flag from the mount), mounted again after.
    r = cam.case_result("repair_mounted");
    EXPECT_TRUE(ends_with(r.out, success)) << r.out;
    EXPECT_EQ(r.out.find("Dirty bit"), std::string::npos) << r.out;
    EXPECT_EQ(error_lines(r.err), "") << r.err;
    EXPECT_EQ(cam.read_file("mounted"), "/dev/mmcblk0\n");
    EXPECT_EQ(cam.read_file("dirty"), "1\n");

    r = cam.case_result("repair_elsewhere");
    EXPECT_EQ(r.out, failed);
    EXPECT_EQ(without_line_numbers(r.err),
              error_line("sdmmc_repair_disk", "/dev/mmcblk0 is mounted elsewhere (/mnt/card), not checked\n") +
                  failed_line);

    // A write-protected card comes back as it was mounted.
    r = cam.case_result("repair_read_only");
    EXPECT_TRUE(ends_with(r.out, success)) << r.out;
    EXPECT_EQ(error_lines(r.err), "") << r.err;
    EXPECT_EQ(cam.read_file("ro_mount") + cam.read_file("ro_mode"), "ro\n750\n");

    // dosfsck gives up on it with status 1 too: a failure all the same.
    r = cam.case_result("repair_wiped");
    EXPECT_TRUE(ends_with(r.out, failed)) << r.out;
    EXPECT_EQ(error_lines(r.err), failed_line) << r.err;
    for (const char *name :
         {"repair_damaged", "repair_mounted", "repair_elsewhere", "repair_read_only", "repair_wiped"})
        EXPECT_EQ(cam.case_result(name).status, 0) << name;
}

#endif
