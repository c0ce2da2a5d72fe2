// pt_test.cpp - what the pt and extdrv run operations return to the
// framework, which the exit status does not show, and the order in which a
// record reaches its segment, which no reader can be sure to catch.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "debug.h"
#include "drive_shm.h"

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

// A service takes a record when it sees `valid` 1: it must never see 1
// over a record that is still being written.
TEST(DriveShm, ValidIsClearedBeforeTheRecordIsWrittenAndSetAfterIt)
{
    DriveRequest request = {1, 0, 104, 8389108, 300, 0, 0, 0, {0, 0, 0, 0, 0}};
    LightSensorRequest light = {1, 1, 300, 700, {0, 0, 0, 0, 0, 0, 0, 0}};
    struct Case {
        const void *record;
        size_t size;
    } cases[] = {{&request, sizeof request}, {&light, sizeof light}};
    for (const Case &c : cases) {
        size_t count = c.size / sizeof(int32_t);
        SCOPED_TRACE(count);
        std::vector<std::pair<size_t, int32_t>> stores;
        shm_write_words([&stores](size_t i, int32_t v) { stores.emplace_back(i, v); }, c.record, count);
        std::vector<std::pair<size_t, int32_t>> words;
        for (size_t i = 0; i < count; i++) {
            int32_t w;
            memcpy(&w, (const char *)c.record + i * sizeof w, sizeof w);
            words.emplace_back(i, w);
        }
        ASSERT_EQ(stores.size(), count + 1);
        EXPECT_EQ(stores.front(), std::make_pair((size_t)0, 0));
        EXPECT_EQ(stores.back(), words.front());
        using Stores = std::vector<std::pair<size_t, int32_t>>;
        Stores between(stores.begin() + 1, stores.end() - 1);
        std::sort(between.begin(), between.end());
        EXPECT_EQ(between, Stores(words.begin() + 1, words.end()));
    }
}

} // namespace
