// The module table: sorted registration, name rules, dispatch and deinit.
#include <gtest/gtest.h>


#include <string>
#include <vector>

#include "debug.h"

namespace {

std::vector<std::string> g_events;

int run_a(int, char **) { g_events.push_back("run a"); return -1; }
void usage_a() { g_events.push_back("usage a"); }
void deinit_a() { g_events.push_back("deinit a"); }
void deinit_b() { g_events.push_back("deinit b"); }

class ModuleTable : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear()
    {
        for (ModuleDesc &slot : g_module_table)
            slot = ModuleDesc{};
        g_module_count = 0;
        g_events.clear();
    }
    static std::vector<std::string> names()
    {
        std::vector<std::string> out;
        for (int i = 0; i < g_module_count; i++)
            out.push_back(g_module_table[i].name);
        return out;
    }
};

TEST_F(ModuleTable, KeepsEntriesSortedByIdWithEqualIdsInRegistrationOrder)
{
    static const ModuleDesc m[] = {{"media", 19, nullptr, nullptr, nullptr},
                                   {"gpio", 3, nullptr, nullptr, nullptr},
                                   {"second3", 3, nullptr, nullptr, nullptr},
                                   {"adc", 2, nullptr, nullptr, nullptr},
                                   {"big", 200, nullptr, nullptr, nullptr},
                                   {"extdrv", 24, nullptr, nullptr, nullptr}};
    for (const auto &d : m)
        register_module(&d);
    EXPECT_EQ(names(), (std::vector<std::string>{"adc", "gpio", "second3", "media", "extdrv", "big"}));
}

TEST_F(ModuleTable, FirstRegistrationKeepsANameWhateverItsCase)
{
    static const ModuleDesc lower = {"gpio", 3, nullptr, nullptr, nullptr};
    static const ModuleDesc upper = {"GPIO", 1, nullptr, nullptr, nullptr};
    register_module(&lower);
    register_module(&upper);
    EXPECT_EQ(names(), std::vector<std::string>{"gpio"});
    ASSERT_NE(find_module("GPIO"), nullptr);
    EXPECT_STREQ(find_module("GpIo")->name, "gpio");
}

TEST_F(ModuleTable, IgnoresAbsentDescriptorsAndThe27thModule)
{
    register_module(nullptr);
    static const ModuleDesc unnamed = {nullptr, 1, nullptr, nullptr, nullptr};
    register_module(&unnamed);
    EXPECT_EQ(g_module_count, 0);

    static char names_buf[27][8];
    static ModuleDesc descs[27];
    for (int i = 0; i < 27; i++) {
        snprintf(names_buf[i], sizeof names_buf[i], "m%d", i);
        descs[i] = {names_buf[i], (uint8_t)i, nullptr, nullptr, nullptr};
        register_module(&descs[i]);
    }
    EXPECT_EQ(g_module_count, 26);
    EXPECT_EQ(find_module("m26"), nullptr);
}

TEST_F(ModuleTable, UnregisterClearsTheSlotAndIgnoresUnknownNames)
{
    static const ModuleDesc a = {"a", 1, nullptr, nullptr, nullptr};
    static const ModuleDesc b = {"b", 2, nullptr, nullptr, nullptr};
    static const ModuleDesc other = {"zz", 9, nullptr, nullptr, nullptr};
    register_module(&a);
    register_module(&b);
    unregister_module(&other);
    unregister_module(nullptr);
    EXPECT_EQ(g_module_count, 2);
    unregister_module(&a);
    EXPECT_EQ(g_module_count, 1);
    EXPECT_EQ(g_module_table[0].name, nullptr);
    EXPECT_STREQ(g_module_table[1].name, "b");
}

TEST_F(ModuleTable, DispatchAndHelpMatchNamesExactly)
{
    static const ModuleDesc a = {"alpha", 1, run_a, usage_a, nullptr};
    register_module(&a);
    char prog[] = "debug";
    char *argv[] = {prog, nullptr};
    EXPECT_EQ(run_module("ALPHA", 1, argv), 0);
    EXPECT_EQ(show_module_help("Alpha"), 0);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(run_module("alpha", 1, argv), 0); // the run's own -1 is not passed on
    EXPECT_EQ(show_module_help("alpha"), 0);
    EXPECT_EQ(run_module("nosuch", 1, argv), 0);
    EXPECT_EQ(g_events, (std::vector<std::string>{"run a", "usage a"}));
}

TEST_F(ModuleTable, DeinitCallsPresentOperationsInIdOrder)
{
    static const ModuleDesc b = {"b", 9, nullptr, nullptr, deinit_b};
    static const ModuleDesc none = {"none", 5, nullptr, nullptr, nullptr};
    static const ModuleDesc a = {"a", 2, nullptr, nullptr, deinit_a};
    register_module(&b);
    register_module(&none);
    register_module(&a);
    deinit_all_modules();
    EXPECT_EQ(g_events, (std::vector<std::string>{"deinit a", "deinit b"}));
}

} // namespace
