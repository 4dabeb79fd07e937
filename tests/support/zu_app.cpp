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
}

void ZuApp::keepLogs(const std::string& dir) const {
    for (const char* name : {"stdout.txt", "stderr.txt", "frames.log"}) {
        std::error_code ignored;
        fs::copy_file(dir_->file(name), fs::path(dir) / ("zu-" + std::string(name)),
                      fs::copy_options::overwrite_existing, ignored);
    }
}

bool ZuApp::waitForOutput(const std::string& text, Millis timeout) const {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, timeout, Millis(50));
}

} // namespace zutest
