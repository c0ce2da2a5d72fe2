/* cv_motor.cpp - motor module: set the P-iris duty and wait for the iris to
 * settle, then move one lens stepper motor through the stepper driver. */
#include <stdlib.h>

#include "cvsys.h"
#include "debug.h"

static StepperParam g_motor_param = {0, 0, 10};

static const unsigned long motor_max_type = 2;
static const unsigned long motor_max_dir = 3;
static const unsigned motor_max_zoom_steps = 2768;
static const unsigned motor_max_focus_steps = 6764;
static const unsigned motor_max_piris_steps = 184;
static const long motor_max_piris_duty = 184;

static const int motor_type_piris = 2;
static const uint32_t motor_piris_poll_ms = 5;
/* A driver that never reports the iris idle would otherwise keep the run
 * waiting forever; the iris settles well within this on the device. */
static const uint32_t motor_piris_wait_limit_ms = 10000;

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t motor_module_id = 9;

static const struct option motor_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"type", required_argument, nullptr, 't'},
    {"dir", required_argument, nullptr, 'd'},
    {"step", required_argument, nullptr, 's'},
    {"init", required_argument, nullptr, 'i'},
    {"piris", required_argument, nullptr, 'p'},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp motor_option_help[] = {
    {"module", "module name: motor"},
    {"digit", "motor type, default[0]:focus"},
    {"digit", "motor directory, default[0]:forward , value[0:forward]"},
    {"digit", "motor run steps, default[10]"},
    {"digit", "motor initial"},
    {"digit", "P-iris target duty"},
};

static void motor_print_help(void)
{
    OSA_mutexTake(&g_console_lock);
    printf("MOTOR arguments: \n");
    printf("type:\n");
    printf("    [0]: focus, [1]: zoom, [2]: p-iris\n");
    printf("dir:\n");
    printf("    [0]: forward, [1]: back \n");
    printf("step:\n");
    printf("    motor run steps\n");
    printf("    For zoom: max steps = %u\n", motor_max_zoom_steps);
    printf("    For focus: max steps = %u\n", motor_max_focus_steps);
    printf("    For piris: max steps = %u\n", motor_max_piris_steps);
    printf("piris:\n");
    printf("    motor set p-iris duty[0-%u].\n", (unsigned)motor_max_piris_duty);
    printf("\n");
    OSA_mutexGive(&g_console_lock);
}

static void motor_usage(void)
{
    print_module_usage(motor_module_id, motor_options, motor_option_help);
    motor_print_help();
}

/* Sets the target duty and polls until the driver reports the iris idle,
 * sleeping once before each poll. */
static void motor_set_piris(int duty)
{
    STEPPER_set_piris_duty(duty);
    uint32_t start = OSA_nowMsec();
    do {
        OSA_sleepMsec(motor_piris_poll_ms);
        if ((int32_t)(OSA_nowMsec() - start) >= (int32_t)motor_piris_wait_limit_ms) {
            report_error("P-iris still busy after %u ms, stop waiting!\n",
                         (unsigned)motor_piris_wait_limit_ms);
            return;
        }
    } while (STEPPER_check_busy(motor_type_piris) != 0);
}

static int motor_init_param(int argc, char **argv)
{
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:t:d:s:i:p:", motor_options, nullptr)) != -1) {
        switch (c) {
        case 't': {
            /* Checked before narrowing, so that 2^32 is not taken for focus. */
            unsigned long type = OSA_number(optarg);
            g_motor_param.type = (uint32_t)type;
            if (type > motor_max_type) {
                report_error("Error motor type!\n");
                return -1;
            }
            break;
        }
        case 'd': {
            unsigned long dir = OSA_number(optarg);
            g_motor_param.dir = (uint32_t)dir;
            if (dir > motor_max_dir) {
                report_error("Error motor directory!\n");
                return -1;
            }
            break;
        }
        case 's':
            g_motor_param.steps = (uint64_t)strtoull(optarg, nullptr, 0);
            break;
        case 'p': {
            long duty = strtol(optarg, nullptr, 0);
            if (duty < 0 || duty > motor_max_piris_duty) {
                report_error("Error P-iris duty!\n");
                return -1;
            }
            motor_set_piris((int)duty);
            break;
        }
        case 'i':
        case 'M':
            break;
        default:
            report_error("Unknow option\n");
            return -1;
        }
    }
    return 0;
}

static int motor_test_main(int argc, char **argv)
{
    if (motor_init_param(argc, argv) != 0) {
        motor_usage();
        exit(-1);
    }
    if (STEPPER_run(&g_motor_param) != 0)
        report_error("STEPPER_run failed! \n");
    STEPPER_close();
    return 0;
}

static const ModuleCall motor_calls[] = {
    {"STEPPER_run", 0},   {"STEPPER_check_busy", 0}, {"STEPPER_set_piris_duty", 0},
    {"STEPPER_close", 0}, {nullptr, 0},
};
static ModuleDesc g_motor_module = {"motor", motor_module_id, motor_test_main, motor_usage, nullptr,
                                    motor_calls};
DEBUG_MODULE(g_motor_module)
