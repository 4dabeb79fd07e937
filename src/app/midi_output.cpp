#include "midi_output.h"

#include <chrono>
#include <cstdio>

namespace {
// How long quitting waits for a MIDI service that stopped answering.
constexpr std::chrono::milliseconds CLOSE_LIMIT(500);
} // namespace

MidiOutput::MidiOutput(const std::string& clientName) {
    s_->out = makeMidi<RtMidiOut>(clientName);
}

MidiOutput::~MidiOutput() {
    if (!worker_.joinable()) {
        destroyWithin(std::move(s_->out), CLOSE_LIMIT);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s_->m);
        s_->stopping = true;
    }
    s_->wake.notify_one();
    // The sender closes the port itself; one stuck in a dead service is left behind
    // with its share of the state rather than hang the exit.
    if (waitFor(s_->finished, CLOSE_LIMIT))
        worker_.join();
    else
        worker_.detach();
}

void MidiOutput::openPort(unsigned port, const std::string& name) {
    RtMidiOut* out = s_->out.get();
    found_ = checkPorts(out);
    if (!openReported(out, found_, port, name)) {
        // Asking a service that did not answer for a name gives none, and noise.
        std::string portName = found_.answered ? out->getPortName(port) : "";
        printf("Could not open MIDI out port %s", portName.c_str());
        fflush(stdout);
    }
    if (isOpen()) worker_ = std::thread(&MidiOutput::run, s_);
}

void MidiOutput::send(const std::vector<unsigned char>& msg) {
    // Nothing can be delivered through a port that never opened, and RtMidi's JACK
    // output would spin forever once its buffer filled.
    if (!isOpen() || msg.size() < 3) {
        ++s_->dropped;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s_->m);
        if (s_->queue.size() >= QUEUE_LIMIT) {
            ++s_->dropped;
            return;
        }
        s_->queue.push_back({msg[0], msg[1], msg[2]});
    }
    s_->wake.notify_one();
}

void MidiOutput::run(std::shared_ptr<Shared> s) {
    std::unique_lock<std::mutex> lock(s->m);
    while (true) {
        s->wake.wait(lock, [&s] { return s->stopping || !s->queue.empty(); });
        if (s->queue.empty()) break; // stopping, and everything queued was handed over
        std::array<unsigned char, 3> msg = s->queue.front();
        s->queue.pop_front();
        lock.unlock();
        MidiReportWatch watch;
        s->out->sendMessage(msg.data(), msg.size());
        ++(watch.errored() ? s->dropped : s->sent);
        lock.lock();
    }
    lock.unlock();
    s->out.reset(); // closing talks to the server: here, not on the frame loop's thread
    s->finished = true;
}
