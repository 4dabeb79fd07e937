#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
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

bool waitUntil(const std::function<bool()>& cond, Millis timeout, Millis step) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (cond()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return cond();
        std::this_thread::sleep_for(step);
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
    for (auto& e : options.env.entries())
        envp.push_back(const_cast<char*>(e.c_str()));
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
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    pid_ = pid;
    if (options.stdinPipe) {
        close(pipeFds[0]);
        stdinFd_ = pipeFds[1];
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
        reaped_ = true;
        status_ = status;
        return false;
    }
    return r == 0;
}

bool Process::wait(Millis timeout) {
    if (pid_ <= 0) return true;
    return waitUntil([this] { return !running(); }, timeout, Millis(5));
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
    reaped_ = true;
    status_ = status;
}

bool Process::writeStdin(const std::string& text) {
    if (stdinFd_ < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(stdinFd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
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
