// The real zu binary, run in a working directory of its own that holds its data
// files, with stdout captured to a file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "evidence.h"
#include "process.h"

namespace zutest {

struct ZuOptions {
    std::string binary;    // path of the zu executable
    std::string assetsDir; // where the font and knob picture are copied from
    bool withFont = true;
    bool withDial = true;
    Environment env = Environment::current();
};

class ZuApp {
  public:
    // Copies the data files into a fresh directory and starts zu there; throws on failure.
    explicit ZuApp(const ZuOptions& options);
    // Stops zu (SIGTERM, then SIGKILL) if it still runs.
    ~ZuApp() { stop(); }
    ZuApp(const ZuApp&) = delete;
    ZuApp& operator=(const ZuApp&) = delete;

    Process& process() { return proc_; }
    bool running() { return proc_.running(); }
    // Waits for zu to end by itself; false on timeout.
    bool waitExit(Millis timeout) { return proc_.wait(timeout); }
    // SIGTERM and wait; SIGKILL after grace. True when SIGTERM was enough.
    bool stop(Millis grace = Millis(5000)) { return proc_.terminate(grace); }

    // What zu wrote to stdout so far, and to stderr.
    std::string output() const { return readFile(dir_->file("stdout.txt")); }
    std::string errors() const { return readFile(dir_->file("stderr.txt")); }
    // Waits until stdout contains text.
    bool waitForOutput(const std::string& text, Millis timeout) const;
    const std::string& workDir() const { return dir_->path(); }
    // Whether zu ended by a signal it did not get from the test, not told yet.
    bool crashed();
    // The threads' stacks in zu's core file (which goes), or why there are none; kept
    // with the evidence as zu-crash-stacks.txt. Once told, crashed() is false.
    std::string crashStacks();

  private:
    std::string binary_;
    bool crashTold_ = false;
    std::unique_ptr<TempDir> dir_;
    Process proc_;
    // stdout, stderr, the frame log and the threads' stacks, for a case that fails.
    std::vector<std::unique_ptr<Kept>> kept_;
};

} // namespace zutest
