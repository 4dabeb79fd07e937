// zu's MIDI connection: output port 0 and input port 1, both on one service, kept
// connected while the service and the peers come and go. See README.md here.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "../midi/midi_inbox.h"

class MidiConnection {
  public:
    using Clock = std::chrono::steady_clock;
    // How long quitting waits, all in all, for a service that stopped answering.
    static constexpr std::chrono::milliseconds CLOSE_LIMIT{500};

    // Which port of the service's list zu takes, and its own names there.
    struct Port {
        std::string client, name;
        unsigned index;
    };

    // A connection whose input hands what arrives to inbox. Never destroyed: a thread
    // left waiting in a service that stopped answering may still reach it.
    static MidiConnection& make(MidiInbox& inbox);
    // Opens out and in on the connection's thread, unconnected, connects them by the
    // start rule and says what it found; from then on keeps them connected. Returns at once.
    virtual void start(const Port& out, const Port& in) = 0;
    // Waits until start has said what it found, at most until deadline; true when it has.
    virtual bool started(Clock::time_point deadline) = 0;
    // Queues a three-byte message; never blocks. Dropped while the output cannot send
    // (not open, or its service is gone) and while the service is not taking them.
    virtual void send(const std::vector<unsigned char>& msg) = 0;
    // Closes everything within CLOSE_LIMIT; false when a closing was left waiting in a
    // service that stopped answering, which libjack's teardown at exit must not meet.
    virtual bool close() = 0;

  protected:
    ~MidiConnection() = default;
};
