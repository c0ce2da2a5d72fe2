// motor module: P-iris duty with its wait, one stepper run, the driver closed.
#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kUsage = module_usage("motor");

const std::string kSet = "STEPPER_set_piris_duty ";
const std::string kBusy = "STEPPER_check_busy 2";
const std::string kClose = "STEPPER_close";

std::vector<std::string> stepper_calls(const Camsim &cam)
{
    std::vector<std::string> lines;
    for (const auto &line : cam.calls())
        if (line.rfind("STEPPER_", 0) == 0)
            lines.push_back(line);
    return lines;
}

TEST(Motor, RunsOneMotorAfterEachPIrisDutyHasSettled)
{
    struct Case {
        std::vector<std::string> args;
        std::string busy_polls;
        std::vector<std::string> calls;
    } cases[] = {
        {{}, "0", {"STEPPER_run 0 0 10", kClose}},
        {{"-t", "2", "-d", "1", "-s", "100"}, "0", {"STEPPER_run 2 1 100", kClose}},
        {{"--type", "1", "--dir", "3", "--step", "100000"}, "0", {"STEPPER_run 1 3 100000", kClose}},
        {{"-s", "0x1000000000", "-i", "5"}, "0", {"STEPPER_run 0 0 68719476736", kClose}},
        {{"-p", "184"}, "0", {kSet + "184", kBusy, "STEPPER_run 0 0 10", kClose}},
        {{"-p", "0x10"}, "3", {kSet + "16", kBusy, kBusy, kBusy, kBusy, "STEPPER_run 0 0 10", kClose}},
        {{"-p", "5", "-s", "20", "--piris", "0"},
         "1",
         {kSet + "5", kBusy, kBusy, kSet + "0", kBusy, "STEPPER_run 0 0 20", kClose}},
    };
    for (const auto &c : cases) {
        Camsim cam;
        cam.set_state("stepper_busy", c.busy_polls);
        CamsimResult r = cam.module("motor", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(stepper_calls(cam), c.calls);
    }
}

TEST(Motor, ARejectedValuePrintsItsErrorAndTheUsageAndExitsWith255)
{
    const std::string error = " ERROR  (cv_motor|motor_init_param|N): ";
    struct Case {
        std::vector<std::string> args;
        std::string err;
        std::vector<std::string> calls;
    } cases[] = {
        {{"-p", "185"}, error + "Error P-iris duty!\n", {}},
        {{"-p", "-1"}, error + "Error P-iris duty!\n", {}},
        {{"-p", "4294967296"}, error + "Error P-iris duty!\n", {}},
        {{"-t", "3"}, error + "Error motor type!\n", {}},
        {{"-t", "0x100000000"}, error + "Error motor type!\n", {}},
        {{"-d", "4"}, error + "Error motor directory!\n", {}},
        {{"-x"}, "debug: invalid option -- 'x'\n" + error + "Unknow option\n", {}},
        {{"-s"}, "debug: option requires an argument -- 's'\n" + error + "Unknow option\n", {}},
        // The duty is applied while parsing; the later error stops the run.
        {{"-p", "7", "-t", "3"}, error + "Error motor type!\n", {kSet + "7", kBusy}},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.module("motor", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
        EXPECT_EQ(stepper_calls(cam), c.calls);
    }
}

TEST(Motor, AFailingRunIsReportedAndTheDriverIsStillClosed)
{
    Camsim cam;
    cam.set_state("stepper_run_result", "-1");
    CamsimResult r = cam.module("motor", {"-t", "1", "-s", "5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(without_line_numbers(r.err), " ERROR  (cv_motor|motor_test_main|N): STEPPER_run failed! \n");
    EXPECT_EQ(stepper_calls(cam), (std::vector<std::string>{"STEPPER_run 1 0 5", kClose}));
}

TEST(Motor, APIrisThatNeverSettlesIsGivenUpAfterTenSecondsAndTheRunGoesOn)
{
    Camsim cam;
    cam.set_state("stepper_busy", "100000000");
    time_t start = time(nullptr);
    CamsimResult r = cam.module("motor", {"-p", "20", "-s", "1"}, 90);
    time_t took = time(nullptr) - start;
    EXPECT_GE(took, 9);
    EXPECT_LE(took, 60);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_line_numbers(r.err),
              " ERROR  (cv_motor|motor_set_piris|N): P-iris still busy after 10000 ms, stop waiting!\n");
    std::vector<std::string> calls = stepper_calls(cam);
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls.front(), kSet + "20");
    EXPECT_EQ(calls[1], kBusy);
    EXPECT_EQ(calls[calls.size() - 3], kBusy);
    EXPECT_EQ(calls[calls.size() - 2], "STEPPER_run 0 0 1");
    EXPECT_EQ(calls.back(), kClose);
}

} // namespace
