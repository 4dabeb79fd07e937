// Child processes for tests: spawned with a chosen environment and working
// directory, waited for with a timeout, and always stopped by their own PID.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "deadline.h"

namespace zutest {

// The environment as "NAME=value" strings.
class Environment {
  public:
    // A copy of this process's environment.
    static Environment current();
    // An empty environment.
    Environment() = default;

    Environment& set(const std::string& name, const std::string& value);
    Environment& unset(const std::string& name);
    bool has(const std::string& name) const;
    std::string get(const std::string& name) const;
    const std::vector<std::string>& entries() const { return entries_; }

  private:
    std::vector<std::string> entries_;
};

// The full path of program found on PATH (or program itself when it has a '/');
// empty when not found.
std::string findProgram(const std::string& program);

// Polls cond every step until it holds or timeout passes (or the case's deadline: see
// deadline.h); the last result. what, file and line name the wait in messages.
bool waitUntil(const std::function<bool()>& cond, Millis timeout, Millis step = Millis(20),
               const char* what = __builtin_FUNCTION(), const char* file = __builtin_FILE(),
               int line = __builtin_LINE());

// A reaper outside this process (tools/reaper.sh) stops every child still running and
// frees every JACK server name still taken once this process has ended, however it ended:
// ctest kills a case that outran its TIMEOUT, and all the case started, with SIGKILL.
// Process tells it of its children; JackServer of its names ("jack NAME", "freed NAME").
void tellReaper(const std::string& line);

struct SpawnOptions {
    std::vector<std::string> argv; // argv[0] is looked up on PATH
    Environment env = Environment::current();
    std::string cwd;        // empty: the current directory
    std::string stdoutPath; // empty: /dev/null
    std::string stderrPath; // empty: /dev/null
    bool stdinPipe = false; // otherwise stdin is /dev/null
    bool dumpsCore = false; // a crash leaves a core file, where kernel.core_pattern says
};

// One child process. The destructor kills and reaps it if it is still running,
// so a failing test never leaves it behind.
class Process {
  public:
    Process() = default;
    // Throws std::runtime_error when the program is missing or fork fails.
    explicit Process(const SpawnOptions& options);
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    // Started and not yet reaped.
    bool running();
    // Waits until the process has ended; false when it is still running after timeout.
    bool wait(Millis timeout);
    // After wait() succeeded: how it ended.
    bool exitedNormally() const;
    int exitCode() const;   // -1 when it did not exit normally
    int termSignal() const; // 0 when it was not ended by a signal
    std::string describeEnd() const;

    void signal(int sig);
    // SIGTERM, then SIGKILL after grace. True when SIGTERM alone was enough.
    bool terminate(Millis grace);
    // SIGKILL and reap.
    void kill();

    // Writes text to the child's stdin (SpawnOptions::stdinPipe); false on error, or when
    // the child took none of it for limit: then stdin is closed, since it reads no more.
    bool writeStdin(const std::string& text, Millis limit = Millis(10000));
    void closeStdin();

  private:
    void reset();
    void ended(int status);

    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    int stdinFd_ = -1;
};

// A fresh directory under /tmp, removed with everything in it on destruction.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "zu-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);
// How often line occurs in text.
size_t countOf(const std::string& text, const std::string& line);
// The last lines of a file, for failure messages.
std::string tailOfFile(const std::string& path, size_t maxChars = 2000);

} // namespace zutest
