// pt_test.cpp - the pt and extdrv modules: the drive-board request each set
// of options publishes, read back from the segment after the run.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const char *const kPtKey = "7765432";
const char *const kExtdrvKey = "7765433";

// What camsim_shm prints for a 52-byte segment of mode 0666 holding valid,
// reserved, cmd and param1..param5; the five spare words are always 0.
std::string drive_record(std::vector<int> words)
{
    words.resize(8, 0);
    std::string text = "52 666:";
    for (int w : words)
        text += " " + std::to_string(w);
    return text + " 0 0 0 0 0\n";
}

const std::string kZeroRecord = drive_record({});

struct RequestCase {
    std::vector<std::string> args; // after "-M NAME"
    std::string printed;           // what the run prints before publishing
    std::vector<int> record;       // valid, reserved, cmd, param1..param5
};

// Every request code, the pair and post-loop rules, and option sets that
// form no request.
const std::vector<RequestCase> kRequestCases = {
    {{"-f", "1"}, "", {1, 0, 100, 1}},
    {{"-a", "1"}, "", {1, 0, 101, 1}},
    {{"-d", "7"}, "", {1, 0, 102, 7}},
    {{"-c", "30"}, "", {1, 0, 103, 30}},
    {{"-x", "1234"}, "", {1, 0, 105, 1234}},
    {{"-y", "1500"}, "", {1, 0, 106, 1500}},
    {{"-i", "4"}, "", {1, 0, 107, 4}},
    {{"-W", "1"}, "", {1, 0, 112, 1}},
    {{"-O", "5"}, "", {1, 0, 113, 5}},
    {{"-V", "6"}, "", {1, 0, 114, 6}},
    {{"-P", "7"}, "", {1, 0, 115, 7}},
    {{"-E", "1"}, "", {1, 0, 117, 1}},
    {{"-T", "9"}, "", {1, 0, 119, 9}},
    {{"-R", "2"}, "", {1, 0, 120, 2}},
    {{"-z", "3"}, "", {1, 0, 121, 3}},
    {{"-A", "4"}, "", {1, 0, 123, 4}},
    {{"-q", "20"}, "\n current of pan_motor=20 \n", {1, 0, 110, 20}},
    {{"-w", "31"}, "\n current of tile_motor=31 \n", {1, 0, 111, 31}},
    {{"-o", "1"}, "", {1, 0, 109, 1, 1}},
    {{"-e", "1"}, "", {1, 0, 109, 3, 1}},
    // pairs
    {{"-l", "28", "-r", "30"}, "", {1, 0, 109, 5, 28, 30}},
    {{"-u", "45", "-n", "42"}, "", {1, 0, 109, 6, 45, 42}},
    {{"-g", "45", "-k", "40"}, "", {1, 0, 109, 7, 45, 40}},
    {{"-F", "1", "-L", "2"}, "", {1, 0, 116, 1, 2}},
    {{"--set wie HID", "10", "--set wie PID=20"}, "", {1, 0, 118, 10, 20}},
    {{"-l", "1", "-l", "2"}, "", {1, 0, 109, 5, 2}},
    {{"-l", "1", "-l", "2", "-r", "3"}, "", {0, 0, 0, 0, 2, 3}},
    {{"-F", "1"}, "", {0, 0, 0, 1}},
    {{"-r", "30"}, "", {0, 0, 0, 0, 0, 30}},
    // pwm run and idle split into bytes
    {{"-b", "1500", "-j", "1300"}, "", {1, 0, 109, 4, 220, 5, 20, 5}},
    {{"--set pwm_run=1500", "--set pwm_idle", "1300"}, "", {1, 0, 109, 4, 220, 5, 20, 5}},
    {{"-b", "1500"}, "", {0}},
    {{"-j", "1300"}, "", {0}},
    // step directions: tens digit for pan, units digit for tilt
    {{"-s", "10", "-p", "500", "-t", "300"}, "", {1, 0, 104, 500 | 0x800000, 300}},
    {{"-s", "11", "-p", "500", "-t", "300"}, "", {1, 0, 104, 500 | 0x800000, 300 | 0x800000}},
    {{"-p", "500", "-t", "300", "-s", "1"}, "", {1, 0, 104, 500, 300 | 0x800000}},
    {{"-s", "0", "-p", "5", "-t", "6"}, "", {1, 0, 104, 5, 6}},
    {{"-s", "-10"}, "", {1, 0, 104, 0x800000, 0}},
    {{"-s", "-1", "-p", "5", "-t", "6"}, "", {0}},
    {{"-p", "500"}, "", {0}},
    // four motor values only in the exact eight-word form
    {{"-m", "1", "2", "3", "4"}, "", {1, 0, 122, 1, 2, 3, 4}},
    {{"-m", "1", "2", "3", "4", "5"}, "", {0}},
    {{"-m", "1", "2", "3"}, "", {0}},
    // the last request wins; post-loop requests come after all options
    {{"-a", "1", "-f", "0"}, "", {1, 0, 100, 0}},
    {{"-l", "28", "-r", "30", "-a", "1"}, "", {1, 0, 109, 5, 28, 30}},
    {{"-s", "11", "-p", "1", "-t", "2", "-l", "3", "-r", "4"}, "", {1, 0, 109, 5, 0x800002, 4}},
    {{"-l", "2", "-r", "3", "-F", "4", "-L", "5"}, "", {1, 0, 116, 5, 5, 3}},
    {{"-u", "1", "-n", "2", "-F", "3", "-L", "4"}, "", {1, 0, 116, 6, 4, 2}},
    {{"-g", "45", "-k", "40", "--set wie HID", "7", "--set wie PID", "8"},
     "",
     {1, 0, 109, 7, 8, 40}},
    {{"-g", "1", "-k", "2", "-b", "1500", "-j", "1300"}, "", {1, 0, 109, 4, 220, 5, 20, 5}},
    // long names, abbreviations and numbers atoi cannot read
    {{"--heat=1"}, "", {1, 0, 101, 1}},
    {{"--tem", "5"}, "", {1, 0, 103, 5}},
    {{"--calibration kv500_optical_sys", "9"}, "", {1, 0, 113, 9}},
    {{"--test rs485=8"}, "", {1, 0, 123, 8}},
    {{"-f", "open"}, "", {1, 0, 100, 0}},
};

// Runs every case with one module in one sandbox, each followed by a dump
// of both drive segments; the cases run in a row, so each record must
// replace the one before it.
std::map<std::string, std::string> run_request_cases(const std::string &module)
{
    std::string script;
    for (size_t i = 0; i < kRequestCases.size(); i++) {
        script += "echo @@" + std::to_string(i) + "; " + module_command(module, kRequestCases[i].args) +
                  "; echo status=$?; camsim_shm " + kPtKey + "; camsim_shm " + kExtdrvKey + ";";
    }
    Camsim cam;
    CamsimResult r = cam.run(script, 300);
    EXPECT_EQ(r.err, "");
    std::map<std::string, std::string> sections;
    std::string key;
    size_t pos = 0;
    while (pos < r.out.size()) {
        size_t end = r.out.find('\n', pos);
        if (end == std::string::npos)
            end = r.out.size() - 1;
        std::string line = r.out.substr(pos, end + 1 - pos);
        if (line.rfind("@@", 0) == 0)
            key = line.substr(2, line.size() - 3);
        else
            sections[key] += line;
        pos = end + 1;
    }
    return sections;
}

void expect_request_cases(const std::string &module, const std::string &other)
{
    std::map<std::string, std::string> sections = run_request_cases(module);
    for (size_t i = 0; i < kRequestCases.size(); i++) {
        const RequestCase &c = kRequestCases[i];
        SCOPED_TRACE(module_command(module, c.args));
        std::string record = drive_record(c.record);
        // The other module's segment is never touched.
        std::string expected = c.printed + "status=0\n" +
                               (module == "pt" ? record + other : other + record);
        EXPECT_EQ(sections[std::to_string(i)], expected);
    }
}

TEST(PtModule, EachOptionSetPublishesItsRecordToThePtSegment)
{
    expect_request_cases("pt", "none\n");
}

TEST(PtModule, ExtdrvPublishesTheSameRecordsToItsOwnSegment)
{
    expect_request_cases("extdrv", "none\n");
}

TEST(PtModule, NothingAfterTheModuleSelectionPrintsTheUsageAndPublishesNothing)
{
    for (const char *module : {"pt", "extdrv"}) {
        Camsim cam;
        CamsimResult r =
            cam.run(module_command(module, {}) + "; echo status=$?; camsim_shm 7765432; camsim_shm 7765433");
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, module_usage(module) + "status=0\nnone\nnone\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(PtModule, BadOptionReportsUsageAndExitsWithoutPublishing)
{
    struct BadCase {
        std::string module;
        std::vector<std::string> args;
    };
    const std::vector<BadCase> cases = {
        {"pt", {"-Z", "1"}},
        {"pt", {"-a"}},                      // missing argument
        {"pt", {"--set", "3"}},              // ambiguous abbreviation
        {"extdrv", {"-G", "1"}},             // long-only option used short
        {"extdrv", {"-a", "1", "--bogus"}},  // earlier requests are dropped
    };
    for (auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.run(module_command(c.module, c.args) +
                                 "; echo status=$?; camsim_shm 7765432; camsim_shm 7765433");
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, module_usage(c.module) + "status=255\nnone\nnone\n");
        // getopt's own diagnostics are off: the error line is all there is.
        EXPECT_EQ(without_line_numbers(r.err),
                  " ERROR  (cv_" + c.module + "|pt_init_param|N): Unknow option\n");
    }
}

TEST(PtModule, PublishReplacesWholeExistingSegmentAndFailsOnASmallerOne)
{
    Camsim cam;
    CamsimResult r = cam.run(
        // an existing 52-byte segment full of ones becomes all zero
        "camsim_shm -c 7765432 52 0xff; camsim_shm 7765432;"
        "debug -M pt -p 500; camsim_shm 7765432;"
        // a segment too small for the record cannot be obtained
        "camsim_shm -c 7765433 16 1; debug -M extdrv -a 1; echo status=$?;"
        "camsim_shm 7765433");
    EXPECT_EQ(r.out, "52 666: -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1\n" + kZeroRecord +
                         "faild to get shm id==-1\nstatus=0\n"
                         "16 666: 16843009 16843009 16843009 16843009\n");
    EXPECT_EQ(r.err, "");
}

} // namespace
