// zu's MIDI connection: output port 0 and input port 1, both on one service. This one
// object owns both RtMidi objects, the watch that keeps them connected, the sender and
// the inbox. One thread of its own opens and closes every MIDI client, one after
// another: libjack must not close two clients of one process at once, and a closing
// waits for a service that may have stopped answering.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>

#include "midi_inbox.h"
#include "port_keeper.h"

class MidiConnection {
  public:
    using Clock = std::chrono::steady_clock;
    // How long quitting waits, all in all, for a service that stopped answering.
    static constexpr std::chrono::milliseconds CLOSE_LIMIT{500};
    // Messages waiting beyond this are dropped: the service is not taking them.
    static constexpr size_t QUEUE_LIMIT = 256;

    // The process's connection. Never destroyed: a thread left waiting in a service
    // that stopped answering may still reach it at exit.
    static MidiConnection& get();

    // Builds the output's client with the first API that works; never throws.
    void makeOutput(const std::string& clientName);
    // Opens output port `port` as name, unconnected, connects it by the start rule and
    // keeps it connected (PortKeeper).
    PortCheck openOutput(unsigned port, const std::string& name) { return open(OUT, port, name); }
    // The same for input port `port` on a client of its own, on the output's API; what
    // arrives goes to inbox.
    PortCheck openInput(unsigned port, const std::string& clientName, const std::string& name) {
        clientNames_[IN] = clientName;
        return open(IN, port, name);
    }
    // Starts keeping the ports connected while the service and the peers come and go.
    void keep();
    // Queues a three-byte message; never blocks. Dropped while the output cannot send
    // (never opened, or its service is gone) and while QUEUE_LIMIT wait.
    void send(const std::vector<unsigned char>& msg);
    // Messages dropped so far.
    size_t droppedCount() const { return dropped_; }
    // Closes the output once what is queued is sent, within CLOSE_LIMIT.
    void closeOutput();
    // Closes everything within CLOSE_LIMIT; false when a closing was left waiting in a
    // service that stopped answering, which libjack's teardown at exit must not meet.
    bool close();

    MidiInbox inbox; // what the input received, for the learn and listen tasks

  private:
    enum Side { OUT, IN };
    struct Outlet; // an output object and its sender

    MidiConnection() = default;
    // Runs job on the connection's thread; waits for it until deadline (the job then
    // must own what it uses); true when it finished.
    bool runHere(std::function<void()> job, Clock::time_point deadline = Clock::time_point::max());
    void loop();
    PortCheck open(Side side, unsigned port, const std::string& name);
    bool reopen(Side side);
    void letGo(Side side);
    void listen();
    void sendAll(std::shared_ptr<Outlet> o);
    void retire(const std::shared_ptr<Outlet>& o, bool serviceGone, Clock::time_point deadline);
    void closeOutputBy(Clock::time_point deadline);
    std::shared_ptr<Outlet> outlet();

    std::mutex m_; // for what the other threads share: down to outlet_
    std::condition_variable wake_, done_;
    std::deque<std::function<void()>> jobs_;
    unsigned events_ = 0;
    bool keeping_ = false, started_ = false;
    std::shared_ptr<Outlet> outlet_;
    KeptPort ports_[2];
    std::atomic<size_t> dropped_{0};
    std::atomic<bool> leftBehind_{false};

    RtMidi::Api api_ = RtMidi::UNSPECIFIED; // the service both ports use
    std::string clientNames_[2];
    std::unique_ptr<RtMidiIn> midiIn;
    std::unique_ptr<PortKeeper> keeper_;
    bool used_[2] = {false, false}; // the object built at start serves one opening
    bool outputClosed_ = false;
};

// Output port 0 as main holds it: a view of the connection's output.
class MidiOutput {
  public:
    explicit MidiOutput(const std::string& clientName) {
        MidiConnection::get().makeOutput(clientName);
    }
    ~MidiOutput() { close(); }
    void close() { MidiConnection::get().closeOutput(); }
    // Opens output port `port` as name; prints "Could not open MIDI out port " when it
    // cannot.
    void openPort(unsigned port, const std::string& name) {
        found_ = MidiConnection::get().openOutput(port, name);
        if (isOpen()) return;
        printf("Could not open MIDI out port ");
        fflush(stdout);
    }
    bool isOpen() const { return found_.opened; }
    const PortCheck& found() const { return found_; }
    void send(const std::vector<unsigned char>& msg) { MidiConnection::get().send(msg); }
    size_t droppedCount() const { return MidiConnection::get().droppedCount(); }

  private:
    PortCheck found_;
};
