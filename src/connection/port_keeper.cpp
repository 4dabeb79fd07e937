#include "port_keeper.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "port_rules.h"

namespace {
using Millis = std::chrono::milliseconds;
// How often a service that is gone is asked for again, and a missing port looked for.
constexpr Millis RETRY(250), PENDING_RETRY(1000);
// How long opening waits for a port zu opened to show in the list; later, every step looks.
constexpr Millis PORT_SHOWS(2000);
// A client that goes while the whole service shuts down is no removal of its own, and
// a disconnection shows after this whether its ports went with it.
constexpr Millis SETTLES(200);
// How long a removed port counts as gone while the service still lists it.
constexpr Millis GONE_FOR(1000);

// The peer of own in c; empty when c does not touch own.
std::string peerIn(const PortChange& c, const std::string& own) {
    return own.empty() ? "" : c.from == own ? c.to : c.to == own ? c.from : "";
}

const char *const LOST_SERVICE = "zu lost its MIDI service: it plays on without sending MIDI "
                                 "and connects again when the service is back.",
                  *const SERVICE_BACK = "zu is connected to its MIDI service again.",
                  *const SERVICE_FOUND = "zu is connected to its MIDI service.";

// What zu says about its ports, on a line of its own.
void say(const std::string& line) {
    printf("%s\n", line.c_str());
    fflush(stdout);
}

// "sends to synth:in" (or "listens to"), in the service's own words.
std::string where(bool input, const std::string& peer) {
    return (input ? "listens to " : "sends to ") + withoutClientNumber(peer);
}

} // namespace

PortKeeper::PortKeeper(std::unique_ptr<MidiService> service, MidiService::Signal signal)
    : service_(std::move(service)), signal_(std::move(signal)) {}

std::set<std::string> PortKeeper::gone() {
    std::set<std::string> names;
    Clock::time_point now = Clock::now();
    for (auto it = gone_.begin(); it != gone_.end();)
        if (now - it->second < GONE_FOR)
            names.insert((it++)->first);
        else
            it = gone_.erase(it);
    return names;
}

std::vector<std::string> PortKeeper::others(bool inputs) {
    std::set<std::string> own;
    for (const KeptPort* p : ports_)
        if (!p->fullName.empty()) own.insert(p->fullName);
    return othersOf(service_->ports(inputs), own, gone());
}

void PortKeeper::attach(KeptPort& port, PortCheck& found) {
    ports_.push_back(&port);
    if (!open_ && found.answered) open_ = service_->watch(signal_);
    found.answered = open_;
    if (!open_) return;
    renew(port);
    takeChanges();
    connectPending(port);
    found.others = static_cast<unsigned>(others(!port.input).size());
    // JACK keeps a port open with nothing to connect to; the count tells the user.
    found.opened = port.live;
}

// Opens p anew and waits a while for the full name of a port it opened.
void PortKeeper::renew(KeptPort& p) {
    p.live = false;
    p.fullName.clear();
    p.before = othersOf(service_->ports(p.input), {}, gone());
    if (!service_->prepare(p)) return; // tried again at the next step
    p.needsOpen = false;
    p.restore = p.peers;
    p.startRule = p.peers.empty();
    for (auto end = Clock::now() + PORT_SHOWS; p.live && !findName(p) && Clock::now() < end;)
        std::this_thread::sleep_for(Millis(5));
}

// p's full name: the port of its name that was not there before it opened (another
// zu's ports have the same name).
bool PortKeeper::findName(KeptPort& p) {
    for (const std::string& port : service_->ports(p.input))
        if (p.fullName.empty() && isPortNamed(port, p.name) && !has(p.before, port))
            p.fullName = port;
    return !p.fullName.empty();
}

void PortKeeper::wentAway(KeptPort& p, const std::string& peer) {
    if (p.restore.insert(peer).second && told_)
        say(withoutClientNumber(peer) + " went away: zu connects to it again when it is back.");
}

bool PortKeeper::joined(KeptPort& p, const std::string& peer, const char* again) {
    if (peer.empty() || !service_->join(p, peer)) return false;
    findName(p); // a scan opens p's port only now
    if (told_) say("zu " + where(p.input, peer) + again + ".");
    p.peers.insert(peer);
    return true;
}

// Connects what waits to be and is there by now; a peer that went away waits for it.
void PortKeeper::connectPending(KeptPort& p) {
    if (p.needsOpen) return;
    findName(p);
    std::vector<std::string> now = others(!p.input);
    for (const std::string& peer : p.peers)
        if (!has(now, peer)) wentAway(p, peer);
    for (auto it = p.restore.begin(); it != p.restore.end();) {
        std::string back = cameBackAs(*it, now);
        if (!joined(p, back, " again")) {
            ++it;
            continue;
        }
        if (back != *it) p.peers.erase(*it);
        it = p.restore.erase(it);
    }
    std::string first = p.startRule && p.startIndex < now.size() ? now[p.startIndex] : "";
    if (joined(p, first, "")) p.startRule = false;
}

// What the watch told, in order. A disconnection is the user's once it settled with
// both its ports still there; one whose port went, or that was made again, is not.
void PortKeeper::takeChanges() {
    Clock::time_point now = Clock::now();
    auto settle = [this](auto undone) {
        undone_.erase(std::remove_if(undone_.begin(), undone_.end(),
                                     [&undone](const auto& u) { return undone(u.second); }),
                      undone_.end());
    };
    for (PortChange& c : service_->changes()) {
        if (c.kind == PortChange::ADDED) gone_.erase(c.from);
        if (c.kind == PortChange::REMOVED) {
            gone_[c.from] = now;
            settle([&c](const PortChange& u) { return u.from == c.from || u.to == c.from; });
            for (KeptPort* p : ports_)
                if (p->peers.count(c.from)) wentAway(*p, c.from);
        }
        if (c.kind == PortChange::UNDONE && !gone().count(c.from) && !gone().count(c.to))
            undone_.emplace_back(now + SETTLES, c);
        if (c.kind != PortChange::MADE) continue;
        settle([&c](const PortChange& u) { return u.from == c.from && u.to == c.to; });
        for (KeptPort* p : ports_) {
            std::string peer = peerIn(c, p->fullName);
            if (peer.empty()) continue;
            p->peers.insert(peer);
            p->restore.erase(peer);
            p->startRule = false;
        }
    }
    for (auto it = undone_.begin(); it != undone_.end();) {
        if (it->first > now) {
            ++it;
            continue;
        }
        for (KeptPort* p : ports_) {
            std::string peer = peerIn(it->second, p->fullName);
            if (p->peers.erase(peer) + p->restore.erase(peer) > 0 && told_)
                say("zu no longer " + where(p->input, peer) + ": it was disconnected by hand.");
        }
        it = undone_.erase(it);
    }
}

// One of zu's clients removed by a service that goes on: that port opens again.
void PortKeeper::reopenRemoved() {
    removalDue_ = {};
    for (KeptPort* p : ports_) {
        if (p->fullName.empty() ||
            (!gone().count(p->fullName) && has(service_->ports(p->input), p->fullName)))
            continue;
        say("zu's MIDI port \"" + p->name + "\" was removed by the service; zu opened it again.");
        renew(*p);
    }
}

void PortKeeper::loseService() {
    for (KeptPort* p : ports_) {
        p->live = false;
        p->needsOpen = true;
        if (p->drop) p->drop();
    }
    service_->unwatch(true);
    open_ = false;
    lost_ = true;
    removalDue_ = {};
    undone_.clear();
    gone_.clear();
    say(LOST_SERVICE);
}

bool PortKeeper::regainService() {
    if (!service_->worthOpening() || !(open_ = service_->watch(signal_))) return false;
    for (KeptPort* p : ports_)
        if (p->needsOpen) renew(*p);
    say(lost_ ? SERVICE_BACK : SERVICE_FOUND);
    lost_ = false;
    return true;
}

PortKeeper::Millis PortKeeper::step(unsigned events) {
    Millis pace = service_->pace();
    if (open_) events |= service_->look();
    if (events & LOST && open_) loseService();
    if (!open_ && !regainService()) return std::max(RETRY, pace);
    Clock::time_point now = Clock::now();
    if (events & CLIENT_GONE) removalDue_ = now + SETTLES;
    for (KeptPort* p : ports_)
        if (p->needsOpen) renew(*p);
    takeChanges();
    if (removalDue_ != Clock::time_point{} && now >= removalDue_) reopenRemoved();
    bool pending = false;
    for (KeptPort* p : ports_) {
        connectPending(*p);
        pending =
            pending || p->needsOpen || p->fullName.empty() || p->startRule || !p->restore.empty();
    }
    Millis wait = removalDue_ != Clock::time_point{} || !undone_.empty() ? SETTLES
                  : pending                                              ? PENDING_RETRY
                                                                         : pace;
    return pace.count() > 0 ? std::min(wait, pace) : wait;
}

void PortKeeper::tellWhere() {
    told_ = true;
    std::string line;
    for (const KeptPort* p : ports_) {
        if (p->peers.empty()) return;
        line += (line.empty() ? "zu " : " and ") + where(p->input, *p->peers.begin());
    }
    if (!line.empty()) say(line + ".");
}

void PortKeeper::close() {
    ports_.clear();
    if (open_) service_->unwatch(false);
    open_ = false;
}
