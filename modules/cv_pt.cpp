/* cv_pt.cpp - pt module: turns its options into one request for the
 * pan-tilt drive board and publishes it to the drive-board service. The
 * parser and run here also serve the extdrv module (cv_extdrv.cpp). */
#include <stdio.h>
#include <stdlib.h>

#include "cv_pt.h"
#include "debug.h"

/* Option values of the two options that have no short letter. */
#define PT_OPT_WIE_HID 'G'
#define PT_OPT_WIE_PID 'Y'

/* Step direction "XY": a non-zero digit sets this bit in the step count. */
#define PT_STEP_DIR_BIT 0x800000

static const struct option pt_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"titl_i", required_argument, nullptr, 'w'},
    {"pan_i", required_argument, nullptr, 'q'},
    {"heat", required_argument, nullptr, 'a'},
    {"fan", required_argument, nullptr, 'f'},
    {"defog", required_argument, nullptr, 'd'},
    {"temp", required_argument, nullptr, 'c'},
    {"pan_param", required_argument, nullptr, 'p'},
    {"tilt_param", required_argument, nullptr, 't'},
    {"set_step", required_argument, nullptr, 's'},
    {"query_info", required_argument, nullptr, 'i'},
    {"set_corrent", required_argument, nullptr, 'o'},
    {"set_temp_ctl", required_argument, nullptr, 'e'},
    {"set_heat_open_value", required_argument, nullptr, 'l'},
    {"set_heat_close_value", required_argument, nullptr, 'r'},
    {"set_fan_open_value", required_argument, nullptr, 'u'},
    {"set_fan_close_value", required_argument, nullptr, 'n'},
    {"set_current_up_value", required_argument, nullptr, 'g'},
    {"set_current_down_value", required_argument, nullptr, 'k'},
    {"set pwm_run", required_argument, nullptr, 'b'},
    {"set pwm_idle", required_argument, nullptr, 'j'},
    {"set obj_dis", required_argument, nullptr, 'x'},
    {"set image_dis", required_argument, nullptr, 'y'},
    {"query_wiper_info", required_argument, nullptr, 'W'},
    {"calibration kv500_optical_sys", required_argument, nullptr, 'O'},
    {"query_wiper_ver", required_argument, nullptr, 'V'},
    {"query_wiper_sensor_vsn", required_argument, nullptr, 'P'},
    {"set LIGHT1", required_argument, nullptr, 'F'},
    {"set LIGHT2", required_argument, nullptr, 'L'},
    {"SELECT HAVE OR NONE ENDLINE", required_argument, nullptr, 'E'},
    {"set wie HID", required_argument, nullptr, PT_OPT_WIE_HID},
    {"set wie PID", required_argument, nullptr, PT_OPT_WIE_PID},
    {"set ext LIGHT", required_argument, nullptr, 'T'},
    {"test wiegand mode", required_argument, nullptr, 'R'},
    {"control motor run step", required_argument, nullptr, 'm'},
    {"test rs485", required_argument, nullptr, 'A'},
    {nullptr, 0, nullptr, 0},
};
/* Row 0's description names the module; the usage fills it in. The options
 * past the end of this table have no help text of their own. */
static const OptionHelp pt_option_help[] = {
    {"module", nullptr},
    {"0~31", "0 is min   ,31is max"},
    {"0~31", "0 is min   ,31is max"},
    {"0~1", "0 is close ,1 is open default:0"},
    {"0~1", "0 is close ,1 is open default:0"},
    {"0~1", "0 is close ,1 is open default:0"},
    {"0~10000", "the time_cnt for printf temp(1s)"},
    {"0~10000", "the pan_step will be set default:0"},
    {"0~10000", "the tilt_step will be set default:0"},
    {"00~11", "XY == (X=P_dir Y=T_dir) set dir and start run step"},
    {"1~10", "1==(version) 2==(oc_off) 3 = (oc_value) 4==(temp_Info)"},
    {"0~1", "0 = open 1= close"},
    {"0~1", "0 = open 1= close"},
    {"0~50", "default(28)"},
    {"0~50", "default(30)"},
    {"0~100", "real value need cut off 50 ; default(-5)"},
    {"0~100", "real value need cut off 50 ; default(-8)"},
    {"0~100", "real value need cut off 50 ; default(-5)"},
    {"0~100", "real value need cut off 50 ; default(-10)"},
    {"1200~2000", "set electric,current running"},
    {"1200~2000", "set electric,current idle"},
    {"0~10000", "set image_dis"},
    {"1200~2000", "setobj_dis"},
    {"0-1", "set test wiegand mode"},
};
static_assert(sizeof pt_option_help / sizeof pt_option_help[0] < sizeof pt_options / sizeof pt_options[0],
              "no help pair without its option");

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t pt_module_id = 20;

static DriveRequest g_pt_request;
static const PtDriveModule pt_drive = {pt_module_id, PT_SHM_KEY, "cv_pt", "module name: pt", &g_pt_request};

void pt_drive_usage(const PtDriveModule *drive)
{
    /* The printer reads as many help rows as options; the rows past the
     * help table get empty texts. */
    const size_t help_rows = sizeof pt_option_help / sizeof pt_option_help[0];
    OptionHelp help[sizeof pt_options / sizeof pt_options[0] - 1];
    for (size_t i = 0; i < sizeof help / sizeof help[0]; i++)
        help[i] = i < help_rows ? pt_option_help[i] : OptionHelp{"", ""};
    help[0].description = drive->module_help;
    print_module_usage(drive->id, pt_options, help);
}

static void pt_request(DriveRequest *req, int32_t cmd, int32_t param1)
{
    req->valid = 1;
    req->reserved = 0;
    req->cmd = cmd;
    req->param1 = param1;
}

/* Options that form a whole request on their own: the command, with the
 * option's value as its first parameter, and the line two of them print. */
static const struct {
    int option;
    int32_t cmd;
    const char *message; /* printed with the value; nullptr: nothing */
} pt_value_requests[] = {
    {'f', 100, nullptr}, {'a', 101, nullptr}, {'d', 102, nullptr}, {'c', 103, nullptr},
    {'x', 105, nullptr}, {'y', 106, nullptr}, {'i', 107, nullptr},
    {'q', 110, "\n current of pan_motor=%d \n"},
    {'w', 111, "\n current of tile_motor=%d \n"},
    {'W', 112, nullptr}, {'O', 113, nullptr}, {'V', 114, nullptr}, {'P', 115, nullptr},
    {'E', 117, nullptr}, {'T', 119, nullptr}, {'R', 120, nullptr}, {'z', 121, nullptr},
    {'A', 123, nullptr},
};

/* Requests made of two options, each giving one parameter; the request is
 * formed when its options were given twice in all (pt_finish_request). */
enum { PT_PAIR_HEAT, PT_PAIR_FAN, PT_PAIR_CURRENT, PT_PAIR_LIGHT, PT_PAIR_WIE, PT_PAIRS };
static const struct {
    int option;
    int pair;
    int32_t DriveRequest::*param;
} pt_pair_options[] = {
    {'l', PT_PAIR_HEAT, &DriveRequest::param2},    {'r', PT_PAIR_HEAT, &DriveRequest::param3},
    {'u', PT_PAIR_FAN, &DriveRequest::param2},     {'n', PT_PAIR_FAN, &DriveRequest::param3},
    {'g', PT_PAIR_CURRENT, &DriveRequest::param2}, {'k', PT_PAIR_CURRENT, &DriveRequest::param3},
    {'F', PT_PAIR_LIGHT, &DriveRequest::param1},   {'L', PT_PAIR_LIGHT, &DriveRequest::param2},
    {PT_OPT_WIE_HID, PT_PAIR_WIE, &DriveRequest::param1},
    {PT_OPT_WIE_PID, PT_PAIR_WIE, &DriveRequest::param2},
};

/* What the options leave for the requests that need the whole command line. */
typedef struct PtPending {
    int pan_step, tilt_step;
    int step_dir; /* -1: no -s */
    int pair_count[PT_PAIRS];
    int pwm_run, pwm_idle;
} PtPending;

/* 1 when option c is one of the tables' options, now applied; 0 otherwise. */
static int pt_table_option(DriveRequest *req, PtPending *pending, int c, int value)
{
    if (const auto *r = find_option_row(pt_value_requests, c)) {
        pt_request(req, r->cmd, value);
        if (r->message)
            printf(r->message, req->param1);
        return 1;
    }
    if (const auto *half = find_option_row(pt_pair_options, c)) {
        req->*half->param = value;
        pending->pair_count[half->pair]++;
        return 1;
    }
    return 0;
}

/* The requests that need the whole command line, in a fixed order: a later
 * one replaces an earlier one. */
static void pt_finish_request(DriveRequest *req, const PtPending *p)
{
    if (p->step_dir != -1) {
        req->valid = 1;
        req->reserved = 0;
        req->cmd = 104;
        req->param1 = p->pan_step;
        if (p->step_dir / 10 != 0)
            req->param1 |= PT_STEP_DIR_BIT;
        req->param2 = p->tilt_step;
        if (p->step_dir % 10 != 0)
            req->param2 |= PT_STEP_DIR_BIT;
    }
    if (p->pair_count[PT_PAIR_HEAT] == 2)
        pt_request(req, 109, 5);
    if (p->pair_count[PT_PAIR_FAN] == 2)
        pt_request(req, 109, 6);
    if (p->pair_count[PT_PAIR_LIGHT] == 2) {
        req->valid = 1;
        req->reserved = 0;
        req->cmd = 116;
    }
    if (p->pair_count[PT_PAIR_WIE] == 2) {
        req->valid = 1;
        req->reserved = 0;
        req->cmd = 118;
    }
    if (p->pair_count[PT_PAIR_CURRENT] == 2)
        pt_request(req, 109, 7);
    if (p->pwm_run != 0 && p->pwm_idle != 0) {
        pt_request(req, 109, 4);
        req->param2 = p->pwm_run & 0xFF;
        req->param3 = (p->pwm_run >> 8) & 0xFF;
        req->param4 = p->pwm_idle & 0xFF;
        req->param5 = (p->pwm_idle >> 8) & 0xFF;
    }
}

/* Forms the request in drive->request; -1 after a bad option. */
static int pt_init_param(const PtDriveModule *drive, int argc, char **argv)
{
    DriveRequest *req = drive->request;
    PtPending pending = {0, 0, -1, {}, 0, 0};
    int c;

    opterr = 0;
    optind = 0;
    while ((c = getopt_long(argc, argv,
                            "M:w:q:a:f:d:c:p:t:s:i:o:e:l:r:u:n:g:k:b:j:x:y:W:O:V:P:F:L:E:T:R:z:m:A:",
                            pt_options, nullptr)) != -1) {
        int value = optarg ? atoi(optarg) : 0;
        if (pt_table_option(req, &pending, c, value))
            continue;
        switch (c) {
        case 'M':
            break;
        case 'o':
            pt_request(req, 109, 1);
            req->param2 = value;
            break;
        case 'e':
            pt_request(req, 109, 3);
            req->param2 = value;
            break;
        case 'p': pending.pan_step = value; break;
        case 't': pending.tilt_step = value; break;
        case 's': pending.step_dir = value; break;
        case 'b': pending.pwm_run = value; break;
        case 'j': pending.pwm_idle = value; break;
        case 'm':
            /* Four values only in the exact form "-M NAME -m A B C D": the
             * other three are the command line's last three words. */
            if (argc == 8) {
                pt_request(req, 122, value);
                req->param2 = atoi(argv[argc - 3]);
                req->param3 = atoi(argv[argc - 2]);
                req->param4 = atoi(argv[argc - 1]);
            }
            break;
        default:
            report_error_at(drive->source, __func__, __LINE__, "Unknow option\n");
            return -1;
        }
    }
    pt_finish_request(req, &pending);
    return 0;
}

int pt_drive_run(const PtDriveModule *drive, int argc, char **argv)
{
    /* The framework passes "-M NAME" along: with nothing after it there is
     * no request to form. */
    if (argc <= 3) {
        pt_drive_usage(drive);
        return -1;
    }
    if (pt_init_param(drive, argc, argv) != 0) {
        pt_drive_usage(drive);
        exit(-1);
    }
    return shm_publish(drive->key, sizeof(DriveRequest), drive->request);
}

static int pt_test_main(int argc, char **argv)
{
    return pt_drive_run(&pt_drive, argc, argv);
}

static void pt_usage(void)
{
    pt_drive_usage(&pt_drive);
}

static ModuleDesc g_pt_module = {"pt", pt_module_id, pt_test_main, pt_usage, nullptr};
DEBUG_MODULE(g_pt_module)
