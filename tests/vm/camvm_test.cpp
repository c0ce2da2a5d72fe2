// camvm_test.cpp - camvm itself: how each signal ends it, that nothing it
// starts outlives it, that a broken cache entry is built again, and a
// power cut that keeps what the guest had written to its devices. Where
// the guest plays no part, a stand-in emulator that never ends on its own
// and never opens camvm's pipes takes the real one's place, so no guest
// boots.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "camsim_run.h"
#include "sdmmc_expect.h"

namespace {

// Waits until the state directory's file holds text.
bool wait_for_text(const Camsim &cam, const std::string &name, const std::string &text, int seconds)
{
    time_t deadline = time(nullptr) + seconds;
    while (cam.read_file(name) != text) {
        if (time(nullptr) > deadline)
            return false;
        usleep(50000);
    }
    return true;
}

class VmStop : public ::testing::Test {
protected:
    // Starts camvm with the stand-in emulator first on PATH and waits until
    // the emulator runs.
    static pid_t start_stalled(const Camsim &cam)
    {
        std::string bin = cam.scratch() + "/bin";
        mkdir(bin.c_str(), 0755);
        // Its command line stays the emulator's, which names the run's directory.
        write_whole_file(bin + "/qemu-system-aarch64", "#!/bin/bash\necho > " + shell_quote(cam.dir() + "/emulator") +
                                                           "\nexec -a \"$0 $*\" sleep 600\n");
        chmod((bin + "/qemu-system-aarch64").c_str(), 0755);
        std::string path = getenv("PATH");
        setenv("PATH", (bin + ":" + path).c_str(), 1);
        pid_t pid = cam.start("echo never");
        setenv("PATH", path.c_str(), 1);
        EXPECT_TRUE(wait_for_text(cam, "emulator", "\n", 150)) << "the emulator did not start";
        return pid;
    }
};

TEST_F(VmStop, TermAndHangUpEndTheEmulatorAtOnceWith128PlusTheSignal)
{
    for (int sig : {SIGTERM, SIGHUP}) {
        Camsim cam(Sandbox::vm);
        pid_t pid = start_stalled(cam);
        kill(pid, sig);
        CamsimResult r = cam.finish(pid, 15);
        EXPECT_EQ(r.status, 128 + sig) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(leftovers(cam, pid, 10), std::vector<std::string>{});
    }
}

TEST_F(VmStop, NothingCamvmStartsOutlivesItsKill)
{
    Camsim cam(Sandbox::vm);
    pid_t pid = start_stalled(cam);
    kill(pid, SIGKILL);
    EXPECT_EQ(cam.finish(pid, 15).status, 128 + SIGKILL);
    EXPECT_EQ(leftovers(cam, pid, 10), std::vector<std::string>{});
}

// The guest's command counts the SIGINTs that reach it.
TEST_F(VmStop, FirstInterruptReachesTheCommandASecondEndsTheEmulator)
{
    Camsim cam(Sandbox::vm);
    pid_t pid = cam.start("trap 'echo int >> \"$CAMSIM_DIR/interrupts\"' INT\n"
                          "echo > \"$CAMSIM_DIR/started\"\n"
                          "while :; do sleep 1; done\n");
    ASSERT_TRUE(wait_for_text(cam, "started", "\n", 150)) << cam.finish(pid, 0).err;
    kill(pid, SIGINT);
    EXPECT_TRUE(wait_for_text(cam, "interrupts", "int\n", 30));
    kill(pid, SIGINT);
    CamsimResult r = cam.finish(pid, 30);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_EQ(cam.read_file("interrupts"), "int\n");
    EXPECT_EQ(leftovers(cam, pid, 10), std::vector<std::string>{});
}

// On a copy of the prepared cache: a truncated initramfs is seen before
// use, and one whose record was made to match its broken content makes the
// kernel panic, after which it is built again and the command runs.
TEST(VmCache, BrokenEntryIsBuiltAgainOnceAndTheCommandRuns)
{
    const char *shared = getenv("CAMVM_CACHE");
    std::string from = shared ? shared : std::string(CAMVM_SCRIPT) + "/../../build/camvm";
    Camsim cam(Sandbox::vm);
    std::string cache = cam.scratch() + "/cache";
    std::string copy = "mkdir " + shell_quote(cache) + " && cd " + shell_quote(from) +
                       " && cp -a debs modules nand.img base.cpio base.key vmlinuz " + shell_quote(cache);
    ASSERT_EQ(system(copy.c_str()), 0);
    std::string cpio = shell_quote(cache + "/base.cpio");
    ASSERT_EQ(system(("truncate -s 1M " + cpio).c_str()), 0);
    setenv("CAMVM_CACHE", cache.c_str(), 1);
    CamsimResult r = cam.run("echo whole", 280);
    EXPECT_EQ(r.err, "camvm: building the guest's initramfs in " + cache + "\n");
    EXPECT_EQ(r.out, "whole\n");
    EXPECT_EQ(r.status, 0);

    std::string forge = "dd if=/dev/zero of=" + cpio + " bs=512 count=1 conv=notrunc status=none && cd " + shell_quote(cache) +
                        " && { head -n 1 base.key; cksum base.cpio vmlinuz; } > key && mv key base.key";
    ASSERT_EQ(system(forge.c_str()), 0);
    r = cam.run("echo whole", 280);
    unsetenv("CAMVM_CACHE");
    EXPECT_EQ(r.err, "camvm: the guest's kernel panicked before the command started; building its initramfs again\n"
                     "camvm: building the guest's initramfs in " + cache + "\n");
    EXPECT_EQ(r.out, "whole\n");
    EXPECT_EQ(r.status, 0);
}

// What reached the flash and the card before the cut is there at the next
// boot; the cut comes while the command still runs.
TEST(VmPowerCut, CutKillsTheEmulatorWith137AndTheNextBootFindsWhatTheDevicesHad)
{
    Camsim cam(Sandbox::vm);
    insert_card(cam, "card.img", 64);
    cam.option("--flash", cam.scratch() + "/flash");
    cam.option("--cut-after", "6.5");
    CamsimResult r = cam.run("echo flash-data > /mnt/nand/kept\n"
                             "echo card-data | dd of=/dev/mmcblk0 bs=512 seek=100 conv=fsync 2>/dev/null\n"
                             "echo written; exec sleep 600\n",
                             280);
    EXPECT_EQ(r.status, 137) << r.err;
    EXPECT_EQ(r.err, "camvm: power cut after 6.5 s\n");
    EXPECT_EQ(r.out, "written\n");

    Camsim next(Sandbox::vm);
    next.option("--card", cam.scratch() + "/card.img");
    next.option("--flash", cam.scratch() + "/flash");
    r = next.run("cat /mnt/nand/kept; dd if=/dev/mmcblk0 bs=512 skip=100 count=1 2>/dev/null | head -n 1\n", 280);
    EXPECT_EQ(r.out, "flash-data\ncard-data\n") << r.err;
    EXPECT_EQ(r.status, 0);
}

} // namespace
