// adc_test.cpp - the adc module on the light-sensor ADC of the emulated
// camera, the IIO device of the project's own driver (sandbox/vm/camvm_adc.c).
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "vm_suite.h"

namespace {

const std::string kDevice = "/sys/bus/iio/devices/iio:device0/", kRaw = "/sys/module/camvm_adc/parameters/raw";
const std::string kRead = "debug -M adc -t 1 -d 1", kListed = "ls " + kDevice + " | grep raw; ";
const std::string kNoChannel0 = "open ADC_CHN_A error!!!\nadc_read error!\nAdc[0] = -1\n";
const std::string kWriteError = "sh: write error: ";

// Readings "A B C" load the driver anew before the command; "" leaves it as
// the case before left it (at first as camvm's --iio made it).
struct AdcCase {
    const char *name, *readings;
    std::string command, out, err;
};
const std::vector<AdcCase> kCases = {
    {"booted", "", kRead, "Adc[0] = 580\n", ""},
    {"refused", "", "for v in 65536 12x -; do echo $v > " + kRaw + "0; done; echo 7 > " + kDevice + "in_voltage0_raw; " + kRead,
     "Adc[0] = 580\n", kWriteError + "Numerical result out of range\n" + kWriteError + "Invalid argument\n" +
                           kWriteError + "Invalid argument\n" + kWriteError + "Invalid argument\n"},
    {"changed", "", "echo 4095 > " + kRaw + "0; " + kRead, "Adc[0] = 1250\n", ""},
    {"zero", "0 1 2", kRead, "Adc[0] = 0\n", ""},
    {"five_digits", "20480 1 2", kRead, "Adc[0] = 625\n", ""},
    {"no_channel0", "- 4095 20480", kListed + "debug -M adc -t 2 -d 1",
     "in_voltage1_raw\nin_voltage2_raw\n" + kNoChannel0 + kNoChannel0, ""},
    {"no_channel1", "1900 - 20480", kListed + "echo 5 > " + kRaw + "1; " + kRead,
     "in_voltage0_raw\nin_voltage2_raw\nAdc[0] = 580\n", kWriteError + "No such device\n"},
    {"no_channel2", "1900 4095 -", kListed + kRead, "in_voltage0_raw\nin_voltage1_raw\nAdc[0] = 580\n", ""},
    {"load_refused", "70000 1 2", kRead, kNoChannel0,
     "insmod: can't insert '/lib/modules/camvm_adc.ko': Numerical result out of range\n"},
    // A light-sensor request reads no channel.
    {"thresholds", "1900 4095 20480", "debug -M adc -N 300 -D 700 -t 3 && camsim_shm 7665432",
     "48 666: 1 1 300 700 0 0 0 0 0 0 0 0\n", ""},
};

class VmAdc : public VmSuite {
protected:
    static void SetUpTestSuite()
    {
        insert_cards({});
        cam_->option("--iio", "1900,4095,20480");
        std::string script = "readlink -f " + kDevice + " > $CAMSIM_DIR/iio.path\n"
                             "cd " + kDevice + " && cat name uevent ../uevent > $CAMSIM_DIR/iio.name; cd /\n"
                             "grep -c ' /sys/bus' /proc/mounts > $CAMSIM_DIR/iio.mounts\n";
        const std::string load = "rmmod camvm_adc 2>/dev/null; insmod /lib/modules/camvm_adc.ko raw0=$1 raw1=$2 raw2=$3; ";
        for (const auto &c : kCases)
            script += "run_case " + std::string(c.name) + " sh -c " + shell_quote((*c.readings ? load : "") + c.command) +
                      " adc " + c.readings + "\n";
        // A reading changed while an endless run reads, then a stop: each
        // step waits for the line that shows the one before it done.
        script += "run_case endless sh -c 'seen() { n=0; until grep -q \"$1\" /tmp/adc.out; do n=$((n + 1));"
                  " [ $n -lt 400 ] || return 1; usleep 50000; done; }\n"
                  "debug -M adc -t -1 -d 100 > /tmp/adc.out & p=$!\n"
                  "seen \"= 580\" && echo 4095 > " + kRaw + "0 && seen \"= 1250\"; kill -INT $p; wait $p; echo status=$?;"
                  " cat /tmp/adc.out'\n";
        start(script);
    }
};

TEST_F(VmAdc, TheReadingsAreThoseOfTheDriversIioDevice)
{
    // The kernel's own device, whose parent the driver is bound to, not
    // files standing in for it.
    EXPECT_EQ(cam_->read_file("iio.path"), "/sys/devices/platform/camvm-adc/iio:device0\n");
    EXPECT_EQ(cam_->read_file("iio.name"), "camvm-adc\nDEVTYPE=iio_device\nDRIVER=camvm-adc\nMODALIAS=platform:camvm-adc\n");
    EXPECT_EQ(cam_->read_file("iio.mounts"), "0\n") << "something is mounted over /sys/bus";
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
