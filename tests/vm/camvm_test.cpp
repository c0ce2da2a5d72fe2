// camvm_test.cpp - camvm itself: how each signal ends it, that nothing it
// starts outlives it, that a broken cache entry is built again, and a
// power cut that keeps what the guest had written to its devices; at a
// terminal, under timeout, with a power-cut trial; what it refuses, and a
// write the host could not make; a campaign that ran nothing. Where the
// guest plays no part, a stand-in emulator that never ends on its own and
// never opens camvm's pipes takes the real one's place, so no guest boots.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "camsim_run.h"
#include "sdmmc_expect.h"
#include "vm_suite.h"

namespace {

// A file of this checkout, beside sandbox/.
std::string repo_path(const std::string &name)
{
    std::string script = CAMVM_SCRIPT;
    return script.substr(0, script.rfind("/sandbox/")) + "/" + name;
}

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

// The stand-in emulator never starts the command: an interrupt has no
// command to go to yet.
TEST_F(VmStop, TermHangUpAndAnInterruptBeforeTheCommandEndTheEmulatorAtOnceWith128PlusTheSignal)
{
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(sig);
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
// kernel panic, after which it is built again and the command runs. An
// erased flash image of the right size that was written to is made again.
TEST(VmCache, BrokenEntryIsBuiltAgainOnceAndTheCommandRuns)
{
    const char *shared = getenv("CAMVM_CACHE");
    std::string from = shared ? shared : repo_path("build/camvm");
    Camsim cam(Sandbox::vm);
    std::string cache = cam.scratch() + "/cache";
    std::string copy = "mkdir " + shell_quote(cache) + " && cd " + shell_quote(from) +
                       " && cp -a debs modules nand.img base.cpio base.key vmlinuz " + shell_quote(cache);
    ASSERT_EQ(system(copy.c_str()), 0);
    std::string cpio = shell_quote(cache + "/base.cpio");
    ASSERT_EQ(system(("truncate -s 1M " + cpio).c_str()), 0);
    std::string flash = shell_quote(cache + "/nand.img");
    ASSERT_EQ(system(("printf used | dd of=" + flash + " bs=1 seek=4096 conv=notrunc status=none").c_str()), 0);
    setenv("CAMVM_CACHE", cache.c_str(), 1);
    CamsimResult r = cam.run("echo whole", 280);
    EXPECT_EQ(r.err, "camvm: building the guest's initramfs in " + cache + "\n");
    EXPECT_EQ(r.out, "whole\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(system(("[ \"$(tr -d '\\377' < " + flash + " | head -c 1 | wc -c)\" = 0 ]").c_str()), 0)
        << "the cache's flash image is not erased";

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
    CutAndAfter r = cut_then_boot(cam, cam.scratch() + "/card.img", "written",
                                  "echo flash-data > /mnt/nand/kept; sync\n"
                                  "echo card-data | dd of=/dev/mmcblk0 bs=512 seek=100 conv=fsync 2>/dev/null\n"
                                  "echo written; exec sleep 600\n",
                                  "cat /mnt/nand/kept; dd if=/dev/mmcblk0 bs=512 skip=100 count=1 2>/dev/null | head -n 1\n");
    EXPECT_EQ(r.cut.status, 137) << r.cut.err;
    EXPECT_EQ(r.cut.err, "camvm: power cut 0 s after the guest printed \"written\"\n");
    EXPECT_EQ(r.cut.out, "written\n");
    EXPECT_EQ(r.after.out, "flash-data\ncard-data\n") << r.after.err;
    EXPECT_EQ(r.after.status, 0);
}

} // namespace

namespace {

// The command line that runs camvm with this build's tool, less the command.
std::string camvm_line(const Camsim &cam)
{
    return shell_quote(CAMVM_SCRIPT) + " --tool " + shell_quote(CAMSIM_TOOL) + " --opt-app " +
           shell_quote(CAMSIM_OPT_APP) + " --dir " + shell_quote(cam.dir());
}

std::string build_dir()
{
    std::string tool = CAMSIM_TOOL;
    return tool.substr(0, tool.rfind('/'));
}

// A command that script(1) runs at a pseudo-terminal of its own, as a
// person at a terminal would: the test types its keys ("\003" is a
// Ctrl-C), the terminal's output goes to a file. script runs the command
// with $SHELL, which is made /bin/sh here: whether that shell execs a lone
// command or waits for it (and so whether a timeout it starts gets a process
// group of its own) differs from shell to shell.
class AtTerminal {
public:
    AtTerminal(const Camsim &cam, const std::string &command) : out_(cam.scratch() + "/terminal")
    {
        signal(SIGPIPE, SIG_IGN);
        int keys[2];
        if (pipe(keys) != 0)
            abort();
        pid_ = fork();
        if (pid_ == 0) {
            int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0)
                _exit(126);
            dup2(keys[0], 0);
            dup2(out, 1);
            dup2(out, 2);
            close(keys[1]);
            setpgid(0, 0);
            setenv("SHELL", "/bin/sh", 1);
            execlp("script", "script", "-qec", command.c_str(), "/dev/null", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(keys[0]);
        keys_ = keys[1];
    }
    ~AtTerminal()
    {
        if (pid_ > 0) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(keys_);
    }
    AtTerminal(const AtTerminal &) = delete;
    AtTerminal &operator=(const AtTerminal &) = delete;

    pid_t pid() const { return pid_; }
    std::string output() const { return read_whole_file(out_); }
    void type(const std::string &keys) const
    {
        if (write(keys_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
            ADD_FAILURE() << "cannot type at the terminal";
    }
    bool wait_for(const std::string &text, int seconds) const
    {
        time_t deadline = time(nullptr) + seconds;
        while (output().find(text) == std::string::npos) {
            if (time(nullptr) > deadline)
                return false;
            usleep(100000);
        }
        return true;
    }
    // script's status (the command's), or -1 when it had not ended within
    // seconds (it is killed then).
    int finish(int seconds)
    {
        int status = 0;
        time_t deadline = time(nullptr) + seconds;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (time(nullptr) > deadline) {
                kill(-pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                pid_ = -1;
                return -1;
            }
            usleep(100000);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    std::string out_;
    pid_t pid_ = -1;
    int keys_ = -1;
};

// Whether `stty -a` shows the terminal as a shell left it: lines, signals
// and echo.
bool cooked(const std::string &stty)
{
    std::istringstream words(stty);
    std::set<std::string> seen;
    for (std::string w; words >> w;)
        seen.insert(w);
    return seen.count("icanon") && seen.count("isig") && seen.count("echo");
}

// timeout puts camvm in a process group of its own unless it runs in the
// terminal's (--foreground); either way the command runs, the limit ends it
// and the terminal is left as it was. The limit follows the time a boot
// takes to run a command on this machine now, however loaded.
TEST(VmTerminal, TimeoutAtATerminalEndsOnTimeWithTheTerminalAsItWas)
{
    time_t boot_start = time(nullptr);
    {
        Camsim cam(Sandbox::vm);
        AtTerminal term(cam, camvm_line(cam) + " -- sh -c 'echo ran'");
        ASSERT_EQ(term.finish(300), 0) << term.output();
        ASSERT_NE(term.output().find("ran"), std::string::npos) << term.output();
    }
    const long limit = std::max(12L, 3L * (long)(time(nullptr) - boot_start));
    for (std::string timeout : {"timeout ", "timeout --foreground "}) {
        timeout += std::to_string(limit);
        SCOPED_TRACE(timeout);
        Camsim cam(Sandbox::vm);
        AtTerminal term(cam, timeout + " " + camvm_line(cam) +
                                 " -- sh -c 'echo ran; exec sleep 600'; echo rc=$?; stty -a");
        time_t start = time(nullptr);
        EXPECT_EQ(term.finish((int)limit + 60), 0) << term.output();
        EXPECT_LE(time(nullptr) - start, limit + 18);
        std::string out = term.output();
        EXPECT_NE(out.find("ran"), std::string::npos) << out;
        EXPECT_NE(out.find("rc=124"), std::string::npos) << out;
        EXPECT_TRUE(cooked(out)) << out;
        EXPECT_EQ(leftovers(cam, term.pid(), 10), std::vector<std::string>{});
    }
}

// As an interactive shell starts it: in the terminal's foreground group
// (exec'd, the timeout cannot leave the shell's session-leading group).
TEST(VmTerminal, CtrlCAtTheTerminalEndsTheCommand)
{
    Camsim cam(Sandbox::vm);
    AtTerminal term(cam, "exec timeout 120 " + camvm_line(cam) + " -- sh -c 'echo ran; exec sleep 600'");
    ASSERT_TRUE(term.wait_for("ran", 90)) << term.output();
    term.type("\003");
    EXPECT_EQ(term.finish(20), 130) << term.output();
    EXPECT_EQ(leftovers(cam, term.pid(), 10), std::vector<std::string>{});
}

// A power-cut trial boots once for its workload and once for each state it
// checks; at a terminal it runs to its end, and a Ctrl-C there ends it, its
// emulator included, with nothing left running.
TEST(VmTerminal, TrialAtATerminalEndsOnTimeAndOnCtrlC)
{
    Camsim cam(Sandbox::vm);
    std::string trial = shell_quote(repo_path("tests/powercut/trial")) + " --build " +
                        shell_quote(build_dir()) + " --work " + shell_quote(cam.scratch() + "/work") + " ir 1234";
    {
        AtTerminal term(cam, trial + "; echo rc=$?");
        EXPECT_EQ(term.finish(400), 0) << term.output();
        EXPECT_NE(term.output().find("powercut: ir seed 1234: "), std::string::npos) << term.output();
        EXPECT_NE(term.output().find("rc=0"), std::string::npos) << term.output();
    }
    AtTerminal term(cam, trial);
    ASSERT_TRUE(term.wait_for("powercut: ir seed 1234, cut after", 60)) << term.output();
    sleep(3);
    term.type("\003");
    EXPECT_EQ(term.finish(20), 130) << term.output();
    EXPECT_EQ(term.output().find("powercut: ir seed 1234: "), std::string::npos) << term.output();
    EXPECT_EQ(leftovers(cam, term.pid(), 10), std::vector<std::string>{});
}

// A tmpfs mounted for the test, unmounted however the test ends.
struct SmallDisk {
    explicit SmallDisk(const std::string &dir, const std::string &size) : dir_(dir)
    {
        mkdir(dir.c_str(), 0755);
        mounted_ = system(("mount -t tmpfs -o size=" + size + " camvm-test " + shell_quote(dir)).c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted_ && system(("umount " + shell_quote(dir_)).c_str()) != 0)
            ADD_FAILURE() << "cannot unmount " << dir_;
    }
    std::string dir_;
    bool mounted_ = false;
};

// QEMU's SD card tells nobody but its log of a write the host refused: the
// guest's dd succeeds, and camvm must not.
TEST(VmHostFiles, ACardWriteTheHostCannotMakeFailsTheRun)
{
    Camsim cam(Sandbox::vm);
    SmallDisk full(cam.scratch() + "/full", "4m");
    ASSERT_TRUE(full.mounted_);
    ASSERT_EQ(system(("truncate -s 64M " + shell_quote(full.dir_ + "/card.img")).c_str()), 0);
    cam.option("--card", full.dir_ + "/card.img");
    CamsimResult r = cam.run("dd if=/dev/zero of=/dev/mmcblk0 bs=1M count=8 conv=fsync 2>/dev/null; echo dd=$?", 120);
    EXPECT_EQ(r.out, "dd=0\n");
    EXPECT_EQ(r.status, 125) << r.err;
    EXPECT_EQ(r.err.rfind("camvm: the emulator could not make ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("write error on host side"), std::string::npos) << r.err;
}

// Shared directories are taken shortest first; two of one length are
// both shared. They lie outside every other shared directory (the test's
// own, the current one), which would show them anyway.
TEST(VmHostFiles, SharedPathsOfTheSameLengthAreAllSeen)
{
    Camsim cam(Sandbox::vm);
    char dir[] = "/tmp/camvm-shares-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string outside = dir;
    ASSERT_EQ(system(("mkdir -p " + shell_quote(outside + "/aaaa") + " " + shell_quote(outside + "/bbbb")).c_str()), 0);
    cam.option("--keep", outside + "/aaaa");
    cam.option("--keep", outside + "/bbbb");
    CamsimResult r = cam.run("echo a > " + shell_quote(outside + "/aaaa/f") + " && echo b > " +
                             shell_quote(outside + "/bbbb/f"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_whole_file(outside + "/aaaa/f"), "a\n");
    EXPECT_EQ(read_whole_file(outside + "/bbbb/f"), "b\n");
    EXPECT_EQ(system(("rm -rf " + shell_quote(outside)).c_str()), 0);
}

// JFFS2 on a flash laid out at another size loses files: a kept flash is
// used at the size it was made for only.
TEST(VmHostFiles, AFlashKeptAtOneSizeIsRefusedAtAnother)
{
    Camsim cam(Sandbox::vm);
    std::string flash = cam.scratch() + "/flash";
    cam.option("--flash", flash);
    cam.option("--flash-size", "8");
    CamsimResult r = cam.run("echo kept > /mnt/nand/f");
    ASSERT_EQ(r.status, 0) << r.err;

    Camsim other(Sandbox::vm);
    other.option("--flash", flash);
    r = other.run("cat /mnt/nand/f");
    EXPECT_EQ(r.status, 125);
    EXPECT_EQ(r.err, "camvm: --flash " + flash + ": its nand.img was made for --flash-size 8, not 16\n");

    r = cam.run("cat /mnt/nand/f");
    EXPECT_EQ(r.out, "kept\n") << r.err;
}

// What camvm is given wrong is its own failure, 125, before anything is
// made or booted.
TEST(VmHostFiles, WhatCamvmCannotUseIsRefusedWith125AndLeavesNothing)
{
    struct Case {
        const char *name, *start_timeout, *option, *value, *err;
    };
    const Case cases[] = {
        {"timeout-word", "abc", "", "", "camvm: CAMVM_START_TIMEOUT=abc: a whole number of seconds (120)\n"},
        {"timeout-fraction", "1.5", "", "", "camvm: CAMVM_START_TIMEOUT=1.5: a whole number of seconds (120)\n"},
        {"bin-dir", nullptr, "--bin", "SCRATCH", "camvm: no program SCRATCH\n"},
        {"opt-app-half", nullptr, "--opt-app", "SCRATCH/half", "camvm: no default databases (cvdb.db, oem.db) in SCRATCH/half\n"},
        {"flash-comma", nullptr, "--flash", "SCRATCH/fl,a",
         "camvm: cannot use SCRATCH/fl,a/nand.img: commas are not taken in flash paths\n"},
        {"iio-beyond", nullptr, "--iio", "1900,65536,-", "camvm: --iio 1900,65536,-: 65536 is beyond the ADC's 65535\n"},
        {"iio-word", nullptr, "--iio", "1900,0x10,-", "camvm: --iio 1900,0x10,-: up to three readings of channels 0, 1 "
                                                     "and 2, each 0 to 65535 or - (1900,-,20480)\n"},
        {"iio-four", nullptr, "--iio", "1,2,3,4", "camvm: --iio 1,2,3,4: up to three readings of channels 0, 1 and 2, "
                                                 "each 0 to 65535 or - (1900,-,20480)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Camsim cam(Sandbox::vm);
        auto fill = [&](std::string text) {
            for (size_t at; (at = text.find("SCRATCH")) != std::string::npos;)
                text.replace(at, 7, cam.scratch());
            return text;
        };
        mkdir((cam.scratch() + "/half").c_str(), 0755);
        write_whole_file(cam.scratch() + "/half/cvdb.db", "");
        if (*c.option)
            cam.option(c.option, fill(c.value));
        if (c.start_timeout)
            setenv("CAMVM_START_TIMEOUT", c.start_timeout, 1);
        CamsimResult r = cam.run("echo ran");
        unsetenv("CAMVM_START_TIMEOUT");
        EXPECT_EQ(r.status, 125);
        EXPECT_EQ(r.err, fill(c.err));
        EXPECT_EQ(r.out, "");
        EXPECT_NE(access((cam.scratch() + "/fl,a").c_str(), F_OK), 0);
    }
    Camsim cam(Sandbox::vm);
    std::string err = cam.scratch() + "/err";
    EXPECT_EQ(system(("bash " + shell_quote(CAMVM_SCRIPT) + " --flash 2>" + shell_quote(err)).c_str()), 125 << 8);
    EXPECT_EQ(read_whole_file(err), "camvm: --flash needs a value\n");
}

// A campaign whose trials all could not run (an emulator that fails at
// once), or that could not start them, passes nothing.
TEST(VmCampaign, RunLongWithNothingRunFails)
{
    Camsim cam(Sandbox::vm);
    std::string bin = cam.scratch() + "/bin";
    mkdir(bin.c_str(), 0755);
    write_whole_file(bin + "/qemu-system-aarch64", "#!/bin/sh\nexit 1\n");
    chmod((bin + "/qemu-system-aarch64").c_str(), 0755);
    std::string run_long = shell_quote(repo_path("tests/powercut/run-long")) + " --build " +
                           shell_quote(build_dir()) + " --work " + shell_quote(cam.scratch() + "/work");
    std::string out = " > " + shell_quote(cam.scratch() + "/out") + " 2> " + shell_quote(cam.scratch() + "/err");

    EXPECT_EQ(system((run_long + " --jobs abc 1" + out).c_str()), 2 << 8);
    EXPECT_EQ(read_whole_file(cam.scratch() + "/out"), "");

    std::string path = "PATH=" + shell_quote(bin) + ":\"$PATH\" ";
    EXPECT_EQ(system((path + run_long + " --jobs 2 1" + out).c_str()), 2 << 8);
    std::string err = read_whole_file(cam.scratch() + "/err");
    EXPECT_NE(err.find("run-long: 14 of 14 trials could not run"), std::string::npos) << err;
    EXPECT_NE(read_whole_file(cam.scratch() + "/out").find("| ir | (could not run) | 1 | | | |"), std::string::npos);
}

// Runs a bash script in the test's scratch directory, with the campaign's
// functions; its status, and its output and errors in out.
int with_campaign_lib(const Camsim &cam, const std::string &body, std::string *out)
{
    std::string script = cam.scratch() + "/script", output = cam.scratch() + "/script.out";
    write_whole_file(script, ". " + shell_quote(repo_path("tests/powercut/lib.sh")) + "\n" + "cd " +
                                 shell_quote(cam.scratch()) + "\n" + body);
    int status = system(("bash " + shell_quote(script) + " > " + shell_quote(output) + " 2>&1").c_str());
    *out = read_whole_file(output);
    return status;
}

// A recorded log of four entries: a write, a flush that carries no data, a
// discard of the written sector and a mark. Replayed on a card, the write
// and the discard are states; the discard leaves zeros.
TEST(VmCampaign, ReplayTakesEachEntryByItsFlags)
{
    Camsim cam(Sandbox::vm);
    std::string script =
        "set -e\n"
        "perl -e 'sub sector { my $d = shift; $d . (\"\\0\" x (512 - length $d)) }\n"
        "    print sector(pack(\"Q<Q<Q<L<\", 0x6a736677736872, 1, 4, 512));\n"
        "    print sector(pack(\"Q<4\", 2, 1, 0, 0)), \"A\" x 512;\n"
        "    print sector(pack(\"Q<4\", 0, 0, 1, 0));\n"
        "    print sector(pack(\"Q<4\", 2, 1, 4, 0));\n"
        "    print sector(pack(\"Q<4\", 0, 0, 8, 3) . \"end\");' > log\n"
        "head -c 8192 /dev/zero | tr '\\0' x > card\n"
        "pc_state() { echo \"$1 $2\"; }\n"
        "pc_replay log card\n"
        "cmp <(dd if=card bs=512 skip=2 count=1 status=none) <(head -c 512 /dev/zero) && echo zeros\n";
    std::string out;
    EXPECT_EQ(with_campaign_lib(cam, script, &out), 0);
    EXPECT_EQ(out, "0 start\n1 write\n3 discard\nzeros\n");
}

// The checks on what a cut left, on made-up results: each finds the loss it
// guards against, also where the file it reads is gone or where a later
// record stands in for a lost one.
TEST(VmCampaign, ChecksFindWhatACutLost)
{
    Camsim cam(Sandbox::vm);
    std::string script =
        "printf '\\033[1;32mCPU:  5%% (sys:  1%% user:  4%% wait:  0%% steal:  0%%)\\033[0;39m \\n' > cpu.out\n"
        "echo '# cpu log gone'; pc_check_cpu_log nolog cpu.out\n"
        "shown() { printf '\\033[0;32mTest date: Tue Dec  8 10:00:%s 2026\\n\\t IR-cut result: success\\n"
        "\\t use time: 0s \\n\\033[0;39m \\npowercut: done %s\\n' \"$1\" \"$2\"; }\n"
        "logged() { printf 'Test date: Tue Dec  8 10:00:%s 2026\\n\\t IR-cut result: success\\n\\t use time: 0s \\n' \"$1\" > r;"
        " truncate -s 1024 r; cat r >> log; }\n"
        "{ shown 01 1; shown 02 2; } > ir.out; logged 01; logged 03; logged 04\n"
        "echo '# ir record lost behind the next'; pc_check_log log 2 \"$(pc_shown_records ir.out)\"\n"
        "sqlite3 db 'create table pc(run integer, n integer, pad blob);"
        " with recursive c(i) as (select 1 union all select i + 1 from c where i < 1100)"
        " insert into pc select (i - 1) / 1000 + 1, (i - 1) % 1000 + 1, 0 from c'\n"
        "printf 'powercut: created\\npowercut: done 1\\n' > db.out\n"
        "echo '# part of a transaction'; pc_check_inserts db db.out\n"
        "printf '6 DCIM/a.mp4 aa\\n7 setup.txt bb\\n' > sums; printf '6 DCIM/a.mp4 ab\\n7 setup.txt bb\\n' > files\n"
        "echo '# a clip changed'; pc_check_clips sums files; echo\n"
        "printf 'powercut: done 1\\npowercut: done 2\\n' > none.out; : > none.err\n"
        "mkdir a; : > a/before.list; printf 'powercut: done 1\\nGPIO read id = 1, data = 0\\n' > gpio.out\n"
        "echo '# a restore shown, cvdb.db missing before the next start'; pc_check_restored a gpio.out\n"
        "echo '# no tool output'; pc_check_worked ir none.out none.err\n"
        "printf 'powercut: start\\n' > hang.out\n"
        "echo '# nothing shown before the cut'; pc_check_worked sd-format hang.out none.err\n"
        "printf '\\033[1;32mCreate cpu log: /mnt/nand/cpu.log\\n' > first.out\n"
        "echo '# no run finished'; pc_check_worked cpu first.out none.err\n";
    std::string out;
    EXPECT_EQ(with_campaign_lib(cam, script, &out), 1 << 8);
    EXPECT_EQ(out,
              "# cpu log gone\n"
              "damage cpu-kept: no log, the monitor had shown 1 lines\n"
              "# ir record lost behind the next\n"
              "damage log-kept: record 1 is not the one the run had shown (Test date: Tue Dec  8 10:00:02 2026|  "
              "IR-cut result: success|  use time: 0s ): Test date: Tue Dec  8 10:00:03 2026|  IR-cut result: "
              "success|  use time: 0s \n"
              "# part of a transaction\n"
              "damage db-commits: the table holds 1100 rows: part of a transaction of 250\n"
              "# a clip changed\n"
              "DCIM/a.mp4 \n"
              "# a restore shown, cvdb.db missing before the next start\n"
              "damage db-whole: the run had shown its line after the restore, cvdb.db is missing before the next "
              "start\n"
              "# no tool output\n"
              "error: 2 runs of the workload ended, the tool's output shows 0 of its lines /IR-cut result: success/, "
              "not 2\n"
              "# nothing shown before the cut\n"
              "error: the workload showed none of the tool's output before the cut\n"
              "# no run finished\n"
              "error: no run of the workload finished before the cut\n");
}

} // namespace
