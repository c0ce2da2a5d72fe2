/* cv_pwm.cpp - pwm module: read or program one channel of the PWM controller
 * through the platform PWM library. */
#include <stdlib.h>
#include <string.h>

#include "debug.h"
#include "pwm.h"

typedef struct PwmSettings {
    int32_t channel;
    int32_t duty;   /* tenths of a percent */
    int32_t period; /* passed to the library unchanged */
    int32_t enable; /* only 0 has an effect: it turns the output off */
} PwmSettings;

static PwmSettings g_pwm_settings = {0, 500, 100000, 1};

enum { PWM_MODE_NONE = 0, PWM_MODE_READ = 1, PWM_MODE_WRITE = 2 };

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t pwm_module_id = 4;

static const struct option pwm_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"channel", required_argument, nullptr, 'c'},
    {"duty", required_argument, nullptr, 'd'},
    {"period", required_argument, nullptr, 'p'},
    {"enable", required_argument, nullptr, 'e'},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp pwm_option_help[] = {
    {"module", "module name: pwm"},
    {"0~PWM_MAX_CHN", "select pwm channel (default is 0)"},
    {"1~1000", "specify duty ratio (0.1% ~ 99.9%), (defalut 500)"},
    {"2~12M", "specify period, (defalut 100K)"},
    {"0~1", "enable switch."},
};

static void pwm_usage(void)
{
    print_module_usage(pwm_module_id, pwm_options, pwm_option_help);
    OSA_mutexTake(&g_console_lock);
    printf("\nNotice:\n");
    printf("\tUse lsmod to make sure pwm module has been installed.\n");
    printf("\n");
    OSA_mutexGive(&g_console_lock);
}

/* Returns the mode the options ask for (the last option decides between
 * reading and writing), or -1 after a bad option. */
static int pwm_init_param(int argc, char **argv)
{
    int mode = PWM_MODE_NONE;
    int c;
    opterr = 0;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:c:d:p:e:", pwm_options, nullptr)) != -1) {
        switch (c) {
        case 'c':
            mode = PWM_MODE_READ;
            g_pwm_settings.channel = atoi(optarg);
            if (g_pwm_settings.channel < 0) {
                report_error("Error pwm channel\n");
                return -1;
            }
            break;
        case 'd':
            mode = PWM_MODE_WRITE;
            g_pwm_settings.duty = atoi(optarg);
            if (g_pwm_settings.duty <= 0) {
                report_error("Error pwm duty\n");
                return -1;
            }
            break;
        case 'p':
            mode = PWM_MODE_WRITE;
            g_pwm_settings.period = atoi(optarg);
            if (g_pwm_settings.period <= 0) {
                report_error("Error pwm period\n");
                return -1;
            }
            break;
        case 'e':
            mode = PWM_MODE_WRITE;
            g_pwm_settings.enable = atoi(optarg);
            if (g_pwm_settings.enable == 0)
                g_pwm_settings.duty = 0;
            break;
        case 'M':
            break;
        default:
            report_error("Unknow option\n");
            return -1;
        }
    }
    return mode;
}

/* A module selection is "-M NAME" or "--module NAME" as two words, or
 * "-MNAME" or "--module=NAME" as one. Returns whether any other word follows
 * the program name. */
static int pwm_has_options(int argc, char **argv)
{
    int words = argc - 1;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if ((strcmp(arg, "-M") == 0 || strcmp(arg, "--module") == 0) && i + 1 < argc)
            return words - 2 > 0;
        if ((strncmp(arg, "-M", 2) == 0 && arg[2] != '\0') ||
            strncmp(arg, "--module=", 9) == 0)
            return words - 1 > 0;
    }
    return words > 0;
}

static int pwm_test_main(int argc, char **argv)
{
    if (!pwm_has_options(argc, argv)) {
        pwm_usage();
        return -1;
    }
    int mode = pwm_init_param(argc, argv);
    if (mode < 0) {
        pwm_usage();
        exit(-1);
    }
    switch (mode) {
    case PWM_MODE_READ:
        pwm_read(g_pwm_settings.channel);
        break;
    case PWM_MODE_WRITE:
        pwm_write(g_pwm_settings.channel, g_pwm_settings.period, g_pwm_settings.duty);
        break;
    default:
        break;
    }
    return 0;
}

static void pwm_deinit(void)
{
    pwm_close();
}

static ModuleDesc g_pwm_module = {"pwm", pwm_module_id, pwm_test_main, pwm_usage, pwm_deinit};
DEBUG_MODULE(g_pwm_module)
