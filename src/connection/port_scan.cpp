// zu's ports on a service that no watch hears (Windows' and macOS' MIDI, or a build
// without the watches): the difference between two looks at RtMidi's port lists is told
// as changes, and zu's port opens onto its peer's index.
#include <algorithm>

#include "library_messages.h"
#include "midi_objects.h"
#include "midi_service.h"
#include "port_rules.h"

namespace {
std::vector<std::string> names(RtMidi* lister) {
    std::vector<std::string> ports;
    for (unsigned i = 0, n = lister ? lister->getPortCount() : 0; i < n; ++i)
        ports.push_back(lister->getPortName(i));
    return ports;
}

class PortScan : public MidiService {
  public:
    explicit PortScan(RtMidi::Api api) : api_(api) {}
    bool watch(const Signal&) override { return list(false, lists_[0]) && list(true, lists_[1]); }
    void unwatch(bool) override {}
    std::vector<std::string> ports(bool inputs) override { return lists_[inputs]; }
    // Nothing to open before there is a peer to open onto.
    bool prepare(KeptPort&) override { return true; }

    // One peer at a time: opening onto another closes the port onto the last.
    bool join(KeptPort& p, const std::string& peer) override {
        const std::vector<std::string>& all = lists_[!p.input];
        auto at = std::find(all.begin(), all.end(), peer);
        if (at == all.end()) return false;
        p.before = othersOf(lists_[p.input], {p.fullName});
        p.fullName.clear();
        if (!p.open(static_cast<int>(at - all.begin()))) return false;
        p.peers.clear();
        look(); // where zu's own ports are listed, p's shows now
        return true;
    }

    unsigned look() override {
        std::vector<std::string> was[2] = {lists_[0], lists_[1]};
        if (!watch(nullptr)) return LOST;
        unsigned events = 0;
        for (int inputs : {0, 1}) {
            for (const std::string& port : lists_[inputs])
                if (!has(was[inputs], port))
                    report({PortChange::ADDED, port, ""}), events |= CHANGED;
            for (const std::string& port : was[inputs])
                if (!has(lists_[inputs], port))
                    report({PortChange::REMOVED, port, ""}), events |= CLIENT_GONE;
        }
        return events;
    }

    // A port that comes or goes shows within this.
    Millis pace() const override { return Millis(750); }

  private:
    // What a look sees, through listers kept while the service answers. One of a service
    // that died lists what was, so every eighth look (6 s) a new one asks the service.
    bool list(bool inputs, std::vector<std::string>& ports) {
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

    RtMidi::Api api_;
    std::unique_ptr<RtMidiIn> outputsLister_;
    std::unique_ptr<RtMidiOut> inputsLister_;
    unsigned looks_ = 0;
    std::vector<std::string> lists_[2]; // what gives MIDI out, what takes it in
};
} // namespace

std::unique_ptr<MidiService> makePortScan(RtMidi::Api api) {
    return std::make_unique<PortScan>(api);
}
