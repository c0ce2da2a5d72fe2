// ptz module: presets, one command for its delay or the test sequence, on
// the serial pan-tilt-zoom head (the library's calls in calls.log).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kUsage = module_usage("ptz");

const std::string kSpeed = "pt_set_speed 38 38";
const std::string kRelease = "pt_tty_deinit 1";

// The PTZ library's calls, without those of other modules' shutdown.
std::vector<std::string> ptz_calls(const Camsim &cam)
{
    std::vector<std::string> calls;
    for (const auto &line : cam.calls()) {
        if (line.rfind("pt_", 0) == 0)
            calls.push_back(line);
    }
    return calls;
}

TEST(Ptz, EachCommandOptionRunsItsCodeAloneForTheDelayThenReleasesTheLink)
{
    const struct {
        const char *option;
        int code;
    } commands[] = {
        {"up", 0},        {"upleft", 4},     {"upright", 7},    {"down", 1},
        {"downleft", 6},  {"downright", 5},  {"auto", 21},      {"stop", 32},
        {"zoomin", 10},   {"zoomout", 11},   {"irisin", 8},     {"irisout", 9},
        {"focusin", 14},  {"focusout", 15},  {"autofocus", 17}, {"rstfocus", 18},
        {"lightoff", 28}, {"lighton", 27},   {"brushoff", 30},  {"brushon", 29},
    };
    std::string script;
    std::vector<std::string> expected;
    for (const auto &c : commands) {
        script += std::string("debug -M ptz --") + c.option + " -d 0 || exit 1\n";
        expected.insert(expected.end(), {kSpeed, "pt_run " + std::to_string(c.code), kRelease});
    }
    Camsim cam;
    CamsimResult r = cam.run(script);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ptz_calls(cam), expected);
}

TEST(Ptz, TheLastCommandOptionWinsAndPresetsAreCalledBeforeIt)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> calls;
    } cases[] = {
        {{"--up", "--down", "-d", "0"}, {kSpeed, "pt_run 1", kRelease}},
        {{"-t", "--zoomin", "-d", "0"}, {kSpeed, "pt_run 10", kRelease}},
        {{"-s", "0x10", "-c", "010", "-g", "3", "--stop", "--gpreset", "7", "-d", "0"},
         {kSpeed, "pt_set_preset 16", "pt_remove_preset 8", "pt_go_preset 3", "pt_go_preset 7",
          "pt_run 32", kRelease}},
        // Accepted values change nothing the library sees.
        {{"-S", "9", "-B", "19200", "-P", "1", "--speed", "0", "--baudrate", "2400",
          "--protocol", "0", "--irisin", "--delay", "0"},
         {kSpeed, "pt_run 8", kRelease}},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.module("ptz", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ptz_calls(cam), c.calls);
    }
}

TEST(Ptz, DelayOptionSetsHowLongASingleCommandRuns)
{
    Camsim cam;
    CamsimResult r = cam.run("s=$(date +%s%N); debug -M ptz --focusin -d 3; e=$(date +%s%N);"
                             "echo $(((e - s) / 1000000))");
    ASSERT_EQ(r.status, 0);
    long ms = std::stol(r.out);
    EXPECT_GE(ms, 2900);
    EXPECT_LT(ms, 13000); // three seconds and the emulator's start-up
    EXPECT_EQ(ptz_calls(cam), (std::vector<std::string>{kSpeed, "pt_run 14", kRelease}));
}

TEST(Ptz, ASignalEndsTheRunWithinASecondSkippingTheRestButReleasingTheLink)
{
    struct Case {
        std::vector<std::string> args;
        int runs_before; // pt_run calls seen before the signal is sent
        const char *hold; // then this long (s) into the step
        int signo;
        std::vector<std::string> calls;
    } cases[] = {
        // The default 50 s per step.
        {{}, 1, "1", 2, {kSpeed, "pt_run 0", kRelease}},
        {{"--zoomin"}, 1, "1", 15, {kSpeed, "pt_run 10", kRelease}},
        {{"-g", "3", "--stop"}, 1, "0.5", 3, {kSpeed, "pt_go_preset 3", "pt_run 32", kRelease}},
        // The third step of the sequence.
        {{"-d", "2"}, 3, "0.5", 15, {kSpeed, "pt_run 0", "pt_run 1", "pt_run 0", kRelease}},
        // The auto scan keeps its own 15 s whatever the delay.
        {{"--zoomin", "-t", "-d", "0"},
         15,
         "2",
         2,
         {kSpeed, "pt_run 0", "pt_run 1", "pt_run 0", "pt_run 2", "pt_run 3", "pt_run 2",
          "pt_run 7", "pt_run 5", "pt_run 4", "pt_run 6", "pt_run 27", "pt_run 28", "pt_run 29",
          "pt_run 30", "pt_run 21", kRelease}},
    };
    for (const auto &c : cases) {
        Camsim cam;
        std::string script =
            module_command("ptz", c.args) +
            " &\n"
            "pid=$!\n"
            "n=0\n"
            "until [ \"$(cat \"$CAMSIM_DIR/calls.log\" 2>/dev/null | grep -c '^pt_run')\" -ge " +
            std::to_string(c.runs_before) +
            " ]; do\n"
            "  n=$((n + 1)); [ $n -lt 600 ] || exit 9; sleep 0.1\n"
            "done\n"
            "sleep " +
            c.hold +
            "\n"
            "kill -0 $pid && echo running >\"$CAMSIM_DIR/before\"\n"
            "s=$(date +%s%N); kill -" +
            std::to_string(c.signo) +
            " $pid; wait $pid; st=$?; e=$(date +%s%N)\n"
            "echo $st >\"$CAMSIM_DIR/status\"\n"
            "echo $(((e - s) / 1000000)) >\"$CAMSIM_DIR/stop_ms\"\n";
        CamsimResult r = cam.run(script, 60);
        SCOPED_TRACE(r.command);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(cam.read_file("before"), "running\n");
        EXPECT_EQ(cam.read_file("status"), "0\n");
        EXPECT_LT(std::stol(cam.read_file("stop_ms")), 2500);
        EXPECT_EQ(r.out, "\nGet signal, signo = " + std::to_string(c.signo) + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ptz_calls(cam), c.calls);
    }
}

TEST(Ptz, OptionErrorsPrintTheirLineAndUsageAndExitWithoutReleasingTheLink)
{
    const std::string prefix = " ERROR  (cv_ptz|ptz_init_param|N): ";
    struct Case {
        std::vector<std::string> args;
        std::string err;
        std::vector<std::string> calls;
    } cases[] = {
        {{"-S", "10"}, prefix + "Error speed!\r\n", {kSpeed}},
        {{"--speed", "-1"}, prefix + "Error speed!\r\n", {kSpeed}},
        // 2^32 + 1 and 2^32 + 2400: checked whole, not cut to 32 bits.
        {{"-S", "4294967297"}, prefix + "Error speed!\r\n", {kSpeed}},
        {{"-B", "115200"}, prefix + "Error baudrate!\r\n", {kSpeed}},
        {{"-B", "4294969696"}, prefix + "Error baudrate!\r\n", {kSpeed}},
        {{"-P", "2"}, prefix + "Error procotol\r\n", {kSpeed}},
        {{"-x"}, "debug: invalid option -- 'x'\n" + prefix + "Unknow option\n", {kSpeed}},
        {{"--bogus"}, "debug: unrecognized option '--bogus'\n" + prefix + "Unknow option\n",
         {kSpeed}},
        {{"-g"}, "debug: option requires an argument -- 'g'\n" + prefix + "Unknow option\n",
         {kSpeed}},
        // Presets already made stay made; the pending command never runs.
        {{"-s", "5", "--up", "-P", "7"}, prefix + "Error procotol\r\n", {kSpeed, "pt_set_preset 5"}},
    };
    for (const auto &c : cases) {
        Camsim cam;
        // An error taken for a value would start the 50 s steps.
        CamsimResult r = cam.module("ptz", c.args, 30);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
        EXPECT_EQ(ptz_calls(cam), c.calls);
    }
}

} // namespace
