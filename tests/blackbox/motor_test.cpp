// motor module: P-iris duty with its wait, one stepper run, the driver closed.
#include <gtest/gtest.h>
#include <time.h>

#include <regex>
#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kRule(80, '*');
const std::string kUsage = kRule +
                           "\nmotor usage:\n"
                           "debug -M motor [option] \n"
                           "-M  --module [module]\tmodule name: motor\n"
                           "-t  --type [digit]\tmotor type, default[0]:focus\n"
                           "-d  --dir [digit]\tmotor directory, default[0]:forward , value[0:forward]\n"
                           "-s  --step [digit]\tmotor run steps, default[10]\n"
                           "-i  --init [digit]\tmotor initial\n"
                           "-p  --piris [digit]\tP-iris target duty\n" +
                           kRule +
                           "\nMOTOR arguments: \n"
                           "type:\n"
                           "    [0]: focus, [1]: zoom, [2]: p-iris\n"
                           "dir:\n"
                           "    [0]: forward, [1]: back \n"
                           "step:\n"
                           "    motor run steps\n"
                           "    For zoom: max steps = 2768\n"
                           "    For focus: max steps = 6764\n"
                           "    For piris: max steps = 184\n"
                           "piris:\n"
                           "    motor set p-iris duty[0-184].\n"
                           "\n";

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

std::vector<std::string> motor_args(const std::vector<std::string> &args)
{
    std::vector<std::string> all = {"-M", "motor"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
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
        CamsimResult r = cam.debug(motor_args(c.args));
        std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(r.out, "") << what;
        EXPECT_EQ(r.err, "") << what;
        EXPECT_EQ(r.status, 0) << what;
        EXPECT_EQ(stepper_calls(cam), c.calls) << what;
    }
}

TEST(Motor, ARejectedValuePrintsItsErrorAndTheUsageAndExitsWith255)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
        std::vector<std::string> calls;
    } cases[] = {
        {{"-p", "185"}, "Error P-iris duty!\n", {}},
        {{"-p", "-1"}, "Error P-iris duty!\n", {}},
        {{"-p", "4294967296"}, "Error P-iris duty!\n", {}},
        {{"-t", "3"}, "Error motor type!\n", {}},
        {{"-t", "0x100000000"}, "Error motor type!\n", {}},
        {{"-d", "4"}, "Error motor directory!\n", {}},
        {{"-x"}, "Unknow option\n", {}},
        {{"-s"}, "Unknow option\n", {}},
        // The duty is applied while parsing; the later error stops the run.
        {{"-p", "7", "-t", "3"}, "Error motor type!\n", {kSet + "7", kBusy}},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.debug(motor_args(c.args));
        EXPECT_EQ(r.status, 255) << c.args[0];
        EXPECT_EQ(r.out, kUsage) << c.args[0];
        EXPECT_TRUE(std::regex_search(
            r.err, std::regex(" ERROR  \\(cv_motor\\|motor_init_param\\|[0-9]+\\): " + c.message + "$")))
            << r.err;
        EXPECT_EQ(stepper_calls(cam), c.calls) << c.args[0];
    }
}

TEST(Motor, AFailingRunIsReportedAndTheDriverIsStillClosed)
{
    Camsim cam;
    cam.set_state("stepper_run_result", "-1");
    CamsimResult r = cam.debug(motor_args({"-t", "1", "-s", "5"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(std::regex_match(
        r.err, std::regex(" ERROR  \\(cv_motor\\|motor_test_main\\|[0-9]+\\): STEPPER_run failed! \n")))
        << r.err;
    EXPECT_EQ(stepper_calls(cam), (std::vector<std::string>{"STEPPER_run 1 0 5", kClose}));
}

TEST(Motor, APIrisThatNeverSettlesIsGivenUpAfterTenSecondsAndTheRunGoesOn)
{
    Camsim cam;
    cam.set_state("stepper_busy", "100000000");
    time_t start = time(nullptr);
    CamsimResult r = cam.debug(motor_args({"-p", "20", "-s", "1"}), 90);
    time_t took = time(nullptr) - start;
    EXPECT_GE(took, 9);
    EXPECT_LE(took, 60);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.err, std::regex(" ERROR  \\(cv_motor\\|motor_set_piris\\|[0-9]+\\): "
                                                   "P-iris still busy after 10000 ms, stop waiting!\n")))
        << r.err;
    std::vector<std::string> calls = stepper_calls(cam);
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls.front(), kSet + "20");
    EXPECT_EQ(calls[1], kBusy);
    EXPECT_EQ(calls[calls.size() - 3], kBusy);
    EXPECT_EQ(calls[calls.size() - 2], "STEPPER_run 0 0 1");
    EXPECT_EQ(calls.back(), kClose);
}

} // namespace
