// zu's two ports kept on a service that no watch hears (Windows' and macOS' MIDI, or a
// build without the watches): zu looks at the port lists every PACE and opens each of
// its ports onto its peer by index, by the same rules as PortKeeper.
#pragma once

#include "port_keeper.h"

class PortScan : public Keeping {
  public:
    // How often the lists are looked at: a port that comes or goes shows within it.
    static constexpr Millis PACE{750};
    // Keeps ports on api's service.
    explicit PortScan(RtMidi::Api api) : api_(api) {}
    void attach(KeptPort& port, PortCheck& found) override;
    Millis step(unsigned events) override;
    void close() override { ports_.clear(); }

  private:
    bool list(bool inputs, std::vector<std::string>& ports);
    bool look();
    void keep(KeptPort& p);
    bool openOnto(KeptPort& p, const std::string& peer);
    std::vector<std::string> others(bool inputs) const;

    RtMidi::Api api_;
    std::unique_ptr<RtMidiIn> outputsLister_; // kept while the service answers
    std::unique_ptr<RtMidiOut> inputsLister_;
    unsigned looks_ = 0;
    std::vector<std::string> lists_[2]; // what gives MIDI out, what takes it in
    bool answered_ = false, lost_ = false;
};
