#include "midi_connection.h"

#include <array>
#include <thread>
#include <utility>

#include "library_noise.h"

namespace {
// Builds a T (RtMidiIn or RtMidiOut) with api or, when that is UNSPECIFIED, with the
// first compiled API that opens (telling once when none does): ALSA wherever the
// sequencer exists, even while it lists no port, else JACK. It reports errors through
// onMidiReport instead of throwing; null on failure.
template <class T, class... Args>
std::unique_ptr<T> build(RtMidi::Api api, const std::string& clientName, Args... args) {
    quietLibraries();
    std::vector<RtMidi::Api> apis{api};
    if (api == RtMidi::UNSPECIFIED) RtMidi::getCompiledApi(apis);
    std::string why = "no MIDI API is compiled in";
    for (RtMidi::Api each : apis) {
        try {
            auto made = std::make_unique<T>(each, clientName, args...);
            made->setErrorCallback(onMidiReport);
            return made;
        } catch (const RtMidiError& e) {
            why = e.getMessage();
        }
    }
    static std::atomic<bool> told{false};
    if (api == RtMidi::UNSPECIFIED && !told.exchange(true)) {
        printf("MIDI is not available, running without it: %s\n", why.c_str());
        fflush(stdout);
    }
    return nullptr;
}

template <class T> bool openUnconnected(T& obj, const std::string& name) {
    MidiReportWatch watch;
    obj.openVirtualPort(name);
    return !watch.errored();
}
} // namespace

void neverClose(void* obj) {
    static std::mutex m;
    static auto* kept = new std::vector<void*>;
    std::lock_guard<std::mutex> lock(m);
    if (obj) kept->push_back(obj);
}

struct MidiConnection::Outlet {
    std::unique_ptr<RtMidiOut> midiOut;
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::array<unsigned char, 3>> queue;
    bool stopping = false, finished = true;
    std::thread sender;
};

MidiConnection& MidiConnection::get() {
    static MidiConnection* made = new MidiConnection;
    return *made;
}

bool MidiConnection::runHere(std::function<void()> job, Clock::time_point deadline) {
    auto finished = std::make_shared<bool>(false);
    std::unique_lock<std::mutex> lock(m_);
    if (!std::exchange(started_, true)) std::thread(&MidiConnection::loop, this).detach();
    jobs_.push_back([this, job = std::move(job), finished] {
        job();
        std::lock_guard<std::mutex> lock(m_);
        *finished = true;
        done_.notify_all();
    });
    wake_.notify_one();
    auto ready = [&finished] { return *finished; };
    if (deadline == Clock::time_point::max())
        done_.wait(lock, ready);
    else if (!done_.wait_until(lock, deadline, ready))
        leftBehind_ = true;
    return *finished;
}

void MidiConnection::loop() {
    std::unique_lock<std::mutex> lock(m_);
    PortKeeper::Millis wait(0);
    auto ready = [this] { return !jobs_.empty() || (keeping_ && events_ != 0); };
    while (true) {
        if (wait.count() > 0)
            wake_.wait_for(lock, wait, ready);
        else
            wake_.wait(lock, ready);
        std::function<void()> job;
        if (!jobs_.empty()) {
            job = std::move(jobs_.front());
            jobs_.pop_front();
        } else if (keeping_ && keeper_) {
            job = [this, events = std::exchange(events_, 0u) | CHANGED, &wait] {
                wait = keeper_->step(events);
            };
        }
        lock.unlock();
        if (job) job();
        lock.lock();
    }
}

void MidiConnection::makeOutput(const std::string& clientName) {
    runHere([this, clientName] {
        auto o = std::make_shared<Outlet>();
        o->midiOut = build<RtMidiOut>(api_, clientName);
        if (o->midiOut) api_ = o->midiOut->getCurrentApi();
        clientNames_[OUT] = clientName;
        std::lock_guard<std::mutex> lock(m_);
        outlet_ = o;
    });
}

PortCheck MidiConnection::open(Side side, unsigned port, const std::string& name) {
    PortCheck found;
    runHere([&] {
        KeptPort& p = ports_[side];
        p.name = name;
        p.startIndex = port;
        p.receives = side == IN;
        if (side == IN && (midiIn = build<RtMidiIn>(api_, clientNames_[IN], 100u)))
            api_ = midiIn->getCurrentApi();
        std::shared_ptr<Outlet> o = outlet();
        RtMidi* obj = side == IN ? static_cast<RtMidi*>(midiIn.get())
                      : o        ? o->midiOut.get()
                                 : nullptr;
        if (!obj) return;
        found.api = api_;
        MidiReportWatch counting; // RtMidi's JACK objects try the server here
        found.listed = found.ports = obj->getPortCount();
        found.answered = !counting.reported();
        if (!keeper_) {
            auto watch = api_ == RtMidi::UNIX_JACK    ? makeJackWatch()
                         : api_ == RtMidi::LINUX_ALSA ? makeAlsaWatch()
                                                      : nullptr;
            if (!watch) return; // no service zu can watch: nothing to connect by name
            keeper_ = std::make_unique<PortKeeper>(std::move(watch), [this](unsigned e) {
                std::lock_guard<std::mutex> lock(m_);
                events_ |= e;
                wake_.notify_one();
            });
        }
        p.reopen = [this, side] { return reopen(side); };
        p.letGo = [this, side] { letGo(side); };
        keeper_->attach(p, found);
    });
    return found;
}

void MidiConnection::keep() {
    runHere([this] {
        if (keeper_) keeper_->tellWhere();
    });
    std::lock_guard<std::mutex> lock(m_);
    keeping_ = true;
    events_ |= CHANGED;
    wake_.notify_one();
}

void MidiConnection::listen() {
    midiIn->setCallback(&MidiInbox::receive, &inbox);
    midiIn->ignoreTypes(false, false, false);
}

// The object built at start serves the first opening; after that the old one belongs
// to a service that went away, or was removed by it.
bool MidiConnection::reopen(Side side) {
    bool first = !std::exchange(used_[side], true);
    const std::string& name = ports_[side].name;
    if (side == IN) {
        if (!first || !midiIn) {
            neverClose(midiIn.release());
            midiIn = build<RtMidiIn>(api_, clientNames_[IN], 100u);
        }
        if (!midiIn) return false;
        listen();
        return openUnconnected(*midiIn, name);
    }
    std::shared_ptr<Outlet> old = outlet(), next = old;
    if (!first || !old->midiOut) {
        next = std::make_shared<Outlet>();
        next->midiOut = build<RtMidiOut>(api_, clientNames_[OUT]);
    }
    if (!next->midiOut || !openUnconnected(*next->midiOut, name)) return false;
    next->finished = false;
    next->sender = std::thread(&MidiConnection::sendAll, this, next);
    if (next == old) return true;
    {
        std::lock_guard<std::mutex> lock(m_);
        outlet_ = next;
    }
    retire(old, false, Clock::now() + CLOSE_LIMIT);
    return true;
}

void MidiConnection::letGo(Side side) {
    if (side == IN)
        neverClose(midiIn.release());
    else
        retire(outlet(), true, Clock::now() + CLOSE_LIMIT);
}

std::shared_ptr<MidiConnection::Outlet> MidiConnection::outlet() {
    std::lock_guard<std::mutex> lock(m_);
    return outlet_;
}

void MidiConnection::send(const std::vector<unsigned char>& msg) {
    // Nothing can be delivered through a port that is not open, and RtMidi's JACK
    // output would spin forever once its buffer filled with no service to drain it.
    std::shared_ptr<Outlet> o = msg.size() >= 3 && ports_[OUT].live ? outlet() : nullptr;
    if (o) {
        std::lock_guard<std::mutex> lock(o->m);
        if (o->stopping || o->queue.size() >= QUEUE_LIMIT)
            o = nullptr;
        else
            o->queue.push_back({msg[0], msg[1], msg[2]});
    }
    if (o)
        o->cv.notify_all();
    else
        ++dropped_;
}

// Only sends: a send may wait for a stalled service, which must hold up neither the
// frame loop nor the connection's thread.
void MidiConnection::sendAll(std::shared_ptr<Outlet> o) {
    std::unique_lock<std::mutex> lock(o->m);
    while (true) {
        o->cv.wait(lock, [&o] { return o->stopping || !o->queue.empty(); });
        if (o->queue.empty()) break; // stopping, and everything queued was handed over
        std::array<unsigned char, 3> msg = o->queue.front();
        o->queue.pop_front();
        lock.unlock();
        MidiReportWatch watch;
        o->midiOut->sendMessage(msg.data(), msg.size());
        if (watch.errored()) ++dropped_;
        lock.lock();
    }
    o->finished = true;
    o->cv.notify_all();
}

// Stops o's sender once what it holds is sent, then closes o's object, or lets go of it
// where the service died. A sender stuck in a service that stopped answering is left
// with its outlet.
void MidiConnection::retire(const std::shared_ptr<Outlet>& o, bool serviceGone,
                            Clock::time_point deadline) {
    if (!o) return;
    std::unique_lock<std::mutex> lock(o->m);
    o->stopping = true;
    o->cv.notify_all();
    bool finished = o->cv.wait_until(lock, deadline, [&o] { return o->finished; });
    lock.unlock();
    if (!finished) {
        if (o->sender.joinable()) o->sender.detach();
        neverClose(new std::shared_ptr<Outlet>(o));
        leftBehind_ = true;
        return;
    }
    if (o->sender.joinable()) o->sender.join();
    if (serviceGone)
        neverClose(o->midiOut.release());
    else
        o->midiOut.reset();
}

void MidiConnection::closeOutputBy(Clock::time_point deadline) {
    if (std::exchange(outputClosed_, true)) return;
    ports_[OUT].live = false;
    if (keeper_) keeper_->detach(ports_[OUT]);
    retire(outlet(), false, deadline); // one whose service died was let go of already
}

void MidiConnection::closeOutput() {
    Clock::time_point deadline = Clock::now() + CLOSE_LIMIT;
    runHere([this, deadline] { closeOutputBy(deadline); }, deadline);
}

bool MidiConnection::close() {
    {
        std::lock_guard<std::mutex> lock(m_);
        keeping_ = false;
    }
    Clock::time_point deadline = Clock::now() + CLOSE_LIMIT;
    runHere(
        [this, deadline] {
            if (keeper_) keeper_->close();
            ports_[IN].live = false;
            if (keeper_) keeper_->detach(ports_[IN]);
            midiIn.reset(); // one whose service died was let go of already
            closeOutputBy(deadline);
        },
        deadline);
    return !leftBehind_;
}
