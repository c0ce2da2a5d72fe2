// wifi_test.cpp - the wifi module run in the simulated camera: the settings
// record the Wi-Fi library receives (decoded field by field from the copy the
// stand-in keeps), validation messages, immediate actions and the usage.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

// Byte offsets of the settings record shared with the Wi-Fi library.
enum WifiField : size_t {
    SSID = 0, MODE = 128, CHANNEL = 132, KEY_MGMT = 136, AUTH_ALG = 140, GROUP = 144,
    ENCRYP = 148, SELECT = 152, KEY0 = 153, KEY1 = 185, KEY2 = 217, KEY3 = 249, PAD = 281,
    KEYTYPE = 284, PAIRWISE = 288, PROTO = 292, PSK = 296, WPS = 360, WPS_PBC = 361,
    WPS_PIN = 362, APNAME = 363, PINCODE = 427, IP_ADDR = 444, NETMASK = 476,
    MAC_ADDR = 508, IFNAME = 540,
};
const size_t kRecordSize = 572;

struct WifiRecord {
    std::string raw;

    uint8_t u8(size_t off) const { return (uint8_t)raw.at(off); }
    uint32_t u32(size_t off) const
    {
        return (uint32_t)u8(off) | (uint32_t)u8(off + 1) << 8 | (uint32_t)u8(off + 2) << 16 |
               (uint32_t)u8(off + 3) << 24;
    }
    // The text of a field; fails the test unless it is NUL-terminated within
    // the width and every byte behind it is zero.
    std::string text(size_t off, size_t width) const
    {
        std::string field = raw.substr(off, width);
        size_t nul = field.find('\0');
        EXPECT_NE(nul, std::string::npos) << "field at " << off << " has no terminator";
        if (nul == std::string::npos)
            return field;
        EXPECT_EQ(field.find_first_not_of('\0', nul), std::string::npos)
            << "field at " << off << " is not zero-filled behind its text";
        return field.substr(0, nul);
    }
};

// Runs the module with options that must be accepted and configure, and
// hands back the record the library received.
WifiRecord configured(const Camsim &cam, const std::vector<std::string> &options)
{
    remove((cam.dir() + "/wifi_settings.bin").c_str());
    CamsimResult r = cam.module("wifi", options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(cam.has_file("wifi_settings.bin")) << "wifi_config was not called";
    WifiRecord rec;
    rec.raw = cam.has_file("wifi_settings.bin") ? cam.read_file("wifi_settings.bin") : "";
    EXPECT_EQ(rec.raw.size(), kRecordSize);
    rec.raw.resize(kRecordSize, '\0');
    return rec;
}

std::vector<std::string> wifi_calls(const Camsim &cam)
{
    std::vector<std::string> out;
    for (const std::string &line : cam.calls())
        if (line.compare(0, 5, "wifi_") == 0)
            out.push_back(line);
    return out;
}

// The usage: option table, descriptive help, examples.
const std::string kUsage = module_usage("wifi");

} // namespace

TEST(Wifi, RecordKeepsInitialValuesOfFieldsNoOptionChanged)
{
    Camsim cam;
    WifiRecord rec = configured(cam, {"-e", "0"});
    EXPECT_EQ(rec.text(SSID, 128), "Corvantex-Test");
    EXPECT_EQ(rec.u32(MODE), 0u);
    EXPECT_EQ(rec.u32(CHANNEL), 2442u);
    EXPECT_EQ(rec.u32(KEY_MGMT), 2u);
    EXPECT_EQ(rec.u32(AUTH_ALG), 0u);
    EXPECT_EQ(rec.u32(GROUP), 5u);
    EXPECT_EQ(rec.u32(ENCRYP), 0u);
    EXPECT_EQ(rec.u8(SELECT), 0u);
    EXPECT_EQ(rec.text(KEY0, 32), "52871");
    EXPECT_EQ(rec.text(KEY1, 32), "4a6b2c9d1e");
    EXPECT_EQ(rec.text(KEY2, 32), "7305918264452");
    EXPECT_EQ(rec.text(KEY3, 32), "5f1e8a2b7c3d9e0f4a6b1c2d3e");
    EXPECT_EQ(rec.raw.substr(PAD, 3), std::string(3, '\0'));
    EXPECT_EQ(rec.u32(KEYTYPE), 1u);
    EXPECT_EQ(rec.u32(PAIRWISE), 3u);
    EXPECT_EQ(rec.u32(PROTO), 2u);
    EXPECT_EQ(rec.text(PSK, 64), "pelmatrix");
    EXPECT_EQ(rec.u8(WPS), 1u);
    EXPECT_EQ(rec.u8(WPS_PBC), 1u);
    EXPECT_EQ(rec.u8(WPS_PIN), 0u);
    EXPECT_EQ(rec.text(APNAME, 64), "Corvantex-Test");
    EXPECT_EQ(rec.text(PINCODE, 17), "40617293");
    EXPECT_EQ(rec.text(IP_ADDR, 32), "192.168.0.190");
    EXPECT_EQ(rec.text(NETMASK, 32), "255.255.255.0");
    std::string mac = rec.text(MAC_ADDR, 32);
    ASSERT_EQ(mac.size(), 17u) << mac;
    for (size_t i = 0; i < mac.size(); i++) {
        if (i % 3 == 2)
            EXPECT_EQ(mac[i], ':') << mac;
        else
            EXPECT_TRUE(isdigit((unsigned char)mac[i]) || (mac[i] >= 'a' && mac[i] <= 'f')) << mac;
    }
    EXPECT_EQ(rec.text(IFNAME, 32), "wlan0");
}

TEST(Wifi, EncrypWordFormsSetTheirFieldsBeforeDerivation)
{
    // Given before -e, so that what the word leaves alone stays visible.
    const std::vector<std::string> before = {"--auth_alg", "2", "--group", "6", "--proto", "1",
                                             "--keytype", "0"};
    struct Case {
        const char *word;
        uint32_t encryp, group, auth_alg, proto, keytype;
    } cases[] = {
        // WPA words: derivation sets proto, and group from pairwise AUTO.
        {"WPA-PSK", 2, 5, 2, 0, 0},
        {"wpa-psk", 2, 5, 2, 0, 0},
        {"WPA2-PSK", 3, 5, 2, 1, 0},
        {"wpa2-psk", 3, 5, 2, 1, 0},
        {"WPA+WPA2-PSK", 4, 5, 2, 2, 0},
        {"wpa+wpa2-psk", 4, 5, 2, 2, 0},
        // WEP words: the 5-character key0 then decides group 3 and ASCII.
        {"WEP40-OPEN", 1, 3, 0, 1, 1},
        {"wep40-open", 1, 3, 0, 1, 1},
        {"WEP40-SHARED", 1, 3, 1, 1, 1},
        {"wep40-shared", 1, 3, 1, 1, 1},
        {"WEP104-OPEN", 1, 3, 0, 1, 1},
        {"wep104-open", 1, 3, 0, 1, 1},
        {"WEP104-SHARED", 1, 3, 1, 1, 1},
        {"wep104-shared", 1, 3, 1, 1, 1},
        {"open", 0, 6, 2, 1, 0},
        {"OPEN", 0, 6, 2, 1, 0},
        // Other spellings read as numbers.
        {"Open", 0, 6, 2, 1, 0},
        {"wps", 0, 6, 2, 1, 0},
        {"0x4", 4, 5, 2, 2, 0},
        {"010", 8, 6, 2, 1, 0},
        {"6", 6, 6, 2, 1, 0},
    };
    Camsim cam;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word);
        std::vector<std::string> options = before;
        options.push_back("-e");
        options.push_back(c.word);
        WifiRecord rec = configured(cam, options);
        EXPECT_EQ(rec.u32(ENCRYP), c.encryp);
        EXPECT_EQ(rec.u32(GROUP), c.group);
        EXPECT_EQ(rec.u32(AUTH_ALG), c.auth_alg);
        EXPECT_EQ(rec.u32(PROTO), c.proto);
        EXPECT_EQ(rec.u32(KEYTYPE), c.keytype);
        EXPECT_EQ(rec.u32(KEY_MGMT), 2u) << "nothing derives key_mgmt";
    }
}

TEST(Wifi, SelectedWepKeyLengthDecidesKeyTypeAndGroup)
{
    const std::string k26 = "00112233445566778899aabbcc";
    struct Case {
        std::vector<std::string> options;
        uint32_t keytype, group;
        uint8_t select;
    } cases[] = {
        {{"-e", "1", "--keytype", "0", "--group", "0"}, 1, 3, 0},
        {{"-e", "1", "--select", "1"}, 0, 3, 1},
        {{"-e", "1", "--select", "2", "--key2", "abcdefghijklm"}, 1, 2, 2},
        {{"-e", "1", "--select", "3"}, 0, 2, 3},
        {{"-e", "1", "--select", "0", "--key0", "0123456789"}, 0, 3, 0},
        {{"-e", "1", "--select", "0", "--key0", "ABCDEFGHIJKLM"}, 1, 2, 0},
        // Only the selected key counts.
        {{"-e", "1", "--select", "2", "--key0", k26}, 1, 2, 2},
        // 259 is kept modulo 256: key3.
        {{"-e", "1", "--select", "259"}, 0, 2, 3},
        // The key length wins over the word form.
        {{"-e", "WEP40-OPEN", "--key0", k26}, 0, 2, 0},
        {{"-e", "wep104-shared", "--key0", "abcde"}, 1, 3, 0},
        // Not WEP: keytype and group stay as given.
        {{"-e", "5", "--keytype", "0", "--group", "4"}, 0, 4, 0},
        {{"-e", "0", "--select", "3", "--group", "6"}, 1, 6, 3},
    };
    Camsim cam;
    for (const Case &c : cases) {
        SCOPED_TRACE(module_command("wifi", c.options));
        WifiRecord rec = configured(cam, c.options);
        EXPECT_EQ(rec.u32(KEYTYPE), c.keytype);
        EXPECT_EQ(rec.u32(GROUP), c.group);
        EXPECT_EQ(rec.u8(SELECT), c.select);
    }
}

TEST(Wifi, WpaChoiceDecidesProtoAndPairwiseDecidesGroup)
{
    struct Case {
        const char *encryp;
        const char *pairwise;
        uint32_t proto, group;
    } cases[] = {
        {"2", "0", 0, 5}, {"2", "1", 0, 1}, {"2", "2", 0, 0}, {"2", "3", 0, 5},
        {"3", "0", 1, 5}, {"3", "1", 1, 1}, {"3", "2", 1, 0}, {"3", "3", 1, 5},
        {"4", "0", 2, 5}, {"4", "1", 2, 1}, {"4", "2", 2, 0}, {"4", "3", 2, 5},
        // EAP and WPS choices keep --proto and --group.
        {"5", "1", 1, 6}, {"7", "2", 1, 6}, {"8", "1", 1, 6},
    };
    Camsim cam;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("-e ") + c.encryp + " --pairwise " + c.pairwise);
        WifiRecord rec = configured(cam, {"--proto", "1", "--group", "6", "--pairwise",
                                          c.pairwise, "-e", c.encryp});
        EXPECT_EQ(rec.u32(PROTO), c.proto);
        EXPECT_EQ(rec.u32(GROUP), c.group);
        EXPECT_EQ(rec.u32(PAIRWISE), (uint32_t)atoi(c.pairwise));
        EXPECT_EQ(rec.u32(ENCRYP), (uint32_t)atoi(c.encryp));
    }
}

TEST(Wifi, TextsAreStoredCutToTheirFieldAndZeroFilled)
{
    std::string ssid(200, 's');
    ssid[126] = 'X';
    ssid[127] = 'Y';
    std::string psk(70, 'p');
    psk[62] = 'Z';
    std::string apname(64, 'a');
    apname[62] = 'W';
    Camsim cam;
    WifiRecord rec = configured(cam, {"--ssid", ssid, "--psk", psk, "--apname", apname,
                                      "--key1", "k1k1k", "--key3", "0123456789abcdef0123456789",
                                      "--pincode", "12345678", "-e", "3"});
    EXPECT_EQ(rec.text(SSID, 128), ssid.substr(0, 127));
    EXPECT_EQ(rec.text(PSK, 64), psk.substr(0, 63));
    EXPECT_EQ(rec.text(APNAME, 64), apname.substr(0, 63));
    EXPECT_EQ(rec.text(KEY1, 32), "k1k1k");
    EXPECT_EQ(rec.text(KEY3, 32), "0123456789abcdef0123456789");
    EXPECT_EQ(rec.text(PINCODE, 17), "12345678");

    // A shorter text replaces a longer one without leaving its tail behind.
    rec = configured(cam, {"--ssid", ssid, "--ssid", "ab", "--psk", psk, "--psk", "12345678",
                           "-e", "0"});
    EXPECT_EQ(rec.text(SSID, 128), "ab");
    EXPECT_EQ(rec.text(PSK, 64), "12345678");
}

TEST(Wifi, NumbersAndModeWordsAreReadWithBasePrefixesAndWrapAround)
{
    struct Case {
        std::vector<std::string> options;
        size_t field;
        uint32_t value;
    } cases[] = {
        {{"-m", "AD-HOC"}, MODE, 1},
        {{"-m", "ad-hoc"}, MODE, 1},
        {{"--mode", "1", "-m", "managed"}, MODE, 0},
        {{"-m", "1", "-m", "MANAGED"}, MODE, 0},
        {{"-m", "Ad-Hoc"}, MODE, 0},
        {{"--mode", "0x1"}, MODE, 1},
        {{"-c", "7"}, CHANNEL, 7},
        {{"--channel", "7"}, CHANNEL, 7},
        {{"-c", "0x0e"}, CHANNEL, 14},
        {{"-c", "014"}, CHANNEL, 12},
        {{"-c", "4294967297"}, CHANNEL, 1},
        {{"--key_mgmt", "5"}, KEY_MGMT, 5},
        {{"--key_mgmt", "0"}, KEY_MGMT, 0},
        {{"--auth_alg", "0x2"}, AUTH_ALG, 2},
        {{"--pairwise", "garbage"}, PAIRWISE, 0},
        {{"--select", "258"}, SELECT, 2},
    };
    Camsim cam;
    for (const Case &c : cases) {
        SCOPED_TRACE(module_command("wifi", c.options));
        std::vector<std::string> options = c.options;
        options.push_back("-e");
        options.push_back("6");
        WifiRecord rec = configured(cam, options);
        EXPECT_EQ(c.field == SELECT ? rec.u8(SELECT) : rec.u32(c.field), c.value);
    }
}

TEST(Wifi, EachRejectedValueEndsTheRunWithItsMessageAndTheUsage)
{
    struct Case {
        std::vector<std::string> options;
        const char *message;
        const char *getopt_line = ""; // getopt's own diagnostic before the error line
    } cases[] = {
        {{"-m", "2"}, "Error wifi mode, must be[0-1]\n"},
        {{"-m", "-1"}, "Error wifi mode, must be[0-1]\n"},
        {{"-e", "9"}, "Error wifi encryption, must be[0-8]\n"},
        {{"--encryp", "-1"}, "Error wifi encryption, must be[0-8]\n"},
        {{"-c", "0"}, "Error wifi freq, must be[1-14]\n"},
        {{"-c", "15"}, "Error wifi freq, must be[1-14]\n"},
        {{"-c", "-1"}, "Error wifi freq, must be[1-14]\n"},
        {{"--auth_alg", "3"}, "Error wifi auth_alg, must be[0-2]\n"},
        {{"--key_mgmt", "6"}, "Error wifi key_mgmt, must be[0-5]\n"},
        {{"--group", "7"}, "Error wifi group, must be[0-6]\n"},
        {{"--ssid", ""}, "Error wifi ssid length, must > 0!\n"},
        {{"--select", "4"}, "Error wifi wep index, must be [0-3]\n"},
        {{"--select", "260"}, "Error wifi wep index, must be [0-3]\n"},
        {{"--key0", "abcd"}, "Error wifi wep key0, must be [5,10,13,26]\n"},
        {{"--key0", std::string(40, '1')}, "Error wifi wep key0, must be [5,10,13,26]\n"},
        {{"--key1", "0123456789a"}, "Error wifi wep key1, must be [5,10,13,26]\n"},
        {{"--key2", ""}, "Error wifi wep key2, must be [5,10,13,26]\n"},
        {{"--key0", "12345", "--key3", "abcdef"}, "Error wifi wep key3, must be [5,10,13,26]\n"},
        {{"--keytype", "2"}, "Error wifi wep keyType, must be [0-1]\n"},
        {{"--pairwise", "4"}, "Error wifi wpa pairwise, must be [0-3]\n"},
        {{"--proto", "3"}, "Error wifi wpa proto, must be [0-2]\n"},
        {{"--psk", "1234567"}, "Error wifi wpa psk_key length, must be [8-63]\n"},
        {{"--wps", "3"}, "Error WPS type must be [0-2]!\n"},
        {{"--wps", "259"}, "Error WPS type must be [0-2]!\n"},
        {{"--apname", ""}, "Error wifi WPS PinAP SSID length, must be [1-63]\n"},
        {{"--pincode", "1234567"}, "Error wifi WPS PinAP PinCode length, must be 8\n"},
        {{"--pincode", "123456789"}, "Error wifi WPS PinAP PinCode length, must be 8\n"},
        {{"--pincode", "1234567890123456"}, "Error wifi WPS PinAP PinCode length, must be 8\n"},
        // Accepted options before the bad one do not configure.
        {{"-e", "4", "--wps", "1", "--psk", "short"}, "Error wifi wpa psk_key length, must be [8-63]\n"},
        {{"--bogus"}, "Unknow option\n", "debug: unrecognized option '--bogus'\n"},
        {{"-x"}, "Unknow option\n", "debug: invalid option -- 'x'\n"},
        {{"-e", "4", "--ssid"}, "Unknow option\n", "debug: option '--ssid' requires an argument\n"},
    };
    for (const Case &c : cases) {
        Camsim cam;
        CamsimResult r = cam.module("wifi", c.options);
        SCOPED_TRACE(r.command);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(without_line_numbers(r.err),
                  std::string(c.getopt_line) + " ERROR  (cv_wifi|wifi_init_param|N): " + c.message);
        EXPECT_TRUE(wifi_calls(cam).empty());
        EXPECT_FALSE(cam.has_file("wifi_settings.bin"));
    }
}

TEST(Wifi, NothingIsConfiguredWithoutEncryptionOrWpsOneOrTwo)
{
    {
        Camsim cam;
        CamsimResult r = cam.debug({"-M", "wifi"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(wifi_calls(cam).empty());
    }
    {
        Camsim cam;
        CamsimResult r = cam.module("wifi", {"--ssid", "shop", "--psk", "12345678", "-c", "3",
                                              "-m", "1", "--key_mgmt", "4", "--pincode",
                                              "11112222"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(wifi_calls(cam).empty());
        EXPECT_FALSE(cam.has_file("wifi_settings.bin"));
    }
    {
        Camsim cam;
        cam.set_state("wps_pin", "87654321");
        CamsimResult r = cam.module("wifi", {"--wps", "0"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "Get IPC-wifi pin code = 87654321 \n");
        EXPECT_EQ(wifi_calls(cam), std::vector<std::string>{"wifi_wps_get_pin"});
        EXPECT_FALSE(cam.has_file("wifi_settings.bin"));
    }
}

TEST(Wifi, WpsOptionSetsWpsEncrypAndItsFlag)
{
    Camsim cam;
    WifiRecord rec = configured(cam, {"--wps", "1"});
    EXPECT_EQ(rec.u32(ENCRYP), 8u);
    EXPECT_EQ(rec.u8(WPS), 1u);
    EXPECT_EQ(rec.u8(WPS_PBC), 1u);
    EXPECT_EQ(rec.u8(WPS_PIN), 0u);

    rec = configured(cam, {"--wps", "2", "--apname", "lab-ap", "--pincode", "13572468"});
    EXPECT_EQ(rec.u32(ENCRYP), 8u);
    EXPECT_EQ(rec.u8(WPS), 2u);
    EXPECT_EQ(rec.u8(WPS_PBC), 1u);
    EXPECT_EQ(rec.u8(WPS_PIN), 1u);
    EXPECT_EQ(rec.text(APNAME, 64), "lab-ap");
    EXPECT_EQ(rec.text(PINCODE, 17), "13572468");

    // A later -e overrides the encryption --wps chose, and the reverse.
    rec = configured(cam, {"--wps", "2", "-e", "4"});
    EXPECT_EQ(rec.u32(ENCRYP), 4u);
    EXPECT_EQ(rec.u8(WPS_PIN), 1u);
    rec = configured(cam, {"-e", "4", "--wps", "257"});
    EXPECT_EQ(rec.u32(ENCRYP), 8u);
    EXPECT_EQ(rec.u8(WPS), 1u);
}

TEST(Wifi, ImmediateActionsRunInCommandLineOrderBeforeConfiguration)
{
    Camsim cam;
    cam.set_state("wps_pin", "24681357");
    cam.set_state("wifi_link", "0");
    CamsimResult r = cam.module("wifi", {"--scan", "-m", "1", "--scan", "--status", "-e", "4",
                                          "--link", "--wps", "0", "--wps", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(wifi_calls(cam), (std::vector<std::string>{
                                   "wifi_info_scan 0", "wifi_info_list_delete",
                                   "wifi_info_scan 1", "wifi_info_list_delete",
                                   "wifi_print_config", "wifi_get_status", "wifi_print_status",
                                   "wifi_wps_get_pin", "wifi_config"}));
    // The link line reports the state before the configuration.
    size_t link = r.out.find("Wifi link down!\n");
    size_t pin = r.out.find("Get IPC-wifi pin code = 24681357 \n");
    EXPECT_NE(link, std::string::npos) << r.out;
    EXPECT_NE(pin, std::string::npos) << r.out;
    EXPECT_LT(link, pin) << r.out;
    WifiRecord rec;
    rec.raw = cam.read_file("wifi_settings.bin");
    ASSERT_EQ(rec.raw.size(), kRecordSize);
    EXPECT_EQ(rec.u32(ENCRYP), 8u);
    EXPECT_EQ(rec.u32(MODE), 1u);
    EXPECT_EQ(rec.u8(WPS), 1u);
}

TEST(Wifi, ActionsBeforeARejectedValueHappenAndNoneAfterIt)
{
    Camsim cam;
    CamsimResult r = cam.module("wifi", {"--link", "--scan", "-e", "9", "--status", "--scan"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(wifi_calls(cam), (std::vector<std::string>{"wifi_get_status", "wifi_print_status",
                                                          "wifi_info_scan 0",
                                                          "wifi_info_list_delete"}));
    EXPECT_EQ(r.out.compare(0, 14, "Wifi link up!\n"), 0) << r.out;
    ASSERT_GE(r.out.size(), kUsage.size());
    EXPECT_EQ(r.out.substr(r.out.size() - kUsage.size()), kUsage);
}

TEST(Wifi, LinkStateDecidesTheLinkLineAndDetailsAlwaysFollow)
{
    struct Case {
        const char *state;
        const char *line;
    } cases[] = {
        {"0", "Wifi link down!\n"},
        {"1", "Wifi link up!\n"},
        {"2", "Wifi can't check link status!\n"},
        {"-1", "Wifi can't check link status!\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.state);
        Camsim cam;
        cam.set_state("wifi_link", c.state);
        CamsimResult r = cam.module("wifi", {"--link"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.compare(0, std::string(c.line).size(), c.line), 0) << r.out;
        EXPECT_EQ(wifi_calls(cam),
                  (std::vector<std::string>{"wifi_get_status", "wifi_print_status"}));
    }
}

TEST(Wifi, FailedConfigurationIsReportedAndTheRunStillSucceeds)
{
    Camsim cam;
    cam.set_state("wifi_config_result", "-1");
    CamsimResult r = cam.module("wifi", {"-e", "3", "--psk", "abcdefgh"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(without_line_numbers(r.err), " ERROR  (cv_wifi|wifi_test_main|N): wifi config has error!\n");
    EXPECT_EQ(wifi_calls(cam), std::vector<std::string>{"wifi_config"});
}
