#include "midi_connection.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <thread>
#include <utility>

#include "library_noise.h"
#include "midi_advice.h"
#include "port_scan.h"

namespace {
std::unique_ptr<ServiceWatch> watchFor(RtMidi::Api api) {
#ifdef ZU_WATCHES
    if (api == RtMidi::UNIX_JACK) return makeJackWatch();
    if (api == RtMidi::LINUX_ALSA) return makeAlsaWatch();
#endif
    (void)api;
    return nullptr;
}

// Far longer than a JACK period (5 ms at 256 frames and 48 kHz).
constexpr std::chrono::milliseconds JACK_CYCLE_GRACE(100);

void print(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}
} // namespace

struct MidiConnection::Outlet {
    std::unique_ptr<RtMidiOut> midiOut;
    bool fresh = true; // built and not opened yet
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::array<unsigned char, 3>> queue;
    bool stopping = false, finished = true;
    std::thread sender;
};

bool MidiConnection::onConnectionThread(std::function<void()> job, Clock::time_point deadline) {
    auto finished = std::make_shared<bool>(false);
    std::unique_lock<std::mutex> lock(m_);
    if (!std::exchange(threadRuns_, true)) std::thread(&MidiConnection::loop, this).detach();
    jobs_.push_back([this, job = std::move(job), finished] {
        job();
        std::lock_guard<std::mutex> lock(m_);
        *finished = true;
        done_.notify_all();
    });
    wake_.notify_one();
    return done_.wait_until(lock, deadline, [&finished] { return *finished; });
}

// Jobs first; while keeping, the keeper's steps, on its events or when its wait ran out.
void MidiConnection::loop() {
    std::unique_lock<std::mutex> lock(m_);
    PortKeeper::Millis wait(0);
    auto ready = [this] { return !jobs_.empty() || (keeping_ && events_ != 0); };
    while (true) {
        if (keeping_ && wait.count() > 0)
            wake_.wait_for(lock, wait, ready);
        else
            wake_.wait(lock, ready);
        if (!jobs_.empty()) {
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        } else if (keeping_) {
            unsigned events = std::exchange(events_, 0u);
            lock.unlock();
            wait = keeper_->step(events);
            lock.lock();
        }
    }
}

void MidiConnection::start(const Port& out, const Port& in) {
    output_.name = out.name;
    output_.startIndex = out.index;
    input_.name = in.name;
    input_.startIndex = in.index;
    input_.input = true;
    clients_[0] = out.client;
    clients_[1] = in.client;
    onConnectionThread(
        [this] {
#ifdef ZU_SERVICE_LIBRARIES
            quietJack(); // before their first client
            quietAlsa();
#endif
            PortCheck outFound = openPort(output_);
            if (!outFound.opened) print("Could not open MIDI out port ");
            PortCheck inFound = openPort(input_);
            if (inFound.listed == 0) print("No ports available!\n");
            adviseOnMidi(outFound, inFound);
            if (keeper_) keeper_->tellWhere();
            std::lock_guard<std::mutex> lock(m_);
            keeping_ = keeper_ != nullptr;
            started_ = true;
            events_ |= CHANGED;
            done_.notify_all();
        },
        Clock::now());
}

bool MidiConnection::started(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_);
    return done_.wait_until(lock, deadline, [this] { return started_; });
}

// Builds p's first object, on the output's API for the input, and has the keeper open
// and connect it.
PortCheck MidiConnection::openPort(KeptPort& p) {
    PortCheck found;
    RtMidi* obj = nullptr;
    if (p.input) {
        midiIn_ = build<RtMidiIn>(api_, clients_[1], 100u);
        inFresh_ = true;
        if (midiIn_) api_ = midiIn_->getCurrentApi();
        obj = midiIn_.get();
    } else {
        auto o = std::make_shared<Outlet>();
        o->midiOut = build<RtMidiOut>(api_, clients_[0]);
        if (o->midiOut) api_ = o->midiOut->getCurrentApi();
        obj = o->midiOut.get();
        std::lock_guard<std::mutex> lock(m_);
        outlet_ = o;
    }
    if (!obj) return found;
    found.api = api_;
    MidiReportWatch counting; // RtMidi's JACK objects try the server here
    found.listed = found.others = obj->getPortCount();
    found.answered = !counting.reported();
    if (std::unique_ptr<ServiceWatch> watch = keeper_ ? nullptr : watchFor(api_)) {
        cycles_ = [w = watch.get()] { return w->cycles(); }; // the keeper keeps it for good
        keeper_ = std::make_unique<PortKeeper>(std::move(watch), [this](unsigned e) {
            std::lock_guard<std::mutex> lock(m_);
            events_ |= e;
            wake_.notify_one();
        });
    } else if (!keeper_) {
        keeper_ = std::make_unique<PortScan>(api_);
    }
    p.open = [this, &p](int index) { return openObject(p, index); };
    p.drop = [this, &p] { drop(p); };
    keeper_->attach(p, found);
    return found;
}

// Opens p's port (openOn): the first time on the object built at start; unconnected
// always on a new one, since the old one's port was removed or would not open; onto an
// index on the input's own object while it has one. An object whose service went
// was let go of already (drop); any other is closed, so that retries leave nothing open.
bool MidiConnection::openObject(KeptPort& p, int index) {
    if (p.input) {
        if (!midiIn_ || (!std::exchange(inFresh_, false) && index < 0)) {
            midiIn_.reset();
            midiIn_ = build<RtMidiIn>(api_, clients_[1], 100u);
        }
        if (!midiIn_) return false;
        midiIn_->closePort();
        midiIn_->setCallback(&MidiInbox::receive, &inbox_);
        midiIn_->ignoreTypes(false, false, false);
        return openOn(*midiIn_, index, p.name);
    }
    std::shared_ptr<Outlet> old = outlet(), next = old;
    if (!old || !old->fresh || !old->midiOut) {
        next = std::make_shared<Outlet>();
        // Onto an index the object stays, so its client keeps its name; its sender goes.
        if (index >= 0 && old && old->midiOut && stopSender(old, Clock::now() + CLOSE_LIMIT)) {
            next->midiOut = std::move(old->midiOut);
            next->midiOut->closePort();
        } else {
            next->midiOut = build<RtMidiOut>(api_, clients_[0]);
        }
    }
    next->fresh = false;
    if (!next->midiOut || !openOn(*next->midiOut, index, p.name)) return false;
    next->finished = false;
    next->sender = std::thread(&MidiConnection::sendAll, this, next);
    if (next == old) return true;
    {
        std::lock_guard<std::mutex> lock(m_);
        outlet_ = next;
    }
    closeOutlet(old, false, Clock::now() + CLOSE_LIMIT);
    return true;
}

void MidiConnection::drop(KeptPort& p) {
    if (p.input)
        neverClose(midiIn_.release());
    else
        closeOutlet(outlet(), true, Clock::now() + CLOSE_LIMIT);
}

std::shared_ptr<MidiConnection::Outlet> MidiConnection::outlet() {
    std::lock_guard<std::mutex> lock(m_);
    return outlet_;
}

void MidiConnection::send(const std::vector<unsigned char>& msg) {
    // Nothing can be delivered through a port that is not open, and RtMidi's JACK
    // output would spin forever once its buffer filled with no service to drain it.
    std::shared_ptr<Outlet> o = msg.size() >= 3 && output_.live ? outlet() : nullptr;
    if (!o) return;
    {
        std::lock_guard<std::mutex> lock(o->m);
        if (o->stopping || o->queue.size() >= QUEUE_LIMIT) return;
        o->queue.push_back({msg[0], msg[1], msg[2]});
    }
    o->cv.notify_all();
}

// Only sends: a send may wait for a stalled service, which must hold up neither the
// frame loop nor the connection's thread.
void MidiConnection::sendAll(std::shared_ptr<Outlet> o) {
    unsigned long cycle = 0;
    size_t handed = 0; // since the service's cycles last moved on
    std::unique_lock<std::mutex> lock(o->m);
    while (true) {
        o->cv.wait(lock, [&o] { return o->stopping || !o->queue.empty(); });
        if (o->queue.empty()) break; // stopping, and everything queued was handed over
        std::array<unsigned char, 3> msg = o->queue.front();
        o->queue.pop_front();
        lock.unlock();
        unsigned long now = cycles_ ? cycles_() : 0;
        if (now == 0 || now != cycle) handed = 0;
        cycle = now;
        if (handed++ < STALL_LIMIT) o->midiOut->sendMessage(msg.data(), msg.size());
        lock.lock();
    }
    o->finished = true;
    o->cv.notify_all();
}

// Stops o's sender once what it holds is sent; false when it is stuck in a service that
// stopped answering, and then left with its outlet.
bool MidiConnection::stopSender(const std::shared_ptr<Outlet>& o, Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(o->m);
    o->stopping = true;
    o->cv.notify_all();
    bool finished = o->cv.wait_until(lock, deadline, [&o] { return o->finished; });
    lock.unlock();
    if (finished) {
        if (o->sender.joinable()) o->sender.join();
        return true;
    }
    if (o->sender.joinable()) o->sender.detach();
    neverClose(new std::shared_ptr<Outlet>(o));
    leftBehind_ = true;
    return false;
}

// Stops o's sender, then closes o's object, or lets go of it where the service died.
// RtMidi's JACK output frees its buffer before it closes its client, while a process
// cycle that began before the port closed may still read that buffer: the port closes
// first, and the object goes once such a cycle has had many periods' time to end.
void MidiConnection::closeOutlet(const std::shared_ptr<Outlet>& o, bool serviceGone,
                                 Clock::time_point deadline) {
    if (!o || !stopSender(o, deadline) || !o->midiOut) return;
    if (serviceGone) {
        neverClose(o->midiOut.release());
        return;
    }
    if (o->midiOut->getCurrentApi() == RtMidi::UNIX_JACK) {
        o->midiOut->closePort();
        std::this_thread::sleep_until(std::min(deadline, Clock::now() + JACK_CYCLE_GRACE));
    }
    o->midiOut.reset();
}

bool MidiConnection::close() {
    {
        std::lock_guard<std::mutex> lock(m_);
        keeping_ = false;
    }
    Clock::time_point deadline = Clock::now() + CLOSE_LIMIT;
    bool closed = onConnectionThread(
        [this, deadline] {
            if (keeper_) keeper_->close();
            input_.live = output_.live = false;
            midiIn_.reset(); // one whose service died was let go of already
            closeOutlet(outlet(), false, deadline);
        },
        deadline);
    return closed && !leftBehind_;
}
