// modules_test.cpp - the module table as the modules' constructors leave it:
// one entry per module file, each under a name and an id of its own, each
// found by its name.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "debug.h"

namespace {

TEST(RegisteredModules, EveryModuleFileRegistersOnceUnderUniqueNameAndIdFoundByName)
{
    std::set<std::string> files;
    std::istringstream names(DEBUG_MODULE_NAMES);
    for (std::string name; names >> name;)
        files.insert(name);
    EXPECT_EQ(files.size(), 14u);

    std::set<std::string> registered;
    std::set<int> ids;
    for (int i = 0; i < g_module_count; i++) {
        const ModuleDesc &m = g_module_table[i];
        SCOPED_TRACE(m.name);
        EXPECT_TRUE(registered.insert(m.name).second) << "name registered twice";
        EXPECT_TRUE(ids.insert(m.id).second) << "id " << (int)m.id << " taken twice";
        EXPECT_LE(m.id, 24) << "ids above 24 print no usage";
        EXPECT_EQ(find_module(m.name), &m);
    }
    EXPECT_EQ(registered, files);
}

} // namespace
