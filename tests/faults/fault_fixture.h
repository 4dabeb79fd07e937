// Fault cases for the zu binary: the end-to-end fixture, plus killing the MIDI
// service on purpose, reading zu's memory use, and checking what zu sends.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "zu_fixture.h"

namespace zutest {

// The "val" caption: its pixels change colour on c, so it shows that zu still draws.
constexpr Region VAL_AREA{26, 55, 35, 15};

// VmRSS of a process in kB; -1 when it cannot be read.
long rssKb(pid_t pid);
// The share of one core a process used over span (user and system time from /proc).
double cpuShare(pid_t pid, Millis span);
// Three bytes, a Control Change status, data bytes 0..127.
::testing::AssertionResult isValidControlChange(const std::vector<unsigned char>& m);
// The same for everything the peer has received so far.
::testing::AssertionResult allValidControlChanges(const std::vector<MidiMessage>& got);

// Sends on the peer's out1 from a thread of its own, one message per period
// (0: as fast as the peer can), until count messages or stop(). A send has a limit
// (Process::writeStdin), so stop() ends within it.
class Feeder {
  public:
    using Make = std::function<std::vector<unsigned char>(int)>;
    Feeder(Peer& peer, Make make, Millis period, int count = -1);
    ~Feeder() { stop(); }
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;
    void stop();
    int sent() const { return sent_; }
    bool waitDone(Millis timeout) const;

  private:
    std::atomic<bool> stop_{false}, done_{false};
    std::atomic<int> sent_{0};
    std::thread thread_;
};

class FaultTest : public ZuTest {
  protected:
    // On ALSA, skips the cases that take the service away (test_service_loss.cpp):
    // the kernel's sequencer can be neither killed, stalled nor started again.
    void SetUp() override;
    // A stalled service is resumed first. A killed or stalled one (zu may have lost
    // its clients abruptly) has its name freed after every client has gone, so
    // JACK's registry keeps no stale entry.
    void TearDown() override;

    // zu on a JACK server of the test's own that has no peer (null: no server at all).
    void startZuWithoutPeer(JackServer* server);
    // SIGKILLs the MIDI service and waits until it has gone.
    void killService();
    // SIGSTOPs the MIDI service: it stays registered but answers nothing.
    void stallService();
    void resumeService();
    // Starts the service again under its name, with a new peer on it.
    void restartService();
    // Presses c and waits until the "val" caption changes colour.
    void expectWindowAnswers(const char* when);
    // Holds r and waits until the value button shows the new value inverted.
    void expectRShows(const char* when);
    // Down and up of key, n times with no pause: all of them land in one or two frames.
    void burst(unsigned long keysym, int n);
    // Presses r and returns how long the peer waited for the message; -1 on none within limit.
    long long rLatencyMs(Millis limit);
    // Taps r, held for holdMs, and notes when for pressReport().
    void pressR(int holdMs);
    // For a count that failed: each press of pressR() that no message answered before
    // the next one, with the arrivals around it and whether zu's frame log shows a key.
    std::string pressReport();

  private:
    std::vector<long long> pressedUs_;
    bool troubled_ = false;
    pid_t stalled_ = -1;
};

} // namespace zutest
