// The shared option help printer and the top-level module list.
#include <gtest/gtest.h>


#include <string>

#include "debug.h"

namespace {

const std::string kRule(80, '*');

class UsagePrinter : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (ModuleDesc &slot : g_module_table)
            slot = ModuleDesc{};
        g_module_count = 0;
        OSA_init();
        snprintf(g_prog_name, sizeof g_prog_name, "%s", "/usr/bin/debug");
    }
    void TearDown() override
    {
        for (ModuleDesc &slot : g_module_table)
            slot = ModuleDesc{};
        g_module_count = 0;
        OSA_shutdown();
    }
    template <typename F> static std::string capture(F f)
    {
        fflush(stdout);
        testing::internal::CaptureStdout();
        f();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(UsagePrinter, FormatsLettersNumbersAndEmptyHints)
{
    static const ModuleDesc m = {"extdrv", 24, nullptr, nullptr, nullptr};
    register_module(&m);
    static const struct option opts[] = {
        {"module", required_argument, nullptr, 'M'},
        {"pair", required_argument, nullptr, 17},
        {"one", no_argument, nullptr, '1'},
        {"plain", no_argument, nullptr, 'x'},
        {nullptr, 0, nullptr, 0},
    };
    static const OptionHelp help[] = {
        {"module", "module name"}, {"digit", "pair count"}, {"", "digit option"}, {"", "no hint"}};
    std::string out = capture([] { print_module_usage(24, opts, help, 4); });
    EXPECT_EQ(out, kRule + "\nextdrv usage:\n/usr/bin/debug -M extdrv [option] \n"
                           "-M  --module [module]\tmodule name\n"
                           "    --pair [digit]\tpair count\n"
                           "    --one\t\tdigit option\n"
                           "-x  --plain\t\tno hint\n" +
                       kRule + "\n");
}

TEST_F(UsagePrinter, CountZeroPrintsOnlyRulesAndHeader)
{
    static const ModuleDesc m = {"gpio", 3, nullptr, nullptr, nullptr};
    register_module(&m);
    std::string out = capture([] { print_module_usage(3, nullptr, nullptr, 0); });
    EXPECT_EQ(out, kRule + "\ngpio usage:\n/usr/bin/debug -M gpio [option] \n" + kRule + "\n");
}

TEST_F(UsagePrinter, IdAbove24PrintsNothing)
{
    static const ModuleDesc m = {"late", 25, nullptr, nullptr, nullptr};
    register_module(&m);
    EXPECT_EQ(capture([] { print_module_usage(25, nullptr, nullptr, 0); }), "");
}

TEST_F(UsagePrinter, ModuleListBreaksAfterEveryEighthName)
{
    static char names[9][8];
    static ModuleDesc descs[9];
    for (int i = 0; i < 9; i++) {
        snprintf(names[i], sizeof names[i], "m%d", i);
        descs[i] = {names[i], (uint8_t)i, nullptr, nullptr, nullptr};
    }
    for (int i = 0; i < 8; i++)
        register_module(&descs[i]);
    EXPECT_EQ(capture([] { print_module_names(25); }),
              "modules name:\n\tm0\tm1\tm2\tm3\tm4\tm5\tm6\tm7\n\n");
    register_module(&descs[8]);
    EXPECT_EQ(capture([] { print_module_names(25); }),
              "modules name:\n\tm0\tm1\tm2\tm3\tm4\tm5\tm6\tm7\n\tm8\n");
    EXPECT_EQ(capture([] { print_module_names(3); }), "modules name:\n\tm3\n");
}

} // namespace
