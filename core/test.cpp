/* test.cpp - entry point: start-up, the scan for -M and -h, the version line
 * and top-level usage, dispatch to one module, the signal handler, shutdown. */
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "debug.h"

char g_prog_name[256];
char g_module_name[64];
char g_help_name[64];
volatile sig_atomic_t g_stop_flag;

static const struct option test_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"help", no_argument, nullptr, 'h'},
};
static const OptionHelp test_option_help[] = {
    {"str", "module name like spi/i2c/gpio/adc/sensor"},
    {"str", "display module usage, module name like spi/i2c/gpio/adc/sensor "},
};

/* Copies src into a buffer of size bytes, cutting what does not fit. */
static void copy_bounded(char *dst, size_t size, const char *src)
{
    snprintf(dst, size, "%s", src);
}

void test_signal_handler(int signo)
{
    /* The console lock may be held by the code this signal interrupted, so
     * the line goes out with one write, which needs no lock. */
    char line[48] = "\nGet signal, signo = ";
    size_t n = strlen(line);
    char digits[12];
    int d = 0;
    unsigned v = signo < 0 ? 0u : (unsigned)signo;
    do {
        digits[d++] = (char)('0' + v % 10);
        v /= 10;
    } while (v && d < (int)sizeof digits);
    while (d > 0)
        line[n++] = digits[--d];
    line[n++] = '\n';
    ssize_t w = write(STDOUT_FILENO, line, n);
    (void)w;
    g_stop_flag = 1;
}

/* The copy's temporary name: hidden, the database's name after the dot, then
 * the tool's own marker and mkstemp's six letters or digits. Other programs
 * keep their backups and saves beside the databases under the usual
 * "cvdb.db.XXXXXX"; the marker keeps the leftover clean-up to the tool's own
 * copies. */
#define RESTORE_MARKER ".debug-restore."

static int restore_is_temporary(const char *name, const char *base)
{
    size_t len = strlen(base);
    size_t marker = sizeof RESTORE_MARKER - 1;
    if (name[0] != '.' || strncmp(name + 1, base, len) != 0 ||
        strncmp(name + 1 + len, RESTORE_MARKER, marker) != 0)
        return 0;
    const char *suffix = name + 1 + len + marker;
    if (strlen(suffix) != 6)
        return 0;
    for (const char *c = suffix; *c; c++) {
        if (!isalnum((unsigned char)*c))
            return 0;
    }
    return 1;
}

/* A start killed during a copy (kill -9, a power cut) leaves its temporary
 * file; each later one would add another until the flash is full. A copy
 * in progress holds a lock on its file, so one without the lock is left
 * over and goes. */
static void restore_remove_stale(const char *dir, const char *base)
{
    int dfd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *d = dfd >= 0 ? fdopendir(dfd) : nullptr;
    if (!d) {
        if (dfd >= 0)
            close(dfd);
        return;
    }
    while (struct dirent *e = readdir(d)) {
        if (!restore_is_temporary(e->d_name, base))
            continue;
        int fd = openat(dfd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dfd, e->d_name, 0);
        close(fd);
    }
    closedir(d);
}

/* Creates the copy's temporary file and locks it, so that no other start
 * takes it for a leftover. Another start may have found it in the moment
 * between the two and removed it: then a new one is made. */
static int restore_create_temporary(char *tmp, size_t size, const char *dir, const char *base)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        if ((size_t)snprintf(tmp, size, "%s/.%s" RESTORE_MARKER "XXXXXX", dir, base) >= size) {
            errno = ENAMETOOLONG;
            return -1;
        }
        int fd = mkostemp(tmp, O_CLOEXEC);
        if (fd < 0)
            return -1;
        struct stat mine, named;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &mine) == 0 &&
            stat(tmp, &named) == 0 && mine.st_ino == named.st_ino && mine.st_dev == named.st_dev)
            return fd;
        close(fd);
    }
    errno = EAGAIN;
    return -1;
}

/* Puts the whole copy in place under the database's name, unless another
 * start put its own there meanwhile, which a run may already have changed:
 * a plain rename would replace that one. A link refuses a name that exists;
 * a filesystem without links (EPERM) gets a rename that refuses it too. */
static int restore_put_in_place(const char *tmp, const char *to)
{
    int rc = link(tmp, to);
    if (rc != 0 && errno == EPERM && renameat2(AT_FDCWD, tmp, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (rc != 0 && errno != EEXIST)
        return -1;
    unlink(tmp);
    return 0;
}

/* Copies a default database into place as a whole or not at all: a copy cut
 * short by a full flash, a file-size limit, an interrupt or a power cut
 * would otherwise stay for good, since only a missing file is replaced. The
 * copy is made under a temporary name in the same directory, forced to the
 * flash, then put into place. */
static void restore_database(const char *from, const char *to)
{
    char dir[128];
    snprintf(dir, sizeof dir, "%s", to);
    char *slash = strrchr(dir, '/');
    if (!slash)
        return;
    *slash = '\0';
    restore_remove_stale(dir, slash + 1);
    if (access(to, F_OK) == 0)
        return;
    /* A link whose target is gone: its name is taken, so no copy could go
     * in (the link would fail), and the restore would pass for done. */
    struct stat link;
    if (lstat(to, &link) == 0 && S_ISLNK(link.st_mode)) {
        report_error("%s is a link to nothing, not restored\n", to);
        return;
    }
    char tmp[128];
    int in = open(from, O_RDONLY | O_CLOEXEC);
    int out = -1;
    struct stat st;
    int ok = in >= 0 && fstat(in, &st) == 0 &&
             (out = restore_create_temporary(tmp, sizeof tmp, dir, slash + 1)) >= 0;
    if (ok) {
        /* The mode cp would give: the default's, less the umask. */
        mode_t mask = umask(0);
        umask(mask);
        ok = fchmod(out, st.st_mode & 0777 & ~mask) == 0;
    }
    char buf[16384];
    while (ok) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = OSA_writeAll(out, buf, (size_t)n) == 0;
    }
    /* Put in place before it is closed: closing gives up the lock, and the
     * whole copy would then look like a leftover to another start. */
    ok = ok && fsync(out) == 0 && restore_put_in_place(tmp, to) == 0;
    int saved = errno;
    if (!ok && out >= 0)
        unlink(tmp);
    if (out >= 0)
        close(out);
    if (in >= 0)
        close(in);
    if (!ok) {
        report_error("restore %s from %s failed: %s\n", to, from, strerror(saved));
        return;
    }
    /* The new name itself reaches the flash with the directory. */
    OSA_syncDirectory(dir);
}

void restore_default_databases(void)
{
    restore_database("/opt/app/cvdb.db", "/mnt/nand/cvdb.db");
    restore_database("/opt/app/oem.db", "/mnt/nand2/oem.db");
}

/* A parent may start the tool with standard descriptors closed (a daemon's
 * ">&-"); the first file opened would then take descriptor 1 and receive
 * what the tool prints. */
static void test_open_standard_descriptors(void)
{
    /* In order, so each open takes the lowest free number: the one closed. */
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
}

int test_init(void)
{
    test_open_standard_descriptors();
    /* An ignored SIGCHLD, inherited from the parent, makes the kernel reap
     * every child at once, and each command's status reads as a failure. */
    signal(SIGCHLD, SIG_DFL);
    /* Line by line, so that the signal handler's line lands where the
     * signal arrived even when the output goes to a pipe. */
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGINT, test_signal_handler);
    signal(SIGQUIT, test_signal_handler);
    signal(SIGTERM, test_signal_handler);
    /* A dropped session is a stop request too, so that a step in progress
     * ends cleanly; under nohup the hang-up stays ignored, as asked. */
    struct sigaction hangup;
    if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN)
        signal(SIGHUP, test_signal_handler);
    /* A file-size limit (a service manager may set one) would otherwise
     * kill the tool in the middle of a write: the write fails with EFBIG
     * instead and is handled like a full flash. */
    signal(SIGXFSZ, SIG_IGN);
    restore_default_databases();
    int status = OSA_init();
    status |= OSA_logInit();
    return status;
}

void print_module_names(unsigned id)
{
    OSA_printf("modules name:\n");
    if (id > 24) {
        for (int i = 0; i < g_module_count; i++) {
            OSA_printf("\t%s", g_module_table[i].name);
            if ((i + 1) % 8 == 0)
                OSA_printf("\n");
        }
        OSA_printf("\n");
        return;
    }
    for (int i = 0; i < g_module_count; i++) {
        if (g_module_table[i].id == id) {
            OSA_printf("\t%s\n", g_module_table[i].name);
            return;
        }
    }
}

void print_program_usage(void)
{
    OSA_printf("%s usage:\n", g_prog_name);
    OSA_printf("%s [module option] \n", g_prog_name);
    for (size_t i = 0; i < sizeof test_options / sizeof test_options[0]; i++) {
        int val = test_options[i].val;
        if (isalpha(val))
            OSA_printf("-%c  ", val);
        else
            OSA_printf("    ");
        OSA_printf("--%s", test_options[i].name);
        if (*test_option_help[i].hint)
            OSA_printf(" [%s]", test_option_help[i].hint);
        OSA_printf("\t%s\n", test_option_help[i].description);
    }
    OSA_printf("Note: use { %s -h [module name] } to get detail help!\n", g_prog_name);
    print_module_names(25);
}

int scan_main_options(int argc, char **argv)
{
    copy_bounded(g_prog_name, sizeof g_prog_name, argc > 0 && argv[0] ? argv[0] : "");
    int usage_needed = 1;
    for (int i = 0; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "-M") == 0 || strcmp(arg, "--module") == 0) {
            if (i + 1 < argc) {
                copy_bounded(g_module_name, sizeof g_module_name, argv[i + 1]);
                usage_needed = 0;
                continue; /* the value is examined like any other element */
            }
            usage_needed = 1;
            break;
        }
        if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
            OSA_printf("%s version: %s\n", DEBUG_PROG_NAME, DEBUG_VERSION);
            if (i + 1 < argc) {
                copy_bounded(g_help_name, sizeof g_help_name, argv[i + 1]);
                show_module_help(g_help_name);
                usage_needed = 0;
            } else {
                usage_needed = 1;
            }
            break;
        }
    }
    if (usage_needed) {
        print_program_usage();
        return -1;
    }
    return 0;
}

int test_run(int argc, char **argv)
{
    const ModuleDesc *m = find_module(g_module_name);
    if (m && strcmp(m->name, g_module_name) == 0)
        open_module_calls(m->calls, 0);
    return run_module(g_module_name, argc, argv);
}

int test_deinit(void)
{
    g_stop_flag = 1;
    deinit_all_modules();
    OSA_logClose();
    OSA_shutdown();
    return 0;
}

int main(int argc, char **argv)
{
    if (test_init() != 0) {
        report_error("test_init failed!\n");
    } else if (scan_main_options(argc, argv) == 0 && g_module_name[0] != '\0' &&
               g_help_name[0] == '\0') {
        if (test_run(argc, argv) != 0) {
            report_error("test_run failed!\n");
            return -1;
        }
    }
    test_deinit();
    return 0;
}
