/* cv_gpio.cpp - gpio module: read or write one GPIO line through the
 * platform GPIO library. */
#include <stdio.h>
#include <stdlib.h>

#include "debug.h"
#include "gpio.h"

typedef struct GpioCfg {
    int32_t operation; /* 0 read, 1 write */
    uint32_t id;
    int32_t value; /* value to write, or the value read */
    int32_t times; /* accepted, unused by the single operation */
    int32_t delay; /* accepted, unused by the single operation */
} GpioCfg;

static GpioCfg g_gpio_cfg;

static const unsigned gpio_max_write_id = 127;

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t gpio_module_id = 3;

static const struct option gpio_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"read", required_argument, nullptr, 'r'},
    {"write", required_argument, nullptr, 'w'},
    {"data", required_argument, nullptr, 'd'},
    {"time", required_argument, nullptr, 't'},
    {"delay", required_argument, nullptr, 'D'},
    {"input_config", required_argument, nullptr, 'p'},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp gpio_option_help[] = {
    {"module", "module name: gpio"},
    {"hex", "read gpio id, default[system_reset]"},
    {"hex", "write gpio id, default[system_reset]"},
    {"data", "data to written, defalut [0x0]"},
    {"digit", "gpio opration times, default 1, [-1] means no timeout"},
    {"digit", "gpio opration delay [n]s, n>0, default 1"},
    {"config", "gpio input config"},
};

static void gpio_usage(void)
{
    print_module_usage(gpio_module_id, gpio_options, gpio_option_help);
}

static int gpio_init_param(int argc, char **argv)
{
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:r:w:d:t:D:p:", gpio_options, nullptr)) != -1) {
        switch (c) {
        case 'r':
            g_gpio_cfg.operation = 0;
            g_gpio_cfg.id = (uint32_t)OSA_number(optarg);
            printf("===g_gpio_cfg(%d,%d)=======\n", g_gpio_cfg.operation, (int)g_gpio_cfg.id);
            break;
        case 'w':
        case 'p': /* input configuration has no library call yet: a write */
            g_gpio_cfg.operation = 1;
            g_gpio_cfg.id = (uint32_t)OSA_number(optarg);
            if (g_gpio_cfg.id > gpio_max_write_id) {
                report_error("gio id must <= %d\n", gpio_max_write_id);
                return -1;
            }
            break;
        case 'd':
            g_gpio_cfg.value = (int32_t)OSA_number(optarg);
            if (g_gpio_cfg.value < 0 || g_gpio_cfg.value > 2) {
                report_error("gio value must be 0/1! \n");
                return -1;
            }
            break;
        case 't':
            g_gpio_cfg.times = (int32_t)OSA_number(optarg);
            break;
        case 'D':
            g_gpio_cfg.delay = (int32_t)OSA_number(optarg);
            if (g_gpio_cfg.delay == 0) {
                report_error("gio delay time must > 0! \n");
                return -1;
            }
            break;
        case 'M':
            break;
        case '?':
            report_error("Unknow option\n");
            return -1;
        default:
            break;
        }
    }
    return 0;
}

static int gpio_do_rw(GpioCfg *cfg)
{
    switch (cfg->operation) {
    case 0:
        cfg->value = gpio_read(cfg->id);
        return 0;
    case 1:
        gpio_write(cfg->id, cfg->value);
        return 0;
    default:
        report_error("gpio_do_rw unknow opt!\n");
        return -1;
    }
}

static int gpio_test_main(int argc, char **argv)
{
    if (gpio_init_param(argc, argv) != 0) {
        gpio_usage();
        gpio_close();
        return 0;
    }
    if (gpio_do_rw(&g_gpio_cfg) != 0) {
        printf("gpio_do_rw faild!\n");
        return -1;
    }
    if (g_gpio_cfg.operation == 0)
        printf("GPIO read id = %d, data = %d\n", (int)g_gpio_cfg.id, g_gpio_cfg.value);
    else
        printf("GPIO write id = %d, data = %d\n", (int)g_gpio_cfg.id, g_gpio_cfg.value);
    gpio_close();
    return 0;
}

static void gpio_deinit(void)
{
    gpio_close();
}

static ModuleDesc g_gpio_module = {"gpio", gpio_module_id, gpio_test_main, gpio_usage, gpio_deinit};
DEBUG_MODULE(g_gpio_module)
