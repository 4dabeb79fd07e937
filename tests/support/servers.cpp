#include "servers.h"

#include <X11/Xlib.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>

namespace zutest {

namespace {
const Millis START_TIMEOUT(15000);
const Millis STOP_GRACE(8000);

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// libjack reports every failed connection attempt on stderr; polling makes many.
void quietJack() {
    static bool done = false;
    if (done) return;
    done = true;
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
}

// A client without ports, for looking at the server; closed when it goes out of scope.
class Peek {
  public:
    explicit Peek(const std::string& server) {
        quietJack();
        jack_status_t status;
        client_ = jack_client_open("zu-test-peek",
                                   static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                   &status, server.c_str());
    }
    ~Peek() {
        if (client_) jack_client_close(client_);
    }
    jack_client_t* get() const { return client_; }

  private:
    jack_client_t* client_ = nullptr;
};

std::vector<std::string> takeList(const char** names) {
    std::vector<std::string> out;
    if (!names) return out;
    for (const char** p = names; *p; ++p)
        out.emplace_back(*p);
    jack_free(names);
    return out;
}
} // namespace

XvfbServer::XvfbServer() : dir_(std::make_unique<TempDir>("zu-xvfb")) {
    for (int n = 50; n < 200; ++n) {
        if (exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
            exists("/tmp/.X" + std::to_string(n) + "-lock"))
            continue;
        if (tryStart(n)) return;
    }
    throw std::runtime_error("Xvfb: no display could be started; last log:\n" +
                             tailOfFile(dir_->file("xvfb.log")));
}

bool XvfbServer::tryStart(int number) {
    std::string display = ":" + std::to_string(number);
    SpawnOptions o;
    o.argv = {"Xvfb", display, "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset"};
    o.stdoutPath = o.stderrPath = dir_->file("xvfb.log");
    proc_ = Process(o);
    // Another Xvfb may take the same number at the same moment: ours then exits
    // and the next number is tried.
    bool up = waitUntil(
        [&] {
            if (!proc_.running()) return true;
            Display* d = XOpenDisplay(display.c_str());
            if (!d) return false;
            XCloseDisplay(d);
            return true;
        },
        START_TIMEOUT, Millis(25));
    if (up && proc_.running()) {
        display_ = display;
        return true;
    }
    proc_.terminate(STOP_GRACE);
    return false;
}

void XvfbServer::stop() {
    proc_.terminate(STOP_GRACE);
}

std::string JackServer::uniqueName(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

JackServer::JackServer(const std::string& name)
    : name_(name), dir_(std::make_unique<TempDir>("zu-jack")) {
    start();
}

void JackServer::start() {
    SpawnOptions o;
    o.argv = {"jackd", "--no-realtime", "-n", name_, "-d", "dummy", "-r", "48000", "-p", "256"};
    o.env.set("JACK_NO_AUDIO_RESERVATION", "1");
    o.stdoutPath = o.stderrPath = dir_->file("jackd.log");
    proc_ = Process(o);
    bool up = waitUntil([&] { return !proc_.running() || reachable(); }, START_TIMEOUT, Millis(50));
    if (!up || !proc_.running()) {
        proc_.terminate(STOP_GRACE);
        throw std::runtime_error("jackd " + name_ + " did not come up (" + proc_.describeEnd() +
                                 "):\n" + tailOfFile(dir_->file("jackd.log")));
    }
    stopped_ = false;
}

bool JackServer::reachable() const {
    return Peek(name_).get() != nullptr;
}

bool JackServer::stop() {
    if (stopped_) return true;
    stopped_ = true;
    if (proc_.terminate(STOP_GRACE)) return true;
    // Killed: its registry entry stays until a server of the same name exits cleanly.
    try {
        start();
        stopped_ = true;
        proc_.terminate(STOP_GRACE);
    } catch (const std::exception&) {
    }
    return false;
}

std::vector<std::string> JackServer::connections(const std::string& port) const {
    Peek peek(name_);
    if (!peek.get()) return {};
    jack_port_t* p = jack_port_by_name(peek.get(), port.c_str());
    if (!p) return {};
    return takeList(jack_port_get_all_connections(peek.get(), p));
}

bool JackServer::connect(const std::string& from, const std::string& to) const {
    Peek peek(name_);
    return peek.get() && jack_connect(peek.get(), from.c_str(), to.c_str()) == 0;
}

std::vector<std::string> JackServer::ports() const {
    Peek peek(name_);
    if (!peek.get()) return {};
    return takeList(jack_get_ports(peek.get(), nullptr, nullptr, 0));
}

Environment JackServer::clientEnvironment(Environment base) const {
    return base.set("JACK_DEFAULT_SERVER", name_).set("JACK_NO_START_SERVER", "1");
}

} // namespace zutest
