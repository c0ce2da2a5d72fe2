/* cvwifi.cpp - stand-in for the wireless interface library. The last record
 * received by wifi_config is kept in $CAMSIM_DIR/wifi_settings.bin. */
#include "cvwifi.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "camsim.h"

int wifi_config(WifiSettings *settings)
{
    camsim_trace("wifi_config");
    if (settings)
        camsim_state_write("wifi_settings.bin", settings, sizeof *settings);
    return (int)camsim_state_long("wifi_config_result", 0);
}

WifiApInfo *wifi_info_scan(uint32_t mode)
{
    camsim_trace("wifi_info_scan %u", mode);
    static const struct {
        const char *ssid;
        int signal;
        unsigned channel;
    } found[] = {{"workshop-ap", -41, 6}, {"line3-test", -67, 11}};
    WifiApInfo *head = nullptr;
    for (int i = (int)(sizeof found / sizeof found[0]) - 1; i >= 0; i--) {
        WifiApInfo *ap = (WifiApInfo *)calloc(1, sizeof *ap);
        if (!ap)
            break;
        snprintf(ap->ssid, sizeof ap->ssid, "%s", found[i].ssid);
        ap->signal = found[i].signal;
        ap->channel = found[i].channel;
        ap->next = head;
        head = ap;
    }
    printf("scan (%s): %d access points\n", mode ? "ad-hoc" : "managed", head ? 2 : 0);
    for (WifiApInfo *ap = head; ap; ap = ap->next)
        printf("  %-32s %4d dBm  channel %u\n", ap->ssid, ap->signal, ap->channel);
    return head;
}

int wifi_info_list_delete(WifiApInfo *list)
{
    camsim_trace("wifi_info_list_delete");
    while (list) {
        WifiApInfo *next = list->next;
        free(list);
        list = next;
    }
    return 0;
}

int wifi_print_config(void)
{
    camsim_trace("wifi_print_config");
    printf("wlan0: mode managed, ssid \"Corvantex-Test\", WPA2-PSK\n");
    return 0;
}

int wifi_get_status(void)
{
    camsim_trace("wifi_get_status");
    return (int)camsim_state_long("wifi_link", 1);
}

int wifi_print_status(void)
{
    camsim_trace("wifi_print_status");
    printf("wlan0: link %s\n", camsim_state_long("wifi_link", 1) == 1 ? "up, 72 Mbit/s, -48 dBm" : "down");
    return 0;
}

int wifi_wps_get_pin(char *pin)
{
    camsim_trace("wifi_wps_get_pin");
    if (!pin)
        return -1;
    char text[64] = {0};
    if (camsim_state_text("wps_pin", text, sizeof text) != 0)
        strcpy(text, "12345670");
    /* The caller's buffer holds 8 characters and the terminator. */
    memcpy(pin, text, 8);
    pin[8] = '\0';
    return 0;
}
