#include "zu_app.h"

#include <signal.h>

#include <filesystem>
#include <stdexcept>

namespace zutest {

namespace fs = std::filesystem;

ZuApp::ZuApp(const ZuOptions& options)
    : binary_(fs::absolute(options.binary).string()), dir_(std::make_unique<TempDir>("zu-run")) {
    auto copy = [&](const char* name) {
        fs::copy_file(fs::path(options.assetsDir) / name, fs::path(dir_->path()) / name);
    };
    if (options.withFont) copy("8bitOperatorPlus8-Regular.ttf");
    if (options.withDial) copy("dial.bmp");
    SpawnOptions o;
    o.argv = {binary_};
    o.env = options.env;
    // Every run keeps a frame log: what zu took and when, for a test that fails.
    if (o.env.get("ZU_FRAME_LOG").empty()) o.env.set("ZU_FRAME_LOG", dir_->file("frames.log"));
    o.cwd = dir_->path();
    o.stdoutPath = dir_->file("stdout.txt");
    o.stderrPath = dir_->file("stderr.txt");
    o.dumpsCore = true;
    proc_ = Process(o);
    for (const char* name : {"stdout.txt", "stderr.txt", "frames.log"})
        kept_.push_back(std::make_unique<Kept>("zu-" + std::string(name), dir_->file(name)));
    kept_.push_back(std::make_unique<Kept>("zu-stacks.txt", "", proc_.pid()));
}

bool ZuApp::crashed() {
    int sig = proc_.running() ? 0 : proc_.termSignal();
    return !crashTold_ && sig != 0 && sig != SIGTERM && sig != SIGKILL;
}

std::string ZuApp::crashStacks() {
    crashTold_ = true;
    std::string core = dir_->file("core"), stacks = dir_->file("crash-stacks.txt");
    if (!fs::exists(core)) core += "." + std::to_string(proc_.pid()); // kernel.core_uses_pid
    if (!fs::exists(core))
        return "no core file of zu (kernel.core_pattern: " +
               readFile("/proc/sys/kernel/core_pattern") + ")";
    try {
        Process gdb = startStacks({binary_, core}, stacks);
        endStacks(gdb);
    } catch (const std::exception& e) {
        return std::string("no stacks of zu's core: ") + e.what();
    }
    fs::remove(core);
    kept_.push_back(std::make_unique<Kept>("zu-crash-stacks.txt", stacks));
    return "zu's stacks when it crashed:\n" + readFile(stacks);
}

bool ZuApp::waitForOutput(const std::string& text, Millis timeout) const {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, timeout, Millis(50),
                     "zu's output");
}

} // namespace zutest
