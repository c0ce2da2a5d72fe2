// camsim_logwrites - puts the kernel's dm-log-writes target between a card
// and a log device in the emulated camera, so that every write that reaches
// the card is recorded in order, and a crash test can replay the card to
// each state a power cut could have left. BusyBox has no dmsetup; this
// speaks the device mapper's ioctls itself.
//   camsim_logwrites start NAME DEV LOGDEV   prints the new device's MAJ:MIN
//   camsim_logwrites point DEV K             rewrites DEV's 4 KiB block K
//                                            from the end as it is, so that
//                                            the log shows the moment
//   camsim_logwrites stop NAME               removes it: the log is complete
//   camsim_logwrites watch DEV K TEXT -- COMMAND [ARG...]
//                                            runs COMMAND; just before it
//                                            first writes TEXT to standard
//                                            output, makes point K: what
//                                            it reports there is in the log
//                                            before the point, or missing
//   camsim_logwrites hold DIR [--mark MARK] TEXT... -- COMMAND [ARG...]
//                                            runs COMMAND and what it starts;
//                                            every write of theirs to this
//                                            program's output or error is
//                                            appended to DIR/shown, and
//                                            one holding a TEXT is held
//                                            before it is made: DIR/hold.N
//                                            gets the length of DIR/shown
//                                            with it, and the write waits
//                                            for DIR/held.N, the host's
//                                            sign that it has copied the
//                                            flash and card images; with
//                                            --mark, MARK goes to this
//                                            program's error once the first
//                                            such write of a process COMMAND
//                                            started has been made
#include <errno.h>
#include <fcntl.h>
#include <linux/dm-ioctl.h>
#include <linux/fs.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <elf.h>
#include <signal.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/ptrace.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The ioctl header, then room for one target and its parameters.
struct DmRequest {
    struct dm_ioctl io;
    char data[4096];
};

int dm_call(unsigned long request, const char *name, DmRequest *r, size_t data_len)
{
    int control = open("/dev/mapper/control", O_RDWR | O_CLOEXEC);
    if (control < 0) {
        perror("camsim_logwrites: /dev/mapper/control");
        return -1;
    }
    r->io.version[0] = DM_VERSION_MAJOR;
    r->io.version[1] = 0;
    r->io.version[2] = 0;
    r->io.data_size = (uint32_t)(sizeof r->io + data_len);
    r->io.data_start = sizeof r->io;
    snprintf(r->io.name, sizeof r->io.name, "%s", name);
    int rc = ioctl(control, request, r);
    if (rc != 0)
        fprintf(stderr, "camsim_logwrites: %s: %s\n", name, strerror(errno));
    close(control);
    return rc;
}

int dm_start(const char *name, const char *dev, const char *logdev)
{
    int fd = open(dev, O_RDONLY | O_CLOEXEC);
    uint64_t bytes = 0;
    if (fd < 0 || ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
        perror(dev);
        return 1;
    }
    close(fd);
    DmRequest r = {};
    if (dm_call(DM_DEV_CREATE, name, &r, 0) != 0)
        return 1;
    r = {};
    auto *target = (struct dm_target_spec *)r.data;
    target->sector_start = 0;
    target->length = bytes / 512;
    snprintf(target->target_type, sizeof target->target_type, "log-writes");
    char *params = r.data + sizeof *target;
    size_t len = (size_t)snprintf(params, sizeof r.data - sizeof *target, "%s %s", dev, logdev) + 1;
    size_t total = (sizeof *target + len + 7) & ~(size_t)7;
    target->next = (uint32_t)total;
    r.io.target_count = 1;
    if (dm_call(DM_TABLE_LOAD, name, &r, total) != 0)
        return 1;
    r = {}; // resume: the loaded table goes live
    if (dm_call(DM_DEV_SUSPEND, name, &r, 0) != 0)
        return 1;
    printf("%u:%u\n", major(r.io.dev), minor(r.io.dev));
    return 0;
}

// A point in the card's stream of completed writes: the device's 4 KiB
// block K from its end is read and written back unchanged, past the page
// cache, so the card's content stays as it is. dm-log-writes logs writes in
// the order they completed; a flush would put the recorded writes before
// it too, but also push out what the page cache still holds, which is
// just what a power cut would lose.
int dm_point(const char *dev, long k)
{
    int fd = open(dev, O_RDWR | O_DIRECT | O_CLOEXEC);
    uint64_t bytes = 0;
    void *block = nullptr;
    if (fd < 0 || ioctl(fd, BLKGETSIZE64, &bytes) != 0 || posix_memalign(&block, 4096, 4096) != 0) {
        perror(dev);
        return 1;
    }
    off_t at = (off_t)bytes - (off_t)(k + 1) * 4096;
    int ok = at >= 0 && pread(fd, block, 4096, at) == 4096 && pwrite(fd, block, 4096, at) == 4096;
    if (!ok)
        perror(dev);
    free(block);
    close(fd);
    return ok ? 0 : 1;
}

// The system call a traced process stops at: number and first three
// arguments.
struct Syscall {
    long nr;
    unsigned long arg[3];
};

int syscall_of(pid_t pid, Syscall *call)
{
#if defined(__aarch64__)
    struct user_regs_struct regs;
    struct iovec io = {&regs, sizeof regs};
    if (ptrace(PTRACE_GETREGSET, pid, (void *)NT_PRSTATUS, &io) != 0)
        return -1;
    call->nr = (long)regs.regs[8];
    for (int i = 0; i < 3; i++)
        call->arg[i] = regs.regs[i];
    return 0;
#elif defined(__x86_64__)
    struct user_regs_struct regs;
    if (ptrace(PTRACE_GETREGS, pid, nullptr, &regs) != 0)
        return -1;
    call->nr = (long)regs.orig_rax;
    call->arg[0] = regs.rdi;
    call->arg[1] = regs.rsi;
    call->arg[2] = regs.rdx;
    return 0;
#else
    (void)pid;
    (void)call;
    return -1;
#endif
}

// Whether the write(2) the process stops at puts text on its standard
// output. The tool's lines go out one write each (line buffered).
int writes_text(pid_t pid, const Syscall &call, const char *text)
{
    if (call.nr != SYS_write || call.arg[0] != 1)
        return 0;
    char buf[4096];
    size_t len = call.arg[2] < sizeof buf ? call.arg[2] : sizeof buf;
    struct iovec local = {buf, len}, remote = {(void *)call.arg[1], len};
    ssize_t n = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    return n > 0 && memmem(buf, (size_t)n, text, strlen(text)) != nullptr;
}

int dm_watch(const char *dev, long k, const char *text, char **command)
{
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execvp(command[0], command);
        _exit(127);
    }
    int status;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status))
        return 1;
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, (void *)(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
    int signal = 0, entering = 1, done = 0;
    for (;;) {
        ptrace(done ? PTRACE_CONT : PTRACE_SYSCALL, pid, nullptr, (void *)(long)signal);
        if (waitpid(pid, &status, 0) != pid)
            return 1;
        if (WIFEXITED(status))
            return WEXITSTATUS(status);
        if (WIFSIGNALED(status))
            return 128 + WTERMSIG(status);
        signal = 0;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            signal = WSTOPSIG(status); // the process's own, passed on
            continue;
        }
        Syscall call;
        if (entering && syscall_of(pid, &call) == 0 && writes_text(pid, call, text)) {
            dm_point(dev, k);
            done = 1;
        }
        entering = !entering;
    }
}

// The buffer of the write the process stops at, up to cap bytes.
ssize_t written_text(pid_t pid, const Syscall &call, char *buf, size_t cap)
{
    size_t len = call.arg[2] < cap ? call.arg[2] : cap;
    struct iovec local = {buf, len}, remote = {(void *)call.arg[1], len};
    return process_vm_readv(pid, &local, 1, &remote, 1, 0);
}

// Whether fd of the process is this program's own output or error: a
// write to a pipe of the shell's ($(...)) shows nothing.
int shows(pid_t pid, int fd)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd/%d", (int)pid, fd);
    struct stat theirs, ours;
    if (stat(path, &theirs) != 0)
        return 0;
    for (int own = 1; own <= 2; own++)
        if (fstat(own, &ours) == 0 && ours.st_dev == theirs.st_dev && ours.st_ino == theirs.st_ino)
            return 1;
    return 0;
}

// Appends to a file of the shared directory; returns its length after.
long append_to(const char *path, const char *data, size_t len)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    ssize_t n = len > 0 ? write(fd, data, len) : 0;
    struct stat st;
    long size = n == (ssize_t)len && fstat(fd, &st) == 0 ? (long)st.st_size : -1;
    close(fd);
    return size;
}

// Tells the host that write n is held at shown bytes, and waits (bounded)
// for its answer.
void hold_for_host(const char *dir, long n, long shown)
{
    char path[4096], tmp[4096], text[32];
    snprintf(tmp, sizeof tmp, "%s/hold.%ld.tmp", dir, n);
    snprintf(path, sizeof path, "%s/hold.%ld", dir, n);
    int len = snprintf(text, sizeof text, "%ld\n", shown);
    if (append_to(tmp, text, (size_t)len) < 0 || rename(tmp, path) != 0) {
        perror("camsim_logwrites: hold");
        return;
    }
    snprintf(path, sizeof path, "%s/held.%ld", dir, n);
    for (int i = 0; i < 30000 && access(path, F_OK) != 0; i++)
        usleep(10000);
    if (access(path, F_OK) != 0)
        fprintf(stderr, "camsim_logwrites: no answer to hold %ld in 300 s, going on\n", n);
}

// Only writes to fds 0-2 stop the traced processes (a seccomp filter),
// so that the tool's other work runs at its own pace.
int trace_writes_only(void)
{
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_write, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 3, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRACE),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog prog = {(unsigned short)(sizeof code / sizeof code[0]), code};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                   prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0
               ? 0
               : -1;
}

int hold_writes(const char *dir, const char *mark, char **texts, int count, char **command)
{
    char shown_path[4096];
    snprintf(shown_path, sizeof shown_path, "%s/shown", dir);
    pid_t child = fork();
    if (child < 0)
        return 1;
    if (child == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        raise(SIGSTOP);
        if (trace_writes_only() != 0) {
            perror("camsim_logwrites: seccomp");
            _exit(126);
        }
        execvp(command[0], command);
        _exit(127);
    }
    int status;
    if (waitpid(child, &status, 0) != child || !WIFSTOPPED(status))
        return 1;
    ptrace(PTRACE_SETOPTIONS, child, nullptr,
           (void *)(PTRACE_O_TRACESECCOMP | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK |
                    PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL | PTRACE_O_TRACESYSGOOD));
    ptrace(PTRACE_CONT, child, nullptr, nullptr);
    int result = 1;
    long holds = 0;
    pid_t marking = 0; // the process whose first write ends in the mark
    static char buf[65536];
    for (;;) {
        pid_t pid = waitpid(-1, &status, __WALL);
        if (pid < 0)
            return result; // no process of the tree is left
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            if (pid == child)
                result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            continue;
        }
        int signal = 0;
        Syscall call;
        if (pid == marking && status >> 8 == (SIGTRAP | 0x80)) {
            // Its write has been made: the mark follows it.
            fprintf(stderr, "%s\n", mark);
            mark = nullptr;
            marking = 0;
        } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_SECCOMP << 8)) && syscall_of(pid, &call) == 0 &&
            shows(pid, (int)call.arg[0])) {
            ssize_t n = written_text(pid, call, buf, sizeof buf - 1);
            if (n > 0) {
                long shown = append_to(shown_path, buf, (size_t)n);
                buf[n] = '\0';
                int wanted = 0;
                for (int i = 0; i < count; i++)
                    wanted |= memmem(buf, (size_t)n, texts[i], strlen(texts[i])) != nullptr;
                if (wanted)
                    hold_for_host(dir, ++holds, shown);
                if (mark && !marking && pid != child) {
                    marking = pid;
                    ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
                    continue;
                }
            }
        } else if (status >> 16 == 0 && WSTOPSIG(status) != SIGSTOP) {
            signal = WSTOPSIG(status); // the process's own, passed on
        }
        ptrace(PTRACE_CONT, pid, nullptr, (void *)(long)signal);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[1], "start") == 0)
        return dm_start(argv[2], argv[3], argv[4]);
    if (argc == 4 && strcmp(argv[1], "point") == 0)
        return dm_point(argv[2], atol(argv[3]));
    if (argc == 3 && strcmp(argv[1], "stop") == 0) {
        DmRequest r = {};
        return dm_call(DM_DEV_REMOVE, argv[2], &r, 0) != 0;
    }
    if (argc >= 7 && strcmp(argv[1], "watch") == 0 && strcmp(argv[5], "--") == 0)
        return dm_watch(argv[2], atol(argv[3]), argv[4], argv + 6);
    if (argc >= 5 && strcmp(argv[1], "hold") == 0) {
        int first = 3;
        const char *mark = nullptr;
        if (argc >= 7 && strcmp(argv[3], "--mark") == 0) {
            mark = argv[4];
            first = 5;
        }
        int dash = first;
        while (dash < argc && strcmp(argv[dash], "--") != 0)
            dash++;
        if (dash > first && dash + 1 < argc)
            return hold_writes(argv[2], mark, argv + first, dash - first, argv + dash + 1);
    }
    fprintf(stderr, "usage: camsim_logwrites start NAME DEV LOGDEV | point DEV K | stop NAME | "
                    "watch DEV K TEXT -- COMMAND... | hold DIR [--mark MARK] TEXT... -- COMMAND...\n");
    return 2;
}
