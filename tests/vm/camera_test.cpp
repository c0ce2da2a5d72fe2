// camera_test.cpp - the tool on the emulated camera without a card: the
// framework under BusyBox's sh, help without each opened library and a
// library cut short where the camera keeps them, a library left out and
// one replaced (camvm --no-lib, --lib), the cpu monitor on the guest
// kernel's two processors, the guarded log and the shared-memory records on
// the Arm64 kernel, the databases on JFFS2 on the flash, the flash's
// partitions as the camera has them and the bad-block scan's verdicts
// through the kernel's MTD layer, and the empty card slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sdmmc_expect.h"
#include "vm_suite.h"

namespace {

const std::string kRule(80, '*');
const std::string kCvdbLine = "Current Database File: [/mnt/nand/cvdb.db] \n";
const std::string kCannotLoad = " ERROR  (platform_libs|platform_lib_open|N): cannot load platform library ";
const std::string kOpenedLibs[] = {"libcvptz.so", "libcvwifi.so", "libcvdb.so", "libcvsys.so"};

std::vector<std::string> module_names()
{
    std::istringstream in(DEBUG_MODULE_NAMES);
    std::vector<std::string> names;
    for (std::string name; in >> name;)
        names.push_back(name);
    return names;
}

// debug -h for every module, with each opened library taken away in turn
// from where the camera keeps them (one that camvm left out stays out).
std::string help_without_each_library()
{
    std::string script;
    for (const auto &lib : kOpenedLibs) {
        script += "[ ! -e /usr/lib/" + lib + " ] || mv /usr/lib/" + lib + " /tmp/\n";
        for (const auto &m : module_names())
            script += "run_case help_" + lib + "_" + m + " debug -h " + m + "\n";
        script += "[ ! -e /tmp/" + lib + " ] || mv /tmp/" + lib + " /usr/lib/\n";
    }
    return script;
}

class VmCamera : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        insert_cards({});
        cam_->option("--no-lib", "libcvptz.so");
        cam_->option("--lib", "libcvwifi.so=/dev/null");
        cam_->set_state("ctor.so", read_whole_file(CAMSIM_CVSYS_CTOR));
        start("readlink /bin/sh > $CAMSIM_DIR/shell\n"
              "grep -c '^cpu[0-9]' /proc/stat > $CAMSIM_DIR/cpus\n"
              "run_case usage debug\n"
              "run_case help debug -h ir\n"
              "run_case bad_option debug -M ir -m 4\n"
              // One of the two processors busy all the time.
              "run_case cpu sh -c 'while :; do :; done & debug -M cpu -c 3 -d 1; s=$?; kill $!; exit $s'\n"
              "cp /tmp/cpulog.txt $CAMSIM_DIR/cpu.log\n"
              "run_case ir debug -M ir -t 2 -d 1\n"
              "run_case writers sh -c 'camsim_logwriter A 100 1024 & camsim_logwriter B 100 1024 & wait'\n"
              "cp /mnt/nand/debug.log $CAMSIM_DIR/debug.log\n"
              "run_case pt sh -c 'debug -M pt -f 1 && camsim_shm 7765432'\n"
              "run_case adc sh -c 'debug -M adc -N 300 -D 700 && camsim_shm 7665432'\n"
              "run_case db_write debug -M db -e \"update ports set port=8554 where name='rtsp'\"\n"
              "run_case db_read debug -M db -s \"select * from ports where name='rtsp'\"\n"
              "run_case sdmmc debug -M sdmmc " + kNoCardArgs + "\n"
              "run_case no_ptz_lib debug -M ptz -d 0 --up\n"
              "run_case empty_wifi_lib debug -M wifi --link\n"
              "cat /proc/mtd > $CAMSIM_DIR/proc_mtd\n"
              "run_case mtd debug -M mtd -b 1\n"
              // Ctrl-C before the scan: it comes while the start-up
              // restores the database from a pipe, which holds it there.
              "mv /opt/app/cvdb.db /tmp/default; mkfifo /opt/app/cvdb.db; rm /mnt/nand/cvdb.db\n"
              "run_case mtd_stopped sh -c 'debug -M mtd -b 1 & exec 3> /opt/app/cvdb.db; kill -INT $!;"
              " cat /tmp/default >&3; exec 3>&-; wait $!'\n"
              "rm /opt/app/cvdb.db; mv /tmp/default /opt/app/cvdb.db\n"
              // The kernel partition's node gone, and rootfs's one the MTD
              // layer does not serve.
              "rm /dev/mtd1 /dev/mtd2; mknod /dev/mtd2 c 1 3\n"
              "run_case mtd_partial debug -M mtd -b 1\n" +
              help_without_each_library() +
              "cp /usr/lib/libcvdb.so /tmp/whole.so\n"
              "head -c $(($(wc -c < /tmp/whole.so) / 2)) /tmp/whole.so > /usr/lib/libcvdb.so\n"
              "run_case db_cut debug -M db -t\n"
              "cp /tmp/whole.so /usr/lib/libcvdb.so\n"
              // A cut copy where the loader looks before /usr/lib itself.
              "mkdir /usr/lib/tls; head -c $(($(wc -c < /tmp/whole.so) / 2)) /tmp/whole.so > /usr/lib/tls/libcvdb.so\n"
              "run_case db_cut_tls debug -M db -t\n"
              "rm -r /usr/lib/tls\n"
              // A system library whose constructor exits, crashes, or has a
              // side effect that must happen once.
              "cp /usr/lib/libcvsys.so /tmp/sys.so; cp $CAMSIM_DIR/ctor.so /usr/lib/libcvsys.so\n"
              "for c in exit0 exit3 crash; do run_case ctor_$c env CAMSIM_CTOR=$c debug -M motor -s 5; done\n"
              "rm $CAMSIM_DIR/ctor.log; run_case ctor_once debug -M motor -s 5\n"
              "cp /tmp/sys.so /usr/lib/libcvsys.so\n"
              "umount /mnt/nand && rmdir /mnt/nand\n"
              "run_case no_flash debug -M gpio -w 1 -d 1\n");
    }
};

TEST_F(VmCamera, UsageHelpAndExitStatusesUnderBusyBoxSh)
{
    EXPECT_EQ(cam_->read_file("shell"), "busybox\n");
    CamsimResult r = cam_->case_result("usage");
    EXPECT_EQ(r.out.rfind("debug usage:\ndebug [module option] \n", 0), 0u) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\n\tir\twifi\tmedia\tpt\tmtd\textdrv\n$"))) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    r = cam_->case_result("help");
    EXPECT_EQ(r.out.rfind("debug version: 1.2.0\n" + kRule + "\nir usage:\n", 0), 0u) << r.out;
    EXPECT_EQ(r.status, 0);

    r = cam_->case_result("bad_option");
    EXPECT_EQ(without_line_numbers(r.err), " ERROR  (cv_ir|ir_init_param|N): Invalid mode value.");
    EXPECT_EQ(r.status, 255);

    // Start-up without the flash.
    r = cam_->case_result("no_flash");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(without_line_numbers(r.err), " ERROR  (test|restore_database|N): restore /mnt/nand/cvdb.db "
                                           "from /opt/app/cvdb.db failed: No such file or directory\n"
                                           " ERROR  (osa_log|OSA_logInit|N): OSA_ipcMakeKey() \n"
                                           " ERROR  (test|main|N): test_init failed!\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(VmCamera, HelpNeverStopsOnAMissingLibraryAndACutLibraryIsNamedSo)
{
    for (const auto &lib : kOpenedLibs) {
        for (const auto &m : module_names()) {
            CamsimResult r = cam_->case_result("help_" + lib + "_" + m);
            std::string help = "debug version: 1.2.0\n" + module_usage(m), err;
            if (m == "db" && lib == "libcvdb.so") {
                help = help.substr(0, help.find("Query Result:"));
                err = kCannotLoad + lib + ": " + lib + ": cannot open shared object file: No such file or directory\n";
            }
            EXPECT_EQ(r.out, help) << lib << ", " << m;
            EXPECT_EQ(without_line_numbers(r.err), err) << lib << ", " << m;
            EXPECT_EQ(r.status, 0) << lib << ", " << m;
        }
    }
    // Found where the loader finds it, among its default directories, and
    // before them in a subdirectory it searches first.
    for (const std::string at : {"", "tls/"}) {
        CamsimResult r = cam_->case_result(at.empty() ? "db_cut" : "db_cut_tls");
        EXPECT_EQ(r.out, "") << at;
        EXPECT_EQ(without_line_numbers(r.err),
                  kCannotLoad + "libcvdb.so: /usr/lib/" + at + "libcvdb.so: Bus error while it was opened\n");
        EXPECT_EQ(r.status, 127) << at;
    }
    for (const std::string c : {"exit0", "exit3", "crash"}) {
        CamsimResult r = cam_->case_result("ctor_" + c);
        EXPECT_EQ(r.out, "") << c;
        EXPECT_EQ(without_line_numbers(r.err),
                  kCannotLoad + "libcvsys.so: " +
                      (c == "crash" ? "Segmentation fault" : "exit() called") + " while it was opened\n")
            << c;
        EXPECT_EQ(r.status, 127) << c;
    }
    EXPECT_EQ(cam_->case_result("ctor_once").status, 0);
    EXPECT_EQ(cam_->read_file("ctor.log"), "constructor\n");
}

TEST_F(VmCamera, TheFlashHasTheCamerasPartitionsAndTheScanSaysWhatItCouldNotAsk)
{
    EXPECT_EQ(cam_->read_file("proc_mtd"), "dev:    size   erasesize  name\n"
                                           "mtd0: 00100000 00020000 \"boot\"\n"
                                           "mtd1: 00400000 00020000 \"kernel\"\n"
                                           "mtd2: 05b00000 00020000 \"rootfs\"\n"
                                           "mtd3: 01000000 00020000 \"nand\"\n"
                                           "mtd4: 01000000 00020000 \"nand2\"\n");
    CamsimResult r = cam_->case_result("mtd");
    EXPECT_EQ(r.out, "\nTotal bad block : 0\n");
    EXPECT_EQ(r.err, "");
    // The total line stays as scripts match it; standard error says what
    // it does not cover.
    const std::string scan_error = " ERROR  (cv_mtd|cv_badblock_check|N): ";
    r = cam_->case_result("mtd_stopped");
    EXPECT_EQ(r.out, "\nGet signal, signo = 2\n\nTotal bad block : 0\n");
    EXPECT_EQ(without_line_numbers(r.err),
              scan_error + "Scan stopped at /dev/mtd0 (\"boot\") offset 00000000\n" + scan_error +
                  "the total covers the scanned part only: 5 of 5 partitions not fully scanned\n");
    r = cam_->case_result("mtd_partial");
    EXPECT_EQ(r.out, "ioctl MEMGETBADBLOCK failed, /dev/mtd2, error=-1\n\nTotal bad block : 0\n");
    EXPECT_EQ(without_line_numbers(r.err),
              scan_error + "/dev/mtd1 open failed\n" + scan_error +
                  "the total covers the scanned part only: 2 of 5 partitions not fully scanned\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(VmCamera, CpuLoadIsThatOfBothProcessors)
{
    EXPECT_EQ(cam_->read_file("cpus"), "2\n");
    CamsimResult r = cam_->case_result("cpu");
    EXPECT_EQ(r.status, 0);
    std::smatch m;
    const std::regex line("\033\\[1;32m(CPU:([ 0-9]{3})% \\(sys:[ 0-9]{3}% user:[ 0-9]{3}% wait:[ 0-9]{3}% "
                          "steal:[ 0-9]{3}%\\))\033\\[0;39m \n");
    std::string log, out = r.out;
    int cycles = 0;
    while (std::regex_search(out, m, line)) {
        // One busy processor of two: about half the load, not all of it or
        // none. The emulator's processors lose time to a loaded host, so
        // the bounds are wide.
        int load = std::stoi(m[2]);
        EXPECT_GE(load, 15) << m[0];
        EXPECT_LE(load, 85) << m[0];
        log += m[1].str() + "\n";
        out = m.suffix();
        cycles++;
    }
    EXPECT_EQ(cycles, 3) << r.out;
    EXPECT_EQ(cam_->read_file("cpu.log").rfind(log + "Average:", 0), 0u) << cam_->read_file("cpu.log");
}

TEST_F(VmCamera, GuardedLogKeepsWholeRecordsOfConcurrentWriters)
{
    CamsimResult r = cam_->case_result("ir");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\t IR-cut result: success\n"), std::string::npos) << r.out;
    // The stand-ins' trace reaches the host through the shared directory.
    std::vector<std::string> calls = cam_->calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "gpio_write 13 1"), calls.end());
    EXPECT_EQ(cam_->case_result("writers").status, 0);

    // The ir record first, then the writers' records in any interleaving,
    // each one whole.
    std::string log = cam_->read_file("debug.log");
    ASSERT_EQ(log.size(), 201u * 1024u);
    EXPECT_EQ(log.rfind("Test date: ", 0), 0u);
    int count[2] = {0, 0};
    for (size_t at = 1024; at < log.size(); at += 1024) {
        std::string rec = log.substr(at, 1024);
        char tag = rec[0];
        ASSERT_TRUE(tag == 'A' || tag == 'B') << "record at " << at;
        std::string head = std::string(1, tag) + ":" + std::to_string(count[tag - 'A']++) + ":";
        ASSERT_EQ(rec.compare(0, head.size(), head), 0) << "record at " << at;
        EXPECT_EQ(rec.find_first_not_of(tag, head.size()), 1023u) << "torn record at " << at;
    }
    EXPECT_EQ(count[0], 100);
    EXPECT_EQ(count[1], 100);
}

TEST_F(VmCamera, DriveBoardAndLightSensorRecordsReachTheirSegments)
{
    CamsimResult r = cam_->case_result("pt");
    EXPECT_EQ(r.out, "52 666: 1 0 100 1 0 0 0 0 0 0 0 0 0\n");
    EXPECT_EQ(r.status, 0);
    r = cam_->case_result("adc");
    EXPECT_EQ(r.out, "48 666: 1 1 300 700 0 0 0 0 0 0 0 0\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(VmCamera, DatabaseChangeOnTheFlashIsSeenByTheNextRun)
{
    CamsimResult r = cam_->case_result("db_write");
    EXPECT_EQ(r.out, kCvdbLine + "End execute: 'update ports set port=8554 where name='rtsp'' \n");
    EXPECT_EQ(r.status, 0);
    r = cam_->case_result("db_read");
    EXPECT_EQ(r.out, kCvdbLine + "Query Result: \nname            port            \nrtsp            8554\n \n");
    EXPECT_EQ(r.err, "");
}

TEST_F(VmCamera, EmptySlotFailsEveryCardAction)
{
    CamsimResult r = cam_->case_result("sdmmc");
    EXPECT_EQ(r.out, no_card_out());
    EXPECT_EQ(without_line_numbers(r.err), no_card_err());
    EXPECT_EQ(r.status, 0);
}

TEST_F(VmCamera, LibraryLeftOutOrReplacedIsTheOneTheToolLoadsFromUsrLib)
{
    CamsimResult r = cam_->case_result("no_ptz_lib");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(without_line_numbers(r.err),
              kCannotLoad + "libcvptz.so: libcvptz.so: cannot open shared object file: No such file or directory\n");
    EXPECT_EQ(r.status, 127);
    r = cam_->case_result("empty_wifi_lib");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(without_line_numbers(r.err), kCannotLoad + "libcvwifi.so: /usr/lib/libcvwifi.so: file too short\n");
    EXPECT_EQ(r.status, 127);
}

} // namespace
