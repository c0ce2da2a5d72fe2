// The command line as a whole: the framework's options, usage, dispatch,
// start-up and shutdown, seen from outside in the simulated camera.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

const std::string kVersion = "debug version: 1.2.0\n";

std::string program_usage(const std::string &prog)
{
    return prog + " usage:\n" + prog +
           " [module option] \n"
           "-M  --module [str]\tmodule name like spi/i2c/gpio/adc/sensor\n"
           "-h  --help [str]\tdisplay module usage, module name like spi/i2c/gpio/adc/sensor \n"
           "Note: use { " +
           prog +
           " -h [module name] } to get detail help!\n"
           "modules name:\n"
           "\tadc\tgpio\tpwm\tptz\tcpu\tmotor\tsdmmc\tdb\n"
           "\tir\twifi\tmedia\tpt\tmtd\textdrv\n";
}

const std::string kGpioUsage = module_usage("gpio");

// What shutdown calls whichever module ran: the deinits of gpio and pwm.
const std::vector<std::string> kDeinitCalls = {"gpio_close", "pwm_close"};

TEST(Framework, WithoutAModuleOrHelpTargetPrintsTheTopLevelUsage)
{
    const std::vector<std::vector<std::string>> lines = {
        {}, {"-M"}, {"--module"}, {"-M", "gpio", "-M"}, {"-x", "gpio"}};
    for (const auto &args : lines) {
        Camsim cam;
        CamsimResult r = cam.debug(args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, program_usage("debug"));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(cam.calls(), kDeinitCalls);
    }
}

TEST(Framework, HelpWithoutANamePrintsVersionThenTopLevelUsage)
{
    for (const auto &args : std::vector<std::vector<std::string>>{{"-h"}, {"--help"}, {"-M", "-h"}}) {
        Camsim cam;
        CamsimResult r = cam.debug(args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, kVersion + program_usage("debug"));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(cam.calls(), kDeinitCalls);
    }
}

TEST(Framework, HelpForANamePrintsVersionThenThatUsageAndRunsNothing)
{
    struct Case {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"-h", "gpio"}, kVersion + kGpioUsage},
        {{"--help", "gpio"}, kVersion + kGpioUsage},
        {{"-h", "gpio", "-M", "pwm"}, kVersion + kGpioUsage},
        {{"-M", "pwm", "-d", "250", "-h", "gpio"}, kVersion + kGpioUsage},
        {{"-h", "GPIO"}, kVersion},
        {{"-h", "nosuch"}, kVersion},
        {{"-h", std::string(300, 'g')}, kVersion},
    };
    for (const auto &c : cases) {
        Camsim cam;
        CamsimResult r = cam.debug(c.args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(cam.calls(), kDeinitCalls);
    }
}

TEST(Framework, DispatchIsCaseSensitiveAndUnknownNamesRunNothing)
{
    const std::vector<std::vector<std::string>> lines = {
        {"-M", "GPIO"}, {"-M", "nosuch"}, {"-M", ""}, {"-M", std::string(200, 'x')}};
    for (const auto &args : lines) {
        Camsim cam;
        CamsimResult r = cam.debug(args);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(cam.calls(), kDeinitCalls);
    }
}

TEST(Framework, TheLastModuleOptionChoosesTheModule)
{
    Camsim cam;
    CamsimResult r = cam.debug({"-M", "nosuch", "--module", "gpio", "-r", "2"});
    EXPECT_EQ(r.out, "===g_gpio_cfg(0,2)=======\nGPIO read id = 2, data = 0\n");
    EXPECT_EQ(cam.calls(), (std::vector<std::string>{"gpio_read 2", "gpio_close", "gpio_close",
                                                     "pwm_close"}));
}

TEST(Framework, UsageShowsTheProgramNameAsGivenCutTo255Characters)
{
    Camsim cam;
    CamsimResult r = cam.run("ln -s \"$(command -v debug)\" /mnt/nand/camtool && /mnt/nand/camtool");
    EXPECT_EQ(r.out, program_usage("/mnt/nand/camtool"));

    std::string dir = "/mnt/nand/" + std::string(120, 'd') + "/" + std::string(120, 'e');
    std::string prog = dir + "/debug";
    r = cam.run("mkdir -p " + dir + " && ln -s \"$(command -v debug)\" " + prog + " && " + prog +
                " -h");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kVersion + program_usage(prog.substr(0, 255)));
}

TEST(Framework, WithoutTheFlashStartUpFailsAndNoModuleRuns)
{
    Camsim cam;
    cam.option("--no-nand");
    CamsimResult r = cam.debug({"-M", "gpio", "-w", "1", "-d", "1"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(without_line_numbers(r.err),
              " ERROR  (test|restore_database|N): restore /mnt/nand/cvdb.db from "
              "/opt/app/cvdb.db failed: No such file or directory\n"
              " ERROR  (osa_log|OSA_logInit|N): OSA_ipcMakeKey() \n"
              " ERROR  (test|main|N): test_init failed!\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(cam.calls(), kDeinitCalls);
}

TEST(Framework, MissingDefaultDatabasesAreRestoredAndExistingOnesKept)
{
    Camsim cam;
    CamsimResult r = cam.run("debug -M nosuch"
                             " && cmp /opt/app/cvdb.db /mnt/nand/cvdb.db"
                             " && cmp /opt/app/oem.db /mnt/nand2/oem.db"
                             " && echo damaged > /mnt/nand/cvdb.db"
                             " && rm /mnt/nand2/oem.db"
                             " && debug -M nosuch"
                             " && cat /mnt/nand/cvdb.db"
                             " && cmp /opt/app/oem.db /mnt/nand2/oem.db && echo restored");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "damaged\nrestored\n");

    // A link to nothing is neither followed nor taken for a restored file.
    r = cam.run("ln -s gone.db /mnt/nand/cvdb.db; debug -M nosuch\n"
                "readlink /mnt/nand/cvdb.db; ls -A /mnt/nand\n");
    EXPECT_EQ(r.out, "gone.db\ncvdb.db\n");
    EXPECT_EQ(without_line_numbers(r.err),
              " ERROR  (test|restore_database|N): /mnt/nand/cvdb.db is a link to nothing, not restored\n");

    // A database that cannot be written is there all the same: no copy is tried.
    r = cam.run("debug -M nosuch && mount --bind /mnt/nand2 /mnt/nand2"
                " && mount -o remount,ro,bind /mnt/nand2 && debug -M nosuch && cmp /opt/app/oem.db /mnt/nand2/oem.db && echo kept\n");
    EXPECT_EQ(r.out, "kept\n");
    EXPECT_EQ(r.err, "");
}

TEST(Framework, ACopyAnotherStartPutInPlaceMeanwhileIsNeverReplaced)
{
    // Another start put its copy in place while this one copied, and a run
    // changed it: this start's copy must not replace it, whether the flash
    // takes hard links or not (vfat). The default comes through a pipe, so
    // the copy is known to be under way.
    for (const std::string &preload : {std::string(), preloading(CAMSIM_LINK_REFUSED)}) {
        Camsim cam;
        CamsimResult r = cam.run("mv /opt/app/cvdb.db /tmp/default; mkfifo /opt/app/cvdb.db\n" + preload +
                                 " debug -M nosuch & exec 3> /opt/app/cvdb.db\n"
                                 "head -c 1000 /tmp/default >&3; echo changed > /mnt/nand/cvdb.db\n"
                                 "tail -c +1001 /tmp/default >&3; exec 3>&-; wait\n"
                                 "cmp -s /tmp/default /mnt/nand/cvdb.db || cat /mnt/nand/cvdb.db; ls -A /mnt/nand\n");
        EXPECT_EQ(r.out, "changed\ncvdb.db\n") << preload;
        EXPECT_EQ(r.err, "") << preload;
    }
}

TEST(Framework, ARestoreThatDoesNotFitTheFlashLeavesNoFileAndTheNextStartRestoresIt)
{
    Camsim cam;
    // The default database is larger than this flash.
    CamsimResult r = cam.run("mount -t tmpfs -o size=32k nand /mnt/nand\n"
                             "debug -M nosuch; ls -A /mnt/nand\n"
                             "mount -o remount,size=1m /mnt/nand\n"
                             "debug -M nosuch && cmp /opt/app/cvdb.db /mnt/nand/cvdb.db && ls -A /mnt/nand\n");
    EXPECT_EQ(r.out, "cvdb.db\n");
    EXPECT_EQ(without_line_numbers(r.err),
              " ERROR  (test|restore_database|N): restore /mnt/nand/cvdb.db from /opt/app/cvdb.db "
              "failed: No space left on device\n");
}

TEST(Framework, OnlyTheToolsOwnCopiesLeftByKilledStartsAreRemoved)
{
    Camsim cam;
    // Two leftovers of starts killed mid-copy and a copy another start is
    // making right now (it holds the lock), under the tool's hidden name;
    // beside them other programs' files under the usual names of backups and
    // mkstemp saves, a hard link among them, which stay as they are.
    const std::string others[] = {"/mnt/nand/cvdb.db.backup", "/mnt/nand2/oem.db.2026q3",
                                  "/mnt/nand/cvdb.db.Ab3dE9", "/mnt/nand/cvdb.db.bak",
                                  "/mnt/nand/.cvdb.db.debug-restore.1234567"};
    std::string script = "head -c 4096 /dev/zero > /mnt/nand/.cvdb.db.debug-restore.Ab3dE9\n"
                         ": > /mnt/nand2/.oem.db.debug-restore.x1Y2z3\n"
                         ": > /mnt/nand/.cvdb.db.debug-restore.Busy01\n"
                         "cp /opt/app/cvdb.db /mnt/nand/cvdb.db; ln /mnt/nand/cvdb.db /mnt/nand/cvdb.db.orig01\n";
    for (const auto &file : others)
        script += "echo 'saved by another program' > " + file + "\n";
    script += "flock /mnt/nand/.cvdb.db.debug-restore.Busy01 debug -h gpio > /dev/null\n"
              "ls -A /mnt/nand /mnt/nand2; cmp /opt/app/cvdb.db /mnt/nand/cvdb.db.orig01\n";
    for (const auto &file : others)
        script += "echo 'saved by another program' | cmp - " + file + "\n";
    CamsimResult r = cam.run(script);
    EXPECT_EQ(r.out, "/mnt/nand:\n.cvdb.db.debug-restore.1234567\n.cvdb.db.debug-restore.Busy01\ncvdb.db\n"
                     "cvdb.db.Ab3dE9\ncvdb.db.backup\ncvdb.db.bak\ncvdb.db.orig01\n\n"
                     "/mnt/nand2:\noem.db\noem.db.2026q3\n");
    EXPECT_EQ(r.err, "");
}

TEST(Framework, ClosedStandardDescriptorsNeverLetOutputIntoTheSharedLog)
{
    Camsim cam;
    // The ir record is the log's only content, whatever was closed.
    CamsimResult r = cam.run("debug -M ir -t 1 -d 1 >&- 2>&- <&-\n"
                             "wc -c < /mnt/nand/debug.log; head -c 10 /mnt/nand/debug.log\n"
                             // nor into a file the run opens later: the number stays taken
                             "debug -M adc -d 30000 >/tmp/adc.out 2>&- & pid=$!\n"
                             "until grep -qs Adc /tmp/adc.out; do sleep 0.05; done\n"
                             "readlink /proc/$pid/fd/2; kill -INT $pid; wait $pid\n");
    EXPECT_EQ(r.out, "1024\nTest date:/dev/null\n");
}

TEST(Framework, ALibraryPlantedInTheCurrentDirectoryIsNeverLoaded)
{
    Camsim cam;
    CamsimResult r = cam.run("mkdir /tmp/plant && cd /tmp/plant && : > libc.so.6 && : > libgpio.so\n"
                             "debug -h nosuch\n");
    EXPECT_EQ(r.out, kVersion);
    EXPECT_EQ(r.err, "");
}

TEST(Framework, TwoProgramsLoggingAtOnceLeaveWholeRecords)
{
    Camsim cam;
    const int count = 300, size = 1024;
    CamsimResult r = cam.run("camsim_logwriter A " + std::to_string(count) + " " +
                             std::to_string(size) + " & camsim_logwriter B " +
                             std::to_string(count) + " " + std::to_string(size) +
                             " & wait && cp /mnt/nand/debug.log $CAMSIM_DIR/log");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string log = cam.read_file("log");
    ASSERT_EQ(log.size(), (size_t)(2 * count * size));
    int next[2] = {0, 0};
    for (size_t off = 0; off < log.size(); off += size) {
        std::string rec = log.substr(off, size);
        char tag = rec[0];
        ASSERT_TRUE(tag == 'A' || tag == 'B') << "record at " << off;
        std::string head = std::string(1, tag) + ":" + std::to_string(next[tag - 'A']++) + ":";
        ASSERT_EQ(rec.compare(0, head.size(), head), 0) << "record at " << off;
        std::string body = rec.substr(head.size(), size - head.size() - 1);
        ASSERT_EQ(body, std::string(body.size(), tag)) << "torn record at " << off;
        ASSERT_EQ(rec.back(), '\n');
    }
    EXPECT_EQ(next[0], count);
    EXPECT_EQ(next[1], count);
}

TEST(Framework, InterruptsDuringOutputNeverHangTheTool)
{
    Camsim cam;
    // Each run is interrupted at some point of its start-up or its output;
    // whatever point that is, it must end (by the handler or before it is
    // installed) and never wait for itself.
    CamsimResult r = cam.run("i=0; while [ $i -lt 60 ]; do"
                             "  debug -h gpio > /dev/null & pid=$!;"
                             "  kill -INT $pid 2>/dev/null; kill -QUIT $pid 2>/dev/null;"
                             "  wait $pid; s=$?;"
                             "  case $s in 0|130|131) ;; *) echo bad status $s; exit 1;; esac;"
                             "  i=$((i+1));"
                             "done; echo done",
                             240);
    EXPECT_EQ(r.out, "done\n");
    EXPECT_EQ(r.status, 0);
}

} // namespace
