/* test.cpp - entry point: start-up, the scan for -M and -h, the version line
 * and top-level usage, dispatch to one module, the signal handler, shutdown. */
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "debug.h"
#include "platform_libs.h"

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

void restore_default_databases(void)
{
    if (access("/mnt/nand/cvdb.db", F_OK) != 0)
        OSA_system("cp /opt/app/cvdb.db /mnt/nand/cvdb.db");
    if (access("/mnt/nand2/oem.db", F_OK) != 0)
        OSA_system("cp /opt/app/oem.db /mnt/nand2/oem.db");
}

int test_init(void)
{
    /* Line by line, so that the signal handler's line lands where the
     * signal arrived even when the output goes to a pipe. */
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGINT, test_signal_handler);
    signal(SIGQUIT, test_signal_handler);
    signal(SIGTERM, test_signal_handler);
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
    platform_libs_open_for_module(g_module_name);
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
