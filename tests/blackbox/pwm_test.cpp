// pwm module: one channel read or written, the mode chosen by the last option.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kUsage = module_usage("pwm");

std::vector<std::string> pwm_calls(const Camsim &cam)
{
    std::vector<std::string> lines;
    for (const auto &line : cam.calls())
        if (line.rfind("pwm_", 0) == 0)
            lines.push_back(line);
    return lines;
}

TEST(Pwm, ReadsOrWritesAsTheLastOptionDecidesAndClosesAtShutdown)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> calls;
    } cases[] = {
        {{"-c", "1"}, {"pwm_read 1"}},
        {{"-c", "15"}, {"pwm_read 15"}}, // the controller's last channel
        {{"-d", "250"}, {"pwm_write 0 100000 250"}},
        {{"-c", "2", "-d", "300"}, {"pwm_write 2 100000 300"}},
        {{"-d", "300", "-c", "2"}, {"pwm_read 2"}},
        {{"-p", "2000", "-c", "3"}, {"pwm_read 3"}},
        {{"-e", "0"}, {"pwm_write 0 100000 0"}},
        {{"-e", "5"}, {"pwm_write 0 100000 500"}},
        {{"-e", "0", "-d", "300"}, {"pwm_write 0 100000 300"}},
        {{"-d", "300", "-e", "0"}, {"pwm_write 0 100000 0"}},
        {{"-d", "5000", "-p", "12000000"}, {"pwm_write 0 12000000 5000"}},
        {{"--channel", "3", "--period", "2"}, {"pwm_write 3 2 500"}},
        {{"-c", "0", "-d", "1", "-p", "1"}, {"pwm_write 0 1 1"}},
        {{"-c", "0x10"}, {"pwm_read 0"}}, // decimal only
        {{"-M", "pwm"}, {}},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.module("pwm", c.args);
        SCOPED_TRACE(r.command);
        std::vector<std::string> calls = c.calls;
        calls.push_back("pwm_close");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(pwm_calls(cam), calls);
        if (calls.front().rfind("pwm_write", 0) == 0) {
            EXPECT_EQ(r.out, "");
        } else if (calls.front().rfind("pwm_read", 0) == 0) {
            EXPECT_EQ(r.out.find("no such channel"), std::string::npos) << r.out;
        }
    }
}

TEST(Pwm, NothingAfterTheModuleSelectionPrintsTheUsageWithItsNotice)
{
    for (const char *selection : {"-M", "--module"}) {
        Camsim cam;
        CamsimResult r = cam.debug({selection, "pwm"});
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(pwm_calls(cam), std::vector<std::string>{"pwm_close"});
    }
}

TEST(Pwm, ARejectedValuePrintsOnlyItsErrorAndTheUsageAndExitsWith255)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-c", "-1"}, "Error pwm channel\n"},
        {{"-d", "0"}, "Error pwm duty\n"},
        {{"--duty", "-5"}, "Error pwm duty\n"},
        {{"-p", "0"}, "Error pwm period\n"},
        {{"-d", "300", "-p", "0"}, "Error pwm period\n"},
        {{"-x"}, "Unknow option\n"},
        {{"-c"}, "Unknow option\n"},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.module("pwm", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, kUsage);
        // getopt's own diagnostics are off: the error line is all there is.
        EXPECT_EQ(without_line_numbers(r.err), " ERROR  (cv_pwm|pwm_init_param|N): " + c.message);
        EXPECT_EQ(pwm_calls(cam), std::vector<std::string>{});
    }
}

} // namespace
