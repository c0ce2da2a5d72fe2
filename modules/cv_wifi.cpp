/* cv_wifi.cpp - wifi module: fill the settings record of the wireless
 * library from the command line, make its fields agree with the chosen
 * encryption and hand it over; scan, status, link check and the camera's
 * own WPS PIN on request. */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cvwifi.h"
#include "debug.h"

/* The record the library receives. Fields without an option (addresses and
 * interface name) reach it as they stand here. */
static WifiSettings g_wifi_settings = {
    "Corvantex-Test",             /* ssid */
    0,                            /* mode: managed */
    2442,                         /* channel: channel 7 given as MHz */
    2,                            /* key_mgmt: WPA-PSK */
    0,                            /* auth_alg: OPEN */
    5,                            /* group: WPA */
    8,                            /* encryp: WPS */
    0,                            /* select */
    "52871",                      /* key0: ASCII */
    "4a6b2c9d1e",                 /* key1: HEX */
    "7305918264452",              /* key2: ASCII */
    "5f1e8a2b7c3d9e0f4a6b1c2d3e", /* key3: HEX */
    {0, 0, 0},                    /* pad0 */
    1,                            /* keytype: ASCII */
    3,                            /* pairwise: AUTO */
    2,                            /* proto: AUTO */
    "pelmatrix",                  /* psk */
    1,                            /* wps: PBC */
    1,                            /* wps_pbc */
    0,                            /* wps_pin */
    "Corvantex-Test",             /* apname */
    "40617293",                   /* pincode */
    "192.168.0.190",              /* ip_addr */
    "255.255.255.0",              /* netmask */
    "02:1c:5e:40:7a:19",          /* mac_addr */
    "wlan0",                      /* ifname */
};

/* Set by an accepted -e or by --wps 1/2: only then is the record handed to
 * the library. */
static int config_requested = 0;

/* getopt_long values of the options without a letter: small numbers that
 * are not letters, so the usage printer shows four blanks for them. */
enum {
    WIFI_OPT_AUTH_ALG = 1,
    WIFI_OPT_KEY_MGMT,
    WIFI_OPT_GROUP,
    WIFI_OPT_SSID,
    WIFI_OPT_SELECT,
    WIFI_OPT_KEY0,
    WIFI_OPT_KEY1,
    WIFI_OPT_KEY2,
    WIFI_OPT_KEY3,
    WIFI_OPT_KEYTYPE,
    WIFI_OPT_PAIRWISE,
    WIFI_OPT_PROTO,
    WIFI_OPT_PSK,
    WIFI_OPT_WPS,
    WIFI_OPT_APNAME,
    WIFI_OPT_PINCODE,
    WIFI_OPT_SCAN,
    WIFI_OPT_STATUS,
    WIFI_OPT_LINK,
};

/* Its place in the module table, and the name its usage is printed under. */
static const uint8_t wifi_module_id = 18;

static const struct option wifi_options[] = {
    {"module", required_argument, nullptr, 'M'},
    {"mode", required_argument, nullptr, 'm'},
    {"encryp", required_argument, nullptr, 'e'},
    {"channel", required_argument, nullptr, 'c'},
    {"auth_alg", required_argument, nullptr, WIFI_OPT_AUTH_ALG},
    {"key_mgmt", required_argument, nullptr, WIFI_OPT_KEY_MGMT},
    {"group", required_argument, nullptr, WIFI_OPT_GROUP},
    {"ssid", required_argument, nullptr, WIFI_OPT_SSID},
    {"select", required_argument, nullptr, WIFI_OPT_SELECT},
    {"key0", required_argument, nullptr, WIFI_OPT_KEY0},
    {"key1", required_argument, nullptr, WIFI_OPT_KEY1},
    {"key2", required_argument, nullptr, WIFI_OPT_KEY2},
    {"key3", required_argument, nullptr, WIFI_OPT_KEY3},
    {"keytype", required_argument, nullptr, WIFI_OPT_KEYTYPE},
    {"pairwise", required_argument, nullptr, WIFI_OPT_PAIRWISE},
    {"proto", required_argument, nullptr, WIFI_OPT_PROTO},
    {"psk", required_argument, nullptr, WIFI_OPT_PSK},
    {"wps", required_argument, nullptr, WIFI_OPT_WPS},
    {"apname", required_argument, nullptr, WIFI_OPT_APNAME},
    {"pincode", required_argument, nullptr, WIFI_OPT_PINCODE},
    {"scan", no_argument, nullptr, WIFI_OPT_SCAN},
    {"status", no_argument, nullptr, WIFI_OPT_STATUS},
    {"link", no_argument, nullptr, WIFI_OPT_LINK},
    {nullptr, 0, nullptr, 0},
};
static const OptionHelp wifi_option_help[] = {
    {"module", "module name: wifi"},
    {"digit", "wifi work mode default [0:manage]"},
    {"str", "wifi encryption type default[4:wpa-wpa2-psk]"},
    {"digit", "wifi work channel, default [7]:2.442GHZ"},
    {"digit", "wifi auth_alg, default[0:OPEN]"},
    {"digit", "wifi key_mgmt, default[2:PSK]"},
    {"digit", "wifi group, default[5:WPA]"},
    {"str", "wifi ssid name, default[Corvantex-Test]"},
    {"digit", "wifi wep key select, default[0]"},
    {"str", "wifi wep key0, default [52871(ASCII)]"},
    {"str", "wifi wep key1, default [4a6b2c9d1e(HEX)]"},
    {"str", "wifi wep key2, default [7305918264452(ASCII)]"},
    {"str", "wifi wep key3, default [5f1e8a2b7c3d9e0f4a6b1c2d3e(HEX)]"},
    {"dight", "wifi wep key type, default[1:ASCII]"},
    {"dight", "wifi wpa pairwise, default[3:AUTO]"},
    {"dight", "wifi wpa proto, default[2:AUTO]"},
    {"pskkey", "wifi wpa psk key, default[pelmatrix]"},
    {"digit", "wifi wps type, default[1: PBC]"},
    {"str", "wifi wps appin AP name, default[Corvantex-Test]"},
    {"str", "wifi wps appin AP pincode, default[40617293]"},
    {"", "wifi scan AP infromation"},
    {"", "wifi get current work information"},
    {"", "wifi check device link up/down"},
};

static const char *const wifi_description[] = {
    "Wifi configure descryption: ",
    "common config:",
    "    encryp=default[4:wpa-wpa2-psk]",
    "        [0]open: open mode, no encrypeted",
    "        [1]wep: wep encryption",
    "        [2]wpa-psk: WPA1 persional key",
    "        [3]wpa2-psk: WPA2 persional key",
    "        [4]wpa+wpa2-psk: WPA1+WPA2 persional key",
    "        [5]wpa-eap: WPA1 EPA encryption",
    "        [6]wpa2-eap: WPA2 EPA encryption",
    "        [7]wpa+wpa2-eap: WPA1+WPA2 EPA encryption",
    "        [8]wps: Wi-Fi Protected Setup, auto connect to Wi-Fi",
    "    mode=default[0:manage]",
    "        [0]: manage, [1]: ad-hoc",
    "    channel=default[7(2.442GHZ)]",
    "        [1(2.412GHZ)-14(2.484GHZ)], (step 0.005GHZ)",
    "    key_mgmt=default[2:WPA-PSK]",
    "        [0]NONE: for WEP or Ad-hoc open/wep encryption mode",
    "        [1]IEEE8021X: for ieee8021x]",
    "        [2]WPA-PSK: for WPA personal",
    "        [3]WPA-EAP: for WPA enterprise",
    "        [4]WPA-NONE: for Ad-hoc WPA encryption mode",
    "        [5]ALL: for all [NONE IEEE8021X WPA-PSK WPA-EAP]",
    "    auth_alg=default[0:OPEN]",
    "        [0]: OPEN, Open System authentication (required for WPA/WPA2)",
    "        [1]: Shared Key authentication (requires static WEP keys)",
    "        [2]: LEAP/Network EAP (only used with LEAP)",
    "    group=default[5:WPA]",
    "        [0]: CCMP/AES, [1]: TKIP, [2]:WEP104, [3]:WEP40",
    "        [5]: WEP, [6]: WPA, [7]:ALL",
    "    ssid:=default[Corvantex-Test]\n",
    "WEP config:",
    "    select=default[0]",
    "        [n]: use WEP[n] as wep encrption key value",
    "    key0=default[52871(ASCII)]",
    "    key1=default[4a6b2c9d1e(HEX)]",
    "    key2=default[7305918264452(ASCII)]",
    "    key3=default[5f1e8a2b7c3d9e0f4a6b1c2d3e(HEX)]",
    "        keyn: the key of WEP encryption, length based on keytype",
    "    keytype=default[1:ASCII]",
    "        [0]HEX: keyn length must be 10 or 26",
    "        [1]ASCII: keyn length must be 5 or 13\n",
    "WPA personal config:",
    "    pairwise=default[3:AUTO]",
    "        [0]NONE: Use only Group Keys, use in ad-hoc mode",
    "        [1]TKIP: Temporal Key Integrity Protocol [IEEE 802.11i/D7.0]",
    "        [2]CCMP: AES in Counter mode with CBC-MAC [RFC 3610, IEEE 802.11i/D7.0]",
    "        [3]AUTO: TKIP+CCMP",
    "    proto=default[2:AUTO]",
    "        [0]WPA: [WPA] WPA-TKIP",
    "        [1]RSN: [RSN] WPA2-AES/CCMP",
    "        [2]AUTO: [WPA RSN] WPA-TKIP + WPA2-AES/CCMP\n",
    "WPA EAP config:",
    "        reserverd!\n",
    "WPS config:",
    "    wps=default[0:slave mode]",
    "        [0]master mode: create pin code, then use Wi-Fi to connect IPC-wifi",
    "        [1]PBC mode: PushButton Connection mode",
    "        [2]slave mode: use Wi-Fi pin code and AP name to connect to Wi-Fi",
    "        apname=default[Corvantex-Test]",
    "            apname: It's used to get Wi-Fi MAC to run WPS",
    "        pincode=default[40617293]",
    "            pincode: Wi-Fi WPS pin code value!\n",
};

static const char *const wifi_examples[] = {
    "WIFI use example:",
    "Encryp=[0:OPEN], command line:",
    "    1: manage mode",
    "        debug -M wifi -e 0 -m 0 --ssid [...] ",
    "    2: ad-hoc mode",
    "        debug -M wifi -e 0 -m 1 -c [n(1-14)] --ssid [...] ",
    "Encryp=[1:WEP], command line:",
    "    1: manage mode",
    "        debug -M wifi -e 1 -m 0 --ssid [...] --select 0 --key0 [...] ",
    "    2: ad-hoc mode",
    "        debug -M wifi -e 1 -m 1 -c [n(1-14)] --ssid [...] --select 0 --key0 [...] ",
    "Encryp=[2:WPA-PSK], command line:",
    "    1: manage mode + TKIP",
    "        debug -M wifi -e 2 -m 0 --ssid [...] --psk [...] --pairwise 1 ",
    "    2: manage mode + CCMP/AES",
    "        debug -M wifi -e 2 -m 0 --ssid [...] --psk [...] --pairwise 2 ",
    "    3: manage mode + TKIP+CCMP/AES",
    "        debug -M wifi -e 2 -m 0 --ssid [...] --psk [...] --pairwise 3 ",
    "    4: ad-hoc mode + TKIP",
    "        debug -M wifi -e 2 -m 1 -c [n(1-14)] --ssid [...] --psk [...] --group  1 ",
    "    5: ad-hoc mode + CCMP/AES",
    "        debug -M wifi -e 2 -m 1 -c [n(1-14)] --ssid [...] --psk [...] --group  0 ",
    "Encryp=[3:WPA2-PSK], command line:",
    "    1: manage mode + TKIP",
    "        debug -M wifi -e 3 -m 0 --ssid [...] --psk [...] --pairwise 1 ",
    "    2: manage mode + CCMP/AES",
    "        debug -M wifi -e 3 -m 0 --ssid [...] --psk [...] --pairwise 2 ",
    "    3: manage mode + TKIP+CCMP/AES",
    "        debug -M wifi -e 3 -m 0 --ssid [...] --psk [...] --pairwise 3 ",
    "Encryp=[4:WPA+WPA2-PSK], command line:",
    "    1: manage mode + TKIP",
    "        debug -M wifi -e 4 -m 0 --ssid [...] --psk [...] --pairwise 1 ",
    "    2: manage mode + CCMP/AES",
    "        debug -M wifi -e 4 -m 0 --ssid [...] --psk [...] --pairwise 2 ",
    "    3: manage mode + TKIP+CCMP/AES",
    "        debug -M wifi -e 4 -m 0 --ssid [...] --psk [...] --pairwise 3 ",
    "Encryp=[8:WPS], command line:",
    "    1: master mode, use Wi-Fi to connect IPC-wifi",
    "        debug -M wifi --wps 0 ",
    "    2: PushButton mode, use Wi-Fi WPS-Button and IPC WPS-Button",
    "        debug -M wifi --wps 1 ",
    "    3: slave mode, IPC-wifi connect to Wi-Fi",
    "        debug -M wifi --wps 2 --apname [...] --pincode [...] ",
};

/* Each line under the lock on its own, so other output may fall between. */
static void wifi_print_lines(const char *const *lines, size_t count)
{
    for (size_t i = 0; i < count; i++)
        OSA_printf("%s\n", lines[i]);
}

static void wifi_print_description(void)
{
    wifi_print_lines(wifi_description, sizeof wifi_description / sizeof wifi_description[0]);
}

static void wifi_print_examples(void)
{
    wifi_print_lines(wifi_examples, sizeof wifi_examples / sizeof wifi_examples[0]);
}

static void wifi_usage(void)
{
    print_module_usage(wifi_module_id, wifi_options, wifi_option_help);
    wifi_print_description();
    wifi_print_examples();
}

/* Copies text into a field of width bytes, keeping at most keep characters
 * and zero-filling the rest; returns the stored length. */
static size_t wifi_store_text(char *field, size_t width, size_t keep, const char *text)
{
    memset(field, 0, width);
    size_t len = strnlen(text, keep);
    memcpy(field, text, len);
    return len;
}

static int wifi_key_length_valid(size_t len)
{
    return len == 5 || len == 10 || len == 13 || len == 26;
}

/* The -e word forms, compared in this order; group and auth_alg of -1 are
 * left as they are. */
static const struct {
    const char *upper;
    const char *lower;
    uint32_t encryp;
    int32_t group;
    int32_t auth_alg;
} wifi_encryp_words[] = {
    {"WPA-PSK", "wpa-psk", 2, 1, -1},
    {"WPA2-PSK", "wpa2-psk", 3, 0, -1},
    {"WPA+WPA2-PSK", "wpa+wpa2-psk", 4, 5, -1},
    {"WEP40-OPEN", "wep40-open", 1, 3, 0},
    {"WEP40-SHARED", "wep40-shared", 1, 3, 1},
    {"WEP104-OPEN", "wep104-open", 1, 2, 0},
    {"WEP104-SHARED", "wep104-shared", 1, 2, 1},
    {"OPEN", "open", 0, -1, -1},
};

static void wifi_set_encryp(WifiSettings *s, const char *text)
{
    for (size_t i = 0; i < sizeof wifi_encryp_words / sizeof wifi_encryp_words[0]; i++) {
        if (strcmp(text, wifi_encryp_words[i].upper) != 0 &&
            strcmp(text, wifi_encryp_words[i].lower) != 0)
            continue;
        s->encryp = wifi_encryp_words[i].encryp;
        if (wifi_encryp_words[i].group >= 0)
            s->group = (uint32_t)wifi_encryp_words[i].group;
        if (wifi_encryp_words[i].auth_alg >= 0)
            s->auth_alg = (uint32_t)wifi_encryp_words[i].auth_alg;
        return;
    }
    s->encryp = (uint32_t)OSA_number(text);
}

static uint32_t wifi_mode_value(const char *text)
{
    if (strcmp(text, "ad-hoc") == 0 || strcmp(text, "AD-HOC") == 0)
        return 1;
    if (strcmp(text, "managed") == 0 || strcmp(text, "MANAGED") == 0)
        return 0;
    return (uint32_t)OSA_number(text);
}

static void wifi_scan(void)
{
    WifiApInfo *list = wifi_info_scan(g_wifi_settings.mode);
    wifi_info_list_delete(list);
}

static void wifi_link(void)
{
    int state = wifi_get_status();
    if (state == 0)
        OSA_printf("Wifi link down!\n");
    else if (state == 1)
        OSA_printf("Wifi link up!\n");
    else
        OSA_printf("Wifi can't check link status!\n");
    wifi_print_status();
}

static void wifi_print_pin(void)
{
    char pin[9];
    memset(pin, 0, sizeof pin);
    wifi_wps_get_pin(pin);
    /* The library owns what it writes; the text must still end inside. */
    pin[sizeof pin - 1] = '\0';
    OSA_printf("Get IPC-wifi pin code = %s \n", pin);
}

/* Options that store a number in a field and refuse one outside [min, max];
 * the message is printed with the two bounds. */
static const struct {
    int option;
    uint32_t WifiSettings::*field;
    uint32_t (*read)(const char *text); /* nullptr: a plain number */
    uint32_t min, max;
    const char *message;
} wifi_number_options[] = {
    {'m', &WifiSettings::mode, wifi_mode_value, 0, 1, "Error wifi mode, must be[%d-%d]\n"},
    {'c', &WifiSettings::channel, nullptr, 1, 14, "Error wifi freq, must be[%d-%d]\n"},
    {WIFI_OPT_AUTH_ALG, &WifiSettings::auth_alg, nullptr, 0, 2, "Error wifi auth_alg, must be[%d-%d]\n"},
    {WIFI_OPT_KEY_MGMT, &WifiSettings::key_mgmt, nullptr, 0, 5, "Error wifi key_mgmt, must be[%d-%d]\n"},
    {WIFI_OPT_GROUP, &WifiSettings::group, nullptr, 0, 6, "Error wifi group, must be[%d-%d]\n"},
    {WIFI_OPT_KEYTYPE, &WifiSettings::keytype, nullptr, 0, 1, "Error wifi wep keyType, must be [%d-%d]\n"},
    {WIFI_OPT_PAIRWISE, &WifiSettings::pairwise, nullptr, 0, 3, "Error wifi wpa pairwise, must be [%d-%d]\n"},
    {WIFI_OPT_PROTO, &WifiSettings::proto, nullptr, 0, 2, "Error wifi wpa proto, must be [%d-%d]\n"},
};

static int wifi_text_not_empty(size_t len) { return len > 0; }
static int wifi_psk_length_valid(size_t len) { return len >= 8; }
static int wifi_pin_length_valid(size_t len) { return len == 8; }

#define WIFI_TEXT_FIELD(name) offsetof(WifiSettings, name), sizeof(WifiSettings::name)

/* Options that copy a text into a field, keeping at most keep characters
 * (0: as many as the field holds before its terminator), and refuse it when
 * the length kept is not accepted. */
static const struct {
    int option;
    size_t offset, width, keep;
    int (*length_ok)(size_t len);
    const char *message;
} wifi_text_options[] = {
    {WIFI_OPT_SSID, WIFI_TEXT_FIELD(ssid), 0, wifi_text_not_empty, "Error wifi ssid length, must > 0!\n"},
    {WIFI_OPT_KEY0, WIFI_TEXT_FIELD(key0), 0, wifi_key_length_valid, "Error wifi wep key0, must be [5,10,13,26]\n"},
    {WIFI_OPT_KEY1, WIFI_TEXT_FIELD(key1), 0, wifi_key_length_valid, "Error wifi wep key1, must be [5,10,13,26]\n"},
    {WIFI_OPT_KEY2, WIFI_TEXT_FIELD(key2), 0, wifi_key_length_valid, "Error wifi wep key2, must be [5,10,13,26]\n"},
    {WIFI_OPT_KEY3, WIFI_TEXT_FIELD(key3), 0, wifi_key_length_valid, "Error wifi wep key3, must be [5,10,13,26]\n"},
    {WIFI_OPT_PSK, WIFI_TEXT_FIELD(psk), 0, wifi_psk_length_valid, "Error wifi wpa psk_key length, must be [8-63]\n"},
    {WIFI_OPT_APNAME, WIFI_TEXT_FIELD(apname), 0, wifi_text_not_empty,
     "Error wifi WPS PinAP SSID length, must be [1-63]\n"},
    /* Nine characters are enough to tell a too-long PIN from a good one;
     * the field is wider than any PIN. */
    {WIFI_OPT_PINCODE, WIFI_TEXT_FIELD(pincode), 9, wifi_pin_length_valid,
     "Error wifi WPS PinAP PinCode length, must be 8\n"},
};

/* --wps: 0 prints the camera's PIN, 1 and 2 ask for a configuration in
 * push-button or PIN mode; -1 for any other type. */
static int wifi_set_wps(WifiSettings *s, const char *text)
{
    s->encryp = 8;
    s->wps = (uint8_t)OSA_number(text);
    if (s->wps == 0) {
        wifi_print_pin();
    } else if (s->wps == 1) {
        s->wps_pbc = 1;
        config_requested = 1;
    } else if (s->wps == 2) {
        s->wps_pin = 1;
        config_requested = 1;
    } else {
        return -1;
    }
    return 0;
}

static int wifi_init_param(int argc, char **argv)
{
    WifiSettings *s = &g_wifi_settings;
    int c;
    optind = 0;
    while ((c = getopt_long(argc, argv, "M:m:e:c:", wifi_options, nullptr)) != -1) {
        if (const auto *number = find_option_row(wifi_number_options, c)) {
            uint32_t value = number->read ? number->read(optarg) : (uint32_t)OSA_number(optarg);
            s->*number->field = value;
            if (value < number->min || value > number->max) {
                report_error(number->message, (int)number->min, (int)number->max);
                return -1;
            }
            continue;
        }
        if (const auto *text = find_option_row(wifi_text_options, c)) {
            size_t keep = text->keep ? text->keep : text->width - 1;
            if (!text->length_ok(wifi_store_text((char *)s + text->offset, text->width, keep, optarg))) {
                report_error("%s", text->message);
                return -1;
            }
            continue;
        }
        switch (c) {
        case 'M':
            break;
        case 'e':
            wifi_set_encryp(s, optarg);
            if (s->encryp > 8) {
                report_error("Error wifi encryption, must be[%d-%d]\n", 0, 8);
                return -1;
            }
            config_requested = 1;
            break;
        case WIFI_OPT_SELECT:
            s->select = (uint8_t)OSA_number(optarg);
            if (s->select > 3) {
                report_error("Error wifi wep index, must be [0-3]\n");
                return -1;
            }
            break;
        case WIFI_OPT_WPS:
            if (wifi_set_wps(s, optarg) != 0) {
                report_error("Error WPS type must be [%d-%d]!\n", 0, 2);
                return -1;
            }
            break;
        case WIFI_OPT_SCAN:
            wifi_scan();
            break;
        case WIFI_OPT_STATUS:
            wifi_print_config();
            break;
        case WIFI_OPT_LINK:
            wifi_link();
            break;
        default: /* '?': unknown, or its argument is missing */
            report_error("Unknow option\n");
            return -1;
        }
    }
    return 0;
}

static int wifi_derive_settings(void)
{
    WifiSettings *s = &g_wifi_settings;
    if (s->encryp == 1) {
        const char *keys[] = {s->key0, s->key1, s->key2, s->key3};
        /* select is 0 to 3 once parsing has accepted it. */
        size_t len = strnlen(keys[s->select & 3], sizeof s->key0);
        if (len == 5) {
            s->keytype = 1;
            s->group = 3;
        } else if (len == 13) {
            s->keytype = 1;
            s->group = 2;
        } else if (len == 10) {
            s->keytype = 0;
            s->group = 3;
        } else if (len == 26) {
            s->keytype = 0;
            s->group = 2;
        }
    }
    if (s->encryp == 2)
        s->proto = 0;
    else if (s->encryp == 3)
        s->proto = 1;
    else if (s->encryp == 4)
        s->proto = 2;
    if (s->encryp >= 2 && s->encryp <= 4) {
        if (s->pairwise == 1)
            s->group = 1;
        else if (s->pairwise == 2)
            s->group = 0;
        else
            s->group = 5;
    }
    return 0;
}

static int wifi_test_main(int argc, char **argv)
{
    if (wifi_init_param(argc, argv) != 0) {
        wifi_usage();
        exit(-1);
    }
    wifi_derive_settings();
    if (config_requested && wifi_config(&g_wifi_settings) != 0)
        report_error("wifi config has error!\n");
    return 0;
}

static const ModuleCall wifi_calls[] = {
    {"wifi_config", 0},     {"wifi_info_scan", 0},    {"wifi_info_list_delete", 0},
    {"wifi_print_config", 0}, {"wifi_get_status", 0}, {"wifi_print_status", 0},
    {"wifi_wps_get_pin", 0},  {nullptr, 0},
};
static ModuleDesc g_wifi_module = {"wifi", wifi_module_id, wifi_test_main, wifi_usage, nullptr, wifi_calls};
DEBUG_MODULE(g_wifi_module)
