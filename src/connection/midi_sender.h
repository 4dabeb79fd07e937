// zu's output: an RtMidi object and a thread of its own that only sends, so that a send
// waiting in a stalled service holds up neither the frame loop nor the keeper.
#pragma once

#include <rtmidi/RtMidi.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class Outlet : public std::enable_shared_from_this<Outlet> {
  public:
    using Clock = std::chrono::steady_clock;
    // Messages waiting beyond this are dropped: the service is not taking them.
    static constexpr size_t QUEUE_LIMIT = 256;
    // The most messages handed to an output while its service ran no cycle; more are
    // dropped. RtMidi's JACK output holds about 2,300 and then spins until there is room.
    static constexpr size_t STALL_LIMIT = 1024;

    // Some outlet's sender was stuck in a service that stopped answering.
    static std::atomic<bool> leftBehind;

    std::unique_ptr<RtMidiOut> midiOut;
    bool fresh = true; // built and not opened yet

    // Starts the sender; cycles tells where the service's cycles are (MidiService::cycles).
    void startSending(std::function<unsigned long()> cycles);
    // Queues msg; never blocks. Dropped once stopping and while QUEUE_LIMIT wait.
    void send(const std::array<unsigned char, 3>& msg);
    // Stops the sender once what it holds is sent; false when it is stuck in a service
    // that stopped answering: then it is left behind, and this outlet kept for ever.
    bool stopSending(Clock::time_point deadline);
    // Stops the sender, then closes the object, or lets go of it where the service died;
    // false when something was left waiting.
    bool close(bool serviceGone, Clock::time_point deadline);

  private:
    void sendAll(std::function<unsigned long()> cycles);

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::array<unsigned char, 3>> queue_;
    bool stopping_ = false, finished_ = true;
    std::thread sender_;
};
