#include "zu_app.h"

#include <filesystem>
#include <stdexcept>

namespace zutest {

namespace fs = std::filesystem;

ZuApp::ZuApp(const ZuOptions& options) : dir_(std::make_unique<TempDir>("zu-run")) {
    auto copy = [&](const char* name) {
        fs::copy_file(fs::path(options.assetsDir) / name, fs::path(dir_->path()) / name);
    };
    if (options.withFont) copy("8bitOperatorPlus8-Regular.ttf");
    if (options.withDial) copy("dial.bmp");
    SpawnOptions o;
    o.argv = {fs::absolute(options.binary).string()};
    o.env = options.env;
    // Every run keeps a frame log: what zu took and when, for a test that fails.
    if (o.env.get("ZU_FRAME_LOG").empty()) o.env.set("ZU_FRAME_LOG", dir_->file("frames.log"));
    o.cwd = dir_->path();
    o.stdoutPath = dir_->file("stdout.txt");
    o.stderrPath = dir_->file("stderr.txt");
    proc_ = Process(o);
    for (const char* name : {"stdout.txt", "stderr.txt", "frames.log"})
        kept_.push_back(std::make_unique<Kept>("zu-" + std::string(name), dir_->file(name)));
    kept_.push_back(std::make_unique<Kept>("zu-stacks.txt", "", proc_.pid()));
}

bool ZuApp::waitForOutput(const std::string& text, Millis timeout) const {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, timeout, Millis(50),
                     "zu's output");
}

} // namespace zutest
