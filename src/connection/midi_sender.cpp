#include "midi_sender.h"

#include <algorithm>

#include "midi_objects.h"

namespace {
// Far longer than a JACK period (5 ms at 256 frames and 48 kHz).
constexpr std::chrono::milliseconds JACK_CYCLE_GRACE(100);
} // namespace

std::atomic<bool> Outlet::leftBehind{false};

void Outlet::startSending(std::function<unsigned long()> cycles) {
    finished_ = false;
    sender_ = std::thread(&Outlet::sendAll, shared_from_this(), std::move(cycles));
}

void Outlet::send(const std::array<unsigned char, 3>& msg) {
    {
        std::lock_guard<std::mutex> lock(m_);
        if (stopping_ || queue_.size() >= QUEUE_LIMIT) return;
        queue_.push_back(msg);
    }
    cv_.notify_all();
}

void Outlet::sendAll(std::function<unsigned long()> cycles) {
    unsigned long cycle = 0;
    size_t handed = 0; // since the service's cycles last moved on
    std::unique_lock<std::mutex> lock(m_);
    while (true) {
        cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) break; // stopping, and everything queued was handed over
        std::array<unsigned char, 3> msg = queue_.front();
        queue_.pop_front();
        lock.unlock();
        unsigned long now = cycles ? cycles() : 0;
        if (now == 0 || now != cycle) handed = 0;
        cycle = now;
        if (handed++ < STALL_LIMIT) midiOut->sendMessage(msg.data(), msg.size());
        lock.lock();
    }
    finished_ = true;
    cv_.notify_all();
}

bool Outlet::stopSending(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_);
    stopping_ = true;
    cv_.notify_all();
    bool finished = cv_.wait_until(lock, deadline, [this] { return finished_; });
    lock.unlock();
    if (finished) {
        if (sender_.joinable()) sender_.join();
        return true;
    }
    if (sender_.joinable()) sender_.detach();
    leftBehind = true;
    neverClose(new std::shared_ptr<Outlet>(shared_from_this()));
    return false;
}

// RtMidi's JACK output frees its buffer before it closes its client, while a process
// cycle that began before the port closed may still read that buffer: the port closes
// first, and the object goes once such a cycle has had many periods' time to end.
bool Outlet::close(bool serviceGone, Clock::time_point deadline) {
    if (!stopSending(deadline)) return false;
    if (!midiOut) return true;
    if (serviceGone) {
        neverClose(midiOut.release());
        return true;
    }
    if (midiOut->getCurrentApi() == RtMidi::UNIX_JACK) {
        midiOut->closePort();
        std::this_thread::sleep_until(std::min(deadline, Clock::now() + JACK_CYCLE_GRACE));
    }
    midiOut.reset();
    return true;
}
