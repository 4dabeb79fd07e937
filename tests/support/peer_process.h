// The MIDI peer as a child process (the zu_midi_peer program), so that it runs
// with the libjack of the service under test rather than this process's.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "evidence.h"
#include "midi_peer.h"
#include "process.h"

namespace zutest {

class PeerProcess : public Peer {
  public:
    // Starts program in env and waits until its ports exist; throws on failure.
    PeerProcess(const std::string& program, const Environment& env);
    // SIGTERM: the program closes its ports before it exits.
    ~PeerProcess() override;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    void send(int port, const std::vector<unsigned char>& bytes) override;
    std::vector<MidiMessage> received() const override;
    bool waitForCount(size_t n, std::chrono::milliseconds timeout) const override;
    void clearReceived() override;
    // Has the program restart its engine (ZU_MIDI_PEER_ENGINE=1); false if it never said so.
    bool restartEngine();

  private:
    // Every message the program has reported, forgotten ones included.
    std::vector<MidiMessage> reported() const;

    std::unique_ptr<TempDir> dir_;
    Process proc_;
    std::unique_ptr<Kept> kept_[3]; // its output, its errors, its stacks
    std::mutex sending_;
    bool deaf_ = false; // a write ran out of time
    std::atomic<size_t> forgotten_{0};
};

} // namespace zutest
