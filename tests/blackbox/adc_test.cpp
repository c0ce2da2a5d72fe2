// adc_test.cpp - the adc module: scaled channel readings from the IIO
// files, the reading loop and the stop flag, and the light-sensor records
// read back from their segment after the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const char *const kRawFile = "/sys/bus/iio/devices/iio:device0/in_voltage0_raw";

const std::string kUsage = module_usage("adc");

std::string light_record(int valid, int subcmd, int value, int value2)
{
    return "48 666: " + std::to_string(valid) + " " + std::to_string(subcmd) + " " +
           std::to_string(value) + " " + std::to_string(value2) + " 0 0 0 0 0 0 0 0\n";
}

TEST(AdcModule, ReadingIsScaledFromAtMostFourCharacters)
{
    struct ScaleCase {
        std::string file; // content of the channel file
        std::string out;  // what one reading prints
    };
    const std::vector<ScaleCase> cases = {
        {"1900\n", "Adc[0] = 580\n"},
        {"4095\n", "Adc[0] = 1250\n"},
        {"0\n", "Adc[0] = 0\n"},
        {"20480\n", "Adc[0] = 625\n"}, // read as 2048
        {"99999", "Adc[0] = 3052\n"},  // read as 9999
        {"7", "Adc[0] = 2\n"},         // shorter than four bytes
        {"", "Adc[0] = 0\n"},
        {"abc\n", "Adc[0] = 0\n"},
        {"12x4", "Adc[0] = 3\n"},
        {"-100", "adc_read error!\nAdc[0] = -30\n"}, // truncated toward zero
    };
    std::string script;
    for (size_t i = 0; i < cases.size(); i++) {
        script += "echo @@; printf '%s' " + shell_quote(cases[i].file) + " >" + kRawFile +
                  "; debug -M adc -t 1 -d 1;";
    }
    Camsim cam;
    CamsimResult r = cam.run(script);
    std::string expected;
    for (auto &c : cases)
        expected += "@@\n" + c.out;
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
}

TEST(AdcModule, CountedRunsPrintOneLinePerReading)
{
    Camsim cam;
    cam.option("--iio", "1900,5,6");
    EXPECT_EQ(cam.debug({"-M", "adc", "-t", "3", "-d", "10"}).out,
              "Adc[0] = 580\nAdc[0] = 580\nAdc[0] = 580\n");
    EXPECT_EQ(cam.debug({"-M", "adc", "-t", "0"}).out, "");
    // -D alone forms no request: the channel is read instead
    CamsimResult r = cam.run("debug -M adc -D 700 -t 0x2 -d 1; camsim_shm 7665432");
    EXPECT_EQ(r.out, "Adc[0] = 580\nAdc[0] = 580\nnone\n");
}

TEST(AdcModule, MissingChannelFileIsReportedOnEveryReading)
{
    Camsim cam;
    cam.option("--iio", "-,5,6");
    CamsimResult r = cam.debug({"-M", "adc", "-t", "2", "-d", "1"});
    EXPECT_EQ(r.out, "open ADC_CHN_A error!!!\nadc_read error!\nAdc[0] = -1\n"
                     "open ADC_CHN_A error!!!\nadc_read error!\nAdc[0] = -1\n");
    EXPECT_EQ(r.status, 0);
}

TEST(AdcModule, OtherChannelIsResetToZero)
{
    Camsim cam;
    cam.option("--iio", "1900,100,200");
    CamsimResult r = cam.debug({"-M", "adc", "-c", "2", "-t", "1", "-d", "1"});
    EXPECT_EQ(r.out, "Adc[0] = 580\n");
    EXPECT_EQ(without_line_numbers(r.err),
              " ERROR  (cv_adc|adc_init_param|N): Adc channel reset=0\n");
}

// Starts a reading run in the background, waits for its first line and
// sends it SIGINT; show prints what the run printed.
std::string interrupted_run(const std::string &args, const std::string &show)
{
    return "debug -M adc " + args +
           " >/tmp/adc.out & pid=$!;"
           "while ! grep -qs Adc /tmp/adc.out; do sleep 0.1; done;"
           "sleep 1; start=$(date +%s); kill -INT $pid; wait $pid; echo status=$?;"
           "end=$(date +%s); " + show + " /tmp/adc.out;"
           "[ $((end - start)) -lt 10 ] && echo ended-soon;";
}

TEST(AdcModule, EndlessAndCountedRunsEndWithinOneDelayOfASignal)
{
    // the pause is far longer than the test waits: the signal cuts it short,
    // and a counted run, however long, stops there too; its reading lines
    // stay as they are, and standard error says how many were left out
    struct StopCase {
        const char *args;
        std::string err;
        const char *show = "cat";
    };
    const std::vector<StopCase> cases = {
        {"-d 30000", ""},
        {"-t 2147483647 -d 30000",
         " ERROR  (cv_adc|adc_test_main|N): stop requested after 1 of 2147483647 readings\n"},
        // without -t the readings go on until the signal, however many
        {"-d 1", "", "uniq"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        Camsim cam;
        cam.option("--iio", "1900,5,6");
        CamsimResult r = cam.run(interrupted_run(c.args, c.show), 120);
        EXPECT_EQ(r.out, "status=0\nAdc[0] = 580\n\nGet signal, signo = 2\nended-soon\n");
        EXPECT_EQ(without_line_numbers(r.err), c.err);
    }
}

TEST(AdcModule, LightSensorOptionsPublishTheirRecordAndReadNothing)
{
    struct LightCase {
        std::vector<std::string> args;
        std::string record;
    };
    const std::vector<LightCase> cases = {
        {{"-N", "300"}, light_record(1, 0, 300, 0)},
        {{"-N", "300", "-D", "700"}, light_record(1, 1, 300, 700)},
        {{"--day_ev_th=700", "--night_ev_th", "300"}, light_record(1, 1, 300, 700)},
        {{"-s", "5"}, light_record(1, 2, 5, 0)},
        {{"-g", "1"}, light_record(1, 3, 1, 0)},
        {{"--debug switch=1"}, light_record(1, 3, 1, 0)},
        {{"-i"}, light_record(1, 4, 0, 0)},
        {{"--info"}, light_record(1, 4, 0, 0)},
        {{"-s", "5", "-i"}, light_record(1, 4, 5, 0)},
        {{"-N", "100", "-D", "200", "-s", "5"}, light_record(1, 1, 5, 200)},
        {{"-N", "1", "-N", "2"}, light_record(1, 1, 2, 0)},
        {{"-N", "100", "-D", "200", "-N", "300"}, light_record(1, 0, 300, 200)},
        {{"-N", "300", "-t", "3", "-d", "1"}, light_record(1, 0, 300, 0)},
    };
    std::string script;
    for (auto &c : cases) {
        script += "echo @@; " + module_command("adc", c.args) + "; echo status=$?; camsim_shm 7665432;";
    }
    Camsim cam;
    CamsimResult r = cam.run(script);
    std::string expected;
    for (auto &c : cases)
        expected += "@@\nstatus=0\n" + c.record;
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
}

TEST(AdcModule, PublishFailsOnASegmentTooSmallForTheRecord)
{
    Camsim cam;
    CamsimResult r = cam.run("camsim_shm -c 7665432 8 0; debug -M adc -i; camsim_shm 7665432");
    EXPECT_EQ(r.out, "faild to get shm id==-1\n8 666: 0 0\n");
}

TEST(AdcModule, OptionErrorPrintsUsageAndDoesNothingElse)
{
    struct BadCase {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<BadCase> cases = {
        {{"-N", "5", "-d", "0", "-t", "1"},
         " ERROR  (cv_adc|adc_init_param|N): Adc delay time must > 0 !\n"},
        {{"-i", "-x"},
         "debug: invalid option -- 'x'\n ERROR  (cv_adc|adc_init_param|N): Unknow option\n"},
        {{"-t"},
         "debug: option requires an argument -- 't'\n"
         " ERROR  (cv_adc|adc_init_param|N): Unknow option\n"},
    };
    for (auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.run(module_command("adc", c.args) + "; echo status=$?; camsim_shm 7665432");
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, kUsage + "status=0\nnone\n");
        EXPECT_EQ(without_line_numbers(r.err), c.err);
    }
}

} // namespace
