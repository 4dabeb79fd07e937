// Incoming messages on their way from RtMidi's input callback, which runs on the MIDI
// service's thread, to the learn or listen task. zu keeps them itself, so that the
// input object can be replaced under the tasks without them noticing.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

class MidiInbox {
  public:
    // Messages that can wait at once; a fast knob sweep on a dense controller fits.
    static constexpr size_t LIMIT = 1024;

    // RtMidi's input callback (inbox is a MidiInbox*): queues the message's first three
    // bytes and its length; allocates nothing and locks nothing the UI thread holds.
    static void receive(double seconds, std::vector<unsigned char>* msg, void* inbox);
    // Moves the oldest message into msg, or leaves msg empty when none waits.
    void take(std::vector<unsigned char>& msg);
    // Drops every waiting message.
    void clear();
    // Waits until a message arrives that seen has not counted yet, at most limit;
    // then seen counts every message so far. True when one arrived.
    bool waitArrival(unsigned long& seen, std::chrono::milliseconds limit);
    // Messages given up because LIMIT were waiting: when full, an arrival replaces the
    // oldest waiting message of its own controller, else the oldest of all.
    size_t dropped() const { return dropped_; }

  private:
    // A task reads at most bytes 0 to 2; the length tells what a message lacks.
    struct Entry {
        std::array<unsigned char, 3> bytes;
        size_t size;
    };
    void put(const std::vector<unsigned char>& msg);
    // Removes the entry n places after the head, keeping the order of the rest.
    void removeAt(size_t n);

    std::mutex m_;
    std::condition_variable arrived_;
    unsigned long arrivals_ = 0; // every message received, kept or dropped
    std::array<Entry, LIMIT> ring_{};
    size_t head_ = 0, count_ = 0;
    std::atomic<size_t> dropped_{0};
};
