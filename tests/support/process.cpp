#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zutest {

Environment Environment::current() {
    Environment e;
    for (char** p = environ; p && *p; ++p)
        e.entries_.emplace_back(*p);
    return e;
}

static bool isEntryOf(const std::string& entry, const std::string& name) {
    return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
           entry[name.size()] == '=';
}

Environment& Environment::set(const std::string& name, const std::string& value) {
    unset(name);
    entries_.push_back(name + "=" + value);
    return *this;
}

Environment& Environment::unset(const std::string& name) {
    std::vector<std::string> kept;
    for (auto& e : entries_)
        if (!isEntryOf(e, name)) kept.push_back(e);
    entries_.swap(kept);
    return *this;
}

bool Environment::has(const std::string& name) const {
    for (auto& e : entries_)
        if (isEntryOf(e, name)) return true;
    return false;
}

std::string Environment::get(const std::string& name) const {
    for (auto& e : entries_)
        if (isEntryOf(e, name)) return e.substr(name.size() + 1);
    return "";
}

std::string findProgram(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0 ? program : "";
    const char* path = getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

bool waitUntil(const std::function<bool()>& cond, Millis timeout, Millis step, const char* what,
               const char* file, int line) {
    Waiting waiting(what, file, line, timeout);
    auto deadline = Clock::now() + waiting.given();
    while (true) {
        if (cond()) return true;
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(step);
    }
    if (cond()) return true;
    waiting.ranOut();
    return false;
}

namespace {
// Field 22 of /proc/PID/stat: with the PID, names the process even after the PID is reused.
std::string startTime(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    return field;
}

// Starts tools/reaper.sh as a grandchild that init adopts, outside the tree that ctest
// kills, and returns the pipe to its stdin; its end of input is this process's end.
int startReaper() {
    const char* keep = getenv("ZU_TEST_KEEP");
    std::string log = std::filesystem::absolute(keep && *keep ? keep : "failed") / "reaper.log";
    const char* argv[] = {"/bin/sh", ZU_REAPER_SCRIPT, log.c_str(), nullptr};
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        setsid();
        if (fork() != 0) _exit(0);
        int null = open("/dev/null", O_RDWR);
        dup2(fds[0], 0);
        dup2(null, 1); // never ctest's pipe: ctest would wait for the reaper
        dup2(null, 2);
        execve(argv[0], const_cast<char**>(argv), environ);
        _exit(127);
    }
    close(fds[0]);
    if (child < 0) {
        close(fds[1]);
        return -1;
    }
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return fds[1];
}
} // namespace

void tellReaper(const std::string& line) {
    static std::mutex m;
    static int fd = -1;
    std::lock_guard<std::mutex> lock(m);
    if (fd < 0) fd = startReaper();
    std::string text = line + "\n"; // one write below PIPE_BUF: whole lines only
    if (fd >= 0 && write(fd, text.data(), text.size()) < 0) {
    }
}

Process::Process(const SpawnOptions& options) {
    if (options.argv.empty()) throw std::runtime_error("spawn: no program");
    std::string program = findProgram(options.argv[0]);
    if (program.empty()) throw std::runtime_error("spawn: " + options.argv[0] + " not found");

    // Everything the child needs is prepared here: after fork only
    // async-signal-safe calls are allowed (the parent may run threads).
    std::vector<char*> argv, envp;
    for (auto& a : options.argv)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The case's deadline is the test's own: a child counting from its start would not keep it.
    for (auto& e : options.env.entries())
        if (e.rfind("ZU_TEST_TIMEOUT=", 0) != 0) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    std::string out = options.stdoutPath.empty() ? "/dev/null" : options.stdoutPath;
    std::string err = options.stderrPath.empty() ? "/dev/null" : options.stderrPath;
    const char* cwd = options.cwd.empty() ? nullptr : options.cwd.c_str();

    int pipeFds[2] = {-1, -1};
    if (options.stdinPipe && pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("spawn: pipe: ") + strerror(errno));

    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error(std::string("spawn: fork: ") + strerror(errno));
    if (pid == 0) {
        // A test process that dies must not leave servers behind; SIGTERM lets
        // them unregister cleanly.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(126);
        setpgid(0, 0); // a terminal's Ctrl-C goes to the test only
        int in = options.stdinPipe ? pipeFds[0] : open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || o < 0 || e < 0) _exit(125);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        if (cwd && chdir(cwd) != 0) _exit(124);
        rlimit core{};
        if (options.dumpsCore && getrlimit(RLIMIT_CORE, &core) == 0) {
            core.rlim_cur = core.rlim_max;
            setrlimit(RLIMIT_CORE, &core);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    pid_ = pid;
    tellReaper("pid " + std::to_string(pid) + " " + startTime(pid));
    if (options.stdinPipe) {
        close(pipeFds[0]);
        stdinFd_ = pipeFds[1];
        fcntl(stdinFd_, F_SETFL, O_NONBLOCK); // writes have a limit
    }
}

Process::~Process() {
    reset();
}

Process::Process(Process&& other) noexcept {
    *this = std::move(other);
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        reset();
        pid_ = other.pid_;
        reaped_ = other.reaped_;
        status_ = other.status_;
        stdinFd_ = other.stdinFd_;
        other.pid_ = -1;
        other.stdinFd_ = -1;
    }
    return *this;
}

void Process::reset() {
    closeStdin();
    if (pid_ > 0 && !reaped_) kill();
    pid_ = -1;
    reaped_ = false;
}

bool Process::running() {
    if (pid_ <= 0 || reaped_) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        ended(status);
        return false;
    }
    return r == 0;
}

void Process::ended(int status) {
    reaped_ = true;
    status_ = status;
    tellReaper("gone " + std::to_string(pid_));
}

bool Process::wait(Millis timeout) {
    if (pid_ <= 0) return true;
    return waitUntil([this] { return !running(); }, timeout, Millis(5), "a process's end");
}

bool Process::exitedNormally() const {
    return reaped_ && WIFEXITED(status_);
}

int Process::exitCode() const {
    return exitedNormally() ? WEXITSTATUS(status_) : -1;
}

int Process::termSignal() const {
    return reaped_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
}

std::string Process::describeEnd() const {
    if (!reaped_) return "still running";
    if (WIFEXITED(status_)) return "exit status " + std::to_string(WEXITSTATUS(status_));
    if (WIFSIGNALED(status_)) return std::string("signal ") + strsignal(WTERMSIG(status_));
    return "status " + std::to_string(status_);
}

void Process::signal(int sig) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
}

bool Process::terminate(Millis grace) {
    Ending ending;
    if (!running()) return true;
    signal(SIGTERM);
    if (wait(grace)) return true;
    kill();
    return false;
}

void Process::kill() {
    if (pid_ <= 0 || reaped_) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    ended(status);
}

bool Process::writeStdin(const std::string& text, Millis limit) {
    if (stdinFd_ < 0) return false;
    size_t done = 0;
    auto deadline = Clock::now() + withinDeadline(limit);
    while (done < text.size()) {
        ssize_t n = write(stdinFd_, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
        pollfd p{stdinFd_, POLLOUT, 0};
        if (n < 0 && errno == EAGAIN && left.count() > 0 &&
            poll(&p, 1, static_cast<int>(left.count())) >= 0)
            continue;
        closeStdin();
        return false;
    }
    return true;
}

void Process::closeStdin() {
    if (stdinFd_ >= 0) close(stdinFd_);
    stdinFd_ = -1;
}

TempDir::TempDir(const std::string& prefix) {
    std::string templ = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error(std::string("mkdtemp: ") + strerror(errno));
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

size_t countOf(const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    return n;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string tailOfFile(const std::string& path, size_t maxChars) {
    std::string all = readFile(path);
    return all.size() > maxChars ? "..." + all.substr(all.size() - maxChars) : all;
}

} // namespace zutest
