// gpio module: one read or write of a GPIO line through the GPIO library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kUsage = module_usage("gpio");

std::vector<std::string> with_shutdown(std::vector<std::string> calls)
{
    calls.push_back("gpio_close"); // end of the gpio run
    calls.push_back("gpio_close"); // deinit at shutdown
    calls.push_back("pwm_close");
    return calls;
}

TEST(Gpio, PerformsOneOperationChosenByTheLastReadOrWrite)
{
    struct Case {
        std::vector<std::string> args;
        std::string out;
        std::vector<std::string> calls;
    } cases[] = {
        {{}, "GPIO read id = 0, data = 0\n", {"gpio_read 0"}},
        {{"-r", "7"}, "===g_gpio_cfg(0,7)=======\nGPIO read id = 7, data = 1\n", {"gpio_read 7"}},
        {{"--read", "500"}, "===g_gpio_cfg(0,500)=======\nGPIO read id = 500, data = 0\n",
         {"gpio_read 500"}},
        {{"-w", "127", "-d", "1"}, "GPIO write id = 127, data = 1\n", {"gpio_write 127 1"}},
        {{"-w", "0x10", "-d", "2"}, "GPIO write id = 16, data = 2\n", {"gpio_write 16 2"}},
        {{"-d", "1", "--write", "010"}, "GPIO write id = 8, data = 1\n", {"gpio_write 8 1"}},
        {{"-w", "5", "-r", "6"}, "===g_gpio_cfg(0,6)=======\nGPIO read id = 6, data = 0\n",
         {"gpio_read 6"}},
        {{"-r", "6", "-w", "5"}, "===g_gpio_cfg(0,6)=======\nGPIO write id = 5, data = 0\n",
         {"gpio_write 5 0"}},
        {{"-w", "3", "-d", "1", "-t", "5", "-D", "2"}, "GPIO write id = 3, data = 1\n",
         {"gpio_write 3 1"}},
        {{"-p", "9", "-d", "1"}, "GPIO write id = 9, data = 1\n", {"gpio_write 9 1"}},
    };
    for (const auto &c : cases) {
        Camsim cam;
        cam.set_state("gpio/7", "1\n");
        CamsimResult r = cam.module("gpio", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(cam.calls(), with_shutdown(c.calls));
    }
}

TEST(Gpio, AWriteChangesTheLineThatALaterReadSees)
{
    Camsim cam;
    CamsimResult r = cam.run("debug -M gpio -w 12 -d 1 && debug -M gpio -r 12");
    EXPECT_EQ(r.out, "GPIO write id = 12, data = 1\n===g_gpio_cfg(0,12)=======\n"
                     "GPIO read id = 12, data = 1\n");
    EXPECT_EQ(cam.read_file("gpio/12"), "1\n");
}

TEST(Gpio, ARejectedValuePrintsItsErrorAndTheUsageAndWritesNothing)
{
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-w", "128"}, " ERROR  (cv_gpio|gpio_init_param|N): gio id must <= 127\n"},
        {{"-w", "-1"}, " ERROR  (cv_gpio|gpio_init_param|N): gio id must <= 127\n"},
        {{"-p", "200"}, " ERROR  (cv_gpio|gpio_init_param|N): gio id must <= 127\n"},
        {{"-w", "1", "-d", "3"}, " ERROR  (cv_gpio|gpio_init_param|N): gio value must be 0/1! \n"},
        {{"-d", "-1", "-w", "1"}, " ERROR  (cv_gpio|gpio_init_param|N): gio value must be 0/1! \n"},
        {{"-D", "0", "-w", "1"}, " ERROR  (cv_gpio|gpio_init_param|N): gio delay time must > 0! \n"},
        {{"-x", "-w", "1"},
         "debug: invalid option -- 'x'\n ERROR  (cv_gpio|gpio_init_param|N): Unknow option\n"},
        {{"-w"},
         "debug: option requires an argument -- 'w'\n"
         " ERROR  (cv_gpio|gpio_init_param|N): Unknow option\n"},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.module("gpio", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(cam.calls(), with_shutdown({}));
    }
}

} // namespace
