// Load and faults: many writers of the guarded log and of the database at
// once, storms of interrupts, a writer killed inside the log's lock, and
// each module's run under valgrind's memory checker.
#include <gtest/gtest.h>

#include <ctype.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "camsim_run.h"

#if defined(__SANITIZE_ADDRESS__)
#define STRESS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STRESS_SANITIZED 1
#endif
#endif

namespace {

int count_of(const std::string &text, const std::string &needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        n++;
    return n;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// Waits (at most about 30 s) until the command succeeds.
const std::string kWaitFor = "wait_for() { n=0; until eval \"$1\"; do n=$((n+1));"
                             " [ $n -lt 600 ] || exit 9; sleep 0.05; done; }\n";

// Sends 200 SIGINTs to $pid as fast as the shell can, then reaps it.
const std::string kStorm = "i=0; while [ $i -lt 200 ]; do kill -INT $pid 2>/dev/null; i=$((i+1)); done\n"
                           "wait $pid; echo \"status $?\"\n";

TEST(Stress, EightWritersOfTwoHundredRecordsEachLeaveEveryRecordWholeAndCounted)
{
    Camsim cam;
    const int writers = 8, count = 200, size = 1024;
    std::string script;
    for (int w = 0; w < writers; w++)
        script += "camsim_logwriter " + std::string(1, (char)('A' + w)) + " " +
                  std::to_string(count) + " " + std::to_string(size) + " & pids=\"$pids $!\"; ";
    script += "fail=0; for p in $pids; do wait $p || fail=1; done; [ $fail = 0 ] || exit 8;"
              " cp /mnt/nand/debug.log $CAMSIM_DIR/log";
    CamsimResult r = cam.run(script, 300);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string log = cam.read_file("log");
    ASSERT_EQ(log.size(), (size_t)(writers * count * size));
    std::vector<int> next(writers, 0);
    for (size_t off = 0; off < log.size(); off += size) {
        std::string rec = log.substr(off, size);
        int w = rec[0] - 'A';
        ASSERT_TRUE(w >= 0 && w < writers) << "record at " << off;
        std::string head = rec.substr(0, 1) + ":" + std::to_string(next[w]++) + ":";
        ASSERT_EQ(rec.compare(0, head.size(), head), 0) << "record at " << off;
        std::string body = rec.substr(head.size(), size - head.size() - 1);
        ASSERT_EQ(body, std::string(body.size(), rec[0])) << "torn record at " << off;
        ASSERT_EQ(rec.back(), '\n');
    }
    for (int w = 0; w < writers; w++)
        EXPECT_EQ(next[w], count) << "writer " << (char)('A' + w);
}

TEST(Stress, FourToolsInsertingAHundredRowsEachAtOnceLoseNoRow)
{
    Camsim cam;
    const int tools = 4, rows = 100;
    std::string script = "debug -M db >/dev/null && sqlite3 /mnt/nand/cvdb.db"
                         " 'create table hits(tool, n)' || exit 9\n";
    for (int t = 0; t < tools; t++) {
        script += "debug -M db";
        for (int n = 0; n < rows; n++)
            script += " -e 'insert into hits values(" + std::to_string(t) + ", " +
                      std::to_string(n) + ")'";
        script += " > /tmp/out" + std::to_string(t) + " 2>&1 & pids=\"$pids $!\"\n";
    }
    script += "fail=0; for p in $pids; do wait $p || fail=1; done; echo \"failed $fail\"\n"
              "cat /tmp/out* | grep -c '^End execute: '\n"
              "sqlite3 /mnt/nand/cvdb.db 'select count(*), count(distinct tool * 1000 + n) from hits'\n";
    CamsimResult r = cam.run(script, 300);
    EXPECT_EQ(r.out, "failed 0\n400\n400|400\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(Stress, AStormOfInterruptsEndsACpuRunOnceWithItsSummaryAndStatusZero)
{
    Camsim cam;
    CamsimResult r = cam.run(kWaitFor +
                                 "debug -M cpu -c 100 -d 1 > $CAMSIM_DIR/out 2> $CAMSIM_DIR/err & pid=$!\n"
                                 "wait_for \"grep -q 'CPU:' $CAMSIM_DIR/out\"\n" +
                                 kStorm,
                             120);
    EXPECT_EQ(r.out, "status 0\n");
    std::string out = cam.read_file("out");
    EXPECT_EQ(count_of(out, "Average:"), 1) << out;
    EXPECT_GE(count_of(out, "\nGet signal, signo = 2\n"), 1);
    EXPECT_LT(count_of(out, "CPU:"), 100);
    // Nothing but the monitor's own lines and the handler's.
    for (const std::string &line : lines_of(out)) {
        EXPECT_TRUE(line.empty() || line == "Get signal, signo = 2" ||
                    line.find("CPU:") != std::string::npos ||
                    line.find("Average:") != std::string::npos ||
                    line.find("Create cpu log") != std::string::npos ||
                    line.find("ARM LOAD RUNNING") != std::string::npos ||
                    line == "\033[0;39m ")
            << "line: " << line;
    }
    EXPECT_EQ(cam.read_file("err"), "");
}

TEST(Stress, AStormOfInterruptsEndsAnEndlessIrLoopOnceWithItsRecordAndStatusZero)
{
    Camsim cam;
    CamsimResult r = cam.run(kWaitFor +
                                 "debug -M ir -t -1 -d 20 > $CAMSIM_DIR/out 2> $CAMSIM_DIR/err & pid=$!\n"
                                 "wait_for \"grep -q gpio_write $CAMSIM_DIR/calls.log 2>/dev/null\"\n" +
                                 kStorm + "cp /mnt/nand/debug.log $CAMSIM_DIR/log\n",
                             120);
    EXPECT_EQ(r.out, "status 0\n");
    std::string out = cam.read_file("out");
    EXPECT_EQ(count_of(out, "IR-cut result: success"), 1) << out;
    EXPECT_GE(count_of(out, "\nGet signal, signo = 2\n"), 1);
    std::string log = cam.read_file("log");
    ASSERT_EQ(log.size(), 1024u);
    EXPECT_EQ(count_of(log, "IR-cut result: success"), 1);
    EXPECT_EQ(cam.read_file("err"), "");
}

TEST(Stress, AWriterKilledInsideTheGuardedLogLeavesItFreeForTheNext)
{
    Camsim cam;
    // While the holder lives, another writer waits (and is stopped by the
    // timeout); once it is killed, the next writer gets through at once.
    CamsimResult r = cam.run(kWaitFor +
                                 "camsim_logwriter --hold > /tmp/held & pid=$!\n"
                                 "wait_for 'grep -q held /tmp/held 2>/dev/null'\n"
                                 "timeout 3 camsim_logwriter B 1 64; echo \"while held $?\"\n"
                                 "kill -9 $pid; wait $pid\n"
                                 "timeout 20 camsim_logwriter A 5 64; echo \"after the kill $?\"\n"
                                 "cp /mnt/nand/debug.log $CAMSIM_DIR/log\n",
                             120);
    EXPECT_EQ(r.out, "while held 124\nafter the kill 0\n");
    std::string log = cam.read_file("log");
    ASSERT_EQ(log.size(), 5u * 64u);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(log.compare(i * 64, 4, "A:" + std::to_string(i) + ":"), 0) << log;
}

// ---- the tool under valgrind's memory checker, one run per module ----

struct ValgrindCase {
    std::string module;
    // Prepares the camera and returns the commands that come before the run.
    std::string (*setup)(Camsim &cam);
    std::vector<std::string> args;
};

std::string no_setup(Camsim &)
{
    return "";
}

std::string flash_setup(Camsim &cam)
{
    std::string dir = cam.scratch() + "/flash";
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/dev").c_str(), 0755);
    write_whole_file(dir + "/mtd", "dev:    size   erasesize  name\n"
                                   "mtd0: 00100000 00020000 \"boot\"\n"
                                   "mtd1: 00200000 00020000 \"rootfs\"\n");
    write_whole_file(dir + "/dev/mtd0", "bad 0x40000\n");
    write_whole_file(dir + "/dev/mtd1", "bad 0\nbad 0x1e0000\n");
    cam.option("--mtd", dir);
    return "";
}

std::string card_setup(Camsim &cam)
{
    std::string path = cam.scratch() + "/card.img";
    write_whole_file(path, "");
    if (truncate(path.c_str(), (off_t)48 << 20) != 0)
        ADD_FAILURE() << "cannot size the card image";
    cam.option("--card", path);
    return "mkdosfs -F 32 /dev/mmcblk0 > /dev/null || exit 9\n";
}

std::string media_setup(Camsim &cam)
{
    cam.option("--media", fixture_path("media"));
    return "";
}

// Each module's run, its options after "-M NAME"; a module without one
// here has its help run instead.
const ValgrindCase kValgrindCases[] = {
    {"gpio", no_setup, {"-w", "5", "-d", "1"}},
    {"ir", no_setup, {"-t", "2", "-d", "10"}},
    {"motor", no_setup, {"-p", "16", "-t", "1", "-d", "1", "-s", "100"}},
    {"mtd", flash_setup, {"-b", "1"}},
    {"db", no_setup,
     {"-s", "select * from users;", "-e", "update ports set port = 81 where name = 'http'", "-t"}},
    {"wifi", no_setup, {"-e", "3", "--psk", "abcdefgh", "--scan", "--status", "--link"}},
    {"pt", no_setup, {"-s", "11", "-p", "100", "-t", "200"}},
    {"extdrv", no_setup, {"-a", "1"}},
    {"ptz", no_setup, {"--up", "-d", "1"}},
    {"adc", no_setup, {"-t", "2", "-d", "10"}},
    {"pwm", no_setup, {"-c", "1", "-d", "250", "-p", "1000"}},
    {"sdmmc", card_setup, {"-m", "-i"}},
    {"cpu", no_setup, {"-c", "2", "-d", "1"}},
    {"media", media_setup, {"-a"}},
};

// The run of a module under valgrind: its own from the list above, or its help.
[[maybe_unused]] ValgrindCase valgrind_case(const std::string &module)
{
    for (ValgrindCase c : kValgrindCases) {
        if (c.module == module) {
            c.args.insert(c.args.begin(), {"-M", module});
            return c;
        }
    }
    return {module, no_setup, {"-h", module}};
}

class ValgrindRun : public testing::Test {
public:
    explicit ValgrindRun(const ValgrindCase &c) : case_(c) {}

    void TestBody() override
    {
        Camsim cam;
        std::string script = case_.setup(cam) +
                             "valgrind -q --vgdb=no --error-exitcode=99 --leak-check=full"
                             " --errors-for-leak-kinds=definite,indirect debug";
        for (const std::string &a : case_.args)
            script += " " + shell_quote(a);
        CamsimResult r = cam.run(script, 240);
        // 99: valgrind found an invalid access, an uninitialised value in
        // use, or a definite or indirect leak; its report is on stderr.
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(std::regex_search(r.err, std::regex("==[0-9]+=="))) << r.err;
    }

private:
    ValgrindCase case_;
};

// Valgrind runs host binaries only, and not those built with a sanitizer:
// the runs exist in the plain host build alone.
bool register_valgrind_runs()
{
#ifdef STRESS_SANITIZED
    return false;
#else
    if (*CAMSIM_EMULATOR)
        return false;
    std::istringstream modules(DEBUG_MODULE_NAMES);
    for (std::string module; modules >> module;) {
        ValgrindCase c = valgrind_case(module);
        std::string name = (char)toupper(module[0]) + module.substr(1) + "RunHasNoLeakNorInvalidAccess";
        testing::RegisterTest("Valgrind", name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                              [c]() -> testing::Test * { return new ValgrindRun(c); });
    }
    return true;
#endif
}

[[maybe_unused]] const bool g_valgrind_runs_registered = register_valgrind_runs();

} // namespace
