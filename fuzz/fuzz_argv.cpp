// fuzz_argv.cpp - one module's option parser fed with random argument
// vectors: "debug -M MODULE ARG..." with the arguments taken from the input,
// separated by NUL bytes. The module comes from DEBUG_FUZZ_MODULE.
//
// Parsers act while they parse: sdmmc runs shell commands, ptz, wifi and
// motor call the platform, db writes its database, pt, extdrv and adc
// publish shared memory. So this target runs only inside the simulated
// camera (fuzz/run-one starts it there) and refuses to start elsewhere, and
// before the first input it makes every filesystem of the sandbox read-only
// and closed to device nodes except the camera's own scratch places (/tmp,
// /mnt, /dev, /run, the IIO files) and DEBUG_FUZZ_OUT, where libFuzzer keeps
// its corpus. A file name from the input (cpu -l, db statements) then cannot
// reach the host's files or devices.
//
// Each input runs in a forked child, because parsers end the process after a
// bad option and keep module state in globals. The child starts with the
// stop flag already set, as after an interrupt, so the loops that test it
// (ir, cpu, adc, ptz waits, card fill, db statement files) end at once; it
// is killed with its process group after DEBUG_FUZZ_CHILD_MS milliseconds
// (default 3000) and the timeout is reported but is not a failure. The
// child's coverage counters are copied back through shared memory so that
// libFuzzer sees what the parser did.
//
// Exit statuses 0 and 255 are the tool's own; any other ending (a sanitizer
// report, a signal) is a finding: the child's error output is copied and
// the target aborts, so that libFuzzer keeps the input.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "debug.h"

int debug_main(int argc, char **argv);

// The fuzzer's 8-bit coverage counters of this executable (fuzz_counters.cpp).
extern "C" uint8_t *fuzz_counters_start(void);
extern "C" uint8_t *fuzz_counters_stop(void);

namespace {

const char kChildErr[] = "/tmp/fuzz-argv-child.err";
const char kGuardedLog[] = "/mnt/nand/debug.log";

const char *g_module;
long g_child_ms = 3000;
uint8_t *g_child_counters; // shared with the children
size_t g_counter_count;
unsigned long g_runs, g_timeouts;

[[noreturn]] void fuzz_die(const char *what)
{
    fprintf(stderr, "fuzz_argv: %s\n", what);
    _exit(2);
}

// PID 1 of the simulated camera is the camsim script, started with --inside.
bool inside_camsim(void)
{
    char cmd[4096];
    int fd = open("/proc/1/cmdline", O_RDONLY);
    if (fd < 0)
        return false;
    ssize_t n = read(fd, cmd, sizeof cmd - 1);
    close(fd);
    if (n <= 0)
        return false;
    cmd[n] = '\0';
    bool script = false, inside = false;
    for (ssize_t at = 0; at < n; at += (ssize_t)strlen(cmd + at) + 1) {
        const char *arg = cmd + at;
        const char *base = strrchr(arg, '/');
        if (strcmp(base ? base + 1 : arg, "camsim") == 0)
            script = true;
        else if (script && strcmp(arg, "--inside") == 0)
            inside = true;
    }
    return script && inside && access("/run/camsim/bin/debug", F_OK) == 0;
}

// Mount points in /proc/self/mountinfo escape blanks and the like as \ooo.
std::string mountinfo_unescape(const char *text)
{
    std::string out;
    for (const char *p = text; *p; p++) {
        if (p[0] == '\\' && p[1] >= '0' && p[1] <= '3' && p[2] >= '0' && p[2] <= '7' &&
            p[3] >= '0' && p[3] <= '7') {
            out += (char)((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
            p += 3;
        } else {
            out += *p;
        }
    }
    return out;
}

void remount_read_only(const std::string &point)
{
    struct statvfs st;
    unsigned long keep = 0;
    if (statvfs(point.c_str(), &st) == 0) {
        if (st.f_flag & ST_NOEXEC)
            keep |= MS_NOEXEC;
        if (st.f_flag & ST_NOATIME)
            keep |= MS_NOATIME;
        if (st.f_flag & ST_NODIRATIME)
            keep |= MS_NODIRATIME;
        if (st.f_flag & ST_RELATIME)
            keep |= MS_RELATIME;
    }
    unsigned long flags = MS_REMOUNT | MS_BIND | MS_RDONLY | MS_NODEV | MS_NOSUID | keep;
    // A mount laid over by another one (the host's /dev/pts under the
    // sandbox's /dev) is out of reach: its path is missing or no mount point.
    if (mount(nullptr, point.c_str(), nullptr, flags, nullptr) != 0 && errno != ENOENT &&
        errno != EINVAL) {
        fprintf(stderr, "fuzz_argv: cannot make %s read-only: %s\n", point.c_str(), strerror(errno));
        _exit(2);
    }
}

void confine_filesystems(const char *writable)
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        fuzz_die("cannot make a mount namespace of its own");
    if (mount(writable, writable, nullptr, MS_BIND, nullptr) != 0)
        fuzz_die("cannot keep DEBUG_FUZZ_OUT writable");
    const std::vector<std::string> open_points = {"/tmp", "/mnt", "/dev", "/dev/shm", "/run",
                                                  "/sys/bus", "/sys/bus/iio", writable};
    FILE *fp = fopen("/proc/self/mountinfo", "r");
    if (!fp)
        fuzz_die("cannot read /proc/self/mountinfo");
    std::vector<std::string> points;
    char line[8192];
    while (fgets(line, sizeof line, fp)) {
        // id parent major:minor root mount-point ...
        char point[4096];
        if (sscanf(line, "%*s %*s %*s %*s %4095s", point) == 1)
            points.push_back(mountinfo_unescape(point));
    }
    fclose(fp);
    for (const std::string &point : points) {
        bool open_point = false;
        for (const std::string &p : open_points)
            open_point = open_point || p == point;
        if (!open_point)
            remount_read_only(point);
    }
    // Fail closed: the root filesystem must refuse writes now.
    if (access("/", W_OK) == 0 || errno != EROFS)
        fuzz_die("the root filesystem is still writable");
}

// Copied back to the parent however the child ends, exit() included.
void child_exit(int status, void *)
{
    if (g_child_counters)
        memcpy(g_child_counters, fuzz_counters_start(), g_counter_count);
    _exit(status & 0xff);
}

std::string command_line(const std::vector<std::string> &args)
{
    std::string text = std::string("debug -M ") + g_module;
    for (const std::string &a : args) {
        text += " '";
        for (char c : a) {
            if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7f) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\x%02x", (unsigned char)c);
                text += esc;
            } else {
                text += c;
            }
        }
        text += "'";
    }
    return text;
}

void copy_child_errors(void)
{
    int fd = open(kChildErr, O_RDONLY);
    if (fd < 0)
        return;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        if (write(STDERR_FILENO, buf, (size_t)n) != n)
            break;
    }
    close(fd);
}

long elapsed_ms(const struct timespec &since)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - since.tv_sec) * 1000 + (now.tv_nsec - since.tv_nsec) / 1000000;
}

[[noreturn]] void run_child(std::vector<char *> &argv)
{
    setpgid(0, 0);
    int in = open("/dev/null", O_RDWR);
    int err = open(kChildErr, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || err < 0)
        _exit(2);
    dup2(in, STDIN_FILENO);
    dup2(in, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(in);
    close(err);
    if (chdir("/tmp") != 0)
        _exit(2);
    on_exit(child_exit, nullptr);
    g_stop_flag = 1;
    int status = debug_main((int)argv.size() - 1, argv.data());
    child_exit(status, nullptr);
    _exit(2); // not reached
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_module = getenv("DEBUG_FUZZ_MODULE");
    const char *out = getenv("DEBUG_FUZZ_OUT");
    if (!g_module || !*g_module || !out || !*out)
        fuzz_die("DEBUG_FUZZ_MODULE and DEBUG_FUZZ_OUT must be set (see fuzz/run-one)");
    if (!inside_camsim())
        fuzz_die("runs only inside the simulated camera: sandbox/camsim -- fuzz_argv ...");
    if (const char *ms = getenv("DEBUG_FUZZ_CHILD_MS"))
        g_child_ms = atol(ms) > 0 ? atol(ms) : g_child_ms;
    confine_filesystems(out);
    // Programs the parsers start and leave behind come back to this process.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    g_counter_count = (size_t)(fuzz_counters_stop() - fuzz_counters_start());
    if (g_counter_count > 0) {
        void *shared = mmap(nullptr, g_counter_count, PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED)
            fuzz_die("cannot map the shared coverage counters");
        g_child_counters = (uint8_t *)shared;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> args;
    if (size > 0) {
        std::string text((const char *)data, size);
        size_t from = 0;
        for (;;) {
            size_t nul = text.find('\0', from);
            args.push_back(text.substr(from, nul == std::string::npos ? nul : nul - from));
            if (nul == std::string::npos || args.size() >= 64)
                break;
            from = nul + 1;
        }
    }
    std::vector<std::string> words = {"debug", "-M", g_module};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);

    if (g_child_counters)
        memset(g_child_counters, 0, g_counter_count);
    fflush(nullptr);
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid < 0)
        fuzz_die("fork failed");
    if (pid == 0)
        run_child(argv);

    int status = 0;
    bool timed_out = false;
    long pause_us = 50;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR)
            fuzz_die("waitpid failed");
        if (elapsed_ms(start) > g_child_ms) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            timed_out = true;
            break;
        }
        usleep((useconds_t)pause_us);
        if (pause_us < 2000)
            pause_us *= 2;
    }
    // Whatever the child started and left behind ends with it.
    kill(-pid, SIGKILL);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }

    uint8_t *counters = fuzz_counters_start();
    for (size_t i = 0; i < g_counter_count; i++) {
        if (g_child_counters[i] > counters[i])
            counters[i] = g_child_counters[i];
    }

    // The ir module appends a record to the guarded log on every run.
    if (++g_runs % 1024 == 0 && truncate(kGuardedLog, 0) != 0) {
        // No log yet: nothing to keep small.
    }

    if (timed_out) {
        if (++g_timeouts <= 20)
            fprintf(stderr, "fuzz_argv: no end after %ld ms, killed: %s\n", g_child_ms,
                    command_line(args).c_str());
        return 0;
    }
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 255))
        return 0;
    copy_child_errors();
    if (WIFEXITED(status))
        fprintf(stderr, "fuzz_argv: %s ended with status %d\n", command_line(args).c_str(),
                WEXITSTATUS(status));
    else
        fprintf(stderr, "fuzz_argv: %s ended by signal %d\n", command_line(args).c_str(),
                WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    abort();
}
