/* cv_adc.cpp - adc module: reads the light-sensor ADC through the kernel's
 * industrial-I/O files and prints scaled values, or hands light-sensor
 * parameters to the light-sensor service. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "debug.h"
#include "drive_shm.h"

typedef struct AdcSettings {
    uint32_t channel; /* forced to 0: only the photodiode is read */
    int32_t times;    /* number of readings; -1 until the stop flag is set */
    uint32_t delay;   /* pause after each reading, milliseconds */
} AdcSettings;

static AdcSettings g_adc_settings = {0, -1, 1000};
static LightSensorRequest g_adc_light_request;

#define ADC_CHANNELS 3

static const char *const adc_channel_files[ADC_CHANNELS] = {
    "/sys/bus/iio/devices/iio:device0/in_voltage0_raw",
    "/sys/bus/iio/devices/iio:device0/in_voltage1_raw",
    "/sys/bus/iio/devices/iio:device0/in_voltage2_raw",
};
static const char *const adc_open_errors[ADC_CHANNELS] = {
    "open ADC_CHN_A error!!!",
    "open ADC_B_DVE_NAME error!!!",
    "open ADC_C_DVE_NAME error!!!",
};
/* Shown by the usage; a channel without one is listed as reserved. */
static const char *const adc_channel_descriptions[ADC_CHANNELS] = {
    "Photodiode AD sampling",
    nullptr,
    nullptr,
};

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t adc_module_id = 2;

static const struct option adc_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"channel", required_argument, nullptr, 'c'},
    {"times", required_argument, nullptr, 't'},
    {"delay", required_argument, nullptr, 'd'},
    {"night_ev_th", required_argument, nullptr, 'N'},
    {"day_ev_th", required_argument, nullptr, 'D'},
    {"sensitive", required_argument, nullptr, 's'},
    {"debug switch", required_argument, nullptr, 'g'},
    {"info ", no_argument, nullptr, 'i'},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp adc_option_help[] = {
    {"module", "module name: adc"},
    {"hex", "adc channel, default [4], means all"},
    {"digit", "adc read times, default [-1] means no timeout"},
    {"digit", "adc read delay [n] ms,  default [1000]ms"},
    {"0~1023", "0 is min   ,31023 is max"},
    {"0~1023", "0 is min   ,31023 is max"},
    {"0~9", "0 is min   ,9 is max"},
    {"param", "show param info"},
    {"debug switch", "0: close, 1: open"},
};

static void adc_usage(void)
{
    print_module_usage(adc_module_id, adc_options, adc_option_help);
    OSA_printf("ADC infomation descryption: \n");
    for (int ch = 0; ch < ADC_CHANNELS; ch++) {
        if (adc_channel_descriptions[ch])
            OSA_printf("channel%d: %s\n", ch, adc_channel_descriptions[ch]);
        else
            OSA_printf("channel%d: reserve\n", ch);
    }
    OSA_printf("\n");
}

/* The scaled value of one channel, or -1. */
static int32_t adc_read(uint32_t channel)
{
    if (channel >= ADC_CHANNELS) {
        printf("error channel id:%d\n", (int)channel);
        return -1;
    }
    FILE *fp = fopen(adc_channel_files[channel], "r+");
    if (!fp) {
        printf("%s\n", adc_open_errors[channel]);
        return -1;
    }
    /* The driver gives at most four digits; the fifth byte stays the
     * terminator whatever the file holds. */
    char raw[5];
    memset(raw, 0, sizeof raw);
    size_t got = fread(raw, 1, 4, fp);
    (void)got; /* a short file gives atoi of what was read */
    fclose(fp);
    return (int32_t)atoi(raw) * 580 / 1900;
}

static void adc_read_step(void)
{
    int32_t value = adc_read(g_adc_settings.channel);
    if (value < 0)
        OSA_printf("adc_read error!\n");
    OSA_printf("Adc[%d] = %d\n", (int)g_adc_settings.channel, value);
}

static int adc_init_param(int argc, char **argv)
{
    int thresholds = 0;
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:c:t:d:N:D:s:g:i", adc_options, nullptr)) != -1) {
        switch (c) {
        case 'M':
            break;
        case 'c':
            g_adc_settings.channel = (uint32_t)OSA_number(optarg);
            if (g_adc_settings.channel != 0) {
                g_adc_settings.channel = 0;
                report_error("Adc channel reset=%d\n", (int)g_adc_settings.channel);
            }
            break;
        case 't':
            g_adc_settings.times = (int32_t)OSA_number(optarg);
            break;
        case 'd':
            g_adc_settings.delay = (uint32_t)OSA_number(optarg);
            if (g_adc_settings.delay == 0) {
                report_error("Adc delay time must > 0 !\n");
                return -1;
            }
            break;
        case 'N':
            g_adc_light_request.valid = 1;
            g_adc_light_request.value = atoi(optarg);
            thresholds++;
            break;
        case 'D':
            g_adc_light_request.value2 = atoi(optarg);
            thresholds++;
            break;
        case 's':
            g_adc_light_request.valid = 1;
            g_adc_light_request.subcmd = 2;
            g_adc_light_request.value = atoi(optarg);
            break;
        case 'g':
            g_adc_light_request.valid = 1;
            g_adc_light_request.subcmd = 3;
            g_adc_light_request.value = atoi(optarg);
            break;
        case 'i':
            g_adc_light_request.valid = 1;
            g_adc_light_request.subcmd = 4;
            break;
        default:
            report_error("Unknow option\n");
            return -1;
        }
    }
    if (thresholds == 2) {
        g_adc_light_request.subcmd = 1;
        g_adc_light_request.valid = 1;
    }
    return 0;
}

static int adc_test_main(int argc, char **argv)
{
    if (adc_init_param(argc, argv) != 0) {
        adc_usage();
        return 0;
    }
    if (g_adc_light_request.valid)
        return shm_publish(LIGHT_SENSOR_SHM_KEY, sizeof(LightSensorRequest), &g_adc_light_request);
    if (g_adc_settings.times == -1) {
        while (!g_stop_flag) {
            adc_read_step();
            OSA_sleepMsec(g_adc_settings.delay);
        }
    } else {
        /* A counted run may be long too (-t 2147483647): it stops at an
         * interrupt like the endless one. Fewer reading lines than asked
         * would pass for the whole run, so the shortfall is told. */
        int32_t done = 0;
        for (; done < g_adc_settings.times && !g_stop_flag; done++) {
            adc_read_step();
            OSA_sleepMsec(g_adc_settings.delay);
        }
        if (done < g_adc_settings.times)
            report_error("stop requested after %d of %d readings\n", (int)done,
                         (int)g_adc_settings.times);
    }
    return 0;
}

static void adc_deinit(void)
{
}

static ModuleDesc g_adc_module = {"adc", adc_module_id, adc_test_main, adc_usage, adc_deinit};
DEBUG_MODULE(g_adc_module)
