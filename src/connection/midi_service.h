// A MIDI service as the keeper sees it: ports by full name ("client:port"), what
// changed, and how one of zu's ports is joined to a peer.
#pragma once

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

// What opening one of zu's ports found, for the advice at start-up.
struct PortCheck {
    RtMidi::Api api = RtMidi::UNSPECIFIED; // UNSPECIFIED: no object
    bool answered = false;                 // the MIDI service answered
    unsigned listed = 0;                   // ports RtMidi lists for it, zu's own included
    unsigned others = 0;                   // the same, other clients' only
    bool opened = false;
};

enum WatchEvent : unsigned {
    CHANGED = 1,     // ports or connections changed
    LOST = 2,        // the service ended
    CLIENT_GONE = 4, // a client went: perhaps one of zu's
};

// What the service told, in its order.
struct PortChange {
    enum Kind { MADE, UNDONE, ADDED, REMOVED } kind;
    std::string from, to; // MADE, UNDONE: the connection; ADDED, REMOVED: the port, in from
};

// One of zu's two ports, as the keeper keeps it.
struct KeptPort {
    std::string name;        // the port's own name: "RtMidi Output"
    unsigned startIndex = 0; // which of the other clients' ports the start rule takes
    bool input = false;      // zu's input: other clients' outputs feed it
    // Opens the port unconnected (index -1) or onto the service's port index, closing
    // what it had open; sets live.
    std::function<bool(int index)> open;
    // Lets go of the port's object, whose service has gone, without closing it.
    std::function<void()> drop;
    std::atomic<bool> live{false}; // open on a service that answers; read by any thread

    // The keeper's own, on the connection's thread.
    std::string fullName;            // as the service lists it; empty until it shows there
    std::vector<std::string> before; // ports of this name before it opened: another zu's
    std::set<std::string> peers;     // connected to it, or until they went away
    std::set<std::string> restore;   // peers to connect again once they are there
    bool startRule = false;          // still to connect by the start rule
    bool needsOpen = true;
};

// Used by the connection's thread; the service's threads only hand over.
class MidiService {
  public:
    using Millis = std::chrono::milliseconds;
    using Signal = std::function<void(unsigned events)>;
    virtual ~MidiService() = default;
    // Whether asking for the service now is worth its cost.
    virtual bool worthOpening() { return true; }
    // Starts watching the service, which may signal from its own threads; false when it
    // does not answer.
    virtual bool watch(const Signal& signal) = 0;
    // Stops watching, or only lets go where the service died.
    virtual void unwatch(bool serviceGone) = 0;
    // The ports that take MIDI in (inputs) or give it out, in the service's order.
    virtual std::vector<std::string> ports(bool inputs) = 0;
    // Makes p ready to be joined to its peers; false when that failed.
    virtual bool prepare(KeptPort& p) = 0;
    // Joins p to peer, a port of the other direction; true when they are joined now.
    virtual bool join(KeptPort& p, const std::string& peer) = 0;
    // Looks at a service that tells nothing itself; WatchEvent bits.
    virtual unsigned look() { return 0; }
    // How often look must run; 0 where the service tells its changes.
    virtual Millis pace() const { return Millis(0); }
    // Where the service's process cycles have got to; it stands still while the service
    // is stalled. 0 where that is not known. Any thread may ask.
    virtual unsigned long cycles() { return 0; }
    // What changed since the last call.
    std::vector<PortChange> changes() {
        std::lock_guard<std::mutex> lock(changesM_);
        return std::exchange(changes_, {});
    }

  protected:
    // A change, named while its ports can still be named; any thread.
    void report(PortChange c, unsigned events = CHANGED) {
        {
            std::lock_guard<std::mutex> lock(changesM_);
            changes_.push_back(std::move(c));
        }
        if (signal_) signal_(events);
    }
    Signal signal_;

  private:
    std::mutex changesM_;
    std::vector<PortChange> changes_;
};

// A service where a client of zu's own hears every change (JACK, the ALSA sequencer):
// zu's ports open unconnected and are joined by connecting ports by name.
class ServiceWatch : public MidiService {
  public:
    bool prepare(KeptPort& p) override { return p.open && p.open(-1); }
    bool join(KeptPort& p, const std::string& peer) override {
        if (p.fullName.empty()) return false;
        return p.input ? connect(peer, p.fullName) : connect(p.fullName, peer);
    }
    // True when from is connected to to now.
    virtual bool connect(const std::string& from, const std::string& to) = 0;
};

// The watch on a JACK service (jackd, or PipeWire through its libjack): a client
// "zu-watch" without ports that hears the server's end, clients going, ports coming
// and going and connections made and undone.
std::unique_ptr<ServiceWatch> makeJackWatch();
// The watch on the ALSA sequencer.
std::unique_ptr<ServiceWatch> makeAlsaWatch();
// Where nothing tells (WinMM, CoreMIDI, a build without the watches): a look at RtMidi's
// port lists every pace; zu's port opens onto its peer's index.
std::unique_ptr<MidiService> makePortScan(RtMidi::Api api);
// Hand libjack's and ALSA lib's own messages to libraryMessage; before their first client.
void quietJack();
void quietAlsa();
