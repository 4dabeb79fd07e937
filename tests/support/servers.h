// The private servers a test runs against: an X server (Xvfb) and a MIDI service,
// either a JACK server with the dummy backend or a PipeWire daemon that JACK
// clients reach through PipeWire's libjack. Each is stopped by PID in its destructor.
// The kernel's ALSA sequencer, where there is one, stands in for a service too.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "evidence.h"
#include "process.h"

namespace zutest {

// A private Xvfb, started through tools/xvfb.sh: Xvfb picks a free display itself.
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
    std::unique_ptr<TempDir> dir_;
    Process proc_;
    std::string display_;
    std::unique_ptr<Kept> kept_;
};

// The MIDI services zu is tested on.
enum class Service { Jack, PipeWire, Alsa };
// "Jack", "PipeWire" or "Alsa".
std::string serviceName(Service service);
// For GoogleTest's messages and test names.
void PrintTo(Service service, std::ostream* os);

// The ports of a service and their connections, as one client saw them at one moment.
struct PortGraph {
    std::vector<std::string> ports; // full names, in the service's order
    std::map<std::string, std::vector<std::string>> links;

    // The ports connected to port.
    std::vector<std::string> connections(const std::string& port) const;
    bool connected(const std::string& port, const std::string& other) const;
    // The full name of the port shortName of a client whose name starts with client
    // (a service may add a suffix to it); empty when there is none.
    std::string portOf(const std::string& client, const std::string& shortName) const;
};

// A MIDI service that clients reach through clientEnvironment().
class MidiService {
  public:
    virtual ~MidiService() = default;
    MidiService(const MidiService&) = delete;
    MidiService& operator=(const MidiService&) = delete;

    // "zu-e2e-<pid>-<n>", a new one per call.
    static std::string uniqueName(const std::string& prefix = "zu-e2e");

    const std::string& name() const { return name_; }
    // The daemon's PID, for tests that kill or stall it.
    pid_t pid() const { return proc_.pid(); }
    virtual bool running() { return proc_.running(); }
    // Stops the service; true when SIGTERM was enough.
    virtual bool stop() = 0;
    // Starts it again under the same name, after it stopped or was killed; throws
    // when it does not come up.
    virtual void restart() = 0;
    // After the service was killed or stalled, and every client has gone: frees what
    // its name still holds; false when that failed.
    virtual bool freeName() { return true; }
    // Every port and its connections, read by one client (each client that comes and
    // goes is news to every other); empty when the service cannot be reached.
    virtual PortGraph graph() const = 0;
    // Every port's full name, in the service's order.
    std::vector<std::string> ports() const { return graph().ports; }
    // The ports connected to port (full name "client:port").
    std::vector<std::string> connections(const std::string& port) const {
        return graph().connections(port);
    }
    // Connects (made) or disconnects two ports by full name with the service's own tool,
    // as a user does; true when the tool succeeded.
    virtual bool link(const std::string& from, const std::string& to, bool made) const;
    // PortGraph::portOf on the graph as it is now.
    std::string portOf(const std::string& client, const std::string& shortName) const {
        return graph().portOf(client, shortName);
    }
    // The daemon's log: everything it printed, each line behind the CLOCK_MONOTONIC
    // microseconds it arrived at where the daemon prints no time itself.
    virtual std::string logPath() const = 0;
    // The environment that sends JACK clients to this service and never starts one.
    virtual Environment clientEnvironment(Environment base = Environment::current()) const = 0;

  protected:
    explicit MidiService(const std::string& name) : name_(name) {}

    std::string name_;
    Process proc_;
};

// Starts a private service of that kind under name; throws when it does not come up.
std::unique_ptr<MidiService> startService(Service service, const std::string& name);
// The environment in which JACK clients of that kind find no MIDI service at all.
Environment withoutService(Service service, Environment base = Environment::current());

// A private JACK server. JACK keeps at most eight servers in a registry that
// outlives them, and a server that was killed keeps its entry; so a server is
// always stopped with SIGTERM, and one that had to be killed is started again
// under the same name and stopped cleanly, which frees its entry.
class JackServer : public MidiService {
  public:
    // Starts "jackd -n name -d dummy" and waits until a client can connect; throws on failure.
    explicit JackServer(const std::string& name);
    ~JackServer() override;

    bool stop() override;
    void restart() override { start(); }
    // Starts the server again under its name and stops it cleanly, then removes the
    // semaphores that its lost clients could not remove.
    bool freeName() override;
    PortGraph graph() const override;
    // Connects two ports by full name; false when JACK refuses.
    bool connect(const std::string& from, const std::string& to) const;
    Environment clientEnvironment(Environment base = Environment::current()) const override;
    std::string logPath() const override { return dir_->file("jackd.log"); }

  private:
    void start();
    bool reachable() const;

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<class StampedLog> log_;
    bool stopped_ = false;
    std::unique_ptr<Kept> kept_;
};

// A private PipeWire daemon: its own runtime directory (0700), core name and the
// default configuration, whose dummy driver runs the graph without sound hardware
// or a session manager. Clients reach it through PipeWire's libjack.
class PipeWireServer : public MidiService {
  public:
    // Starts "pipewire" and waits for its socket; throws on failure.
    explicit PipeWireServer(const std::string& name);
    ~PipeWireServer() override { stop(); }

    bool stop() override;
    void restart() override { start(); }
    PortGraph graph() const override;
    Environment clientEnvironment(Environment base = Environment::current()) const override;
    // PipeWire's libjack, a PIPEWIRE_REMOTE and a runtime directory of base's choosing.
    static Environment jackLibrary(Environment base, const std::string& remote);
    std::string logPath() const override { return dir_->file("pipewire.log"); }

  private:
    void start();

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<Kept> kept_;
};

// The kernel's ALSA sequencer (tests/alsa runs the tests in a guest that has one).
// Nobody starts or stops it, and there is no daemon: pid() is -1. Ports are named
// "client:port" after ALSA's client and port names; each RtMidi object is a client
// of its own, so one peer is three clients of one name.
class AlsaService : public MidiService {
  public:
    // Throws when there is no sequencer (/dev/snd/seq).
    explicit AlsaService(const std::string& name);

    bool running() override;
    bool stop() override { return true; }
    void restart() override {}
    PortGraph graph() const override;
    bool link(const std::string& from, const std::string& to, bool made) const override;
    // No daemon's log: the ports and their connections as they are when asked.
    std::string logPath() const override;
    // No JACK or PipeWire server named; the test's peer uses ALSA.
    Environment clientEnvironment(Environment base = Environment::current()) const override;

  private:
    std::unique_ptr<TempDir> dir_;
};

} // namespace zutest
