// camsim_run.h - runs shell scripts inside the simulated camera (or the
// emulated one) and hands back what they printed, their exit status and
// what the stand-ins saw.
#ifndef CAMSIM_RUN_H
#define CAMSIM_RUN_H

#include <sys/types.h>

#include <string>
#include <vector>

struct CamsimResult {
    std::string command; // the script run: a failing case names it (SCOPED_TRACE)
    int status = -1; // exit status of the script; 128+N when killed by signal N
    std::string out;
    std::string err;
};

// Where the runs happen: sandbox/camsim on the host's kernel, or
// sandbox/camvm, a full-system emulator booting an Arm64 kernel (the
// aarch64 build only; one boot per run, so a run should do much).
enum class Sandbox { host, vm };

// One simulated camera: a state directory (CAMSIM_DIR) that lives as long as
// the object, and any number of sandbox runs against it. Every run starts a
// fresh sandbox (empty /tmp, /mnt, IPC), so a check that needs the camera's
// files goes in the same script as the command it checks.
class Camsim {
public:
    explicit Camsim(Sandbox sandbox = Sandbox::host);
    ~Camsim();
    Camsim(const Camsim &) = delete;
    Camsim &operator=(const Camsim &) = delete;

    // The state directory on the host; inside the sandbox it is $CAMSIM_DIR.
    const std::string &dir() const { return state_; }
    // A scratch directory on the host, kept visible inside the sandbox.
    const std::string &scratch() const { return scratch_; }

    void set_state(const std::string &name, const std::string &text) const;
    bool has_file(const std::string &name) const;
    std::string read_file(const std::string &name) const;
    // The lines of calls.log.
    std::vector<std::string> calls() const;

    // An extra sandbox option for the following runs ("--iio", "1,2,3").
    void option(const std::string &name, const std::string &value = "");

    // Runs script with sh -c inside the sandbox; "debug" is on PATH.
    CamsimResult run(const std::string &script, int timeout_sec = 120) const;
    // The same in two steps, for a test that signals the sandbox meanwhile:
    // start returns the sandbox's process ID (it leads a process group of
    // its own), finish waits for it, killing the group after timeout_sec.
    pid_t start(const std::string &script) const;
    CamsimResult finish(pid_t pid, int timeout_sec) const;
    // Runs the tool with these arguments (after the program name).
    CamsimResult debug(const std::vector<std::string> &args, int timeout_sec = 120) const;
    // Runs one module: "debug -M MODULE" and these arguments.
    CamsimResult module(const std::string &module, const std::vector<std::string> &args,
                        int timeout_sec = 120) const;
    // What the script's `run_case NAME COMMAND...` (see kRunCase) kept of
    // COMMAND: its output, error and exit status.
    CamsimResult case_result(const std::string &name) const;

private:
    Sandbox sandbox_;
    std::string root_, state_, scratch_;
    std::vector<std::string> options_;
};

// Defines run_case for scripts that run many cases in one sandbox (one boot
// of the emulated camera): the command's output, error and status go to
// files named after the case in the state directory.
extern const std::string kRunCase;

// Defines tool_waits PID FILE WCHAN for scripts that act while the tool
// waits: it returns once process PID has FILE open and sleeps in a kernel
// function whose name holds WCHAN (sleep, poll), or has ended; a loaded
// machine takes as long as it takes.
extern const std::string kToolWaits;

std::string shell_quote(const std::string &text);
// The script line that runs the tool with these arguments, each quoted.
std::string debug_command(const std::vector<std::string> &args);
// The same for one module: "debug -M MODULE" and these arguments.
std::string module_command(const std::string &module, const std::vector<std::string> &args);
std::string read_whole_file(const std::string &path);
void write_whole_file(const std::string &path, const std::string &data);
// Error lines with their source line numbers replaced by N, so tests can
// compare them whole: " ERROR  (cv_gpio|gpio_init_param|N): ...".
std::string without_line_numbers(const std::string &text);
// The words that put the shared library lib before all others into the
// tool started after them, not into the emulator or its shell wrapper (an
// address-sanitized tool is told to accept it ahead of its runtime).
std::string preloading(const std::string &lib);
// A file of the test fixtures directory (tests/fixtures/...).
std::string fixture_path(const std::string &name);
// What a module's usage operation prints: `debug -h MODULE` less its
// version line, from fixtures/usage/MODULE.txt.
std::string module_usage(const std::string &module);

// The processes of a sandbox run (process ID pid) still there `seconds`
// after it ended, named, then killed: those in its process group, and those
// whose command line names the run's directory (camvm's emulator has a
// session of its own, but shares that directory with the guest).
std::vector<std::string> leftovers(const Camsim &cam, pid_t pid, int seconds);

#endif
