#include "port_keeper.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <thread>

#include "port_rules.h"

namespace {
using Millis = std::chrono::milliseconds;
// How often a service that is gone is asked for again, and a missing port looked for
// (the watch also tells when ports appear).
constexpr Millis RETRY(250), PENDING_RETRY(1000);
// How long a port zu has just opened may take to show in the service's list.
constexpr Millis PORT_SHOWS(2000);
// A client that goes while the whole service shuts down is no removal of its own, and
// a disconnection is the user's only if its ports are still there once it settled.
constexpr Millis SETTLES(200);

void say(const std::string& line) {
    printf("%s\n", line.c_str());
    fflush(stdout);
}

// "sends to synth:in", in the service's own words.
std::string where(const KeptPort& p, const std::string& peer) {
    return (p.receives ? "listens to " : "sends to ") + withoutClientNumber(peer);
}

bool has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}
} // namespace

PortKeeper::PortKeeper(std::unique_ptr<ServiceWatch> watch, ServiceWatch::Signal signal)
    : watch_(std::move(watch)), signal_(std::move(signal)) {}

std::set<std::string> PortKeeper::ownNames() const {
    std::set<std::string> own;
    for (const KeptPort* p : ports_)
        if (!p->fullName.empty()) own.insert(p->fullName);
    return own;
}

void PortKeeper::attach(KeptPort& port, PortCheck& found) {
    ports_.push_back(&port);
    if (!open_ && found.answered) open_ = watch_->open(signal_);
    found.answered = open_;
    if (!open_) return;
    reopen(port);
    takeChanges();
    std::vector<std::string> candidates = watch_->ports(!port.receives);
    connectPending(port, candidates);
    std::set<std::string> own = ownNames();
    found.ports = static_cast<unsigned>(std::count_if(candidates.begin(), candidates.end(),
                                                      [&own](auto& c) { return !own.count(c); }));
    // JACK keeps a port open with nothing to connect to; the count tells the user.
    found.opened = !port.needsOpen;
}

void PortKeeper::detach(KeptPort& port) {
    ports_.erase(std::remove(ports_.begin(), ports_.end(), &port), ports_.end());
}

// Opens p anew and finds its full name: the port of that name that was not there
// before (another zu's ports have the same name).
void PortKeeper::reopen(KeptPort& p) {
    p.live = false;
    auto mine = [this, &p] {
        std::vector<std::string> named = watch_->ports(p.receives);
        std::string end = ":" + p.name;
        named.erase(std::remove_if(named.begin(), named.end(),
                                   [&end](const std::string& n) {
                                       return n.size() < end.size() ||
                                              n.compare(n.size() - end.size(), end.size(), end);
                                   }),
                    named.end());
        return named;
    };
    std::vector<std::string> before = mine();
    if (!p.reopen || !p.reopen()) return; // tried again at the next step
    p.needsOpen = false;
    p.fullName.clear();
    for (auto end = Clock::now() + PORT_SHOWS; p.fullName.empty() && Clock::now() < end;) {
        for (const std::string& port : mine())
            if (!has(before, port)) p.fullName = port;
        if (p.fullName.empty()) std::this_thread::sleep_for(Millis(5));
    }
    p.restore = p.peers;
    p.startRule = p.peers.empty();
    p.live = true;
}

// Connects what waits to be and is there by now. A peer that went away waits for its
// return.
void PortKeeper::connectPending(KeptPort& p, const std::vector<std::string>& candidates) {
    if (p.fullName.empty()) return;
    std::set<std::string> own = ownNames();
    std::vector<std::string> others;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(others),
                 [&own](const std::string& c) { return !own.count(c); });
    for (const std::string& peer : p.peers)
        if (!has(others, peer) && p.restore.insert(peer).second && told_)
            say(withoutClientNumber(peer) + " went away: zu connects to it again when it is back.");
    auto connect = [this, &p](const std::string& peer) {
        return p.receives ? watch_->connect(peer, p.fullName) : watch_->connect(p.fullName, peer);
    };
    for (auto it = p.restore.begin(); it != p.restore.end();) {
        std::string now = cameBackAs(*it, others);
        if (now.empty() || !connect(now)) {
            ++it;
            continue;
        }
        if (told_) say("zu " + where(p, now) + " again.");
        p.peers.erase(*it);
        p.peers.insert(now);
        it = p.restore.erase(it);
    }
    std::string first = p.startRule ? startRulePort(candidates, own, p.startIndex) : "";
    if (!first.empty() && connect(first)) {
        if (told_) say("zu " + where(p, first) + ".");
        p.peers.insert(first);
        p.startRule = false;
    }
}

void PortKeeper::takeChanges() {
    Clock::time_point now = Clock::now();
    for (PortChange& c : watch_->changes()) {
        if (!c.connected) {
            undone_.emplace_back(now + SETTLES, std::move(c));
            continue;
        }
        for (KeptPort* p : ports_) {
            if (p->fullName.empty() || (c.from != p->fullName && c.to != p->fullName)) continue;
            const std::string& peer = c.from == p->fullName ? c.to : c.from;
            p->peers.insert(peer);
            p->restore.erase(peer);
            p->startRule = false;
        }
    }
    auto settled = std::partition(undone_.begin(), undone_.end(),
                                  [now](const auto& u) { return u.first > now; });
    if (settled == undone_.end()) return;
    std::vector<PortChange> changes;
    for (auto it = settled; it != undone_.end(); ++it)
        changes.push_back(it->second);
    undone_.erase(settled, undone_.end());
    std::vector<std::string> existing = watch_->ports(false), receiving = watch_->ports(true);
    existing.insert(existing.end(), receiving.begin(), receiving.end());
    for (KeptPort* p : ports_)
        for (const std::string& peer : undoneByUser(p->fullName, changes, existing)) {
            p->peers.erase(peer);
            p->restore.erase(peer);
        }
}

// One of zu's clients removed by a service that goes on: that port opens again.
void PortKeeper::reopenRemoved() {
    removalDue_ = {};
    for (KeptPort* p : ports_) {
        if (p->fullName.empty() || has(watch_->ports(p->receives), p->fullName)) continue;
        say("zu's MIDI port \"" + p->name + "\" was removed by the service; zu opened it again.");
        reopen(*p);
    }
}

void PortKeeper::loseService() {
    for (KeptPort* p : ports_) {
        p->live = false;
        p->needsOpen = true;
        if (p->letGo) p->letGo();
    }
    watch_->close(true);
    open_ = false;
    lost_ = true;
    removalDue_ = {};
    undone_.clear();
    say("zu lost its MIDI service: it plays on without sending MIDI and connects again when "
        "the service is back.");
}

bool PortKeeper::regainService() {
    if (!watch_->worthOpening() || !(open_ = watch_->open(signal_))) return false;
    for (KeptPort* p : ports_)
        if (p->needsOpen) reopen(*p);
    say(lost_ ? "zu is connected to its MIDI service again."
              : "zu is connected to its MIDI service.");
    lost_ = false;
    return true;
}

PortKeeper::Millis PortKeeper::step(unsigned events) {
    if (events & LOST && open_) loseService();
    if (!open_ && !regainService()) return RETRY;
    Clock::time_point now = Clock::now();
    if (events & CLIENT_GONE) removalDue_ = now + SETTLES;
    for (KeptPort* p : ports_)
        if (p->needsOpen) reopen(*p);
    takeChanges();
    if (removalDue_ != Clock::time_point{} && now >= removalDue_) reopenRemoved();
    bool pending = false;
    for (KeptPort* p : ports_) {
        connectPending(*p, watch_->ports(!p->receives));
        pending = pending || p->needsOpen || p->startRule || !p->restore.empty();
    }
    if (removalDue_ != Clock::time_point{} || !undone_.empty()) return SETTLES;
    return pending ? PENDING_RETRY : Millis(0);
}

void PortKeeper::tellWhere() {
    told_ = true;
    std::string line;
    for (const KeptPort* p : ports_) {
        if (p->peers.empty()) return;
        line += (line.empty() ? "zu " : " and ") + where(*p, *p->peers.begin());
    }
    if (!line.empty()) say(line + ".");
}

void PortKeeper::close() {
    if (open_) watch_->close(false);
    open_ = false;
}
