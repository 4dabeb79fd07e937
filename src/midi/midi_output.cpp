#include "midi_output.h"

#include <chrono>
#include <cstdio>

MidiOutput::MidiOutput(const std::string& clientName) : clientName_(clientName) {
    s_->out = makeMidi<RtMidiOut>(clientName);
    s_->counts = counts_;
}

MidiOutput::~MidiOutput() {
    close();
}

void MidiOutput::close() {
    if (linked_) MidiLink::detach(link_);
    linked_ = false;
    retire(share(), worker_);
}

void MidiOutput::openPort(unsigned port, const std::string& name) {
    RtMidiOut* out = s_->out.get();
    portName_ = name;
    found_ = checkPorts(out);
    if (found_.api == RtMidi::UNIX_JACK) {
        linked_ = true;
        link_.reopen = [this] { return openUnconnected(); };
        link_.abandon = [this] { abandonShare(); };
        MidiLink::attach(link_, found_);
    } else if (openReported(out, found_, port, name)) {
        worker_ = std::thread(&MidiOutput::run, s_);
    }
    if (!isOpen()) {
        // Asking a service that did not answer for a name gives none, and noise.
        std::string portName = found_.answered && !linked_ ? out->getPortName(port) : "";
        printf("Could not open MIDI out port %s", portName.c_str());
        fflush(stdout);
    }
}

bool MidiOutput::openUnconnected() {
    auto next = std::make_shared<Shared>();
    next->counts = counts_;
    std::shared_ptr<Shared> old = share();
    // The object built at start is used once; after that the old one belongs to a
    // service that went away.
    if (!used_ && old->out) {
        next->out = std::move(old->out);
    } else {
        std::string why;
        next->out = buildMidi<RtMidiOut>({RtMidi::UNIX_JACK}, why, clientName_);
    }
    used_ = true;
    if (!next->out || !openVirtualReported(*next->out, portName_)) return false;
    std::thread worker(&MidiOutput::run, next);
    {
        std::lock_guard<std::mutex> lock(shareM_);
        s_ = next;
        std::swap(worker, worker_);
    }
    retire(old, worker);
    return true;
}

void MidiOutput::abandonShare() {
    std::shared_ptr<Shared> s = share();
    {
        std::lock_guard<std::mutex> lock(s->m);
        s->abandoned = true;
    }
    retire(s, worker_);
}

std::shared_ptr<MidiOutput::Shared> MidiOutput::share() const {
    std::lock_guard<std::mutex> lock(shareM_);
    return s_;
}

bool MidiOutput::canSend() const {
    return linked_ ? link_.live.load() : isOpen();
}

void MidiOutput::send(const std::vector<unsigned char>& msg) {
    // Nothing can be delivered through a port that is not open, and RtMidi's JACK
    // output would spin forever once its buffer filled with no service to drain it.
    if (!canSend() || msg.size() < 3) {
        ++counts_->dropped;
        return;
    }
    std::shared_ptr<Shared> s = share();
    {
        std::lock_guard<std::mutex> lock(s->m);
        if (s->queue.size() >= QUEUE_LIMIT) {
            ++counts_->dropped;
            return;
        }
        s->queue.push_back({msg[0], msg[1], msg[2]});
    }
    s->wake.notify_one();
}

void MidiOutput::retire(std::shared_ptr<Shared> s, std::thread& worker) {
    if (!worker.joinable()) {
        if (s->abandoned)
            abandon(std::move(s->out));
        else
            destroyWithin(std::move(s->out), MidiLink::CLOSE_LIMIT);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s->m);
        s->stopping = true;
    }
    s->wake.notify_one();
    // The sender closes the port itself; one stuck in a dead service is left behind
    // with its share of the state rather than hang the exit.
    if (waitFor(s->finished, MidiLink::CLOSE_LIMIT)) {
        worker.join();
    } else {
        worker.detach();
        markLeftBehind();
    }
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
        ++(watch.errored() ? s->counts->dropped : s->counts->sent);
        lock.lock();
    }
    bool abandoned = s->abandoned;
    lock.unlock();
    if (abandoned)
        abandon(std::move(s->out));
    else
        s->out.reset(); // closing talks to the server: here, not on the frame loop's thread
    s->finished = true;
}
