#include "midi_peer.h"

#include "deadline.h"

#include <jack/midiport.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zutest {

long long monotonicMicros() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

bool parseBytes(const std::string& text, std::vector<unsigned char>& out) {
    out.clear();
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(word.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || v < 0 || v > 255) return false;
        out.push_back(static_cast<unsigned char>(v));
    }
    return !out.empty();
}

std::string formatBytes(const std::vector<unsigned char>& bytes) {
    std::string s;
    for (unsigned char b : bytes) {
        if (!s.empty()) s += ' ';
        s += std::to_string(b);
    }
    return s;
}

MidiPeer::MidiPeer(const std::string& clientName, RtMidi::Api api, bool engine) {
    try {
        // Registration order decides the port numbers zu sees.
        if (engine) {
            engine_ = jack_client_open(clientName.c_str(), JackNoStartServer, nullptr);
            if (!engine_) throw std::runtime_error("MIDI peer: no JACK server for the engine");
            engineIn_ =
                jack_port_register(engine_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
            jack_set_process_callback(engine_, &MidiPeer::process, this);
            if (!engineIn_ || jack_activate(engine_) != 0)
                throw std::runtime_error("MIDI peer: the engine did not start");
        } else {
            in_ = std::make_unique<RtMidiIn>(api, clientName, 1000);
            in_->ignoreTypes(false, false, false);
            in_->setCallback(&MidiPeer::onMessage, this);
            in_->openVirtualPort("in");
        }
        // ZU_MIDI_PEER_OUTPUTS=1: a controller with a single output, out0.
        const char* outputs = getenv("ZU_MIDI_PEER_OUTPUTS");
        for (int i = 0; i < (outputs && std::string(outputs) == "1" ? 1 : 2); ++i) {
            out_[i] = std::make_unique<RtMidiOut>(api, clientName);
            out_[i]->openVirtualPort("out" + std::to_string(i));
        }
    } catch (const RtMidiError& e) {
        throw std::runtime_error("MIDI peer: " + e.getMessage());
    }
}

MidiPeer::~MidiPeer() {
    interrupt();
    for (auto& o : out_)
        if (o) o->closePort();
    if (in_) {
        in_->cancelCallback();
        in_->closePort();
    }
    out_[1].reset();
    out_[0].reset();
    in_.reset();
    if (engine_) jack_client_close(engine_);
}

bool MidiPeer::restartEngine() {
    if (!engine_ || jack_deactivate(engine_) != 0) return false;
    // The pause is the restart's own, as long as a synth takes to change its buffers.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return jack_activate(engine_) == 0;
}

int MidiPeer::process(jack_nframes_t frames, void* self) {
    void* buffer = jack_port_get_buffer(static_cast<MidiPeer*>(self)->engineIn_, frames);
    jack_midi_event_t e;
    for (uint32_t i = 0; jack_midi_event_get(&e, buffer, i) == 0; ++i) {
        std::vector<unsigned char> bytes(e.buffer, e.buffer + e.size);
        onMessage(0, &bytes, self);
    }
    return 0;
}

void MidiPeer::send(int port, const std::vector<unsigned char>& bytes) {
    if (port < 0 || port > 1 || !out_[port])
        throw std::invalid_argument("MIDI peer: no output port " + std::to_string(port));
    out_[port]->sendMessage(&bytes);
}

void MidiPeer::onMessage(double, std::vector<unsigned char>* msg, void* self) {
    auto* peer = static_cast<MidiPeer*>(self);
    MidiMessage m{monotonicMicros(), *msg};
    {
        std::lock_guard<std::mutex> lock(peer->m_);
        peer->all_.push_back(std::move(m));
    }
    peer->arrived_.notify_all();
}

std::vector<MidiMessage> MidiPeer::received() const {
    std::lock_guard<std::mutex> lock(m_);
    return all_;
}

bool MidiPeer::waitForCount(size_t n, std::chrono::milliseconds timeout) const {
    Waiting waiting("messages at the peer", __FILE__, __LINE__, timeout);
    std::unique_lock<std::mutex> lock(m_);
    if (arrived_.wait_for(lock, waiting.given(), [&] { return all_.size() >= n; })) return true;
    waiting.ranOut();
    return false;
}

void MidiPeer::clearReceived() {
    std::lock_guard<std::mutex> lock(m_);
    all_.clear();
    taken_ = 0;
}

bool MidiPeer::next(MidiMessage& out, std::chrono::milliseconds timeout) {
    Waiting waiting("the peer's next message", __FILE__, __LINE__, timeout);
    std::unique_lock<std::mutex> lock(m_);
    if (!arrived_.wait_for(lock, waiting.given(),
                           [&] { return interrupted_ || taken_ < all_.size(); })) {
        waiting.ranOut();
        return false;
    }
    if (taken_ >= all_.size()) return false;
    out = all_[taken_++];
    return true;
}

void MidiPeer::interrupt() {
    {
        std::lock_guard<std::mutex> lock(m_);
        interrupted_ = true;
    }
    arrived_.notify_all();
}

} // namespace zutest
