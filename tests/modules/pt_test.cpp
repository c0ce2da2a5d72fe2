// pt_test.cpp - what the pt and extdrv run operations return to the
// framework, which the exit status does not show.
#include <gtest/gtest.h>

#include <string>

#include "debug.h"

namespace {

TEST(PtRun, NothingAfterTheModuleSelectionReturnsMinusOneAfterTheUsage)
{
    for (const char *name : {"pt", "extdrv"}) {
        ModuleDesc *module = find_module(name);
        ASSERT_NE(module, nullptr) << name;
        char prog[] = "debug", opt[] = "-M";
        std::string module_name = name;
        char *argv[] = {prog, opt, &module_name[0], nullptr};
        testing::internal::CaptureStdout();
        int result = module->run(3, argv);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, -1) << name;
        EXPECT_NE(out.find("\n" + module_name + " usage:\n"), std::string::npos) << name;
    }
}

} // namespace
