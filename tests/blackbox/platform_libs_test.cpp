// The PTZ, Wi-Fi, database and system libraries, which the tool opens when a
// module needs one: a camera without one, or with a broken one, still runs
// every module that does not call it.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

// One short run of each module that calls an opened library, and of gpio,
// which calls none of them.
const std::vector<std::pair<std::string, std::string>> kRuns = {
    {"ptz", "-d 0 --up"}, {"wifi", "--link"}, {"db", "-t"},
    {"motor", "-s 5"},    {"sdmmc", "-i"},    {"gpio", "-r 1"},
};

// Each run's output (both streams) and status, and its calls, each under a
// heading line "== MODULE".
std::string runs_script()
{
    std::string script;
    for (const auto &run : kRuns) {
        script += "echo '== " + run.first + "' | tee -a \"$CAMSIM_DIR/calls.log\"\n"
                  "debug -M " + run.first + " " + run.second + " 2>&1; echo \"status $?\"\n";
    }
    return script;
}

std::map<std::string, std::string> sections(const std::string &text)
{
    std::map<std::string, std::string> parts;
    std::stringstream in(text);
    std::string line, module;
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0)
            parts[module = line.substr(3)] = "";
        else
            parts[module] += line + "\n";
    }
    return parts;
}

std::string load_error(const std::string &soname, const std::string &reason)
{
    return " ERROR  (platform_libs|platform_lib_open|N): cannot load platform library " + soname +
           ": " + reason + "\n";
}

// The directory the library was found in, which differs between builds.
std::string without_lib_dir(const std::string &text)
{
    return std::regex_replace(text, std::regex(": /[^ ]*/(lib[a-z]+\\.so): "), ": DIR/$1: ");
}

TEST(PlatformLibs, AMissingLibraryStopsTheModulesThatCallItAtOnceAndNoOther)
{
    Camsim whole;
    CamsimResult r = whole.run(runs_script());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto baseline_out = sections(r.out);
    const auto baseline_calls = sections(whole.read_file("calls.log"));
    ASSERT_EQ(baseline_out.at("gpio"), "===g_gpio_cfg(0,1)=======\nGPIO read id = 1, data = 0\nstatus 0\n");
    ASSERT_NE(baseline_calls.at("ptz"), "");

    const std::map<std::string, std::vector<std::string>> users = {
        {"libcvptz.so", {"ptz"}},
        {"libcvwifi.so", {"wifi"}},
        {"libcvdb.so", {"db"}},
        {"libcvsys.so", {"motor", "sdmmc"}},
    };
    for (const auto &lib : users) {
        Camsim cam;
        cam.option("--no-lib", lib.first);
        r = cam.run(runs_script());
        auto out = sections(without_line_numbers(r.out));
        auto calls = sections(cam.read_file("calls.log"));
        for (const auto &run : kRuns) {
            const std::string &module = run.first;
            bool stopped = false;
            for (const auto &user : lib.second)
                stopped = stopped || user == module;
            if (stopped) {
                EXPECT_EQ(out[module], load_error(lib.first, lib.first + ": cannot open shared object "
                                                                         "file: No such file or directory") +
                                           "status 255\n")
                    << lib.first;
                // Not even the shutdown's calls: the module's run never began.
                EXPECT_EQ(calls[module], "") << lib.first << ", " << module;
            } else {
                EXPECT_EQ(out[module], without_line_numbers(baseline_out.at(module)))
                    << lib.first << ", " << module;
                EXPECT_EQ(calls[module], baseline_calls.at(module)) << lib.first << ", " << module;
            }
        }
    }
}

TEST(PlatformLibs, ABrokenLibraryOrOneLackingACallStopsItsModuleTheSameWay)
{
    struct Case {
        std::string lib, file;
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {"libcvptz.so", CAMSIM_PARTIAL_CVPTZ, {"-M", "ptz", "-d", "0", "--up"},
         "DIR/libcvptz.so: undefined symbol: pt_tty_deinit"},
        {"libcvdb.so", "/dev/null", {"-M", "db", "-t"}, "DIR/libcvdb.so: file too short"},
    };
    for (const auto &c : cases) {
        Camsim cam;
        cam.option("--lib", c.lib + "=" + c.file);
        CamsimResult r = cam.debug(c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(without_lib_dir(without_line_numbers(r.err)), load_error(c.lib, c.reason));
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(cam.calls(), std::vector<std::string>{});
    }
}

TEST(PlatformLibs, ALibraryNameThatIsAPathIsRefusedAndTheHostFileStaysAsItWas)
{
    Camsim cam;
    const std::string victim = cam.scratch() + "/victim";
    // From the library directory up to / and down to the scratch directory.
    std::string name;
    for (int i = 0; i < 32; i++)
        name += "../";
    name += victim.substr(1);
    for (const auto &option : {std::make_pair("--no-lib", name), std::make_pair("--lib", name + "=/dev/null")}) {
        write_whole_file(victim, "host file\n");
        Camsim sandbox;
        sandbox.option(option.first, option.second);
        CamsimResult r = sandbox.run("true");
        EXPECT_EQ(r.err, std::string("camsim: ") + option.first + " " + name +
                             ": not a library file name (libcvptz.so, ...)\n");
        EXPECT_EQ(r.status, 125);
        EXPECT_EQ(read_whole_file(victim), "host file\n") << option.first;
    }
}

TEST(PlatformLibs, UsageHelpAndTheModuleListMapNoneOfTheOpenedLibraries)
{
    // The loader's own account of what it mapped for the tool (its children,
    // such as cp, map other libraries).
    const std::string libs = " 2>&1 >/dev/null | grep -o 'file=lib\\(gpio\\|pwm\\|cvptz\\|cvwifi\\|cvdb\\|cvsys\\)\\.so'"
                             " | sort -u\n";
    Camsim cam;
    CamsimResult r = cam.run("LD_DEBUG=files debug" + libs + "LD_DEBUG=files debug -h gpio" + libs +
                             "LD_DEBUG=files debug -h ptz" + libs +
                             "LD_DEBUG=files debug -M ptz -d 0 --up" + libs);
    const std::string linked = "file=libgpio.so\nfile=libpwm.so\n";
    EXPECT_EQ(r.out, linked + linked + linked + "file=libcvptz.so\n" + linked);
}

} // namespace
