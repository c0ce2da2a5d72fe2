// Platform services: semaphores, the guarded log, clock and sleep, child
// processes, and the IPv4 check.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/sem.h>
#include <sys/time.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "debug.h"

// The test binary's writes all pass here (linked with --wrap=write). While
// fd is set, the first write to it takes only `take` bytes, and `other`, a
// record of another program, lands right after them; every later write
// finds the flash full. With sync_error, a sync of fd fails as JFFS2's does
// after a failed page program (linked with --wrap=fsync).
struct CutWrite {
    int fd = -1;
    size_t take = 0;
    std::string other, path;
    int calls = 0, syncs = 0;
    bool sync_error = false;
};
static CutWrite g_cut;

extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd)
{
    if (fd >= 0 && fd == g_cut.fd)
        g_cut.syncs++;
    if (fd >= 0 && fd == g_cut.fd && g_cut.sync_error) {
        errno = EIO;
        return -1;
    }
    return __real_fsync(fd);
}

extern "C" ssize_t __real_write(int fd, const void *buf, size_t n);
extern "C" ssize_t __wrap_write(int fd, const void *buf, size_t n)
{
    if (fd < 0 || fd != g_cut.fd)
        return __real_write(fd, buf, n);
    if (g_cut.calls++ > 0) {
        errno = ENOSPC;
        return -1;
    }
    ssize_t w = __real_write(fd, buf, std::min(n, g_cut.take));
    int other = open(g_cut.path.c_str(), O_WRONLY | O_APPEND);
    if (other >= 0 && __real_write(other, g_cut.other.data(), g_cut.other.size()) < 0)
        w = -1;
    close(other);
    return w;
}

namespace {

std::string temp_dir()
{
    char tmpl[] = "/tmp/osa_test.XXXXXX";
    return mkdtemp(tmpl);
}

std::string slurp(const std::string &path)
{
    std::string data;
    int fd = open(path.c_str(), O_RDONLY);
    char buf[4096];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0)
        data.append(buf, (size_t)n);
    if (fd >= 0)
        close(fd);
    return data;
}

// A semaphore key of its own per test, removed afterwards.
class Semaphores : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = temp_dir();
        key_ = OSA_ipcMakeKey(dir_.c_str(), 't');
        ASSERT_NE(key_, -1);
    }
    void TearDown() override
    {
        int id = semget(key_, 0, 0);
        if (id >= 0)
            semctl(id, 0, IPC_RMID);
        rmdir(dir_.c_str());
    }
    std::string dir_;
    int32_t key_ = -1;
};

TEST_F(Semaphores, CreateIsExclusiveAndOpenFindsTheExistingSet)
{
    OSA_SemSet first{}, second{}, opened{};
    ASSERT_EQ(OSA_ipcSemOpen(&first, key_, 2, 1, 1, 1), 0);
    EXPECT_EQ(OSA_ipcSemOpen(&second, key_, 2, 1, 1, 1), -1);
    EXPECT_LT(second.id, 0);
    ASSERT_EQ(OSA_ipcSemOpen(&opened, key_, 2, 0, 1, 0), 0);
    EXPECT_EQ(opened.id, first.id);
    EXPECT_EQ(OSA_ipcSemValue(&opened, 1), 1); // an open never resets the value
}

TEST_F(Semaphores, InitialValueIsClampedToTheMaximumAndPostStopsThere)
{
    OSA_SemSet set{};
    ASSERT_EQ(OSA_ipcSemOpen(&set, key_, 3, 5, 1, 1), 0);
    for (uint32_t i = 0; i < 3; i++)
        EXPECT_EQ(OSA_ipcSemValue(&set, i), 1);
    EXPECT_EQ(OSA_ipcSemPost(&set, 0, 1), 0);
    EXPECT_EQ(OSA_ipcSemValue(&set, 0), 1);
    EXPECT_EQ(OSA_ipcSemWait(&set, 0, 1), 0);
    EXPECT_EQ(OSA_ipcSemValue(&set, 0), 0);
    EXPECT_EQ(OSA_ipcSemWait(&set, 0, 0), -1); // would block
    EXPECT_EQ(OSA_ipcSemPost(&set, 0, 1), 0);
    EXPECT_EQ(OSA_ipcSemValue(&set, 0), 1);
}

TEST_F(Semaphores, RefusesAnIndexEqualToTheCountAndMoreThan32Semaphores)
{
    OSA_SemSet set{};
    EXPECT_EQ(OSA_ipcSemOpen(&set, key_, 33, 1, 1, 1), -1);
    EXPECT_EQ(semget(key_, 0, 0), -1);
    ASSERT_EQ(OSA_ipcSemOpen(&set, key_, 2, 1, 1, 1), 0);
    EXPECT_EQ(OSA_ipcSemWait(&set, 2, 0), -1);
    EXPECT_EQ(OSA_ipcSemPost(&set, 2, 0), -1);
    EXPECT_EQ(OSA_ipcSemValue(&set, 0), 1);
}

TEST_F(Semaphores, ADeadHoldersWaitIsUndone)
{
    OSA_SemSet set{};
    ASSERT_EQ(OSA_ipcSemOpen(&set, key_, 1, 1, 1, 1), 0);
    pid_t pid = fork();
    if (pid == 0) {
        OSA_ipcSemWait(&set, 0, 1);
        _exit(0); // dies holding the lock
    }
    int status;
    waitpid(pid, &status, 0);
    EXPECT_EQ(OSA_ipcSemValue(&set, 0), 1);
    EXPECT_EQ(OSA_ipcSemWait(&set, 0, 0), 0);
}

// The guarded log, pointed at a file and semaphore of the test's own.
class GuardedLog : public Semaphores {
protected:
    void SetUp() override
    {
        Semaphores::SetUp();
        saved_ = g_osa_log;
        path_ = dir_ + "/debug.log";
        snprintf(g_osa_log.path, sizeof g_osa_log.path, "%s", path_.c_str());
        g_osa_log.fd = -1;
        ASSERT_EQ(OSA_ipcSemOpen(&g_osa_log.sem, key_, 1, 1, 1, 1), 0);
        g_osa_log.key = key_;
        g_osa_log.initialised = 1;
    }
    void TearDown() override
    {
        OSA_logClose();
        unlink(path_.c_str());
        g_osa_log = saved_;
        Semaphores::TearDown();
    }
    OSA_LogFile saved_;
    std::string path_;
};

TEST_F(GuardedLog, AppendsAndReopensAfterCloseWithoutTruncating)
{
    int fd = open(path_.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(write(fd, "old|", 4), 4);
    close(fd);
    EXPECT_EQ(OSA_log("one|", 4), 0);
    EXPECT_EQ(OSA_logClose(), 0);
    EXPECT_EQ(g_osa_log.fd, -1);
    EXPECT_EQ(OSA_log("two", 3), 0);
    EXPECT_EQ(slurp(path_), "old|one|two");
    EXPECT_EQ(OSA_ipcSemValue(&g_osa_log.sem, 0), 1);
}

TEST_F(GuardedLog, CreatesAMissingFileAndSecondInitReturnsAtOnce)
{
    EXPECT_EQ(OSA_logInit(), 0);
    EXPECT_EQ(OSA_log("x", 1), 0);
    EXPECT_EQ(slurp(path_), "x");
}

// A signal in the post of the log's lock: within one process nothing but
// the lock's value shows whether the post was made again.
static int g_interrupt_semop;
extern "C" int __real_semop(int id, struct sembuf *ops, size_t n);
extern "C" int __wrap_semop(int id, struct sembuf *ops, size_t n)
{
    if (g_interrupt_semop > 0) {
        g_interrupt_semop--;
        errno = EINTR;
        return -1;
    }
    return __real_semop(id, ops, n);
}

TEST_F(GuardedLog, AnInterruptedPostOfTheLockIsMadeAgain)
{
    g_interrupt_semop = 1;
    EXPECT_EQ(OSA_log("x", 1), 0);
    EXPECT_EQ(g_interrupt_semop, 0);
    EXPECT_EQ(OSA_ipcSemValue(&g_osa_log.sem, 0), 1);
}

TEST_F(GuardedLog, ReportsAnOpenFailureAndLeavesTheLockFree)
{
    snprintf(g_osa_log.path, sizeof g_osa_log.path, "%s", (dir_ + "/missing/debug.log").c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(OSA_log("x", 1), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("open log:"), std::string::npos) << err;
    EXPECT_NE(err.find("|OSA_log|"), std::string::npos) << err;
    EXPECT_NE(err.find("Faild to open log: " + dir_ + "/missing/debug.log \n"), std::string::npos)
        << err;
    EXPECT_EQ(OSA_ipcSemValue(&g_osa_log.sem, 0), 1);
}

TEST_F(GuardedLog, ARecordCutShortIsTakenBackOnlyWhenNothingFollowsIt)
{
    const std::string error = "write log: No space left on device\n";
    const std::string sync_error = "sync log: Input/output error\n";
    struct Case {
        size_t take;
        bool sync_error;
        std::string other, file, err;
        int syncs; // a record taken back is synced away
    } cases[] = {
        {3, false, "", "old|", error, 1},
        {3, false, "OTHER", "old|recOTHER", path_ + ": a cut record is left at byte 4\n" + error, 0},
        // Written whole but not synced: no record kept either.
        {6, true, "", "old|", sync_error, 2},
        {6, true, "OTHER", "old|recordOTHER",
         path_ + ": an unsynced record is left at byte 4\n" + sync_error, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.other);
        int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(write(fd, "old|", 4), 4);
        close(fd);
        OSA_logClose();
        ASSERT_EQ(OSA_logOpen(), 0);
        g_cut.fd = g_osa_log.fd;
        g_cut.take = c.take;
        g_cut.sync_error = c.sync_error;
        g_cut.other = c.other;
        g_cut.path = path_;
        g_cut.calls = 0;
        g_cut.syncs = 0;
        testing::internal::CaptureStderr();
        EXPECT_EQ(OSA_log("record", 6), -1);
        g_cut.fd = -1;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(slurp(path_), c.file);
        EXPECT_EQ(g_cut.syncs, c.syncs);
        size_t prefix = err.find("): ");
        EXPECT_EQ(prefix == std::string::npos ? err : err.substr(prefix + 3), c.err) << err;
        EXPECT_EQ(OSA_ipcSemValue(&g_osa_log.sem, 0), 1);
    }
}

TEST(ErrorLine, ALineCutToFitKeepsItsLineEnd)
{
    testing::internal::CaptureStderr();
    report_error_at("osa_test", "f", 1, "%s\n", std::string(2000, 'x').c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.size(), 1023u);
    EXPECT_EQ(err.back(), '\n');
}

TEST(Clock, StampIsTheMonotonicClockInMillisecondsModulo2To32)
{
    struct timespec before, after;
    clock_gettime(CLOCK_MONOTONIC, &before);
    uint64_t msec = OSA_clockMsec();
    uint32_t stamp = OSA_nowMsec();
    clock_gettime(CLOCK_MONOTONIC, &after);
    uint64_t lo = (uint64_t)before.tv_sec * 1000 + (uint64_t)before.tv_nsec / 1000000;
    uint64_t hi = (uint64_t)after.tv_sec * 1000 + (uint64_t)after.tv_nsec / 1000000;
    EXPECT_GE(msec, lo);
    EXPECT_LE(msec, hi);
    EXPECT_GE((int32_t)(stamp - (uint32_t)lo), 0);
    EXPECT_LE((int32_t)(stamp - (uint32_t)hi), 0);
}

void on_alarm(int) {}

TEST(Sleep, ZeroReturnsAtOnceAndASignalEndsItEarly)
{
    uint32_t t0 = OSA_nowMsec();
    EXPECT_EQ(OSA_sleepMsec(0), 0);
    // Far below a second, but a loaded machine may not run the test at once.
    EXPECT_LT((int32_t)(OSA_nowMsec() - t0), 1000);

    struct sigaction sa = {}, old;
    sa.sa_handler = on_alarm;
    sigaction(SIGALRM, &sa, &old);
    struct itimerval it = {};
    it.it_value.tv_usec = 100000;
    setitimer(ITIMER_REAL, &it, nullptr);
    t0 = OSA_nowMsec();
    EXPECT_EQ(OSA_sleepMsec(5000), -1);
    int32_t took = (int32_t)(OSA_nowMsec() - t0);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_GE(took, 50);
    EXPECT_LT(took, 3000);

    t0 = OSA_nowMsec();
    EXPECT_EQ(OSA_sleepMsec(1500), 0);
    EXPECT_GE((int32_t)(OSA_nowMsec() - t0), 1490);
}

// A program that cannot be run ends with 127 and says why, as a shell
// would: fed, or run with its output shown.
TEST(ChildProcess, AProgramThatCannotBeRunSaysSoOnStandardError)
{
    const char *const argv[] = {"no-such-program-here", nullptr};
    testing::internal::CaptureStderr();
    int status = OSA_exec(argv, 0);
    int input = -1;
    pid_t fed = OSA_spawnFed(argv, &input);
    ASSERT_GT(fed, 0);
    close(input);
    int fed_status = OSA_waitChild(fed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "no-such-program-here: No such file or directory\nno-such-program-here: No such file or directory\n");
    for (int s : {status, fed_status}) {
        ASSERT_TRUE(WIFEXITED(s));
        EXPECT_EQ(WEXITSTATUS(s), 127);
    }
}

TEST(ChildProcess, ReturnsStatusInSystemFormAndKeepsOutputInOrder)
{
    int status = OSA_system("exit 3");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);

    // Run in a child whose standard output is a file: what the tool printed
    // before the command must come before the command's own output.
    std::string dir = temp_dir(), out = dir + "/out";
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        setvbuf(stdout, nullptr, _IOFBF, 4096);
        printf("before\n");
        OSA_system("echo child");
        printf("after\n");
        fflush(stdout);
        _exit(0);
    }
    waitpid(pid, &status, 0);
    EXPECT_EQ(slurp(out), "before\nchild\nafter\n");
    unlink(out.c_str());
    rmdir(dir.c_str());
}

TEST(ChildProcess, AnInterruptDuringTheChildReachesTheTool)
{
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGINT, test_signal_handler);
        int fd = open("/dev/null", O_WRONLY);
        dup2(fd, 1);
        uint32_t t0 = OSA_nowMsec();
        int status = OSA_system("sleep 1");
        int32_t took = (int32_t)(OSA_nowMsec() - t0);
        // The child ran to its end; the tool saw the signal meanwhile.
        _exit(g_stop_flag == 1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && took >= 900
                  ? 0
                  : 1);
    }
    usleep(300000);
    kill(pid, SIGINT); // the tool alone, not its child
    int status;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CheckIPAddr, AcceptsDottedQuadsOnly)
{
    struct Case {
        const char *text;
        int valid;
    } cases[] = {
        {"192.168.1.1", 1},   {"255.255.255.255", 1}, {"0.0.0.0", 1},
        {" 1. 2. 3. 4", 1},   {"+1.2.3.4", 1},        {"010.1.1.1", 1},
        {"256.1.1.1", 0},     {"1.2.3.-4", 0},        {"1.2.3", 0},
        {"1.2.3.4.", 0},      {"1.2.3.4 ", 0},        {"1.2.3.4\n", 0},
        {"1,2,3,4", 0},       {"a.b.c.d", 0},         {"", 0},
        {"1.2.3.x", 0},       {"1 .2.3.4", 0},        {"-0.0.0.0", 1},
        {"4294967297.1.1.1", 0},
        {"99999999999999999999999.1.1.1", 0},
        {"1.2.3.2147483648", 0},
        {"-2147483649.1.1.1", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CheckIPAddr(c.text), c.valid) << "\"" << c.text << "\"";
    EXPECT_EQ(CheckIPAddr(nullptr), 0);
}

} // namespace
