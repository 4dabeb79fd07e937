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

#include "../midi/midi_api.h"

class MidiOutput {
  public:
    // Messages waiting beyond this are dropped: the service is not taking them.
    static constexpr size_t QUEUE_LIMIT = 256;

    // Creates the RtMidiOut client (any API that works); never throws.
    explicit MidiOutput(const std::string& clientName);
    // Stops the sender; one stuck in a dead service is left behind.
    ~MidiOutput();

    // Opens output port 0 as name; on failure prints "Could not open MIDI out port "
    // and the port's name, and stays closed.
    void openPort(unsigned port, const std::string& name);
    // True once a port is open.
    bool isOpen() const { return found_.opened; }
    // What openPort found of the service and its ports.
    const PortCheck& found() const { return found_; }
    // Queues a three-byte message in order; never blocks. Dropped while closed or full.
    void send(const std::vector<unsigned char>& msg);
    // Messages sent so far / dropped so far.
    size_t sentCount() const { return s_->sent; }
    size_t droppedCount() const { return s_->dropped; }

  private:
    // Everything the sender uses: it owns a share, so a sender left behind in a
    // service that stopped answering never touches a destroyed output.
    struct Shared {
        std::unique_ptr<RtMidiOut> out;
        std::mutex m;
        std::condition_variable wake;
        std::deque<std::array<unsigned char, 3>> queue;
        bool stopping = false;
        std::atomic<bool> finished{false};
        std::atomic<size_t> sent{0}, dropped{0};
    };
    static void run(std::shared_ptr<Shared> s);

    std::shared_ptr<Shared> s_ = std::make_shared<Shared>();
    PortCheck found_;
    std::thread worker_;
};
