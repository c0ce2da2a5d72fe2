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

/* Forms the request in drive->request; on a bad option prints the usage and
 * ends the process. */
static int pt_init_param(const PtDriveModule *drive, int argc, char **argv)
{
    DriveRequest *req = drive->request;
    int pan_step = 0, tilt_step = 0;
    int step_dir = -1; /* -1: no -s */
    int heat_pair = 0, fan_pair = 0, current_pair = 0, light_pair = 0, wie_pair = 0;
    int pwm_run = 0, pwm_idle = 0;
    int error = 0;
    int c;

    opterr = 0;
    optind = 0;
    while (!error && (c = getopt_long(argc, argv,
                                      "M:w:q:a:f:d:c:p:t:s:i:o:e:l:r:u:n:g:k:b:j:x:y:W:O:V:"
                                      "P:F:L:E:T:R:z:m:A:",
                                      pt_options, nullptr)) != -1) {
        int value = optarg ? atoi(optarg) : 0;
        switch (c) {
        case 'M':
            break;
        case 'f': pt_request(req, 100, value); break;
        case 'a': pt_request(req, 101, value); break;
        case 'd': pt_request(req, 102, value); break;
        case 'c': pt_request(req, 103, value); break;
        case 'x': pt_request(req, 105, value); break;
        case 'y': pt_request(req, 106, value); break;
        case 'i': pt_request(req, 107, value); break;
        case 'W': pt_request(req, 112, value); break;
        case 'O': pt_request(req, 113, value); break;
        case 'V': pt_request(req, 114, value); break;
        case 'P': pt_request(req, 115, value); break;
        case 'E': pt_request(req, 117, value); break;
        case 'T': pt_request(req, 119, value); break;
        case 'R': pt_request(req, 120, value); break;
        case 'z': pt_request(req, 121, value); break;
        case 'A': pt_request(req, 123, value); break;
        case 'q':
            pt_request(req, 110, value);
            printf("\n current of pan_motor=%d \n", req->param1);
            break;
        case 'w':
            pt_request(req, 111, value);
            printf("\n current of tile_motor=%d \n", req->param1);
            break;
        case 'o':
            pt_request(req, 109, 1);
            req->param2 = value;
            break;
        case 'e':
            pt_request(req, 109, 3);
            req->param2 = value;
            break;
        case 'l': req->param2 = value; heat_pair++; break;
        case 'r': req->param3 = value; heat_pair++; break;
        case 'u': req->param2 = value; fan_pair++; break;
        case 'n': req->param3 = value; fan_pair++; break;
        case 'g': req->param2 = value; current_pair++; break;
        case 'k': req->param3 = value; current_pair++; break;
        case 'F': req->param1 = value; light_pair++; break;
        case 'L': req->param2 = value; light_pair++; break;
        case PT_OPT_WIE_HID: req->param1 = value; wie_pair++; break;
        case PT_OPT_WIE_PID: req->param2 = value; wie_pair++; break;
        case 'p': pan_step = value; break;
        case 't': tilt_step = value; break;
        case 's': step_dir = value; break;
        case 'b': pwm_run = value; break;
        case 'j': pwm_idle = value; break;
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
            error = 1;
            break;
        }
    }
    if (error) {
        report_error_at(drive->source, __func__, __LINE__, "Unknow option\n");
        pt_drive_usage(drive);
        exit(-1);
    }

    /* Requests that need the whole command line, in a fixed order: a later
     * one replaces an earlier one. */
    if (step_dir != -1) {
        req->valid = 1;
        req->reserved = 0;
        req->cmd = 104;
        req->param1 = pan_step;
        if (step_dir / 10 != 0)
            req->param1 |= PT_STEP_DIR_BIT;
        req->param2 = tilt_step;
        if (step_dir % 10 != 0)
            req->param2 |= PT_STEP_DIR_BIT;
    }
    if (heat_pair == 2)
        pt_request(req, 109, 5);
    if (fan_pair == 2)
        pt_request(req, 109, 6);
    if (light_pair == 2) {
        req->valid = 1;
        req->reserved = 0;
        req->cmd = 116;
    }
    if (wie_pair == 2) {
        req->valid = 1;
        req->reserved = 0;
        req->cmd = 118;
    }
    if (current_pair == 2)
        pt_request(req, 109, 7);
    if (pwm_run != 0 && pwm_idle != 0) {
        pt_request(req, 109, 4);
        req->param2 = pwm_run & 0xFF;
        req->param3 = (pwm_run >> 8) & 0xFF;
        req->param4 = pwm_idle & 0xFF;
        req->param5 = (pwm_idle >> 8) & 0xFF;
    }
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
    pt_init_param(drive, argc, argv);
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
