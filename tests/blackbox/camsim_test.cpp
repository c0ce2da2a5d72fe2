// camsim_test.cpp - camsim itself: the stop requests sent to camsim's own
// process end the command and everything in its namespaces; what it is
// given wrong is refused as its own failure.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

bool wait_for_file(const Camsim &cam, const std::string &name, int seconds)
{
    time_t deadline = time(nullptr) + seconds;
    while (!cam.has_file(name)) {
        if (time(nullptr) > deadline)
            return false;
        usleep(20000);
    }
    return true;
}

// The command names the run's directory on its command line, so that a
// process it leaves is found.
const std::string kStarted = "echo > \"$CAMSIM_DIR/started\"; exec sh -c 'sleep 600; :' \"$CAMSIM_DIR\"";

TEST(CamsimStop, TermAndHangUpEndTheCommandWith128PlusTheSignal)
{
    for (int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        Camsim cam;
        pid_t pid = cam.start(kStarted);
        ASSERT_TRUE(wait_for_file(cam, "started", 60));
        kill(pid, sig);
        CamsimResult r = cam.finish(pid, 10);
        EXPECT_EQ(r.status, 128 + sig) << r.err;
        EXPECT_EQ(leftovers(cam, pid, 5), std::vector<std::string>{});
    }
}

// An interrupt once the command runs is the command's to take.
TEST(CamsimStop, InterruptReachesTheRunningCommand)
{
    Camsim cam;
    pid_t pid = cam.start("trap 'echo int > \"$CAMSIM_DIR/got\"; exit 7' INT\n" + kStarted.substr(0, kStarted.find(';')) +
                          "\nwhile :; do sleep 1; done\n");
    ASSERT_TRUE(wait_for_file(cam, "started", 60));
    kill(pid, SIGINT);
    CamsimResult r = cam.finish(pid, 10);
    EXPECT_EQ(r.status, 7) << r.err;
    EXPECT_EQ(cam.read_file("got"), "int\n");
}

// Held in its set-up (the copy of a library that is a FIFO nobody writes),
// camsim ends on an interrupt and the command never starts.
TEST(CamsimStop, InterruptBeforeTheCommandStartsEndsTheSetUpWith130)
{
    Camsim cam;
    std::string fifo = cam.scratch() + "/libcvptz.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    cam.option("--lib", "libcvptz.so=" + fifo);
    pid_t pid = cam.start(kStarted);
    int held = -1;
    for (int i = 0; i < 3000 && held < 0; i++) {
        held = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (held < 0)
            usleep(20000);
    }
    ASSERT_GE(held, 0) << "the set-up never read the library";
    kill(pid, SIGINT);
    CamsimResult r = cam.finish(pid, 10);
    close(held);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_FALSE(cam.has_file("started"));
    EXPECT_EQ(leftovers(cam, pid, 5), std::vector<std::string>{});
}

// What camsim is given wrong is its own failure, 125, and nothing runs.
TEST(CamsimRefuses, WhatItCannotUseWith125)
{
    Camsim cam;
    mkdir((cam.scratch() + "/half").c_str(), 0755);
    write_whole_file(cam.scratch() + "/half/cvdb.db", "");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"--dir"}, "camsim: --dir needs a value\n"},
        {{"--bin", cam.scratch(), "--", "true"}, "camsim: no program " + cam.scratch() + "\n"},
        {{"--opt-app", cam.scratch() + "/half", "--", "true"},
         "camsim: no default databases (cvdb.db, oem.db) in " + cam.scratch() + "/half\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::string cmd = "bash " + shell_quote(CAMSIM_SCRIPT) + " --tool " + shell_quote(CAMSIM_TOOL);
        for (const std::string &a : c.args)
            cmd += " " + shell_quote(a);
        std::string err = cam.scratch() + "/err";
        EXPECT_EQ(system((cmd + " 2> " + shell_quote(err)).c_str()), 125 << 8);
        EXPECT_EQ(read_whole_file(err), c.err);
    }
}

} // namespace
