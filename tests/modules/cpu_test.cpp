// cpu_test.cpp - the cpu monitor's arithmetic: which kernel counters make
// up each percentage, priming, and counters that do not move forwards.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <vector>

#include "cv_cpu.h"

namespace {

CpuTicks scan_stat(const std::string &text, int *result = nullptr)
{
    CpuTicks ticks = {};
    FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    int r = cpu_scan_stat(fp, &ticks);
    fclose(fp);
    if (result)
        *result = r;
    return ticks;
}

// A /proc/stat aggregate record with these counters (guest fields too).
std::string stat_text(unsigned user, unsigned nice, unsigned system, unsigned idle, unsigned iowait,
                      unsigned irq, unsigned softirq, unsigned steal)
{
    char line[256];
    snprintf(line, sizeof line, "cpu  %u %u %u %u %u %u %u %u 0 0\n", user, nice, system, idle,
             iowait, irq, softirq, steal);
    return std::string(line) + "cpu0 1 2 3 4 5 6 7 8 0 0\nintr 4711 0 0 12\nctxt 99\n";
}

// The load over the interval between two samples, the first only starting
// it; *result is what the second update returned.
CpuLoad load_between(const std::string &before, const std::string &after, CpuTicks *previous,
                     int *result)
{
    CpuTicks first = scan_stat(before), second = scan_stat(after);
    CpuLoad load = {};
    cpu_update_load(previous, &first, &load);
    *result = cpu_update_load(previous, &second, &load);
    return load;
}

TEST(CpuScan, AggregateRecordIsFoundAfterOtherRecordsAndItsCountersCombined)
{
    int result = -1;
    CpuTicks t = scan_stat("intr 5 6 7\nbtime 1650000000\ncpu0 9 9 9 9 9 9 9 9 0 0\n"
                           "cpu  100 20 30 400 50 6 7 8 0 0\ncpu1 1 1 1 1 1 1 1 1 0 0\n",
                           &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(t.user_nice, 120u);
    EXPECT_EQ(t.nice, 20u);
    EXPECT_EQ(t.system_all, 43u);
    EXPECT_EQ(t.idle, 400u);
    EXPECT_EQ(t.iowait, 50u);
    EXPECT_EQ(t.irq, 6u);
    EXPECT_EQ(t.softirq, 7u);
    EXPECT_EQ(t.steal, 8u);
    EXPECT_EQ(t.total, 621u);
}

TEST(CpuScan, StreamWithoutAggregateRecordFails)
{
    int result = 0;
    scan_stat("cpu0 1 2 3 4 5 6 7 8\nintr 1 2\n", &result);
    EXPECT_EQ(result, -1);
    scan_stat("", &result);
    EXPECT_EQ(result, -1);
}

TEST(CpuScan, ShortAggregateRecordLeavesTheMissingCountersZero)
{
    // Older kernels show only user, nice, system and idle.
    CpuTicks t = scan_stat("cpu  10 0 5 85\n");
    EXPECT_EQ(t.iowait, 0u);
    EXPECT_EQ(t.steal, 0u);
    EXPECT_EQ(t.total, 100u);
}

TEST(CpuScan, ShortAggregateRecordKeepsNoCounterOfTheRecordBeforeIt)
{
    CpuTicks t = scan_stat("cpu0 9 9 9 9 9 9 9 9 0 0\ncpu  10 0 5\n");
    EXPECT_EQ(t.counters, 3u);
    EXPECT_EQ(t.idle, 0u);
    EXPECT_EQ(t.steal, 0u);
    EXPECT_EQ(t.total, 15u);
    EXPECT_EQ(scan_stat(stat_text(1, 2, 3, 4, 5, 6, 7, 8)).counters, 8u);
}

TEST(CpuScan, ProcessTimesAreFieldsFourteenToSeventeen)
{
    std::string text = "4242 (debug) S 1 4242 4242 0 -1 4194560 120 0 0 0 "
                       "11 22 33 44 20 0 1 0 5511 1000 200\n";
    CpuTicks t = {};
    FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    EXPECT_EQ(cpu_scan_self(fp, &t), 4);
    fclose(fp);
    EXPECT_EQ(t.process, 110u);

    std::string cut = "4242 (debug) S 1 4242 4242 0 -1 4194560 120 0 0 0 11 22\n";
    fp = fmemopen(const_cast<char *>(cut.data()), cut.size(), "r");
    EXPECT_LT(cpu_scan_self(fp, &t), 4);
    fclose(fp);
}

TEST(CpuLoadFigures, FirstSampleOnlyPrimesAndLeavesTheLoadAlone)
{
    CpuTicks previous = {};
    CpuTicks current = scan_stat(stat_text(1, 2, 3, 4, 5, 6, 7, 8));
    CpuLoad load = {};
    load.cpu = 42.0;
    EXPECT_EQ(cpu_update_load(&previous, &current, &load), 0);
    EXPECT_EQ(load.cpu, 42.0);
    EXPECT_EQ(previous.total, current.total);
}

TEST(CpuLoadFigures, PercentagesAreThoseOfTheIntervalBetweenTwoSamples)
{
    struct Interval {
        const char *what;
        std::string before, after;
        CpuLoad expected; // user nice sys idle iowait irq softirq steal cpu (process unchecked)
    };
    const std::vector<Interval> cases = {
        {"completely idle", stat_text(500, 0, 300, 1000, 0, 0, 0, 0),
         stat_text(500, 0, 300, 1200, 0, 0, 0, 0), {0, 0, 0, 100, 0, 0, 0, 0, 0, 0}},
        {"fully busy", stat_text(500, 0, 300, 1000, 0, 0, 0, 0),
         stat_text(650, 0, 350, 1000, 0, 0, 0, 0), {75, 0, 25, 0, 0, 0, 0, 0, 100, 0}},
        // user counts nice, sys counts irq and softirq, and the load counts
        // everything but idle, iowait included.
        {"mixed", stat_text(100, 10, 100, 1000, 10, 10, 10, 10),
         stat_text(120, 20, 125, 1020, 20, 15, 15, 15),
         {30, 10, 35, 20, 10, 5, 5, 5, 80, 0}},
    };
    for (const Interval &c : cases) {
        SCOPED_TRACE(c.what);
        CpuTicks previous = {};
        int result;
        CpuLoad load = load_between(c.before, c.after, &previous, &result);
        EXPECT_EQ(result, 1);
        EXPECT_DOUBLE_EQ(load.user, c.expected.user);
        EXPECT_DOUBLE_EQ(load.nice, c.expected.nice);
        EXPECT_DOUBLE_EQ(load.sys, c.expected.sys);
        EXPECT_DOUBLE_EQ(load.idle, c.expected.idle);
        EXPECT_DOUBLE_EQ(load.iowait, c.expected.iowait);
        EXPECT_DOUBLE_EQ(load.irq, c.expected.irq);
        EXPECT_DOUBLE_EQ(load.softirq, c.expected.softirq);
        EXPECT_DOUBLE_EQ(load.steal, c.expected.steal);
        EXPECT_DOUBLE_EQ(load.cpu, c.expected.cpu);
        EXPECT_EQ(previous.total, scan_stat(c.after).total);
    }
}

TEST(CpuLoadFigures, CountersThatWentBackwardsNeverPushAFigureOutOfZeroTo100)
{
    struct Interval {
        const char *what;
        std::string before, after;
    };
    const std::vector<Interval> cases = {
        {"iowait went back", stat_text(100, 0, 100, 800, 50, 0, 0, 0),
         stat_text(150, 0, 150, 900, 40, 0, 0, 0)},
        // A processor taken offline: the idle count falls back to a smaller
        // one while the others go on.
        {"idle went back", stat_text(1000, 10, 200, 5000, 10, 5, 5, 0),
         stat_text(1100, 12, 220, 4900, 12, 6, 6, 0)},
        {"all but steal went back", stat_text(900, 90, 900, 900, 90, 90, 90, 0),
         stat_text(800, 80, 800, 800, 80, 80, 80, 7)},
    };
    for (const Interval &c : cases) {
        SCOPED_TRACE(c.what);
        CpuTicks previous = {};
        int result;
        CpuLoad load = load_between(c.before, c.after, &previous, &result);
        EXPECT_EQ(result, 1);
        for (double figure : {load.user, load.nice, load.sys, load.idle, load.iowait, load.irq,
                              load.softirq, load.steal, load.cpu, load.process}) {
            EXPECT_GE(figure, 0.0);
            EXPECT_LE(figure, 100.0);
        }
        // All from the same changes: the parts make up the whole interval.
        EXPECT_NEAR(load.user + load.sys + load.idle + load.iowait + load.steal, 100.0, 1e-9);
        EXPECT_NEAR(load.cpu, 100.0 - load.idle, 1e-9);
    }
}

// Fewer counters than the stored record are refused in the monitor's test;
// more are a record to compare the next one with: the new counters hold
// their total since boot, not the change of one interval.
TEST(CpuLoadFigures, ARecordWithMoreCountersThanTheStoredOneOnlyReplacesIt)
{
    CpuTicks previous = {};
    CpuTicks before = scan_stat("cpu  100 0 100 800\n");
    CpuTicks after = scan_stat(stat_text(150, 0, 150, 900, 5000, 0, 0, 0));
    CpuLoad load = {};
    ASSERT_EQ(cpu_update_load(&previous, &before, &load), 0);
    EXPECT_EQ(cpu_update_load(&previous, &after, &load), 0);
    EXPECT_EQ(load.cpu, 0.0);
    EXPECT_EQ(previous.counters, 8u);
}

TEST(CpuLoadFigures, SampleWithoutAnyTickKeepsThePreviousLoad)
{
    CpuTicks previous = {};
    const std::string later = stat_text(150, 0, 150, 900, 0, 0, 0, 0);
    CpuTicks after = scan_stat(later);
    int result;
    CpuLoad load = load_between(stat_text(100, 0, 100, 800, 0, 0, 0, 0), later, &previous, &result);
    CpuLoad kept = load;
    EXPECT_EQ(cpu_update_load(&previous, &after, &load), 0);
    EXPECT_EQ(load.cpu, kept.cpu);
    EXPECT_EQ(load.user, kept.user);
}

} // namespace
