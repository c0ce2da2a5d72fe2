/* cv_ptz.cpp - ptz module: presets, one movement, lens, light or wiper
 * command left running for a while, or a fixed test sequence, on the serial
 * pan-tilt-zoom head through the platform PTZ library. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "cvptz.h"
#include "debug.h"

/* Pending command that stands for the whole test sequence. */
#define PTZ_TEST_ALL 117
#define PTZ_AUTO_SCAN 21
#define PTZ_AUTO_SCAN_SECONDS 15

typedef struct PtzSettings {
    uint32_t command;
    uint32_t baudrate; /* checked, reaches no library call */
    uint32_t protocol; /* checked, reaches no library call */
    uint32_t speed1;
    uint32_t speed2;
    uint32_t delay; /* seconds each command is left running */
} PtzSettings;

/* The speeds sent are 38, whatever -S says: the library reads its own
 * scale, and -S is only checked. */
static const PtzSettings ptz_initial_settings = {PTZ_TEST_ALL, 9600, 0, 38, 38, 50};
static PtzSettings g_ptz_settings;

/* up, down, up, 2, 3, 2, upright, downright, upleft, downleft, lighton,
 * lightoff, brushon, brushoff */
static const uint32_t ptz_test_sequence[14] = {0, 1, 0, 2, 3, 2, 7, 5, 4, 6, 27, 28, 29, 30};

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t ptz_module_id = 7;

static const struct option ptz_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"delay", required_argument, nullptr, 'd'},
    {"speed", required_argument, nullptr, 'S'},
    {"baudrate", required_argument, nullptr, 'B'},
    {"protocol", required_argument, nullptr, 'P'},
    {"spreset", required_argument, nullptr, 's'},
    {"cpreset", required_argument, nullptr, 'c'},
    {"gpreset", required_argument, nullptr, 'g'},
    {"testall", no_argument, nullptr, 't'},
    {"up", no_argument, nullptr, 0},
    {"upleft", no_argument, nullptr, 4},
    {"upright", no_argument, nullptr, 7},
    {"down", no_argument, nullptr, 1},
    {"downleft", no_argument, nullptr, 6},
    {"downright", no_argument, nullptr, 5},
    {"auto", no_argument, nullptr, 21},
    {"stop", no_argument, nullptr, 32},
    {"zoomin", no_argument, nullptr, 10},
    {"zoomout", no_argument, nullptr, 11},
    {"irisin", no_argument, nullptr, 8},
    {"irisout", no_argument, nullptr, 9},
    {"focusin", no_argument, nullptr, 14},
    {"focusout", no_argument, nullptr, 15},
    {"autofocus", no_argument, nullptr, 17},
    {"rstfocus", no_argument, nullptr, 18},
    {"lightoff", no_argument, nullptr, 28},
    {"lighton", no_argument, nullptr, 27},
    {"brushoff", no_argument, nullptr, 30},
    {"brushon", no_argument, nullptr, 29},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp ptz_option_help[] = {
    {"module", "module name: ptz"},
    {"digit", "Set ptz run delay [n]s, default [5]s"},
    {"digit", "Set ptz speed percentage[0 - 100] default 50"},
    {"digit", "Set rs485 baudrate default[9600] [2400 4800 9600 19200]"},
    {"digit", "Set ptz protocol default[0], 0: PELCO_D, 1: PELCO_P"},
    {"digit", "Set ptz preset position"},
    {"digit", "Clean ptz preset position"},
    {"digit", "Goto ptz preset position"},
    {"", "PTZ test all function, default will test all"},
    {"", "PTZ run top"},
    {"", "PTZ run top left"},
    {"", "PTZ run top right"},
    {"", "PTZ run bottom "},
    {"", "PTZ run bottom left"},
    {"", "PTZ run bottom right"},
    {"", "PTZ run auto scanning"},
    {"", "PTZ stop running all"},
    {"", "PTZ run zoom in"},
    {"", "PTZ run zoom out"},
    {"", "PTZ run iris in"},
    {"", "PTZ run iris out"},
    {"", "PTZ run focus in"},
    {"", "PTZ run focus out"},
    {"", "PTZ run auto focus"},
    {"", "PTZ run reset focus"},
    {"", "PTZ run light on"},
    {"", "PTZ run light off"},
    {"", "PTZ run brush on"},
    {"", "PTZ run brush off"},
};

/* Highest code of a command option; the other options return letters. */
static const int ptz_max_command_code = 32;

static void ptz_usage(void)
{
    print_module_usage(ptz_module_id, ptz_options, ptz_option_help);
}

static int ptz_init_param(int argc, char **argv)
{
    PtzSettings *cfg = &g_ptz_settings;
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:d:S:B:P:s:c:g:t", ptz_options, nullptr)) != -1) {
        unsigned long n;
        switch (c) {
        case 'M':
            break;
        case 'd':
            n = OSA_number(optarg);
            cfg->delay = n > UINT32_MAX ? UINT32_MAX : (uint32_t)n;
            break;
        case 'S':
            /* Checked before narrowing, so 2^32 + 1 is not taken for 1. */
            n = OSA_number(optarg);
            if (n > 9) {
                report_error("Error speed!\r\n");
                return -1;
            }
            cfg->speed1 = cfg->speed2 = (uint32_t)n + 1;
            break;
        case 'B':
            n = OSA_number(optarg);
            if (n != 2400 && n != 4800 && n != 9600 && n != 19200) {
                report_error("Error baudrate!\r\n");
                return -1;
            }
            cfg->baudrate = (uint32_t)n;
            break;
        case 'P':
            n = OSA_number(optarg);
            if (n != 0 && n != 1) {
                report_error("Error procotol\r\n");
                return -1;
            }
            cfg->protocol = (uint32_t)n;
            break;
        case 's':
            pt_set_preset((int)OSA_number(optarg));
            break;
        case 'c':
            pt_remove_preset((int)OSA_number(optarg));
            break;
        case 'g':
            pt_go_preset((int)OSA_number(optarg));
            break;
        case 't':
            cfg->command = PTZ_TEST_ALL;
            break;
        default:
            if (c >= 0 && c <= ptz_max_command_code) {
                cfg->command = (uint32_t)c;
                break;
            }
            report_error("Unknow option\n");
            return -1;
        }
    }
    return 0;
}

/* Returns -1 as soon as the stop flag is seen, 0 after all the sleeps. */
static int ptz_wait(uint32_t seconds)
{
    for (uint32_t i = 0; i < seconds; i++) {
        if (g_stop_flag)
            return -1;
        OSA_sleepMsec(1000);
    }
    return 0;
}

static int ptz_test_all(void)
{
    for (uint32_t code : ptz_test_sequence) {
        pt_run((int)code);
        if (ptz_wait(g_ptz_settings.delay) < 0)
            return -1;
    }
    pt_run(PTZ_AUTO_SCAN);
    return ptz_wait(PTZ_AUTO_SCAN_SECONDS) < 0 ? -1 : 0;
}

static int ptz_test_main(int argc, char **argv)
{
    g_ptz_settings = ptz_initial_settings;
    pt_set_speed((int)g_ptz_settings.speed1, (int)g_ptz_settings.speed2);
    if (ptz_init_param(argc, argv) != 0) {
        /* The process ends with the serial link as it is. */
        ptz_usage();
        exit(-1);
    }
    if (g_ptz_settings.command == PTZ_TEST_ALL) {
        ptz_test_all();
    } else {
        pt_run((int)g_ptz_settings.command);
        ptz_wait(g_ptz_settings.delay);
    }
    pt_tty_deinit(1);
    return 0;
}

static const ModuleCall ptz_calls[] = {
    {"pt_set_speed", 0},     {"pt_run", 0},       {"pt_set_preset", 0},
    {"pt_remove_preset", 0}, {"pt_go_preset", 0}, {"pt_tty_deinit", 0},
    {nullptr, 0},
};
static ModuleDesc g_ptz_module = {"ptz", ptz_module_id, ptz_test_main, ptz_usage, nullptr, ptz_calls};
DEBUG_MODULE(g_ptz_module)
