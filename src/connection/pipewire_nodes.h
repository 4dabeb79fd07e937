// What PipeWire's libjack does not tell: when a JACK client stops running and runs
// again (jack_deactivate and jack_activate, a synth restarting its engine), seen in
// PipeWire's own graph as its node's state.
#pragma once

#include <functional>
#include <memory>
#include <string>

class PipeWireNodes {
  public:
    // From PipeWire's thread: client's node stopped running, or runs again.
    using Ran = std::function<void(const std::string& client, bool running)>;
    virtual ~PipeWireNodes() = default;
};

// Watches the PipeWire that the environment names; null where none answers.
std::unique_ptr<PipeWireNodes> watchPipeWireNodes(PipeWireNodes::Ran ran);
