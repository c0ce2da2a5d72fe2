// adc_test.cpp - the adc module on the emulated camera's light-sensor ADC,
// an IIO device of the kernel's IIO core made by the project's own driver
// (sandbox/vm/camvm_adc.c): the figures of the readings it serves, a
// channel it lacks, the writes it refuses, a reading changed while an
// endless run reads, and the light-sensor records beside it.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "vm_suite.h"

namespace {

const std::string kDevice = "/sys/bus/iio/devices/iio:device0";
const std::string kParams = "/sys/module/camvm_adc/parameters";
const std::string kOneReading = "debug -M adc -t 1 -d 1";
const std::string kNoChannel0 = "open ADC_CHN_A error!!!\nadc_read error!\nAdc[0] = -1\n";

struct AdcCase {
    const char *name;
    // Loaded anew (raw0, raw1, raw2) before the command; "": the driver as
    // the previous case left it, camvm's --iio at first.
    const char *readings;
    std::string command, out, err;
};
const std::vector<AdcCase> kCases = {
    {"booted", "", kOneReading, "Adc[0] = 580\n", ""},
    {"too_big", "", "echo 65536 > " + kParams + "/raw0; " + kOneReading, "Adc[0] = 580\n",
     "sh: write error: Numerical result out of range\n"},
    {"word", "", "echo 12x > " + kParams + "/raw0; " + kOneReading, "Adc[0] = 580\n",
     "sh: write error: Invalid argument\n"},
    {"dash_late", "", "echo - > " + kParams + "/raw0; " + kOneReading, "Adc[0] = 580\n",
     "sh: write error: Invalid argument\n"},
    {"channel_file", "", "echo 7 > " + kDevice + "/in_voltage0_raw; " + kOneReading, "Adc[0] = 580\n",
     "sh: write error: Invalid argument\n"},
    {"changed", "", "echo 4095 > " + kParams + "/raw0; " + kOneReading, "Adc[0] = 1250\n", ""},
    {"zero", "0,1,2", kOneReading, "Adc[0] = 0\n", ""},
    {"five_digits", "20480,1,2", kOneReading, "Adc[0] = 625\n", ""},
    {"largest", "65535,1,2", kOneReading, "Adc[0] = 2000\n", ""},
    {"no_times", "", "debug -M adc -t 0", "", ""},
    {"no_channel0", "-,4095,20480", "ls " + kDevice + " | grep raw; debug -M adc -t 2 -d 1",
     "in_voltage1_raw\nin_voltage2_raw\n" + kNoChannel0 + kNoChannel0, ""},
    {"no_channel1", "1900,-,20480", "ls " + kDevice + " | grep raw; echo 5 > " + kParams + "/raw1; " + kOneReading,
     "in_voltage0_raw\nin_voltage2_raw\nAdc[0] = 580\n", "sh: write error: No such device\n"},
    {"no_channel2", "1900,4095,-", "ls " + kDevice + " | grep raw; " + kOneReading,
     "in_voltage0_raw\nin_voltage1_raw\nAdc[0] = 580\n", ""},
    {"load_refused", "70000,1,2", kOneReading, kNoChannel0,
     "insmod: can't insert '/lib/modules/camvm_adc.ko': Numerical result out of range\n"},
    // The light sensor's requests read no channel.
    {"thresholds", "1900,4095,20480", "debug -M adc -N 300 -D 700 && camsim_shm 7665432",
     "48 666: 1 1 300 700 0 0 0 0 0 0 0 0\n", ""},
    {"sensitivity", "", "debug -M adc -s 5 -t 3 && camsim_shm 7665432", "48 666: 1 2 5 0 0 0 0 0 0 0 0 0\n", ""},
    {"info", "", "debug -M adc -i && camsim_shm 7665432", "48 666: 1 4 0 0 0 0 0 0 0 0 0 0\n", ""},
};

class VmAdc : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        insert_cards({});
        cam_->option("--iio", "1900,4095,20480");
        std::string script = "readlink -f " + kDevice + " > $CAMSIM_DIR/iio.path\n"
                             "cat " + kDevice + "/name " + kDevice + "/uevent " + kDevice + "/../uevent > $CAMSIM_DIR/iio.name\n"
                             "grep -c ' /sys/bus' /proc/mounts > $CAMSIM_DIR/iio.mounts\n";
        for (const auto &c : kCases) {
            std::string command = c.command;
            if (*c.readings) {
                std::istringstream in(c.readings);
                std::string load = "rmmod camvm_adc 2>/dev/null; insmod /lib/modules/camvm_adc.ko";
                int n = 0;
                for (std::string v; std::getline(in, v, ',');)
                    load += " raw" + std::to_string(n++) + "=" + v;
                command = load + "; " + command;
            }
            script += "run_case " + std::string(c.name) + " sh -c " + shell_quote(command) + "\n";
        }
        // A reading changed while an endless run reads, then a stop: each
        // step waits for the line that shows the one before it done.
        const std::string seen = "n=0; until grep -q \"$1\" /tmp/adc.out; do n=$((n + 1));"
                                 " [ $n -lt 400 ] || return 1; usleep 50000; done";
        script += "run_case endless sh -c 'seen() { " + seen + "; }\n"
                  "debug -M adc -t -1 -d 100 > /tmp/adc.out & p=$!\n"
                  "seen \"Adc\\[0\\] = 580\" && echo 4095 > " + kParams + "/raw0 && seen \"= 1250\";"
                  " kill -INT $p; wait $p; echo status=$?; cat /tmp/adc.out'\n";
        start(script);
    }
};

TEST_F(VmAdc, TheReadingsAreThoseOfTheDriversIioDevice)
{
    // Not a directory standing in for the bus: the kernel's own device,
    // whose parent the driver is bound to.
    EXPECT_EQ(cam_->read_file("iio.path"), "/sys/devices/platform/camvm-adc/iio:device0\n");
    EXPECT_EQ(cam_->read_file("iio.name"), "camvm-adc\nDEVTYPE=iio_device\nDRIVER=camvm-adc\nMODALIAS=platform:camvm-adc\n");
    EXPECT_EQ(cam_->read_file("iio.mounts"), "0\n") << "something is mounted over /sys";
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        CamsimResult r = cam_->case_result(c.name);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, 0);
    }
}

TEST_F(VmAdc, AReadingChangedWhileAnEndlessRunReadsIsItsNextLineAndAStopEndsIt)
{
    CamsimResult r = cam_->case_result("endless");
    EXPECT_TRUE(std::regex_match(r.out, std::regex("status=0\n(Adc\\[0\\] = 580\n)+(Adc\\[0\\] = 1250\n)+"
                                                   "\nGet signal, signo = 2\n")))
        << r.out;
    EXPECT_EQ(r.err, "");
}

} // namespace
