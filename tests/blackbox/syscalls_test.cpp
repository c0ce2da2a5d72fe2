// syscalls_test.cpp - what the tool asks of the kernel, and in what order,
// seen through the preloaded record of its writes, syncs, links, renames
// and prints (tests/libs/syscalls.cpp): nothing is shown as done before it
// has reached the flash, and no read or write loop gives up at an
// interrupted call.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "camsim_run.h"
#include "sdmmc_expect.h"

namespace {

// Runs the tool in the script with the record's library preloaded.
std::string recorded(const std::string &settings)
{
    return settings + " " + preloading(CAMSIM_SYSCALLS) + " debug";
}

// The first line of events at or after from that begins with want, or npos.
size_t find_event(const std::vector<std::string> &events, size_t from, const std::string &want)
{
    for (size_t i = from; i < events.size(); i++) {
        if (events[i].compare(0, want.size(), want) == 0)
            return i;
    }
    return std::string::npos;
}

} // namespace

TEST(Syscalls, EachRecordAndLogLineIsSyncedBeforeItIsShownAndEachRestoreBeforeItIsDone)
{
    const std::string debug = recorded("SYSCALLS_LOG=$CAMSIM_DIR/events");
    // Each expected event is the first one after the one before it that
    // begins so: a sync taken out, or made after the print, loses its place.
    struct Case {
        const char *module, *action;
        std::string script;
        std::vector<std::string> order;
        int card_mb;
    } cases[] = {
        {"restore", "start-up copies of both databases", debug + " -M gpio -r 1",
         {"write /mnt/nand/.cvdb.db.", "fsync /mnt/nand/.cvdb.db.", "link /mnt/nand/.cvdb.db.",
          "fsync-dir /mnt/nand", "write /mnt/nand2/.oem.db.", "fsync /mnt/nand2/.oem.db.",
          "link /mnt/nand2/.oem.db.", "fsync-dir /mnt/nand2", "show "},
         0},
        {"ir", "the result record", debug + " -M ir -t 1 -d 1",
         {"write /mnt/nand/debug.log", "fsync /mnt/nand/debug.log", "show \x1b[0;32mTest date: "}, 0},
        {"cpu", "each log line", debug + " -M cpu -c 2 -d 1 -l /mnt/nand/cpu.txt",
         {"write /mnt/nand/cpu.txt", "fsync /mnt/nand/cpu.txt", "show \x1b[1;32mCPU:",
          "write /mnt/nand/cpu.txt", "fsync /mnt/nand/cpu.txt", "show \x1b[1;32mCPU:",
          "write /mnt/nand/cpu.txt", "fsync /mnt/nand/cpu.txt", "show \x1b[1;32mAverage:"},
         0},
        // A line whose sync failed is taken back, and the shorter log synced.
        {"cpu", "a log line whose sync failed",
         "SYSCALLS_LOG=$CAMSIM_DIR/events " + preloading(std::string(CAMSIM_SYSCALLS) + ":" + CAMSIM_SYNC_EIO) +
             " debug -M cpu -c 1 -d 1",
         {"write /tmp/cpulog.txt", "fsync /tmp/cpulog.txt", "ftruncate /tmp/cpulog.txt", "fsync /tmp/cpulog.txt"},
         0},
        // The library syncs the directory as it makes the journal, not
        // once it has removed it.
        {"db", "-e, a statement", "debug -M db >/dev/null; " + debug + " -M db -e \"insert into ports values('ssh', 22)\"",
         {"unlink /mnt/nand/cvdb.db-journal", "fsync-dir /mnt/nand", "show End execute: "}, 0},
        {"db", "-d oem -e, a statement", "debug -M db >/dev/null; " + debug + " -M db -d oem -e \"delete from lens\"",
         {"unlink /mnt/nand2/oem.db-journal", "fsync-dir /mnt/nand2", "show End execute: "}, 0},
        {"db", "-f, a statement file", "debug -M db >/dev/null; echo \"delete from ports;\" > /tmp/s.sql; " +
         debug + " -M db -f /tmp/s.sql", {"unlink /mnt/nand/cvdb.db-journal", "fsync-dir /mnt/nand"}, 0},
        {"sdmmc", "-F, the fill", kFormatCard0 + "debug -M sdmmc -m; " + debug + " -M sdmmc -n 1 -z 1 -F",
         {"syncfs-dir /mnt/mmc", "show Create total "}, 40},
        // Nothing is shown after the speed test's file is removed: the
        // card's sync is all there is to see.
        {"sdmmc", "-s, the speed test", kFormatCard0 + "debug -M sdmmc -m; " + debug + " -M sdmmc -s",
         {"syncfs-dir /mnt/mmc"}, 256},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.module) + ": " + c.action);
        Camsim cam;
        if (c.card_mb)
            insert_card(cam, "card.img", c.card_mb);
        CamsimResult r = cam.run(c.script + " >/dev/null 2>&1; echo $?");
        EXPECT_EQ(r.out, "0\n");
        std::vector<std::string> events;
        std::istringstream in(cam.read_file("events"));
        for (std::string line; std::getline(in, line);)
            events.push_back(line);
        size_t at = 0;
        for (const std::string &want : c.order) {
            size_t found = find_event(events, at, want);
            ASSERT_NE(found, std::string::npos) << "no \"" << want << "\" after event " << at << " of:\n"
                                                << cam.read_file("events");
            at = found + 1;
        }
    }
}

TEST(Syscalls, EveryRetryLoopGoesOnAfterAnInterruptedCall)
{
    const std::string debug = recorded("SYSCALLS_EINTR=1");
    struct Case {
        const char *what;
        std::string script, out;
        int card_mb;
    } cases[] = {
        {"the restore's copies", debug + " -M gpio -r 1 >/dev/null; cmp /opt/app/cvdb.db /mnt/nand/cvdb.db && "
                                 "cmp /opt/app/oem.db /mnt/nand2/oem.db && echo same", "same\n", 0},
        {"the cpu log's lines", debug + " -M cpu -c 2 -d 1 -l /tmp/c.txt >/dev/null; wc -l < /tmp/c.txt", "3\n", 0},
        {"a statement file", "debug -M db >/dev/null; echo \"update ports set port = 2121 where name = 'rtsp';\" "
                             "> /tmp/s.sql; " + debug + " -M db -f /tmp/s.sql >/dev/null; "
                             "sqlite3 /mnt/nand/cvdb.db \"select port from ports where name = 'rtsp'\"", "2121\n", 0},
        // A lock left taken would keep the second run waiting, and say so.
        {"the guarded log's records and lock", debug + " -M ir -t 1 -d 1 >/dev/null; " + debug +
                                       " -M ir -t 1 -d 1 >/dev/null; wc -c < /mnt/nand/debug.log", "2048\n", 0},
        {"the wait for a command", kFormatCard0 + debug + " -M sdmmc -m >/dev/null; grep -c ' /mnt/mmc ' /proc/mounts",
         "1\n", 40},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Camsim cam;
        if (c.card_mb)
            insert_card(cam, "card.img", c.card_mb);
        CamsimResult r = cam.run(c.script);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}
