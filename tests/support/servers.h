// The private servers a test runs against: an X server (Xvfb) and a JACK
// server with the dummy backend. Both are stopped by PID in the destructor.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "process.h"

namespace zutest {

// A private Xvfb on the first free display number from 50 on.
class XvfbServer {
  public:
    // Starts the server and waits until it accepts connections; throws on failure.
    XvfbServer();
    ~XvfbServer() { stop(); }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N", for DISPLAY.
    const std::string& display() const { return display_; }
    bool running() { return proc_.running(); }
    void stop();

  private:
    bool tryStart(int number);

    std::unique_ptr<TempDir> dir_;
    Process proc_;
    std::string display_;
};

// A private JACK server. JACK keeps at most eight servers in a registry that
// outlives them, and a server that was killed keeps its entry; so a server is
// always stopped with SIGTERM, and one that had to be killed is started again
// under the same name and stopped cleanly, which frees its entry.
class JackServer {
  public:
    // Starts "jackd -n name -d dummy" and waits until a client can connect; throws on failure.
    explicit JackServer(const std::string& name);
    ~JackServer() { stop(); }
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // "zu-e2e-<pid>-<n>", a new one per call.
    static std::string uniqueName(const std::string& prefix = "zu-e2e");

    const std::string& name() const { return name_; }
    bool running() { return proc_.running(); }
    // Stops the server; true when it went down cleanly the first time.
    bool stop();
    // The ports connected to port (full name "client:port"); empty when none or
    // when the server cannot be reached.
    std::vector<std::string> connections(const std::string& port) const;
    // Connects two ports by full name; false when JACK refuses.
    bool connect(const std::string& from, const std::string& to) const;
    // Every port's full name, in the server's order.
    std::vector<std::string> ports() const;
    // The environment that sends JACK clients to this server and never starts one.
    Environment clientEnvironment(Environment base = Environment::current()) const;

  private:
    void start();
    bool reachable() const;

    std::string name_;
    std::unique_ptr<TempDir> dir_;
    Process proc_;
    bool stopped_ = false;
};

} // namespace zutest
