// camsim_run.cpp - the black-box tests' way into the simulated camera.
#include "camsim_run.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

const std::string kRunCase = "run_case() { n=$1; shift; \"$@\" > \"$CAMSIM_DIR/$n.out\" "
                             "2> \"$CAMSIM_DIR/$n.err\"; echo $? > \"$CAMSIM_DIR/$n.status\"; }\n";

const std::string kToolWaits = "tool_waits() { until ls -l /proc/$1/fd 2> /dev/null | grep -q \"$2\" &&"
                               " grep -q \"$3\" /proc/$1/wchan 2> /dev/null; do"
                               " [ -e /proc/$1 ] || break; sleep 0.02; done; }\n";

std::string shell_quote(const std::string &text)
{
    std::string q = "'";
    for (char c : text) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string debug_command(const std::vector<std::string> &args)
{
    std::string cmd = "debug";
    for (auto &a : args)
        cmd += " " + shell_quote(a);
    return cmd;
}

std::string module_command(const std::string &module, const std::vector<std::string> &args)
{
    std::vector<std::string> all = {"-M", module};
    all.insert(all.end(), args.begin(), args.end());
    return debug_command(all);
}

std::string read_whole_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_whole_file(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

std::string without_line_numbers(const std::string &text)
{
    return std::regex_replace(text, std::regex("\\|[0-9]+\\): "), "|N): ");
}

std::string fixture_path(const std::string &name)
{
    return std::string(CAMSIM_FIXTURES) + "/" + name;
}

std::string preloading(const std::string &lib)
{
    if (std::string(CAMSIM_EMULATOR).empty())
        return "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 LD_PRELOAD=" + lib;
    return "QEMU_SET_ENV=LD_PRELOAD=" + lib;
}

std::string module_usage(const std::string &module)
{
    std::string help = read_whole_file(fixture_path("usage/" + module + ".txt"));
    return help.substr(help.find('\n') + 1);
}

static void make_dirs(const std::string &path)
{
    std::string cur;
    std::stringstream ss(path);
    std::string part;
    while (std::getline(ss, part, '/')) {
        if (part.empty())
            continue;
        cur += "/" + part;
        mkdir(cur.c_str(), 0755);
    }
}

Camsim::Camsim(Sandbox sandbox) : sandbox_(sandbox)
{
    make_dirs(CAMSIM_WORK_DIR);
    std::string tmpl = std::string(CAMSIM_WORK_DIR) + "/run-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        abort();
    root_ = buf.data();
    state_ = root_ + "/state";
    scratch_ = root_ + "/scratch";
    mkdir(state_.c_str(), 0755);
    mkdir(scratch_.c_str(), 0755);
}

Camsim::~Camsim()
{
    if (!root_.empty() && !getenv("CAMSIM_KEEP_RUNS")) {
        std::string cmd = "rm -rf " + shell_quote(root_);
        if (system(cmd.c_str()) != 0) {
            // Leftovers under the build tree are harmless.
        }
    }
}

void Camsim::set_state(const std::string &name, const std::string &text) const
{
    std::string path = state_ + "/" + name;
    size_t slash = path.rfind('/');
    make_dirs(path.substr(0, slash));
    write_whole_file(path, text);
}

bool Camsim::has_file(const std::string &name) const
{
    return access((state_ + "/" + name).c_str(), F_OK) == 0;
}

std::string Camsim::read_file(const std::string &name) const
{
    return read_whole_file(state_ + "/" + name);
}

std::vector<std::string> Camsim::calls() const
{
    std::vector<std::string> lines;
    std::stringstream ss(read_file("calls.log"));
    std::string line;
    while (std::getline(ss, line))
        lines.push_back(line);
    return lines;
}

void Camsim::option(const std::string &name, const std::string &value)
{
    options_.push_back(name);
    if (!value.empty())
        options_.push_back(value);
}

CamsimResult Camsim::run(const std::string &script, int timeout_sec) const
{
    CamsimResult result = finish(start(script), timeout_sec);
    result.command = script;
    return result;
}

pid_t Camsim::start(const std::string &script) const
{
    const char *sandbox = sandbox_ == Sandbox::vm ? CAMVM_SCRIPT : CAMSIM_SCRIPT;
    std::vector<std::string> args = {"/bin/bash", sandbox, "--dir", state_, "--tool",
                                     CAMSIM_TOOL, "--opt-app", CAMSIM_OPT_APP, "--keep", root_};
    // The emulated camera runs the tool on its own processor.
    if (*CAMSIM_EMULATOR && sandbox_ == Sandbox::host) {
        args.push_back("--emulator");
        args.push_back(CAMSIM_EMULATOR);
    }
    std::stringstream tools(CAMSIM_TEST_TOOLS);
    std::string tool;
    while (std::getline(tools, tool, ':')) {
        if (!tool.empty()) {
            args.push_back("--bin");
            args.push_back(tool);
        }
    }
    args.insert(args.end(), options_.begin(), options_.end());
    args.push_back("--");
    args.push_back("/bin/sh");
    args.push_back("-c");
    args.push_back(script);

    std::string out_path = root_ + "/stdout", err_path = root_ + "/stderr";
    pid_t pid = fork();
    if (pid < 0)
        abort();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // A process group of its own, so that a test's kill reaches it alone.
        setpgid(0, 0);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

CamsimResult Camsim::finish(pid_t pid, int timeout_sec) const
{
    std::string out_path = root_ + "/stdout", err_path = root_ + "/stderr";
    CamsimResult result;
    int status = 0;
    time_t deadline = time(nullptr) + timeout_sec;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR)
            break;
        if (time(nullptr) > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.err = "camsim: timed out\n";
            break;
        }
        usleep(5000);
    }
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.status = 128 + WTERMSIG(status);
    result.out = read_whole_file(out_path);
    result.err += read_whole_file(err_path);
    return result;
}

CamsimResult Camsim::debug(const std::vector<std::string> &args, int timeout_sec) const
{
    return run(debug_command(args), timeout_sec);
}

CamsimResult Camsim::module(const std::string &module, const std::vector<std::string> &args,
                            int timeout_sec) const
{
    return run(module_command(module, args), timeout_sec);
}

CamsimResult Camsim::case_result(const std::string &name) const
{
    CamsimResult result;
    std::string status = read_file(name + ".status");
    result.status = status.empty() ? -1 : std::stoi(status);
    result.out = read_file(name + ".out");
    result.err = read_file(name + ".err");
    return result;
}

std::vector<std::string> leftovers(const Camsim &cam, pid_t pid, int seconds)
{
    std::string root = cam.scratch().substr(0, cam.scratch().rfind('/'));
    std::vector<std::string> left;
    time_t deadline = time(nullptr) + seconds;
    do {
        if (!left.empty())
            usleep(100000);
        left.clear();
        DIR *proc = opendir("/proc");
        while (dirent *e = proc ? readdir(proc) : nullptr) {
            std::string dir = "/proc/" + std::string(e->d_name);
            std::string stat = read_whole_file(dir + "/stat");
            size_t end = stat.rfind(')');
            int ppid = 0, pgid = 0;
            char state = 0;
            if (atoi(e->d_name) == getpid() || end == std::string::npos ||
                sscanf(stat.c_str() + end + 1, " %c %d %d", &state, &ppid, &pgid) != 3 || state == 'Z')
                continue;
            std::string cmdline = read_whole_file(dir + "/cmdline");
            for (char &c : cmdline)
                c = c ? c : ' ';
            if (pgid == pid || cmdline.find(root) != std::string::npos)
                left.push_back(std::string(e->d_name) + " " + cmdline);
        }
        if (proc)
            closedir(proc);
    } while (!left.empty() && time(nullptr) <= deadline);
    for (const auto &p : left)
        kill(atoi(p.c_str()), SIGKILL);
    return left;
}
