#include "midi_connection.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "midi_advice.h"
#include "midi_objects.h"
#include "midi_sender.h"
#include "port_keeper.h"

namespace {
std::unique_ptr<MidiService> serviceFor(RtMidi::Api api) {
#ifdef ZU_WATCHES
    if (api == RtMidi::UNIX_JACK) return makeJackWatch();
    if (api == RtMidi::LINUX_ALSA) return makeAlsaWatch();
#endif
    return makePortScan(api);
}

void print(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

class Connection : public MidiConnection {
  public:
    explicit Connection(MidiInbox& inbox) : inbox_(inbox) {}

    void start(const Port& out, const Port& in) override {
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
                PortCheck outFound = keep(output_);
                if (!outFound.opened) print("Could not open MIDI out port ");
                PortCheck inFound = keep(input_);
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

    bool started(Clock::time_point deadline) override {
        std::unique_lock<std::mutex> lock(m_);
        return done_.wait_until(lock, deadline, [this] { return started_; });
    }

    void send(const std::vector<unsigned char>& msg) override {
        // Nothing can be delivered through a port that is not open, and RtMidi's JACK
        // output would spin forever once its buffer filled with no service to drain it.
        std::shared_ptr<Outlet> o = msg.size() >= 3 && output_.live ? outlet() : nullptr;
        if (o) o->send({msg[0], msg[1], msg[2]});
    }

    bool close() override {
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
                if (std::shared_ptr<Outlet> o = outlet()) o->close(false, deadline);
            },
            deadline);
        return closed && !Outlet::leftBehind;
    }

  private:
    // Queues job for the connection's thread and waits for it until deadline (past
    // that the job must own what it uses); true when it finished.
    bool onConnectionThread(std::function<void()> job, Clock::time_point deadline) {
        auto finished = std::make_shared<bool>(false);
        std::unique_lock<std::mutex> lock(m_);
        if (!std::exchange(threadRuns_, true)) std::thread(&Connection::loop, this).detach();
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
    void loop() {
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
            } else if (keeping_) {
                unsigned events = std::exchange(events_, 0u);
                lock.unlock();
                wait = keeper_->step(events);
            } else {
                continue;
            }
            lock.lock();
        }
    }

    // Builds p's first object, on the output's API for the input, and has the keeper keep it.
    PortCheck keep(KeptPort& p) {
        PortCheck found;
        RtMidi* obj = nullptr;
        if (p.input) {
            midiIn_ = build<RtMidiIn>(api_, clients_[1], 100u);
            inFresh_ = true;
            if ((obj = midiIn_.get())) api_ = midiIn_->getCurrentApi();
        } else {
            auto o = std::make_shared<Outlet>();
            o->midiOut = build<RtMidiOut>(api_, clients_[0]);
            if ((obj = o->midiOut.get())) api_ = o->midiOut->getCurrentApi();
            std::lock_guard<std::mutex> lock(m_);
            outlet_ = o;
        }
        if (!obj) return found;
        found.api = api_;
        MidiReportWatch counting; // RtMidi's JACK objects try the server here
        found.listed = found.others = obj->getPortCount();
        found.answered = !counting.reported();
        if (!keeper_)
            keeper_ = std::make_unique<PortKeeper>(serviceFor(api_), [this](unsigned e) {
                std::lock_guard<std::mutex> lock(m_);
                events_ |= e;
                wake_.notify_one();
            });
        p.open = [this, &p](int index) { return p.live = open(p, index); };
        p.drop = [this, &p] { drop(p); };
        keeper_->attach(p, found);
        return found;
    }

    // Opens p's port unconnected (index -1) or onto the service's port index. Unconnected
    // on a new object but the first time (the old one's port was removed or would not
    // open); the old one is closed, unless its service went (drop let go of it already).
    bool open(KeptPort& p, int index) {
        std::shared_ptr<Outlet> old = outlet(), next = old;
        if (p.input && (!midiIn_ || (!std::exchange(inFresh_, false) && index < 0))) {
            midiIn_.reset();
            midiIn_ = build<RtMidiIn>(api_, clients_[1], 100u);
        } else if (!p.input && (!old || !old->fresh || !old->midiOut)) {
            next = std::make_shared<Outlet>();
            // Onto an index the object stays, so its client keeps its name; its sender goes.
            if (index >= 0 && old && old->midiOut && old->stopSending(Clock::now() + CLOSE_LIMIT)) {
                next->midiOut = std::move(old->midiOut);
                next->midiOut->closePort();
            } else {
                next->midiOut = build<RtMidiOut>(api_, clients_[0]);
            }
        }
        RtMidi* obj = p.input ? static_cast<RtMidi*>(midiIn_.get()) : next->midiOut.get();
        if (!obj) return false;
        if (p.input) {
            midiIn_->closePort();
            midiIn_->setCallback(&MidiInbox::receive, &inbox_);
            midiIn_->ignoreTypes(false, false, false);
        } else {
            next->fresh = false;
        }
        MidiReportWatch opening;
        if (index < 0)
            obj->openVirtualPort(p.name);
        else
            obj->openPort(static_cast<unsigned>(index), p.name);
        if (opening.errored()) return false;
        if (p.input) return true;
        next->startSending([this] { return keeper_->cycles(); });
        if (next == old) return true;
        {
            std::lock_guard<std::mutex> lock(m_);
            outlet_ = next;
        }
        if (old) old->close(false, Clock::now() + CLOSE_LIMIT);
        return true;
    }

    void drop(KeptPort& p) {
        if (p.input)
            neverClose(midiIn_.release());
        else if (std::shared_ptr<Outlet> o = outlet())
            o->close(true, Clock::now() + CLOSE_LIMIT);
    }

    std::shared_ptr<Outlet> outlet() {
        std::lock_guard<std::mutex> lock(m_);
        return outlet_;
    }

    MidiInbox& inbox_;
    // m_ guards what other threads share: jobs_, events_, keeping_, started_,
    // threadRuns_ and outlet_.
    std::mutex m_;
    std::condition_variable wake_, done_;
    std::deque<std::function<void()>> jobs_;
    unsigned events_ = 0;
    bool keeping_ = false, started_ = false, threadRuns_ = false;
    std::shared_ptr<Outlet> outlet_;

    // The connection thread's own.
    KeptPort output_, input_;
    std::string clients_[2];                // output's, input's
    RtMidi::Api api_ = RtMidi::UNSPECIFIED; // the service both ports use
    std::unique_ptr<RtMidiIn> midiIn_;
    bool inFresh_ = false; // midiIn_ was built and not opened yet
    std::unique_ptr<PortKeeper> keeper_;
};
} // namespace

MidiConnection& MidiConnection::make(MidiInbox& inbox) {
    return *new Connection(inbox);
}
