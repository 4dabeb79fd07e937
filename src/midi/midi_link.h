// zu's two ports on a JACK service (jackd, or PipeWire through its libjack), kept
// connected while the service goes away and comes back. Each port is opened
// unconnected and connected by name from a small client of zu's own that has no
// ports. That client also notices the service ending, or one of zu's clients being
// removed; zu then drops what it would send and, once the service answers again,
// opens its ports anew and connects them to what they were connected to before, or
// by the start rules (output port 0, input port 1) when there was nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "midi_api.h"

// One of zu's ports, as its owner hands it to the link.
struct LinkedPort {
    LinkedPort(std::string portName, unsigned startPort, bool receiving)
        : name(std::move(portName)), startIndex(startPort), receives(receiving) {}

    const std::string name;    // the port's own name: "RtMidi Output"
    const unsigned startIndex; // the start rule: which of the other clients' ports it takes
    const bool receives;       // zu's input: other clients' outputs feed it
    // Opens the port unconnected on a new RtMidi object of the JACK API (the first call
    // may use the object its owner already has); false when that failed. Runs on the
    // link's thread once the link keeps the port; must not throw.
    std::function<bool()> reopen;
    // Lets go of the port's object, whose service has gone, without closing it (see abandon).
    std::function<void()> abandon;
    // True while the port is open on a service that answers.
    std::atomic<bool> live{false};
};

class MidiLink {
  public:
    // How long quitting waits for a MIDI service that stopped answering.
    static constexpr std::chrono::milliseconds CLOSE_LIMIT{500};

    // Opens port through port.reopen and connects it by the start rule, then keeps it.
    // found.api must be JACK's. Sets found.answered, found.ports (the other clients'
    // ports, zu's own never counted) and found.opened (the port is open).
    // Without a service the port waits for one. UI thread, before keep(); never throws.
    static void attach(LinkedPort& port, PortCheck& found);
    // Forgets port; its owner is going.
    static void detach(LinkedPort& port);
    // Starts watching the service on a thread of its own: reconnects after a loss, and
    // connects the start rules' ports once they exist. Prints one line on a loss and
    // one when connected again.
    static void keep();
    // Stops watching (within CLOSE_LIMIT) and starts closing the watching client; the
    // next closing that waits (MidiCC::closeInput) waits for it too.
    static void end();
};
