// cpu_test.cpp - the cpu monitor: the cycle lines with their colours, the
// log file of uncoloured twins, the summary, option errors and interrupts.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kUsage = module_usage("cpu");

const std::string kGreen = "\033[1;32m";
const std::string kDefault = "\033[0;39m \n";

// One printed cycle without colours, and the summary line.
const std::regex kCpuLine("CPU:([ 0-9]{2}[0-9])% \\(sys:[ 0-9]{2}[0-9]% user:[ 0-9]{2}[0-9]% "
                          "wait:[ 0-9]{2}[0-9]% steal:[ 0-9]{2}[0-9]%\\)");
const std::regex kAverageLine("Average:([0-9]+\\.[0-9]{3})%   Max:([0-9]+\\.[0-9]{2})%  "
                              "Min:([0-9]+\\.[0-9]{2})%");

struct Monitor {
    std::vector<std::string> cpu;  // the CPU lines, uncoloured
    std::vector<double> figures;   // their cpu figures
    std::string average;           // the summary line, uncoloured
    std::string rest;              // what came before the first cycle line
};

// Splits a terminal transcript into its cycle lines and summary; every
// cycle and summary line must carry the colours around it.
Monitor parse_terminal(const std::string &out)
{
    Monitor m;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t nl = out.find('\n', pos);
        std::string line = out.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos + 1);
        pos = nl == std::string::npos ? out.size() : nl + 1;
        bool coloured = line.rfind(kGreen, 0) == 0 && line.size() >= kGreen.size() + kDefault.size() &&
                        line.compare(line.size() - kDefault.size(), kDefault.size(), kDefault) == 0;
        std::string inner = coloured ? line.substr(kGreen.size(), line.size() - kGreen.size() -
                                                                      kDefault.size())
                                     : "";
        std::smatch match;
        if (coloured && std::regex_match(inner, match, kCpuLine)) {
            m.cpu.push_back(inner);
            m.figures.push_back(std::stod(match[1]));
        } else if (coloured && inner.rfind("Average:", 0) == 0) {
            m.average = inner;
        } else if (m.cpu.empty() && m.average.empty()) {
            m.rest += line;
        } else {
            ADD_FAILURE() << "unexpected line " << line;
        }
    }
    return m;
}

// The log must hold the terminal's lines without colours, in order.
void expect_log_matches(const Monitor &m, const std::string &log)
{
    std::string expected;
    for (auto &line : m.cpu)
        expected += line + "\n";
    expected += m.average + "\n";
    EXPECT_EQ(log, expected);
}

// The summary agrees with the printed figures (each rounded to a whole
// percent on the terminal).
void expect_summary_matches(const Monitor &m)
{
    std::smatch match;
    ASSERT_TRUE(std::regex_match(m.average, match, kAverageLine)) << m.average;
    double average = std::stod(match[1]), maximum = std::stod(match[2]), minimum = std::stod(match[3]);
    double sum = 0, lo = 100, hi = 0;
    for (double f : m.figures) {
        sum += f;
        lo = std::min(lo, f);
        hi = std::max(hi, f);
    }
    EXPECT_NEAR(maximum, hi, 0.51);
    EXPECT_NEAR(minimum, lo, 0.51);
    EXPECT_NEAR(average, sum / (double)m.figures.size(), 0.51);
    // Max and min are printed to two places, the average to three.
    EXPECT_LE(minimum, average + 0.0051);
    EXPECT_LE(average, maximum + 0.0051);
}

TEST(CpuModule, ShortRunPrintsCountLinesThenTheSummaryAndLogsTheirUncolouredTwins)
{
    Camsim cam;
    CamsimResult r = cam.run("s=$(date +%s%N); debug -M cpu -c 2 -d 1; st=$?; e=$(date +%s%N);"
                             "echo $(( (e - s) / 1000000 )) > $CAMSIM_DIR/elapsed;"
                             "cat /tmp/cpulog.txt > $CAMSIM_DIR/log; exit $st");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    Monitor m = parse_terminal(r.out);
    EXPECT_EQ(m.rest, kGreen + "Create cpu log: /tmp/cpulog.txt\n" + kDefault + kGreen +
                          "ARM LOAD RUNNING FOR COUNT: 2 \n" + kDefault);
    EXPECT_EQ(m.cpu.size(), 2u);
    expect_summary_matches(m);
    expect_log_matches(m, cam.read_file("log"));
    // A priming sample, two printed cycles and a closing sample, each
    // followed by one interval.
    EXPECT_GE(std::stol(cam.read_file("elapsed")), 3900);
}

TEST(CpuModule, VersionAndA63CharacterLogNameWithPercentSignsAreUsedAsWritten)
{
    Camsim cam;
    std::string name = "/tmp/cpu%s%d%n";
    name += std::string(63 - name.size(), 'x');
    ASSERT_EQ(name.size(), 63u);
    CamsimResult r = cam.run("debug -M cpu -v -c 1 -d 1 -l " + shell_quote(name) +
                             " && cat " + shell_quote(name) + " > $CAMSIM_DIR/log");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    Monitor m = parse_terminal(r.out);
    EXPECT_EQ(m.rest, "CPU version: 1.0.2\n" + kGreen + "Create cpu log: " + name + "\n" + kDefault +
                          kGreen + "ARM LOAD RUNNING FOR COUNT: 1 \n" + kDefault);
    EXPECT_EQ(m.cpu.size(), 1u);
    expect_summary_matches(m);
    expect_log_matches(m, cam.read_file("log"));
}

TEST(CpuModule, LogThatCannotBeCreatedIsReportedAndTheMonitorStillRuns)
{
    Camsim cam;
    CamsimResult r = cam.debug({"-M", "cpu", "-c", "1", "-d", "1", "-l", "/tmp/no/such/dir.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "\033[0;31mError: Can't create log /tmp/no/such/dir.txt\n\033[0;39m \n");
    Monitor m = parse_terminal(r.out);
    EXPECT_EQ(m.rest, kGreen + "ARM LOAD RUNNING FOR COUNT: 1 \n" + kDefault);
    EXPECT_EQ(m.cpu.size(), 1u);
    expect_summary_matches(m);
}

TEST(CpuModule, BadOptionPrintsItsErrorAndUsageAndMonitorsNothing)
{
    struct BadOption {
        std::vector<std::string> args;
        std::string err;
    };
    const std::string long_name = "/tmp/" + std::string(59, 'n'); // 64 characters
    const std::vector<BadOption> cases = {
        {{"-c", "0"}, " ERROR  (cv_cpu|cpu_init_param|N): Cpu count must > 0\n"},
        {{"-c", "-5"}, " ERROR  (cv_cpu|cpu_init_param|N): Cpu count must > 0\n"},
        {{"--count", "0x80000000"}, " ERROR  (cv_cpu|cpu_init_param|N): Cpu count must > 0\n"},
        {{"-d", "0"}, " ERROR  (cv_cpu|cpu_init_param|N): Cpu delay must > 0\n"},
        {{"-c", "2", "--delay=0"}, " ERROR  (cv_cpu|cpu_init_param|N): Cpu delay must > 0\n"},
        {{"-l", long_name}, " ERROR  (cv_cpu|cpu_init_param|N): Cpu log name length must < 64!\n"},
        {{"-x"}, "debug: invalid option -- 'x'\n ERROR  (cv_cpu|cpu_init_param|N): Unknow option\n"},
        {{"-c"},
         "debug: option requires an argument -- 'c'\n"
         " ERROR  (cv_cpu|cpu_init_param|N): Unknow option\n"},
    };
    for (const BadOption &c : cases) {
        Camsim cam;
        CamsimResult r =
            cam.run(module_command("cpu", c.args) + "; st=$?; ls /tmp > $CAMSIM_DIR/tmp; exit $st");
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
        EXPECT_EQ(cam.read_file("tmp").find("cpulog"), std::string::npos);
    }
}

TEST(CpuModule, ALinkOrFifoPlantedAtTheLogNameIsNeitherFollowedNorWaitedFor)
{
    for (const std::string plant : {"ln -s /mnt/nand/config /tmp/cpulog.txt", "mkfifo /tmp/cpulog.txt"}) {
        SCOPED_TRACE(plant);
        Camsim cam;
        CamsimResult r = cam.run("echo keep > /mnt/nand/config; " + plant +
                                     "\ndebug -M cpu -c 1 -d 1 > /dev/null; echo \"status $?\"\n"
                                     "cat /mnt/nand/config\n",
                                 30);
        EXPECT_EQ(r.out, "status 0\nkeep\n");
        EXPECT_EQ(r.err, "\033[0;31mError: Can't create log /tmp/cpulog.txt\n\033[0;39m \n");
    }
}

TEST(CpuModule, AFailedLogWriteIsReportedOnceAndTheMonitorGoesOn)
{
    struct Case {
        std::string command, err;
        size_t kept; // cycle lines the log keeps
    } cases[] = {
        {"debug -M cpu -c 2 -d 1 -l /dev/full",
         "\033[0;31mError: Can't write log /dev/full: No space left on device\n\033[0;39m \n", 0},
        // A line whose sync failed may be lost to a cut: it is taken back.
        {"debug -M nosuch\n" + preloading(CAMSIM_SYNC_EIO) +
             " debug -M cpu -c 2 -d 1\ncat /tmp/cpulog.txt > $CAMSIM_DIR/log",
         "\033[0;31mError: Can't write log /tmp/cpulog.txt: Input/output error\n\033[0;39m \n", 0},
        // A file-size limit (which a service manager may set) that the two
        // cycle lines fit and the summary does not; output and error go
        // through pipes, which the limit does not hold for.
        {"debug -M nosuch\n"
         "{ prlimit --fsize=128 debug -M cpu -c 2 -d 1 2>&1 >&3 | cat >&2; } 3>&1 | cat\n"
         "cat /tmp/cpulog.txt > $CAMSIM_DIR/log",
         "\033[0;31mError: Can't write log /tmp/cpulog.txt: File too large\n\033[0;39m \n", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        Camsim cam;
        CamsimResult r = cam.run(c.command);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err);
        Monitor m = parse_terminal(r.out);
        ASSERT_EQ(m.cpu.size(), 2u);
        expect_summary_matches(m);
        // The line that did not fit is taken back: the log ends whole.
        if (cam.has_file("log")) {
            std::string kept;
            for (size_t i = 0; i < c.kept; i++)
                kept += m.cpu[i] + "\n";
            EXPECT_EQ(cam.read_file("log"), kept);
        }
    }
}

TEST(CpuModule, CyclesThatCouldNotReadTheCountersShowZeroFiguresAndSayWhyOnStandardError)
{
    Camsim cam;
    // Out of descriptors from the moment the monitor has started: the log
    // took the lowest free number, and the limit lets the tool have none
    // above it. The limit is set from outside, once the tool runs; set
    // before, it would bind what starts it too (the emulator's wrapper).
    // The databases are in place first, so that the start-up copies nothing.
    CamsimResult r = cam.run("debug -M nosuch\n"
                             "debug -M cpu -c 2 -d 2 > /tmp/out 2> /tmp/err & pid=$!\n"
                             "until grep -qs 'ARM LOAD' /tmp/out; do sleep 0.05; done\n"
                             "for f in /proc/$pid/fd/*; do\n"
                             "  [ \"$(readlink $f)\" = /tmp/cpulog.txt ] && n=$((${f##*/} + 1))\n"
                             "done\n"
                             "prlimit --pid $pid --nofile=$n:$n; wait $pid; echo \"status $?\"\n"
                             "cat /tmp/out; cat /tmp/err >&2; cat /tmp/cpulog.txt > $CAMSIM_DIR/log");
    // The figures the monitor starts with, as for a failed sample.
    const std::string zero = "CPU:  0% (sys:  0% user:  0% wait:  0% steal:  0%)";
    const std::string average = "Average:0.000%   Max:0.00%  Min:0.00%";
    EXPECT_EQ(r.out, "status 0\n" + kGreen + "Create cpu log: /tmp/cpulog.txt\n" + kDefault + kGreen +
                         "ARM LOAD RUNNING FOR COUNT: 2 \n" + kDefault + kGreen + zero + kDefault +
                         kGreen + zero + kDefault + kGreen + average + kDefault);
    // The two cycles and the closing sample, and the first one too when
    // the limit came before it.
    // The line for a missing /proc, which scripts know, then the reason.
    std::string failed = "\033[0;31mError: /proc/stat not found. Is the /proc filesystem mounted?\n" +
                         kDefault +
                         " ERROR  (cv_cpu|cpu_report_open_error|N): /proc/stat cannot be opened: Too "
                         "many open files\n";
    const std::string error = " ERROR  (cv_cpu|cpu_test_main|N): ";
    std::string err = failed + error + "cycle 1: no load measured yet, the figures shown are zero\n" +
                      failed + error + "cycle 2: no load measured yet, the figures shown are zero\n" +
                      failed + error + "no load was measured, the summary holds no measured figure\n";
    EXPECT_TRUE(without_line_numbers(r.err) == err || without_line_numbers(r.err) == failed + err)
        << r.err;
    EXPECT_EQ(cam.read_file("log"), zero + "\n" + zero + "\n" + average + "\n");
}

// Scripts read the cycle and summary lines as they stand: whatever the
// kernel's counters did, each keeps its format and a figure that could be
// true, and standard error says what the figures do not show. Each sample
// is a FIFO over /proc/stat, fed once the tool has opened it; the next is
// laid over before this one is fed, so that the tool's next open finds it,
// however slow the machine.
TEST(CpuModule, CyclesWithoutANewMeasurementKeepTheLinesFormatAndStandardErrorSaysSo)
{
    const std::string sample = "cpu  100 0 100 800 0 0 0 0 0 0\n";
    const std::string half_busy = "cpu  150 0 150 900 0 0 0 0 0 0\n";
    const std::string error = " ERROR  (cv_cpu|cpu_test_main|N): ";
    const std::string half = "CPU: 50% (sys: 25% user: 25% wait:  0% steal:  0%)";
    const std::string idle = "CPU:  0% (sys:  0% user:  0% wait:  0% steal:  0%)";
    struct Case {
        const char *what;
        std::vector<std::string> samples; // priming, two cycles, closing
        std::vector<std::string> lines;   // the two cycle lines and the summary
        std::string err;
    };
    const std::vector<Case> cases = {
        // Counters missing from a record are not counters at 0: read so,
        // the idle count would have gone back and the load shown 100 %.
        {"a record with fewer counters",
         {sample, half_busy, "cpu  200 0 200\n", half_busy},
         {half, half, "Average:50.000%   Max:50.00%  Min:50.00%"},
         error + "cycle 2: no load measured, the last figures are shown again\n"},
        {"no tick in either cycle",
         {sample, sample, sample, sample},
         {idle, idle, "Average:0.000%   Max:0.00%  Min:0.00%"},
         error + "cycle 1: no load measured yet, the figures shown are zero\n" + error +
             "cycle 2: no load measured yet, the figures shown are zero\n" + error +
             "no load was measured, the summary holds no measured figure\n"},
        // The closing sample after the last cycle is no measured figure.
        {"a tick only after the last cycle",
         {sample, sample, sample, half_busy},
         {idle, idle, "Average:0.000%   Max:0.00%  Min:0.00%"},
         error + "cycle 1: no load measured yet, the figures shown are zero\n" + error +
             "cycle 2: no load measured yet, the figures shown are zero\n" + error +
             "no load was measured, the summary holds no measured figure\n"},
        // idle × 100 / total rounds to a hair above 100: never "-0".
        {"an idle change too large to add up exactly",
         {sample, "cpu  102 0 100 14151560559444937894 0 0 0 0 0 0\n",
          "cpu  102 0 100 14151560559444937894 0 0 0 0 0 0\n", sample},
         {idle, idle, "Average:0.000%   Max:0.00%  Min:0.00%"},
         error + "cycle 2: no load measured, the last figures are shown again\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string script = "mkfifo /tmp/s0 /tmp/s1 /tmp/s2 /tmp/s3 /tmp/s4\n"
                             "mount --bind /tmp/s0 /proc/stat\n"
                             "debug -M cpu -c 2 -d 1 > /tmp/out 2> /tmp/err & pid=$!\n";
        for (size_t i = 0; i < c.samples.size(); i++)
            script += "timeout 60 sh -c '{ mount --bind /tmp/s" + std::to_string(i + 1) +
                      " /proc/stat; printf %s \"$0\"; } > /tmp/s" + std::to_string(i) + "' " +
                      shell_quote(c.samples[i]) + "\n";
        Camsim cam;
        CamsimResult r = cam.run(script + "wait $pid; cat /tmp/out; cat /tmp/err >&2\n"
                                          "cat /tmp/cpulog.txt > $CAMSIM_DIR/log\n");
        std::string out = kGreen + "Create cpu log: /tmp/cpulog.txt\n" + kDefault + kGreen +
                          "ARM LOAD RUNNING FOR COUNT: 2 \n" + kDefault, log;
        for (const std::string &line : c.lines) {
            out += kGreen + line + kDefault;
            log += line + "\n";
        }
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
        EXPECT_EQ(cam.read_file("log"), log);
    }
}

// Starts a monitor in the background, waits until it has printed
// wanted_lines lines and interrupts it.
CamsimResult run_interrupted(const Camsim &cam, const std::string &args, int wanted_lines,
                             const std::string &signal = "INT")
{
    return cam.run("s=$(date +%s%N); debug -M cpu " + args +
                   " > $CAMSIM_DIR/out 2> $CAMSIM_DIR/err & pid=$!;"
                   "until [ $(grep -c '' $CAMSIM_DIR/out) -ge " +
                   std::to_string(wanted_lines) +
                   " ]; do sleep 0.1; done;"
                   "kill -" + signal + " $pid; wait $pid; st=$?; e=$(date +%s%N);"
                   "echo $(( (e - s) / 1000000 )) > $CAMSIM_DIR/elapsed;"
                   "cat /tmp/cpulog.txt > $CAMSIM_DIR/log; exit $st");
}

TEST(CpuModule, InterruptBeforeTheFirstCycleLineEndsWithMaxZeroMinHundredAndNoAverage)
{
    Camsim cam;
    // Start lines only (four lines), then the interrupt cuts the 60 s sleep.
    CamsimResult r = run_interrupted(cam, "-c 3 -d 60", 4);
    EXPECT_EQ(r.status, 0);
    std::string out = cam.read_file("out");
    const std::string start = kGreen + "Create cpu log: /tmp/cpulog.txt\n" + kDefault + kGreen +
                              "ARM LOAD RUNNING FOR COUNT: 3 \n" + kDefault +
                              "\nGet signal, signo = 2\n";
    ASSERT_EQ(out.substr(0, start.size()), start);
    // 0/0: how the formatting prints NaN depends on the processor's sign of it.
    const std::regex summary("Average:(-nan| nan)%   Max:0\\.00%  Min:100\\.00%");
    std::string rest = out.substr(start.size());
    ASSERT_GT(rest.size(), kGreen.size() + kDefault.size());
    EXPECT_EQ(rest.substr(0, kGreen.size()), kGreen);
    EXPECT_EQ(rest.substr(rest.size() - kDefault.size()), kDefault);
    EXPECT_TRUE(std::regex_match(
        rest.substr(kGreen.size(), rest.size() - kGreen.size() - kDefault.size()), summary))
        << rest;
    std::string log = cam.read_file("log");
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(std::regex_match(log.substr(0, log.size() - 1), summary)) << log;
    EXPECT_EQ(log.back(), '\n');
    EXPECT_EQ(without_line_numbers(cam.read_file("err")),
              " ERROR  (cv_cpu|cpu_test_main|N): no load was measured, the summary holds no "
              "measured figure\n");
    EXPECT_LT(std::stol(cam.read_file("elapsed")), 50000);
}

TEST(CpuModule, InterruptMidRunSummarisesTheCyclesPrintedSoFar)
{
    Camsim cam;
    // Start lines (four) and two cycle lines.
    CamsimResult r = run_interrupted(cam, "-c 100 -d 1", 6);
    EXPECT_EQ(r.status, 0);
    std::string out = cam.read_file("out");
    size_t signal_line = out.find("\nGet signal, signo = 2\n");
    ASSERT_NE(signal_line, std::string::npos);
    out.erase(signal_line, std::string("\nGet signal, signo = 2\n").size());
    Monitor m = parse_terminal(out);
    EXPECT_GE(m.cpu.size(), 2u);
    EXPECT_LT(m.cpu.size(), 100u);
    expect_summary_matches(m);
    expect_log_matches(m, cam.read_file("log"));
}

TEST(CpuModule, WithoutOptionsSixtyCyclesAreAskedForAndLoggedToTheDefaultLog)
{
    Camsim cam;
    CamsimResult r = run_interrupted(cam, "", 5);
    EXPECT_EQ(r.status, 0);
    const std::string start = kGreen + "Create cpu log: /tmp/cpulog.txt\n" + kDefault + kGreen +
                              "ARM LOAD RUNNING FOR COUNT: 60 \n" + kDefault;
    EXPECT_EQ(cam.read_file("out").substr(0, start.size()), start);
    EXPECT_NE(cam.read_file("log").find("CPU:"), std::string::npos);
}

// A hang-up is a stop request like Ctrl-C; a kill leaves no time to write.
TEST(CpuModule, LinesShownBeforeTheToolIsKilledAreAlreadyInTheLog)
{
    Camsim cam;
    CamsimResult r = run_interrupted(cam, "-c 100 -d 1", 6, "KILL");
    EXPECT_EQ(r.status, 128 + 9);
    Monitor m = parse_terminal(cam.read_file("out"));
    EXPECT_GE(m.cpu.size(), 2u);
    std::string lines;
    for (const auto &line : m.cpu)
        lines += line + "\n";
    EXPECT_EQ(cam.read_file("log"), lines);
}

} // namespace
