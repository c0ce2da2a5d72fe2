/* cvwifi.h - wireless interface library of the camera platform (libcvwifi.so). */
#ifndef PLATFORM_CVWIFI_H
#define PLATFORM_CVWIFI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The settings record handed to wifi_config. Its layout is shared with the
 * library and fixed to the byte: 572 bytes, little-endian, 4-byte alignment,
 * texts NUL-terminated and zero-filled within their width. */
typedef struct WifiSettings {
    char ssid[128];          /*   0 */
    uint32_t mode;           /* 128: 0 managed, 1 ad-hoc */
    uint32_t channel;        /* 132 */
    uint32_t key_mgmt;       /* 136 */
    uint32_t auth_alg;       /* 140 */
    uint32_t group;          /* 144 */
    uint32_t encryp;         /* 148 */
    uint8_t select;          /* 152 */
    char key0[32];           /* 153 */
    char key1[32];           /* 185 */
    char key2[32];           /* 217 */
    char key3[32];           /* 249 */
    uint8_t pad0[3];         /* 281 */
    uint32_t keytype;        /* 284 */
    uint32_t pairwise;       /* 288 */
    uint32_t proto;          /* 292 */
    char psk[64];            /* 296 */
    uint8_t wps;             /* 360 */
    uint8_t wps_pbc;         /* 361 */
    uint8_t wps_pin;         /* 362 */
    char apname[64];         /* 363 */
    char pincode[17];        /* 427 */
    char ip_addr[32];        /* 444 */
    char netmask[32];        /* 476 */
    char mac_addr[32];       /* 508 */
    char ifname[32];         /* 540 */
} WifiSettings;

#define WIFI_SETTINGS_SIZE 572

#ifdef __cplusplus
static_assert(sizeof(WifiSettings) == WIFI_SETTINGS_SIZE, "WifiSettings size");
static_assert(alignof(WifiSettings) == 4, "WifiSettings alignment");
static_assert(offsetof(WifiSettings, ssid) == 0, "ssid");
static_assert(offsetof(WifiSettings, mode) == 128, "mode");
static_assert(offsetof(WifiSettings, channel) == 132, "channel");
static_assert(offsetof(WifiSettings, key_mgmt) == 136, "key_mgmt");
static_assert(offsetof(WifiSettings, auth_alg) == 140, "auth_alg");
static_assert(offsetof(WifiSettings, group) == 144, "group");
static_assert(offsetof(WifiSettings, encryp) == 148, "encryp");
static_assert(offsetof(WifiSettings, select) == 152, "select");
static_assert(offsetof(WifiSettings, key0) == 153, "key0");
static_assert(offsetof(WifiSettings, key1) == 185, "key1");
static_assert(offsetof(WifiSettings, key2) == 217, "key2");
static_assert(offsetof(WifiSettings, key3) == 249, "key3");
static_assert(offsetof(WifiSettings, pad0) == 281, "pad0");
static_assert(offsetof(WifiSettings, keytype) == 284, "keytype");
static_assert(offsetof(WifiSettings, pairwise) == 288, "pairwise");
static_assert(offsetof(WifiSettings, proto) == 292, "proto");
static_assert(offsetof(WifiSettings, psk) == 296, "psk");
static_assert(offsetof(WifiSettings, wps) == 360, "wps");
static_assert(offsetof(WifiSettings, wps_pbc) == 361, "wps_pbc");
static_assert(offsetof(WifiSettings, wps_pin) == 362, "wps_pin");
static_assert(offsetof(WifiSettings, apname) == 363, "apname");
static_assert(offsetof(WifiSettings, pincode) == 427, "pincode");
static_assert(offsetof(WifiSettings, ip_addr) == 444, "ip_addr");
static_assert(offsetof(WifiSettings, netmask) == 476, "netmask");
static_assert(offsetof(WifiSettings, mac_addr) == 508, "mac_addr");
static_assert(offsetof(WifiSettings, ifname) == 540, "ifname");
#endif

/* One access point of a scan; the list is owned by the library. */
typedef struct WifiApInfo {
    char ssid[33];
    int32_t signal;
    uint32_t channel;
    struct WifiApInfo *next;
} WifiApInfo;

int wifi_config(WifiSettings *settings);
WifiApInfo *wifi_info_scan(uint32_t mode);
int wifi_info_list_delete(WifiApInfo *list);
int wifi_print_config(void);
/* 0 link down, 1 link up, anything else: unknown. */
int wifi_get_status(void);
int wifi_print_status(void);
/* Copies the camera's WPS PIN (8 digits) into pin, which holds 9 bytes. */
int wifi_wps_get_pin(char *pin);

#ifdef __cplusplus
}
#endif

#endif
