#include "midi_output.h"

#include <chrono>
#include <cstdio>

#include "../midi/midi_api.h"

MidiOutput::MidiOutput(const std::string& clientName) : out_(makeMidi<RtMidiOut>(clientName)) {}

MidiOutput::~MidiOutput() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_);
        stopping_ = true;
    }
    wake_.notify_one();
    // A sender spinning inside a service that died never returns; give it a moment,
    // then leave it and its RtMidiOut behind rather than hang the exit.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (!finished_ && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (finished_) {
        worker_.join();
    } else {
        worker_.detach();
        out_.release();
    }
}

void MidiOutput::openPort(unsigned port, const std::string& name) {
    try {
        if (!out_) throw RtMidiError("no MIDI output");
        out_->openPort(port, name);
        open_ = out_->isPortOpen();
    } catch (...) {
        std::string portName;
        try {
            portName = out_ ? out_->getPortName(port) : "";
        } catch (...) {
        }
        printf("Could not open MIDI out port %s", portName.c_str());
        fflush(stdout);
    }
    if (open_) worker_ = std::thread(&MidiOutput::run, this);
}

void MidiOutput::send(const std::vector<unsigned char>& msg) {
    // Nothing can be delivered through a port that never opened, and RtMidi's JACK
    // output would spin forever once its buffer filled.
    if (!open_ || msg.size() < 3) {
        ++dropped_;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_);
        if (queue_.size() >= QUEUE_LIMIT) {
            ++dropped_;
            return;
        }
        queue_.push_back({msg[0], msg[1], msg[2]});
    }
    wake_.notify_one();
}

void MidiOutput::run() {
    std::unique_lock<std::mutex> lock(m_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) break; // stopping, and everything queued was handed over
        std::array<unsigned char, 3> msg = queue_.front();
        queue_.pop_front();
        lock.unlock();
        try {
            out_->sendMessage(msg.data(), msg.size());
            ++sent_;
        } catch (...) {
            ++dropped_;
        }
        lock.lock();
    }
    finished_ = true;
}
