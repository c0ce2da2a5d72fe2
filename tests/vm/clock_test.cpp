// clock_test.cpp - the tool on the emulated camera while the system moves
// under it: a processor taken offline and back during a cpu run, and the
// date set back and forward during an ir run. Both need the real kernel,
// and setting the date must not touch the host's.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "vm_suite.h"

namespace {

const std::string kCpu1 = "/sys/devices/system/cpu/cpu1/online";

class VmClockAndProcessors : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        boot({}, "echo 0 > " + kCpu1 + "; cat /sys/devices/system/cpu/online > $CAMSIM_DIR/online\n"
                 "echo 1 > " + kCpu1 + "\n"
                 // Both processors busy, the second one taken away for a
                 // second and given back for a second. While it is away its
                 // idle count is the kernel's other one, which differs.
                 "run_case offline sh -c '"
                 "(while :; do :; done) & a=$!; (while :; do :; done) & b=$!\n"
                 "(while :; do echo 0 > " + kCpu1 + "; sleep 1; echo 1 > " + kCpu1 + "; sleep 1; done) & t=$!\n"
                 "debug -M cpu -c 10 -d 1; s=$?; kill $a $b $t; wait; echo 1 > " + kCpu1 + "; exit $s'\n"
                 // A run of two seconds, the date set once the run has made
                 // its first switch (its line in the call trace).
                 "cat > /tmp/ir_started <<'EOF'\n"
                 "n=$(grep -c gpio_write $CAMSIM_DIR/calls.log 2> /dev/null)\n"
                 "debug -M ir -t 4 -d 500 & p=$!\n"
                 "until [ \"$(grep -c gpio_write $CAMSIM_DIR/calls.log 2> /dev/null)\" -gt \"${n:-0}\" ]; do\n"
                 "  kill -0 $p 2> /dev/null || break; sleep 0.02\n"
                 "done\n"
                 "EOF\n"
                 "run_case back sh -c " +
                     shell_quote(". /tmp/ir_started; date -s \"$(date -d @$(( $(date +%s) - 3600 ))"
                                 " '+%Y-%m-%d %H:%M:%S')\" > /dev/null; wait $p") +
                     "\n"
                     "run_case forward sh -c " +
                     shell_quote(". /tmp/ir_started; date -s '2045-01-01 00:00:00' > /dev/null; wait $p") + "\n"
                 "date +%Y > $CAMSIM_DIR/year\n"
                 "cp /mnt/nand/debug.log $CAMSIM_DIR/debug.log\n");
    }
};

TEST_F(VmClockAndProcessors, NoCpuFigureLeavesZeroTo100WhileAProcessorComesAndGoes)
{
    ASSERT_EQ(cam_->read_file("online"), "0\n") << "the second processor could not be taken offline";
    CamsimResult r = cam_->case_result("offline");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::regex line("CPU:([ 0-9]{3})% \\(sys:([ 0-9]{3})% user:([ 0-9]{3})% wait:([ 0-9]{3})% "
                          "steal:([ 0-9]{3})%\\)");
    int cycles = 0;
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), line), end; it != end; ++it, cycles++) {
        int cpu = std::stoi((*it)[1]), parts = 0;
        for (size_t i = 2; i <= 5; i++) {
            EXPECT_LE(std::stoi((*it)[i]), 100) << (*it)[0];
            parts += std::stoi((*it)[i]);
        }
        // All from the same interval: what was not idle is the sum of its
        // parts, give or take their rounding.
        EXPECT_LE(cpu, 100) << (*it)[0];
        EXPECT_NEAR(cpu, parts, 2) << (*it)[0];
    }
    EXPECT_EQ(cycles, 10) << r.out;
}

TEST_F(VmClockAndProcessors, ARunTimesItselfWhateverTheDateIsSetTo)
{
    EXPECT_EQ(cam_->read_file("year"), "2045\n") << "the date was not set";
    // The printed date is the one of the start; the duration is the run's.
    const std::regex result("Test date: ([^\n]*)\n\t IR-cut result: success\n\t use time: (-?[0-9]+)s \n");
    std::string printed;
    for (const char *name : {"back", "forward"}) {
        SCOPED_TRACE(name);
        CamsimResult r = cam_->case_result(name);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, result)) << r.out;
        EXPECT_EQ(m[0].str().find("2045"), std::string::npos) << m[0];
        EXPECT_GE(std::stoi(m[2]), 2) << m[0];
        EXPECT_LE(std::stoi(m[2]), 3) << m[0];
        EXPECT_EQ(r.status, 0);
        printed += m[0].str();
    }
    // The two records of the shared log say the same.
    std::string log = cam_->read_file("debug.log"), logged;
    ASSERT_EQ(log.size(), 2048u);
    for (size_t at = 0; at < log.size(); at += 1024)
        logged += log.substr(at, log.find('\0', at) - at);
    EXPECT_EQ(logged, printed);
}

} // namespace
