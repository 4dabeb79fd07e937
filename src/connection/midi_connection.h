// zu's MIDI connection: output port 0 and input port 1, both on one service, kept
// connected while the service and the peers come and go. See README.md here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../midi/midi_inbox.h"
#include "port_keeper.h"

class MidiConnection {
  public:
    using Clock = std::chrono::steady_clock;
    // How long quitting waits, all in all, for a service that stopped answering.
    static constexpr std::chrono::milliseconds CLOSE_LIMIT{500};
    // Messages waiting beyond this are dropped: the service is not taking them.
    static constexpr size_t QUEUE_LIMIT = 256;
    // The most messages handed to an output while its service ran no cycle; more are
    // dropped. RtMidi's JACK output holds about 2,300 and then spins until there is room.
    static constexpr size_t STALL_LIMIT = 1024;

    // Which port of the service's list zu takes, and its own names there.
    struct Port {
        std::string client, name;
        unsigned index;
    };

    // A connection whose input hands what arrives to inbox. Never destroy one: a
    // thread left waiting in a service that stopped answering may still reach it.
    explicit MidiConnection(MidiInbox& inbox) : inbox_(inbox) {}
    // Opens out and in on the connection's thread, unconnected, connects them by the
    // start rule and says what it found; from then on keeps them connected. Returns at once.
    void start(const Port& out, const Port& in);
    // Waits until start has said what it found, at most until deadline; true when it has.
    bool started(Clock::time_point deadline);
    // Queues a three-byte message; never blocks. Dropped while the output cannot send
    // (not open, or its service is gone) and while QUEUE_LIMIT wait.
    void send(const std::vector<unsigned char>& msg);
    // Closes everything within CLOSE_LIMIT; false when a closing was left waiting in a
    // service that stopped answering, which libjack's teardown at exit must not meet.
    bool close();

  private:
    struct Outlet; // an output object and its sender

    // Queues job for the connection's thread and waits for it until deadline (past
    // that the job must own what it uses); true when it finished.
    bool onConnectionThread(std::function<void()> job, Clock::time_point deadline);
    void loop();
    PortCheck openPort(KeptPort& p);
    bool openObject(KeptPort& p, int index);
    void drop(KeptPort& p);
    void sendAll(std::shared_ptr<Outlet> o);
    bool stopSender(const std::shared_ptr<Outlet>& o, Clock::time_point deadline);
    void closeOutlet(const std::shared_ptr<Outlet>& o, bool serviceGone,
                     Clock::time_point deadline);
    std::shared_ptr<Outlet> outlet();

    MidiInbox& inbox_;
    // m_ guards what other threads share: jobs_, events_, keeping_, started_,
    // threadRuns_ and outlet_.
    std::mutex m_;
    std::condition_variable wake_, done_;
    std::deque<std::function<void()>> jobs_;
    unsigned events_ = 0;
    bool keeping_ = false, started_ = false, threadRuns_ = false;
    std::shared_ptr<Outlet> outlet_;
    std::atomic<bool> leftBehind_{false};

    // The connection thread's own.
    KeptPort output_, input_;
    std::string clients_[2];                // output's, input's
    RtMidi::Api api_ = RtMidi::UNSPECIFIED; // the service both ports use
    std::unique_ptr<RtMidiIn> midiIn_;
    bool inFresh_ = false; // midiIn_ was built and not opened yet
    std::unique_ptr<Keeping> keeper_;
    // The service's cycles (ServiceWatch::cycles), for the senders; set before the first.
    std::function<unsigned long()> cycles_;
};
