/* cv_ir.cpp - ir module: switch the IR-cut filter back and forth, then print
 * a dated result and append it to the guarded log shared with other programs. */
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "debug.h"
#include "gpio.h"

typedef struct IrParam {
    int32_t mode;   /* test mode 0 to 3, compared unsigned */
    uint32_t delay; /* milliseconds between two switchings */
    int32_t times;  /* switchings left; -1 means until stopped */
} IrParam;

static IrParam g_ir_param = {0, 500, 10};

static const unsigned ir_max_mode = 3;

/* Readers of the log take fixed-size records, whatever the text's length. */
#define IR_LOG_RECORD_SIZE 1024

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t ir_module_id = 15;

static const struct option ir_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"ir-led", required_argument, nullptr, 'l'},
    {"ir-cut", required_argument, nullptr, 'c'},
    {"mode", required_argument, nullptr, 'm'},
    {"time", required_argument, nullptr, 't'},
    {"delay", required_argument, nullptr, 'd'},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp ir_option_help[] = {
    {"module", "module name: IR"},
    {"hex", "set IR-led status"},
    {"hex", "set IR-cut status"},
    {"digit", "IR test mode"},
    {"digit", "IR opration times, default 10, [-1] means no timeout"},
    {"digit", "IR opration delay [n]ms, n>0, default 500"},
};

/* Indexed by the test mode. */
static const char *const ir_mode_lines[] = {
    "IR-led on, switch IR-cut ",
    "IR-led off, switch IR-cut ",
    "switch IR-cut and IR-led, on the same",
    "switch IR-cut and IR-led, diffrent each other",
};

static void ir_print_modes(void)
{
    OSA_mutexTake(&g_console_lock);
    printf("\nIR test mode: \n");
    for (unsigned i = 0; i <= ir_max_mode; i++)
        printf("%s\n", ir_mode_lines[i]);
    OSA_mutexGive(&g_console_lock);
}

static void ir_usage(void)
{
    print_module_usage(ir_module_id, ir_options, ir_option_help);
    ir_print_modes();
}

static int ir_init_param(int argc, char **argv)
{
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:l:c:m:t:d:", ir_options, nullptr)) != -1) {
        switch (c) {
        case 'm':
            g_ir_param.mode = (int32_t)OSA_number(optarg);
            if ((uint32_t)g_ir_param.mode > ir_max_mode) {
                report_error("Invalid mode value.");
                return -1;
            }
            break;
        case 't':
            g_ir_param.times = (int32_t)OSA_number(optarg);
            break;
        case 'd':
            g_ir_param.delay = (uint32_t)OSA_number(optarg);
            if (g_ir_param.delay == 0) {
                report_error("Invalid delay value.");
                return -1;
            }
            break;
        case 'l':
        case 'c':
        case 'M':
            break;
        default:
            report_error("Unknow option\n");
            return -1;
        }
    }
    return 0;
}

/* The IR-cut line is whichever GPIO the board library assigns to it. */
static void ir_set_cut(int value)
{
    gpio_write((unsigned)extGpio.ircut, value);
}

/* This device has no IR-LED output the tool drives; the test modes differ
 * only in when the hook is called. */
static void ir_set_led(int on)
{
    (void)on;
}

/* Fills text with the start date in the asctime form, line end included. */
static void ir_format_date(const time_t *when, char *text, size_t size)
{
    struct tm local;
    char date[64];
    if (!localtime_r(when, &local) || !asctime_r(&local, date)) {
        /* asctime cannot render years beyond four digits; keep the record
         * well formed instead. */
        snprintf(text, size, "?\n");
        return;
    }
    snprintf(text, size, "%s", date);
}

static int ir_test_main(int argc, char **argv)
{
    if (ir_init_param(argc, argv) != 0) {
        ir_usage();
        exit(-1);
    }

    time_t start_time = time(nullptr);
    char date[64];
    ir_format_date(&start_time, date, sizeof date);

    if (g_ir_param.mode == 0)
        ir_set_led(1);
    else if (g_ir_param.mode == 1)
        ir_set_led(0);

    /* The monotonic clock in 64 bits: a date set during the run, or an
     * endless run of more than 24 days, still gives the true duration. */
    uint64_t start = OSA_clockMsec();
    int cut = 0;
    while (!g_stop_flag && g_ir_param.times != 0) {
        /* Other negative counts run down through the 32-bit wrap, without
         * the signed overflow a plain decrement would hit. */
        if (g_ir_param.times != -1)
            g_ir_param.times = (int32_t)((uint32_t)g_ir_param.times - 1u);
        ir_set_cut(cut);
        cut = !cut;
        OSA_sleepMsec(g_ir_param.delay);
        if (g_ir_param.mode == 2)
            ir_set_led(cut);
        else if (g_ir_param.mode == 3)
            ir_set_led(!cut); /* the opposite of what mode 2 passes */
    }
    uint64_t elapsed = (OSA_clockMsec() - start) / 1000u;
    int seconds = elapsed > INT32_MAX ? INT32_MAX : (int)elapsed;

    char record[IR_LOG_RECORD_SIZE];
    memset(record, 0, sizeof record);
    snprintf(record, sizeof record, "Test date: %s\t IR-cut result: success\n\t use time: %ds \n",
             date, seconds);
    OSA_log(record, sizeof record);

    OSA_printf("\x1b[0;32mTest date: %s\t IR-cut result: success\n\t use time: %ds \n\x1b[0;39m \n",
               date, seconds);
    return 0;
}

static ModuleDesc g_ir_module = {"ir", ir_module_id, ir_test_main, ir_usage, nullptr};
DEBUG_MODULE(g_ir_module)
