// zu's two ports kept on a service that no watch hears (Windows' and macOS' MIDI, or a
// build without the watches): zu looks at the port lists every PACE and opens each of
// its ports onto its peer by index, by the same rules as PortKeeper.
#pragma once

#include "port_keeper.h"

class PortScan : public Keeping {
  public:
    // How often the lists are looked at: a port that comes or goes shows within it.
    static constexpr Millis PACE{500};
    // Fills ports with the service's ports that take MIDI in (inputs) or give it out,
    // in its order; false when the service did not answer.
    using List = std::function<bool(bool inputs, std::vector<std::string>& ports)>;

    explicit PortScan(List list) : list_(std::move(list)) {}
    void attach(KeptPort& port, PortCheck& found) override;
    Millis step(unsigned events) override;
    void close() override { ports_.clear(); }

  private:
    bool look();
    void keep(KeptPort& p);
    bool openOnto(KeptPort& p, const std::string& peer);
    std::vector<std::string> others(bool inputs) const;

    List list_;
    std::vector<std::string> lists_[2]; // what gives MIDI out, what takes it in
    bool answered_ = false, lost_ = false;
};
