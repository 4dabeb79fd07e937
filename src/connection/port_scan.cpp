#include "port_scan.h"

#include <algorithm>

#include "library_noise.h"
#include "port_rules.h"

namespace {
// p's object is no use any more: its service went, or removed it.
void letGo(KeptPort& p) {
    p.live = false;
    if (p.drop) p.drop();
    p.fullName.clear();
    p.restore.insert(p.peers.begin(), p.peers.end());
    p.peers.clear();
}

std::vector<std::string> names(RtMidi* lister) {
    std::vector<std::string> ports;
    for (unsigned i = 0, n = lister ? lister->getPortCount() : 0; i < n; ++i)
        ports.push_back(lister->getPortName(i));
    return ports;
}
} // namespace

// What a scan sees, through listers kept while the service answers. One of a service
// that died lists what was, so every eighth look (6 s) a new one asks the service itself.
bool PortScan::list(bool inputs, std::vector<std::string>& ports) {
    MidiReportWatch answer;
    std::unique_ptr<RtMidiOut> fresh;
    if (inputs && ++looks_ % 8 == 0) fresh = build<RtMidiOut>(api_, "zu-scan");
    if (!outputsLister_) outputsLister_ = build<RtMidiIn>(api_, "zu-scan");
    if (!inputsLister_) inputsLister_ = build<RtMidiOut>(api_, "zu-scan");
    RtMidi* lister = fresh    ? fresh.get()
                     : inputs ? static_cast<RtMidi*>(inputsLister_.get())
                              : outputsLister_.get();
    ports = names(lister);
    bool answered = lister && !answer.reported();
    if (answered && (!fresh || names(inputsLister_.get()) == ports)) return answered;
    neverClose(outputsLister_.release()); // clients of a service that died, perhaps
    neverClose(inputsLister_.release());
    return answered;
}

bool PortScan::look() {
    return list(false, lists_[0]) && list(true, lists_[1]);
}

std::vector<std::string> PortScan::others(bool inputs) const {
    std::set<std::string> own;
    for (const KeptPort* p : ports_)
        if (!p->fullName.empty()) own.insert(p->fullName);
    return othersOf(lists_[inputs], own);
}

void PortScan::attach(KeptPort& p, PortCheck& found) {
    ports_.push_back(&p);
    p.startRule = true;
    found.answered = answered_ = look();
    if (!answered_) return;
    keep(p);
    found.others = static_cast<unsigned>(others(!p.input).size());
    found.opened = !p.peers.empty();
}

// Opens p onto peer; on services that list zu's own ports, finds p's among them.
bool PortScan::openOnto(KeptPort& p, const std::string& peer) {
    const std::vector<std::string>& all = lists_[!p.input];
    auto at = std::find(all.begin(), all.end(), peer);
    std::vector<std::string> before = lists_[p.input];
    if (at == all.end() || !p.open(static_cast<int>(at - all.begin()))) return false;
    p.live = true;
    p.peers = {peer};
    p.fullName.clear();
    look();
    for (const std::string& port : lists_[p.input])
        if (!has(before, port) && isPortNamed(port, p.name)) p.fullName = port;
    return true;
}

// A peer gone waits for its return; one back, or the start rule's port, is opened.
void PortScan::keep(KeptPort& p) {
    if (!p.fullName.empty() && !has(lists_[p.input], p.fullName)) letGo(p);
    std::vector<std::string> now = others(!p.input);
    for (const std::string& peer : p.peers)
        if (!has(now, peer) && p.restore.insert(peer).second && told_) say(wentAwayLine(peer));
    for (auto it = p.restore.begin(); it != p.restore.end();) {
        std::string back = cameBackAs(*it, now);
        if (back.empty() || !openOnto(p, back)) {
            ++it;
            continue;
        }
        if (told_) say("zu " + where(p.input, back) + " again.");
        it = p.restore.erase(it);
    }
    std::string first = p.startRule && p.startIndex < now.size() ? now[p.startIndex] : "";
    if (!first.empty() && openOnto(p, first)) {
        if (told_) say("zu " + where(p.input, first) + ".");
        p.startRule = false;
    }
}

Keeping::Millis PortScan::step(unsigned) {
    if (!look()) {
        if (answered_ && !lost_) {
            for (KeptPort* p : ports_)
                letGo(*p);
            say(LOST_SERVICE);
        }
        lost_ = answered_;
        return PACE;
    }
    if (!answered_ || lost_) say(lost_ ? SERVICE_BACK : SERVICE_FOUND);
    answered_ = true;
    lost_ = false;
    for (KeptPort* p : ports_)
        keep(*p);
    return PACE;
}
