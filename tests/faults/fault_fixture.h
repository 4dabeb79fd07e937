// Fault cases for the zu binary: the end-to-end fixture, plus killing the JACK
// server on purpose, reading zu's memory use, and checking what zu sends.
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

// The PID of this process's child whose command line has the argument arg; -1 if none.
pid_t childWithArgument(const std::string& arg);
// Starts a server that was killed again under its name and stops it cleanly, which
// frees its entry in JACK's registry; then removes the semaphores that its clients
// could not remove. Call it once every client of the killed server has gone.
void restartAndStopCleanly(const std::string& serverName);
// VmRSS of a process in kB; -1 when it cannot be read.
long rssKb(pid_t pid);
// Three bytes, a Control Change status, data bytes 0..127.
::testing::AssertionResult isValidControlChange(const std::vector<unsigned char>& m);
// The same for everything the peer has received so far.
::testing::AssertionResult allValidControlChanges(const std::vector<MidiMessage>& got);

// Sends on the peer's out1 from a thread of its own, one message per period
// (0: as fast as the peer can), until count messages or stop().
class Feeder {
  public:
    using Make = std::function<std::vector<unsigned char>(int)>;
    Feeder(MidiPeer& peer, Make make, Millis period, int count = -1);
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
    // A stalled server is resumed first. A killed or stalled server (zu may have
    // lost its clients abruptly) is started again under its name and stopped
    // cleanly after every client has gone, so JACK's registry keeps no stale entry.
    void TearDown() override;

    // zu on a JACK server of the test's own that has no peer (null: no server at all).
    void startZuWithoutPeer(JackServer* server);
    // SIGKILLs the JACK server and waits until it has gone.
    void killJack();
    // SIGSTOPs the JACK server: it stays registered but answers nothing.
    void stallJack();
    void resumeJack();
    // Presses c and waits until the "val" caption changes colour.
    void expectWindowAnswers(const char* when);
    // In learn mode: clicks the control at `at`, waits until `area` shows it selected.
    void selectControl(At at, Region area, const char* what);
    // In learn mode with a control selected: the peer sends controller cc, and the
    // learn dialog shows it.
    void learnController(unsigned char cc);
    // Holds r and waits until the value button shows the new value inverted.
    void expectRShows(const char* when);
    // Down and up of key, n times with no pause: all of them land in one or two frames.
    void burst(unsigned long keysym, int n);
    // Presses r and returns how long the peer waited for the message; -1 on none within limit.
    long long rLatencyMs(Millis limit);
    // q, then the exit with status 0.
    void quitAndExpectZero();
    // m, and waits until the learn dialog changes on screen.
    void toggleMode(const char* what);

  private:
    std::string troubledServer_;
    pid_t stalled_ = -1;
};

} // namespace zutest
