// Output port 0, fed by a sender thread so that a stalled MIDI service never
// blocks the frame loop.
#pragma once

#include <rtmidi/RtMidi.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi_api.h"
#include "midi_link.h"

class MidiOutput {
  public:
    // Messages waiting beyond this are dropped: the service is not taking them.
    static constexpr size_t QUEUE_LIMIT = 256;

    // Creates the RtMidiOut client (any API that works); never throws.
    explicit MidiOutput(const std::string& clientName);
    // Stops the sender; one stuck in a dead service is left behind.
    ~MidiOutput();
    // Stops the sender and closes the port now, as the destructor does; nothing is
    // sent after it.
    void close();

    // Opens output port 0 as name; on failure prints "Could not open MIDI out port "
    // and the port's name, and stays closed. On JACK the port is kept connected
    // through losses of the service (MidiLink).
    void openPort(unsigned port, const std::string& name);
    // True once the port was opened and connected at start.
    bool isOpen() const { return found_.opened; }
    // What openPort found of the service and its ports.
    const PortCheck& found() const { return found_; }
    // Queues a three-byte message in order; never blocks. Dropped while the port
    // cannot send (never opened, or its service is gone) and while the queue is full.
    void send(const std::vector<unsigned char>& msg);
    // Messages sent so far / dropped so far.
    size_t sentCount() const { return counts_->sent; }
    size_t droppedCount() const { return counts_->dropped; }

  private:
    struct Counts {
        std::atomic<size_t> sent{0}, dropped{0};
    };
    // Everything a sender uses: it owns a share, so a sender left behind in a
    // service that stopped answering never touches a destroyed output.
    struct Shared {
        std::unique_ptr<RtMidiOut> out;
        std::shared_ptr<Counts> counts;
        std::mutex m;
        std::condition_variable wake;
        std::deque<std::array<unsigned char, 3>> queue;
        bool stopping = false;
        bool abandoned = false; // its service died: the port is let go, not closed
        std::atomic<bool> finished{false};
    };
    static void run(std::shared_ptr<Shared> s);
    // Stops the sender of s (closing its port), leaving one stuck in a dead service behind.
    static void retire(std::shared_ptr<Shared> s, std::thread& worker);
    // The link's reopen: the port opened unconnected, on a new object after the first time.
    bool openUnconnected();
    // The link's abandon: the sender stops and lets go of the port without closing it.
    void abandonShare();
    bool canSend() const;
    std::shared_ptr<Shared> share() const;

    std::string clientName_, portName_;
    std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
    mutable std::mutex shareM_; // s_ is replaced by the link's thread on a reopening
    std::shared_ptr<Shared> s_ = std::make_shared<Shared>();
    std::thread worker_;
    PortCheck found_;
    LinkedPort link_{"RtMidi Output", 0, false};
    bool linked_ = false, used_ = false;
};
