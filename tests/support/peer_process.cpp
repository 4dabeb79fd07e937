#include "peer_process.h"

#include <csignal>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace zutest {

namespace {
const Millis READY_LIMIT(15000);
const Millis STOP_GRACE(8000);
} // namespace

PeerProcess::PeerProcess(const std::string& program, const Environment& env)
    : dir_(std::make_unique<TempDir>("zu-peer")) {
    // A peer that died must fail the test, not end it with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    SpawnOptions o;
    o.argv = {program};
    o.env = env;
    o.stdoutPath = dir_->file("out.txt");
    o.stderrPath = dir_->file("err.txt");
    o.stdinPipe = true;
    proc_ = Process(o);
    kept_[0] = std::make_unique<Kept>("peer-out.txt", dir_->file("out.txt"));
    kept_[1] = std::make_unique<Kept>("peer-err.txt", dir_->file("err.txt"));
    kept_[2] = std::make_unique<Kept>("peer-stacks.txt", "", proc_.pid());
    auto ready = [&] { return readFile(dir_->file("out.txt")).rfind("ready\n", 0) == 0; };
    if (!waitUntil([&] { return ready() || !proc_.running(); }, READY_LIMIT, Millis(20),
                   "the peer's ports") ||
        !ready())
        throw std::runtime_error("zu_midi_peer did not start (" + proc_.describeEnd() + "):\n" +
                                 tailOfFile(dir_->file("err.txt")));
}

PeerProcess::~PeerProcess() {
    proc_.terminate(STOP_GRACE);
}

bool PeerProcess::restartEngine() {
    auto restarts = [&] { return countOf(readFile(dir_->file("out.txt")), "restarted\n"); };
    size_t before = restarts();
    return proc_.writeStdin("restart\n") &&
           waitUntil([&] { return restarts() > before; }, READY_LIMIT, Millis(20), "the restart");
}

void PeerProcess::send(int port, const std::vector<unsigned char>& bytes) {
    std::lock_guard<std::mutex> lock(sending_);
    // A peer that takes no input for the write's limit gets none from then on.
    if (!proc_.writeStdin("send" + std::to_string(port) + " " + formatBytes(bytes) + "\n") &&
        !deaf_) {
        deaf_ = true;
        fprintf(stderr, "zu-test: the peer took no input: from now on sends go nowhere\n");
    }
}

std::vector<MidiMessage> PeerProcess::reported() const {
    std::vector<MidiMessage> all;
    std::istringstream lines(readFile(dir_->file("out.txt")));
    std::string line;
    // Only whole lines: the last one may still be being written.
    while (std::getline(lines, line) && !lines.eof()) {
        if (line.rfind("recv ", 0) != 0) continue;
        std::istringstream fields(line.substr(5));
        MidiMessage m;
        std::string rest;
        fields >> m.micros;
        std::getline(fields, rest);
        if (parseBytes(rest, m.bytes)) all.push_back(std::move(m));
    }
    return all;
}

std::vector<MidiMessage> PeerProcess::received() const {
    std::vector<MidiMessage> all = reported();
    size_t skip = std::min(forgotten_.load(), all.size());
    return std::vector<MidiMessage>(all.begin() + static_cast<long>(skip), all.end());
}

bool PeerProcess::waitForCount(size_t n, std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return received().size() >= n; }, timeout, Millis(5),
                     "messages at the peer");
}

void PeerProcess::clearReceived() {
    forgotten_ = reported().size();
}

} // namespace zutest
