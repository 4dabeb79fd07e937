// A MIDI service as zu keeps its ports connected on it: ports by full name
// ("client:port"), connecting two, and a client of zu's own that hears what changes.
#pragma once

#include <rtmidi/RtMidi.h>

#include <functional>
#include <memory>
#include <mutex>
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

// Used by the connection's thread; the service's threads only hand over.
class ServiceWatch {
  public:
    using Signal = std::function<void(unsigned events)>;
    virtual ~ServiceWatch() = default;
    // Whether asking for the service now is worth its cost.
    virtual bool worthOpening() { return true; }
    // Opens the watching client, which signals from the service's threads; false when
    // no service answers.
    virtual bool open(const Signal& signal) = 0;
    // Closes the watching client, or only lets go of it where the service died.
    virtual void close(bool serviceGone) = 0;
    // The ports that take MIDI in (inputs) or give it out, in the service's order.
    virtual std::vector<std::string> ports(bool inputs) = 0;
    // True when from is connected to to now.
    virtual bool connect(const std::string& from, const std::string& to) = 0;
    // Where the service's process cycles have got to; it stands still while the service
    // is stalled. 0 where that is not known. Any thread may ask.
    virtual unsigned long cycles() { return 0; }
    // What changed since the last call.
    std::vector<PortChange> changes() {
        std::lock_guard<std::mutex> lock(changesM_);
        return std::exchange(changes_, {});
    }

  protected:
    // From the service's thread: a change, named while its ports can still be named.
    void report(PortChange c) {
        {
            std::lock_guard<std::mutex> lock(changesM_);
            changes_.push_back(std::move(c));
        }
        signal_(CHANGED);
    }
    Signal signal_;

  private:
    std::mutex changesM_;
    std::vector<PortChange> changes_;
};

// The watch on a JACK service (jackd, or PipeWire through its libjack): a client
// "zu-watch" without ports that hears the server's end, clients going, ports coming
// and going and connections made and undone.
std::unique_ptr<ServiceWatch> makeJackWatch();
// The watch on the ALSA sequencer.
std::unique_ptr<ServiceWatch> makeAlsaWatch();
// Hand libjack's and ALSA lib's own messages to libraryMessage; before their first client.
void quietJack();
void quietAlsa();
