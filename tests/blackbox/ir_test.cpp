// ir module: IR-cut switching, the dated result and its fixed-size log record.
#include <gtest/gtest.h>
#include <time.h>

#include <regex>
#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kUsage = module_usage("ir");

// The result text as logged; the date is the clock's, in the asctime form.
const std::string kResult = "Test date: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] "
                            "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\n"
                            "\t IR-cut result: success\n\t use time: ([0-9]+)s \n";
const std::string kPrinted = "\x1b\\[0;32m" + kResult + "\x1b\\[0;39m \n";

// The IR-cut line of the simulated board is 13; it goes 0, 1, 0, ...
std::vector<std::string> cut_sequence(size_t count)
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < count; i++)
        lines.push_back(i % 2 ? "gpio_write 13 1" : "gpio_write 13 0");
    return lines;
}

std::vector<std::string> cut_writes(const Camsim &cam)
{
    std::vector<std::string> lines;
    for (const auto &line : cam.calls())
        if (line.rfind("gpio_write ", 0) == 0)
            lines.push_back(line);
    return lines;
}

// Checks one 1024-byte record: the result text, then zero bytes to the end.
void expect_record(const std::string &record, const std::string &seconds)
{
    ASSERT_EQ(record.size(), 1024u);
    std::string text = record.substr(0, record.find('\0'));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, std::regex(kResult))) << text;
    EXPECT_EQ(m[1].str(), seconds);
    EXPECT_EQ(record.find_first_not_of('\0', text.size()), std::string::npos);
}

TEST(Ir, SwitchesTheCutLineTheGivenNumberOfTimesStartingWithZero)
{
    struct Case {
        std::vector<std::string> args;
        size_t writes;
    } cases[] = {
        {{"-t", "3", "-d", "1"}, 3},
        {{"-t", "0"}, 0},
        {{"-m", "2", "-d", "1"}, 10},
        {{"-m", "3", "-t", "0x4", "-d", "1"}, 4},
        {{"-l", "1", "-c", "0", "-t", "2", "-d", "1"}, 2},
        {{"--mode", "1", "--time", "1", "--delay", "1", "--ir-cut", "1"}, 1},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.module("ir", c.args);
        SCOPED_TRACE(r.command);
        std::smatch m;
        EXPECT_TRUE(std::regex_match(r.out, m, std::regex(kPrinted))) << r.out;
        EXPECT_EQ(m.size() > 1 ? m[1].str() : "", "0");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(cut_writes(cam), cut_sequence(c.writes));
    }
}

TEST(Ir, EachRunAppendsOneZeroPaddedRecordEqualToThePrintedText)
{
    Camsim cam;
    CamsimResult r = cam.run("printf older > /mnt/nand/debug.log && debug -M ir -t 1 -d 1 && "
                             "debug -M ir -t 0 && cp /mnt/nand/debug.log \"$CAMSIM_DIR/log\"");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string log = cam.read_file("log");
    ASSERT_EQ(log.size(), 5u + 2 * 1024u);
    EXPECT_EQ(log.substr(0, 5), "older");
    std::string printed;
    for (size_t at = 5; at < log.size(); at += 1024) {
        std::string record = log.substr(at, 1024);
        expect_record(record, "0");
        printed += "\x1b[0;32m" + record.substr(0, record.find('\0')) + "\x1b[0;39m \n";
    }
    EXPECT_EQ(r.out, printed);
}

TEST(Ir, TheResultCarriesTheStartDateAndTheWholeSecondsElapsed)
{
    Camsim cam;
    CamsimResult r = cam.run("export TZ=UTC0; date +%s; debug -M ir -t 3 -d 1000; date +%s");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m,
                                 std::regex("([0-9]+)\n\x1b\\[0;32mTest date: ([^\n]*)\n"
                                            "\t IR-cut result: success\n\t use time: ([0-9]+)s \n"
                                            "\x1b\\[0;39m \n([0-9]+)\n")))
        << r.out;
    long before = std::stol(m[1].str()), after = std::stol(m[4].str());
    struct tm tm = {};
    ASSERT_NE(strptime(m[2].str().c_str(), "%a %b %d %H:%M:%S %Y", &tm), nullptr);
    long printed = (long)timegm(&tm);
    EXPECT_GE(printed, before);
    // The run lasts three seconds: the end date would be this close to after.
    EXPECT_LE(printed + 2, after);
    int seconds = std::stoi(m[3].str());
    EXPECT_GE(seconds, 3);
    EXPECT_LE(seconds, 4);
}

TEST(Ir, AnInterruptEndsAnEndlessRunWhichStillLogsAndPrintsItsResult)
{
    Camsim cam;
    CamsimResult r = cam.run(
        "debug -M ir -t -1 -d 20 & pid=$!\n"
        "until [ \"$(grep -c gpio_write \"$CAMSIM_DIR/calls.log\" 2>/dev/null)\" -ge 2 ]; do sleep 0.05; done\n"
        "kill -INT $pid; wait $pid; echo \"status $?\"\n"
        "cp /mnt/nand/debug.log \"$CAMSIM_DIR/log\"\n",
        60);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("\nGet signal, signo = 2\n" + kPrinted +
                                                   "status 0\n")))
        << r.out;
    std::vector<std::string> writes = cut_writes(cam);
    EXPECT_GE(writes.size(), 2u);
    EXPECT_EQ(writes, cut_sequence(writes.size()));
    expect_record(cam.read_file("log"), "0");
}

TEST(Ir, ALogLockLeftTakenByADeadWriterIsWaitedForOnlyUntilAnInterrupt)
{
    Camsim cam;
    // The tool waits for the lock a moment after its one switch; the
    // interrupt comes while it waits and must end the wait well before its
    // own bound. Its result line follows.
    CamsimResult r = cam.run(
        kToolWaits +
        "camsim_logwriter --stale\n"
        "debug -M ir -t 1 -d 1 > /tmp/out 2> /tmp/err & pid=$!\n"
        "tool_waits $pid debug.log sem; start=$(date +%s%N); kill -INT $pid; wait $pid; echo \"status $?\"\n"
        "[ $(( ($(date +%s%N) - start) / 1000000 )) -lt 2500 ] && echo ended-soon\n"
        "grep -c 'use time' /tmp/out; wc -c < /mnt/nand/debug.log; camsim_logwriter --value\n"
        "cat /tmp/err\n",
        60);
    EXPECT_EQ(without_line_numbers(r.out),
              "status 0\nended-soon\n1\n1024\n0\n"
              " ERROR  (osa_log|OSA_log|N): log lock not taken (Interrupted system call), writing "
              "without it\n");
}

// Runs a command under a limit of its written file size, its output and
// error through pipes (the limit holds for regular files only), then says
// its status.
std::string under_file_size_limit(int bytes, const std::string &command)
{
    return "{ { prlimit --fsize=" + std::to_string(bytes) + " " + command +
           "; echo \"status $?\" >&3; } 2>&1 >&3 | cat >&2; } 3>&1 | cat\n";
}

TEST(Ir, ARecordThatDoesNotFitLeavesTheLogAsItWasAndTheRunGoesOn)
{
    const std::string restore = " ERROR  (test|restore_database|N): restore ";
    struct Case {
        const char *what;
        std::string setup, command, err, files;
    } cases[] = {
        // Two pages of flash: one holds another file, the other the log,
        // whose 3500 bytes leave room for 596 bytes of the 1024-byte record.
        {"full flash",
         "mount -t tmpfs -o size=8k nand /mnt/nand\n"
         "head -c 4096 /dev/zero > /mnt/nand/other\n"
         "head -c 3500 /dev/zero | tr '\\0' x > /mnt/nand/debug.log\n",
         "debug -M ir -t 1 -d 1 > /dev/null; echo \"status $?\"\n",
         restore + "/mnt/nand/cvdb.db from /opt/app/cvdb.db failed: No space left on device\n"
                   "write log: No space left on device\n",
         "debug.log\nother\n"},
        // A file-size limit 24 bytes above the log, which a service manager
        // may set; the default databases do not fit either.
        {"file-size limit", "head -c 1000 /dev/zero | tr '\\0' x > /mnt/nand/debug.log\n",
         under_file_size_limit(1024, "debug -M ir -t 1 -d 1 > /dev/null"),
         restore + "/mnt/nand/cvdb.db from /opt/app/cvdb.db failed: File too large\n" + restore +
             "/mnt/nand2/oem.db from /opt/app/oem.db failed: File too large\n"
             "write log: File too large\n",
         "debug.log\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Camsim cam;
        CamsimResult r = cam.run(c.setup + c.command +
                                 "tr -d x < /mnt/nand/debug.log | wc -c; ls /mnt/nand\n");
        // The log holds its own bytes only; no copy of a database is left.
        EXPECT_EQ(r.out, "status 0\n0\n" + c.files);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
    }
}

// Wherever the log cannot be used, the two lines of a failed open are
// printed; a pipe or a device, which would open, is named as such first.
TEST(Ir, ALogThatIsNoRegularFileIsReportedAsAFailedOpenAndGetsNoRecord)
{
    const std::string open_failed = " ERROR  (osa_log|OSA_log|N): Faild to open log: /mnt/nand/debug.log \n";
    const std::string refused = " ERROR  (osa_log|OSA_logOpen|N): /mnt/nand/debug.log is not a regular "
                                "file, the record is not written\n";
    const std::vector<std::pair<std::string, std::string>> plants = {
        {"mkfifo /mnt/nand/debug.log", refused + "open log:: No such device or address\n"},
        {"ln -s /dev/null /mnt/nand/debug.log", refused + "open log:: No such device or address\n"},
        {"mkdir /mnt/nand/debug.log", "open log:: Is a directory\n"},
    };
    for (const auto &plant : plants) {
        SCOPED_TRACE(plant.first);
        Camsim cam;
        CamsimResult r = cam.run(plant.first + "\ndebug -M ir -t 1 -d 1\n", 30);
        EXPECT_TRUE(std::regex_match(r.out, std::regex(kPrinted))) << r.out;
        EXPECT_EQ(without_line_numbers(r.err), plant.second + open_failed);
        EXPECT_EQ(r.status, 0);
    }
}

TEST(Ir, ARejectedOptionPrintsItsErrorAndTheUsageAndExitsWith255)
{
    const std::string error = " ERROR  (cv_ir|ir_init_param|N): ";
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"-m", "4"}, error + "Invalid mode value."},
        {{"-m", "-1"}, error + "Invalid mode value."},
        {{"--mode", "0x10"}, error + "Invalid mode value."},
        {{"-d", "0"}, error + "Invalid delay value."},
        {{"-t", "3", "--delay", "0"}, error + "Invalid delay value."},
        {{"-x"}, "debug: invalid option -- 'x'\n" + error + "Unknow option\n"},
        {{"-t"}, "debug: option requires an argument -- 't'\n" + error + "Unknow option\n"},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.module("ir", c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(without_line_numbers(r.err), c.err);
        // Nothing is switched, and the shutdown (which would close the GPIO
        // library) never runs.
        EXPECT_EQ(cam.calls(), std::vector<std::string>{});
    }
}

} // namespace
