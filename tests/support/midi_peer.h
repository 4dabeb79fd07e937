// A MIDI peer on a JACK server or the ALSA sequencer: one input port "in", then two
// output ports "out0" and "out1". Registered in that order, they become zu's output
// port 0 and input port 1 (RtMidi lists JACK ports in registration order, ALSA's by
// client, and each RtMidi object on ALSA is a client of its own, numbered in turn).
#pragma once

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zutest {

// CLOCK_MONOTONIC in microseconds.
long long monotonicMicros();

struct MidiMessage {
    long long micros = 0; // monotonic arrival time
    std::vector<unsigned char> bytes;
};

// Parses "B0 B1 ..." (decimal bytes 0..255); false on anything else or an empty list.
bool parseBytes(const std::string& text, std::vector<unsigned char>& out);
// "B0 B1 ..." in decimal.
std::string formatBytes(const std::vector<unsigned char>& bytes);

// What a test does with a MIDI peer, wherever the peer runs.
class Peer {
  public:
    virtual ~Peer() = default;
    // Sends bytes on out0 (port 0) or out1 (port 1).
    virtual void send(int port, const std::vector<unsigned char>& bytes) = 0;
    // Every message received so far, in order.
    virtual std::vector<MidiMessage> received() const = 0;
    size_t receivedCount() const { return received().size(); }
    // Waits until at least n messages have arrived; false on timeout.
    virtual bool waitForCount(size_t n, std::chrono::milliseconds timeout) const = 0;
    // Forgets what was received so far.
    virtual void clearReceived() = 0;
};

// The peer in this process, on the JACK server named by JACK_DEFAULT_SERVER, or
// on the ALSA sequencer.
class MidiPeer : public Peer {
  public:
    // Registers the ports; throws std::runtime_error when the service cannot be reached.
    // engine: "in" is a JACK client of its own, whose engine can restart.
    explicit MidiPeer(const std::string& clientName = "zu-peer",
                      RtMidi::Api api = RtMidi::UNIX_JACK, bool engine = false);
    // Closes the ports before the clients go, so the server sees a clean exit.
    ~MidiPeer() override;
    MidiPeer(const MidiPeer&) = delete;
    MidiPeer& operator=(const MidiPeer&) = delete;

    void send(int port, const std::vector<unsigned char>& bytes) override;
    std::vector<MidiMessage> received() const override;
    bool waitForCount(size_t n, std::chrono::milliseconds timeout) const override;
    void clearReceived() override;
    // The next message not yet taken with next(), waiting up to timeout.
    bool next(MidiMessage& out, std::chrono::milliseconds timeout);
    // Wakes next() callers for good (used on shutdown).
    void interrupt();
    // As a synth restarting its engine: deactivated, activated 300 ms later; false without
    // an engine or when the server refused.
    bool restartEngine();

  private:
    static void onMessage(double, std::vector<unsigned char>* msg, void* self);
    static int process(jack_nframes_t frames, void* self);

    std::unique_ptr<RtMidiIn> in_;
    jack_client_t* engine_ = nullptr;
    jack_port_t* engineIn_ = nullptr;
    std::unique_ptr<RtMidiOut> out_[2];
    mutable std::mutex m_;
    mutable std::condition_variable arrived_;
    std::vector<MidiMessage> all_;
    size_t taken_ = 0;
    bool interrupted_ = false;
};

} // namespace zutest
