// The PTZ, Wi-Fi, database and system libraries, which the tool opens when a
// module needs one: a camera without one, or with a broken one, still runs
// every module that does not call it.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "camsim_run.h"

namespace {

// One short run of each module that calls an opened library, of the card
// action that calls the system library and one that does not, and of gpio,
// which calls none of them.
const std::vector<std::string> kRuns = {
    "-M ptz -d 0 --up", "-M wifi --link", "-M db -t", "-M motor -s 5",
    "-M sdmmc -i",      "-M sdmmc -f",    "-M gpio -r 1",
};

// Each run's output (both streams) and status, and its calls, each under a
// heading line "== ARGUMENTS".
std::string runs_script()
{
    std::string script;
    for (const auto &run : kRuns) {
        script += "echo '== " + run + "' | tee -a \"$CAMSIM_DIR/calls.log\"\n"
                  "debug " + run + " 2>&1; echo \"status $?\"\n";
    }
    return script;
}

std::map<std::string, std::string> sections(const std::string &text)
{
    std::map<std::string, std::string> parts;
    std::stringstream in(text);
    std::string line, module;
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0)
            parts[module = line.substr(3)] = "";
        else
            parts[module] += line + "\n";
    }
    return parts;
}

std::string load_error(const std::string &soname, const std::string &reason)
{
    return " ERROR  (platform_libs|platform_lib_open|N): cannot load platform library " + soname +
           ": " + reason + "\n";
}

// The directory the library was found in, which differs between builds.
std::string without_lib_dir(const std::string &text)
{
    return std::regex_replace(text, std::regex(": /[^ ]*/(lib[a-z]+\\.so): "), ": DIR/$1: ");
}

TEST(PlatformLibs, AMissingLibraryStopsTheModulesThatCallItAtOnceAndNoOther)
{
    Camsim whole;
    CamsimResult r = whole.run(runs_script());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto baseline_out = sections(r.out);
    const auto baseline_calls = sections(whole.read_file("calls.log"));
    ASSERT_EQ(baseline_out.at("-M gpio -r 1"), "===g_gpio_cfg(0,1)=======\nGPIO read id = 1, data = 0\nstatus 0\n");
    ASSERT_NE(baseline_calls.at("-M ptz -d 0 --up"), "");

    const std::map<std::string, std::set<std::string>> users = {
        {"libcvptz.so", {"-M ptz -d 0 --up"}},
        {"libcvwifi.so", {"-M wifi --link"}},
        {"libcvdb.so", {"-M db -t"}},
        {"libcvsys.so", {"-M motor -s 5", "-M sdmmc -f"}},
    };
    for (const auto &lib : users) {
        Camsim cam;
        cam.option("--no-lib", lib.first);
        r = cam.run(runs_script());
        auto out = sections(without_line_numbers(r.out));
        auto calls = sections(cam.read_file("calls.log"));
        for (const auto &module : kRuns) {
            if (lib.second.count(module)) {
                EXPECT_EQ(out[module], load_error(lib.first, lib.first + ": cannot open shared object "
                                                                         "file: No such file or directory") +
                                           "status 127\n")
                    << lib.first;
                // Not even the shutdown's calls: the module's run never began.
                EXPECT_EQ(calls[module], "") << lib.first << ", " << module;
            } else {
                EXPECT_EQ(out[module], without_line_numbers(baseline_out.at(module)))
                    << lib.first << ", " << module;
                EXPECT_EQ(calls[module], baseline_calls.at(module)) << lib.first << ", " << module;
            }
        }
    }
}

// The stand-in library as built, and copies of it cut short or marked as
// another machine's, as an interrupted update or a wrong package leaves one.
std::string stand_in(const std::string &soname)
{
    std::string tool = CAMSIM_TOOL;
    return read_whole_file(tool.substr(0, tool.rfind('/')) + "/platform/sim/" + soname);
}

std::string cut_short(const std::string &lib)
{
    return lib.substr(0, lib.size() / 2);
}

std::string of_another_machine(const std::string &lib)
{
    std::string other = lib;
    // e_machine: x86-64 (62) and AArch64 (183) swapped.
    other[18] = other[18] == 62 ? (char)183 : (char)62;
    other[19] = 0;
    return other;
}

TEST(PlatformLibs, ABrokenLibraryOrOneLackingACallStopsItsModuleTheSameWay)
{
    Camsim files;
    const std::string db = stand_in("libcvdb.so");
    ASSERT_GT(db.size(), 4096u);
    write_whole_file(files.scratch() + "/cut.so", cut_short(db));
    write_whole_file(files.scratch() + "/other.so", of_another_machine(db));
    struct Case {
        std::string lib, file;
        std::vector<std::string> args;
        std::string reason;
    } cases[] = {
        {"libcvptz.so", CAMSIM_PARTIAL_CVPTZ, {"-M", "ptz", "-d", "0", "--up"},
         "DIR/libcvptz.so: undefined symbol: pt_tty_deinit"},
        {"libcvsys.so", CAMSIM_PARTIAL_CVSYS, {"-M", "sdmmc", "-i", "-f"},
         "DIR/libcvsys.so: undefined symbol: cv_free_system_caches"},
        // Without the call, a speed test would stop halfway, its test file
        // left on the card.
        {"libcvsys.so", CAMSIM_PARTIAL_CVSYS, {"-M", "sdmmc", "-i", "-s"},
         "DIR/libcvsys.so: undefined symbol: cv_free_system_caches"},
        // Mapped as it stands, a library cut short dies of SIGBUS.
        {"libcvdb.so", files.scratch() + "/cut.so", {"-M", "db", "-t"},
         "DIR/libcvdb.so: Bus error while it was opened"},
        {"libcvdb.so", "/dev/null", {"-M", "db", "-t"}, "DIR/libcvdb.so: file too short"},
        // The loader passes over it and says there is no such file.
        {"libcvdb.so", files.scratch() + "/other.so", {"-M", "db", "-t"},
         "libcvdb.so: cannot open shared object file: No such file or directory"},
    };
    for (const auto &c : cases) {
        Camsim cam;
        cam.option("--lib", c.lib + "=" + c.file);
        CamsimResult r = cam.debug(c.args);
        SCOPED_TRACE(c.file);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(without_lib_dir(without_line_numbers(r.err)), load_error(c.lib, c.reason));
        EXPECT_EQ(r.status, 127);
        EXPECT_EQ(cam.calls(), std::vector<std::string>{});
    }
}

TEST(PlatformLibs, ALibraryNameThatIsAPathIsRefusedAndTheHostFileStaysAsItWas)
{
    Camsim cam;
    const std::string victim = cam.scratch() + "/victim";
    // From the library directory up to / and down to the scratch directory.
    std::string name;
    for (int i = 0; i < 32; i++)
        name += "../";
    name += victim.substr(1);
    for (const auto &option : {std::make_pair("--no-lib", name), std::make_pair("--lib", name + "=/dev/null")}) {
        write_whole_file(victim, "host file\n");
        Camsim sandbox;
        sandbox.option(option.first, option.second);
        CamsimResult r = sandbox.run("true");
        EXPECT_EQ(r.err, std::string("camsim: ") + option.first + " " + name +
                             ": not a library file name (libcvptz.so, ...)\n");
        EXPECT_EQ(r.status, 125);
        EXPECT_EQ(read_whole_file(victim), "host file\n") << option.first;
    }
}

TEST(PlatformLibs, ALibraryLackingACallTheModuleNeverMakesDoesNotStopIt)
{
    Camsim whole;
    const std::string runs = "debug -M motor -s 5; echo \"status $?\"; debug -M sdmmc -i; echo \"status $?\"\n";
    CamsimResult baseline = whole.run(runs);
    Camsim cam;
    cam.option("--lib", std::string("libcvsys.so=") + CAMSIM_PARTIAL_CVSYS);
    CamsimResult r = cam.run(runs);
    EXPECT_EQ(r.out, baseline.out);
    EXPECT_EQ(r.err, baseline.err);
}

// The library with its last loadable segment changed: claiming less memory
// than it takes from the file (the loader overruns its own stack), or, with
// no less memory, taking more from the file than the file holds (the loader
// maps it without a word; the pages past the end fault when touched).
std::string with_last_segment(const std::string &lib, bool past_the_file)
{
    auto field = [&](size_t at) {
        uint64_t v = 0;
        memcpy(&v, lib.data() + at, sizeof v);
        return v;
    };
    const uint64_t phoff = field(32);
    const unsigned phnum = (unsigned char)lib[56] | (unsigned char)lib[57] << 8;
    size_t last = 0;
    for (unsigned i = 0; i < phnum; i++) {
        const size_t ph = phoff + i * 56;
        if (lib[ph] == 1 && lib[ph + 1] == 0 && lib[ph + 2] == 0 && lib[ph + 3] == 0) // PT_LOAD
            last = ph;
    }
    std::string bad = lib;
    // p_offset at 8, p_filesz at 32, p_memsz at 40; a 64 KiB bound ends on
    // a page of any size, so the loader zeroes nothing past the file.
    const uint64_t filesz = past_the_file ? (lib.size() | 0xffff) + 1 + 0x10000 - field(last + 8) : field(last + 32);
    const uint64_t memsz = past_the_file ? filesz : filesz / 2;
    memcpy(&bad[last + 32], &filesz, sizeof filesz);
    memcpy(&bad[last + 40], &memsz, sizeof memsz);
    return bad;
}

// Stops the tool, run in the background as $pid, once the open waits: in
// the loader's open of a FIFO, or in a constructor that said so in ctor.log.
const std::string kStopWhenItWaits =
    " & pid=$!\n"
    "until grep -q wait_for_partner /proc/$pid/wchan || [ -e \"$CAMSIM_DIR/ctor.log\" ]; do sleep 0.01; done\n"
    "kill -INT $pid; wait $pid";

TEST(PlatformLibs, NoLibraryFileTheLoaderCouldTakeEndsTheToolWithASignalOrAWait)
{
    const std::string db = stand_in("libcvdb.so");
    const std::string ctor = read_whole_file(CAMSIM_CVSYS_CTOR);
#ifdef __aarch64__
    const std::string hwcap = "atomics";
#else
    const std::string hwcap = "glibc-hwcaps/x86-64-v2";
#endif
    // Each file goes where the loader looks first: $D, on LD_LIBRARY_PATH,
    // or one of its hardware-capability subdirectories, which the loader
    // takes before $D itself. $D also holds a sound copy of the database
    // library; the system library there has a constructor.
    const std::string motor = "CAMSIM_CTOR=";
    struct Shape {
        std::string what;
        std::vector<std::pair<std::string, std::string>> files; // under $D
        std::string script;                                     // before the run
        std::string file;                                       // in $D, named
        std::string reason;
        std::string or_reason; // where loaders differ: one takes it, another crashes
        std::string run = "debug -M db -t";
        std::string out = "status 127\n";
        std::string lib = "libcvdb.so";
    } shapes[] = {
        {"cut short in a hardware-capability subdirectory",
         {{hwcap + "/libcvdb.so", cut_short(db)}}, "", hwcap + "/libcvdb.so", "Bus error while it was opened", ""},
        {"a vendor library's own dependency cut short",
         {{"libcvdb.so", read_whole_file(CAMSIM_CVDB_VENDOR)},
          {"libcamsim_vendor_dep.so", cut_short(read_whole_file(CAMSIM_VENDOR_DEP))}}, "",
         "libcamsim_vendor_dep.so", "Bus error while it was opened", "file shorter than its loaded segments"},
        {"last loadable segment shorter in memory than in the file",
         {{"libcvdb.so", with_last_segment(db, false)}}, "", "libcvdb.so",
         "a segment larger in the file than in memory", "Aborted while it was opened"},
        {"a dependency whose last loadable segment goes past the end of its file",
         {{"libcvdb.so", read_whole_file(CAMSIM_CVDB_VENDOR)},
          {"libcamsim_vendor_dep.so", with_last_segment(read_whole_file(CAMSIM_VENDOR_DEP), true)}}, "",
         "libcamsim_vendor_dep.so", "file shorter than its loaded segments", ""},
        {"a FIFO, which no one writes", {}, "rm $D/libcvdb.so; mkfifo $D/libcvdb.so\n", "",
         "not opened within 10 s", ""},
        {"a FIFO and a stop request", {}, "rm $D/libcvdb.so; mkfifo $D/libcvdb.so\n", "",
         "stopped while it was opened", "", "debug -M db -t" + kStopWhenItWaits,
         "\nGet signal, signo = 2\nstatus 127\n"},
        {"a constructor that calls exit(0)", {{"libcvsys.so", ctor}}, "", "", "exit() called while it was opened",
         "", motor + "exit0 debug -M motor -s 5", "status 127\n", "libcvsys.so"},
        {"a constructor that calls exit(3)", {{"libcvsys.so", ctor}}, "", "", "exit() called while it was opened",
         "", motor + "exit3 debug -M motor -s 5", "status 127\n", "libcvsys.so"},
        {"a constructor that crashes", {{"libcvsys.so", ctor}}, "", "", "Segmentation fault while it was opened",
         "", motor + "crash debug -M motor -s 5", "status 127\n", "libcvsys.so"},
        {"a constructor that overflows its stack", {{"libcvsys.so", ctor}}, "", "",
         "Segmentation fault while it was opened", "", motor + "overflow debug -M motor -s 5", "status 127\n",
         "libcvsys.so"},
        {"a constructor that blocks, and a stop request", {{"libcvsys.so", ctor}}, "", "",
         "stopped while it was opened", "", motor + "block debug -M motor -s 5" + kStopWhenItWaits,
         "\nGet signal, signo = 2\nstatus 127\n", "libcvsys.so"},
        {"a constructor that must run once", {{"libcvsys.so", ctor}}, "", "", "", "",
         "debug -M motor -s 5 >/dev/null && cat \"$CAMSIM_DIR/ctor.log\"", "constructor\nstatus 0\n",
         "libcvsys.so"},
    };
    for (const auto &shape : shapes) {
        SCOPED_TRACE(shape.what);
        Camsim cam;
        cam.option("--no-lib", shape.lib);
        const std::string dir = cam.scratch() + "/lib";
        mkdir(dir.c_str(), 0755);
        write_whole_file(dir + "/libcvdb.so", db);
        for (const auto &file : shape.files) {
            const std::string path = dir + "/" + file.first;
            for (size_t slash = path.find('/', dir.size() + 1); slash != std::string::npos;
                 slash = path.find('/', slash + 1))
                mkdir(path.substr(0, slash).c_str(), 0755);
            write_whole_file(path, file.second);
        }
        CamsimResult r = cam.run("D=" + dir + "\nexport LD_LIBRARY_PATH=$D\n" + shape.script +
                                 "start=$(date +%s); " + shape.run + "; echo \"status $?\"\n"
                                 "echo \"$(($(date +%s) - start)) s\" >&2\n");
        const std::string took = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
        EXPECT_EQ(r.out, shape.out);
        // A loader that crashes may say so first ("*** stack smashing detected ***").
        const std::string err = std::regex_replace(
            without_line_numbers(r.err.substr(0, r.err.size() - took.size())), std::regex("^\\*\\*\\* .*\n"), "");
        const std::string named = shape.file.empty() ? "" : dir + "/" + shape.file + ": ";
        if (shape.or_reason.empty() ||
            (err != load_error(shape.lib, shape.or_reason) && err != load_error(shape.lib, named + shape.or_reason))) {
            EXPECT_EQ(err, shape.reason.empty() ? "" : load_error(shape.lib, named + shape.reason));
        }
        EXPECT_LE(std::stoi(took), 15);
    }
}

// The loader's cache (the format of ld.so.cache since glibc 2.32) with one
// entry: soname at path, for the tool's machine.
std::string loader_cache(const std::string &soname, const std::string &path)
{
#ifdef __aarch64__
    const int32_t flags = 0x0a03; // ELF, libc6, AArch64
#else
    const int32_t flags = 0x0303; // ELF, libc6, x86-64
#endif
    const std::string strings = soname + '\0' + path + '\0';
    const uint32_t header = 48, entry = 24;
    std::string cache = "glibc-ld.so.cache1.1";
    auto put = [&](const void *v, size_t n) { cache.append((const char *)v, n); };
    const uint32_t counts[2] = {1, (uint32_t)strings.size()};
    put(counts, sizeof counts);
    cache += std::string("\2\0\0\0", 4);     // little-endian
    cache += std::string(16, '\0');            // no extensions, unused
    const uint32_t key = header + entry, value = key + (uint32_t)soname.size() + 1, os = 0;
    put(&flags, 4);
    put(&key, 4);
    put(&value, 4);
    put(&os, 4);
    cache += std::string(8, '\0');             // hwcap
    return cache + strings;
}

TEST(PlatformLibs, TheLibraryTakenIsTheOneTheLoaderTakes)
{
    Camsim cam;
    cam.option("--no-lib", "libcvdb.so");
    const std::string db = stand_in("libcvdb.so");
    // Along LD_LIBRARY_PATH, the loader passes over a library of another
    // machine and takes the next one, whole or not.
    std::string dirs[3];
    const std::string contents[3] = {of_another_machine(db), cut_short(db), db};
    for (int i = 0; i < 3; i++) {
        dirs[i] = cam.scratch() + "/" + std::to_string(i);
        mkdir(dirs[i].c_str(), 0755);
        write_whole_file(dirs[i] + "/libcvdb.so", contents[i]);
    }
    // The loader's cache comes before its default directories: a sound
    // library the cache lists is taken, whatever lies in /usr/lib. The cache
    // and the cut copy are laid over the host's only in this sandbox.
    write_whole_file(cam.scratch() + "/ld.so.cache", loader_cache("libcvdb.so", dirs[2] + "/libcvdb.so"));
    const std::string cached = "mount --bind " + cam.scratch() + "/ld.so.cache /etc/ld.so.cache\n"
                               "mkdir /tmp/upper /tmp/work\n"
                               "mount -t overlay -o lowerdir=/usr/lib,upperdir=/tmp/upper,workdir=/tmp/work "
                               "usr-lib /usr/lib\n"
                               "cp " + dirs[1] + "/libcvdb.so /usr/lib/\n"
                               "debug -M db -t >/dev/null; echo \"status $?\"\n";
    CamsimResult r = cam.run("LD_LIBRARY_PATH=" + dirs[0] + ":" + dirs[1] + " debug -M db -t; echo \"status $?\"\n"
                             "LD_LIBRARY_PATH=" + dirs[0] + ":" + dirs[2] + " debug -M db -t >/dev/null; echo \"status $?\"\n" +
                             cached);
    EXPECT_EQ(r.out, "status 127\nstatus 0\nstatus 0\n");
    EXPECT_EQ(without_line_numbers(r.err),
              load_error("libcvdb.so", dirs[1] + "/libcvdb.so: Bus error while it was opened"));
}

TEST(PlatformLibs, HelpNeverStopsOnAMissingLibrary)
{
    std::istringstream names(DEBUG_MODULE_NAMES);
    std::vector<std::string> modules;
    std::string script;
    for (std::string m; names >> m;) {
        modules.push_back(m);
        script += "echo '== " + m + "'; debug -h " + m + " 2>&1; echo \"status $?\"\n";
    }
    ASSERT_EQ(modules.size(), 14u);
    for (const std::string lib : {"libcvptz.so", "libcvwifi.so", "libcvdb.so", "libcvsys.so"}) {
        Camsim cam;
        cam.option("--no-lib", lib);
        auto out = sections(without_line_numbers(cam.run(script).out));
        for (const auto &m : modules) {
            std::string help = "debug version: 1.2.0\n" + module_usage(m);
            // Where the usage lists what only the library knows, the
            // library's error line stands in for it.
            if (m == "db" && lib == "libcvdb.so")
                help = help.substr(0, help.find("Query Result:")) +
                       load_error(lib, lib + ": cannot open shared object file: No such file or directory");
            EXPECT_EQ(out[m], help + "status 0\n") << lib << ", " << m;
        }
    }
}

TEST(PlatformLibs, UsageHelpAndTheModuleListMapNoneOfTheOpenedLibraries)
{
    // The loader's own account of what it mapped for the tool (its children,
    // such as cp, map other libraries).
    const std::string libs = " 2>&1 >/dev/null | grep -o 'file=lib\\(gpio\\|pwm\\|cvptz\\|cvwifi\\|cvdb\\|cvsys\\)\\.so'"
                             " | sort -u\n";
    Camsim cam;
    CamsimResult r = cam.run("LD_DEBUG=files debug" + libs + "LD_DEBUG=files debug -h gpio" + libs +
                             "LD_DEBUG=files debug -h ptz" + libs +
                             "LD_DEBUG=files debug -M ptz -d 0 --up" + libs);
    const std::string linked = "file=libgpio.so\nfile=libpwm.so\n";
    EXPECT_EQ(r.out, linked + linked + linked + "file=libcvptz.so\n" + linked);
}

} // namespace
