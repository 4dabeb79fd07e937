// The fixture for end-to-end tests of the zu binary: a private X server for the
// whole test process, and per test a private MIDI service (jackd, or PipeWire for
// the cases that run on each service), a MIDI peer that provides zu's output port 0
// and input port 1, and zu itself. ZU_TEST_SERVICE=Alsa runs every case on the ALSA
// sequencer instead (tests/alsa, in a guest that has one).
#pragma once

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi_peer.h"
#include "peer_process.h"
#include "servers.h"
#include "xinput.h"
#include "zu_app.h"

namespace zutest {

// One Xvfb per test process, started the first time a test asks for it.
class XEnvironment : public ::testing::Environment {
  public:
    static XEnvironment* instance;
    const std::string& display();
    void TearDown() override { server_.reset(); }

  private:
    std::unique_ptr<XvfbServer> server_;
};

// zu's frame lasts at least 60 ms; a key or click is given this long to be seen.
constexpr Millis SETTLE(200);
// Generous limits for a loaded two-core machine.
constexpr Millis START_LIMIT(30000);
constexpr Millis EXIT_LIMIT(15000);
constexpr Millis STOP_LIMIT(5000); // zu's end on SIGTERM
constexpr Millis MESSAGE_LIMIT(10000);

// Where things are, in window coordinates.
struct At {
    int x, y;
};
constexpr At CH_DIAL{22, 19};
constexpr At CC_DIAL{65, 19};
constexpr At MAX_DIAL{43, 89};
constexpr At MIN_DIAL{43, 141};
constexpr At VALUE_BUTTON{43, 248};
constexpr At NEUTRAL{4, 150}; // over the window, on no widget
constexpr At BACKGROUND{2, 100};

// Parts of the window that show a change, in window coordinates.
struct Region {
    int x, y, w, h;
};
constexpr Region CH_AREA{5, 2, 35, 50}; // knob and caption
constexpr Region CC_AREA{48, 2, 35, 50};
constexpr Region MAX_AREA{26, 72, 35, 50};
constexpr Region MIN_AREA{26, 124, 35, 50};
constexpr Region DIALOG_AREA{8, 182, 70, 21};
constexpr Region VALUE_AREA{15, 228, 57, 40};

// {Alsa} under ZU_TEST_SERVICE=Alsa, else {Jack, PipeWire}.
std::vector<Service> servicesUnderTest();
// Service::Alsa under ZU_TEST_SERVICE=Alsa, else Service::Jack.
Service defaultService();

class ZuTest : public ::testing::Test {
  protected:
    // The MIDI service the test runs on.
    Service service = defaultService();
    // How long zu is given to show an answer on screen; memcheck needs more.
    Millis answerLimit = MESSAGE_LIMIT;
    // Members are declared so that they go in reverse: zu, peer, the service.
    std::unique_ptr<MidiService> midi;
    std::unique_ptr<Peer> peer;
    std::unique_ptr<ZuApp> zu;
    std::unique_ptr<XSession> x;
    Window window = 0;

    // Stops zu, the peer and the service; the service object stays for the subclasses.
    void TearDown() override;

    // After a failure: what evidence.h keeps (zu's output, frame log and stacks, the
    // servers' and the peer's logs) and the end of the service's log.
    void keepEvidence();
    // The environment for zu: the test's display and the service, when started.
    Environment zuEnvironment();
    // A private MIDI service and the peer on it.
    void startMidi();
    // Whether startZu waits for zu's ports to be connected to the peer's.
    bool waitForPeer = true;
    // Starts zu and waits for its window (and its MIDI ports when MIDI runs).
    void startZu(bool withFont = true);
    // How startZu runs zu: the binary under test, its data files, the servers' environment.
    virtual ZuOptions zuOptions();
    // startMidi() and startZu(), then the pointer over the window.
    void startAll();
    // The zu under test: ZU_E2E_BINARY when set (another build), else this build's.
    static std::string zuBinary();
    // Waits until zu's ports are connected to the peer's in and out1.
    void waitForPeerConnections();
    // Where zu writes its frame log.
    std::string frameLogPath();
    // Waits until zu has painted its first frame.
    bool waitForFirstFrame();

    // zu's window measures 88x280, on every platform.
    void expectZuSize() {
        int w = 0, h = 0;
        ASSERT_TRUE(x->windowSize(window, w, h));
        EXPECT_EQ(88, w);
        EXPECT_EQ(280, h);
    }
    void pointAtWindow() {
        x->movePointer(window, NEUTRAL.x, NEUTRAL.y);
        settle();
    }
    void tap(unsigned long keysym) {
        x->tapKey(keysym);
        settle();
    }
    void clickAt(At at, unsigned button = 1) {
        x->click(window, at.x, at.y, button);
        settle();
    }
    // What a window manager sends when the user closes the window.
    void requestClose();
    // Presses the dial, moves up by steps motion events, releases; each step is
    // waited for on screen.
    void dragUp(At dial, Region area, int steps);
    Snapshot look(Region r) { return x->capture(window, r.x, r.y, r.w, r.h); }
    // Waits until r no longer shows before; fails the test on timeout.
    Snapshot waitForChange(Region r, const Snapshot& before, const char* what);
    // Waits until r shows wanted; fails the test on timeout.
    void waitForLook(Region r, const Snapshot& wanted, const char* what);
    // m, and waits until the learn dialog changes on screen.
    void toggleMode(const char* what);
    // In learn mode: clicks the control at `at`, waits until `area` shows it selected.
    void selectControl(At at, Region area, const char* what);
    // The peer sends m on port 1 until shown() holds: a JACK client that misses a
    // cycle loses that cycle's input, so a message may have to come again.
    void sendUntil(const std::vector<unsigned char>& m, const std::function<bool()>& shown,
                   const char* what);
    // The same, until the peer has received n messages in total.
    void sendUntilReceived(const std::vector<unsigned char>& m, size_t n, const char* what);
    // The same, until area changes.
    void sendUntilShown(const std::vector<unsigned char>& m, Region area, const char* what);
    // In learn mode with a control selected: the peer sends controller cc until the
    // learn dialog shows it.
    void learnController(unsigned char cc);
    // Learn mode, the control at `at` (drawn in `area`) selected and paired with
    // controller cc, then follow mode, once the control looks as it did before.
    void learnAndFollow(At at, Region area, unsigned char cc);
    static void settle(Millis d = SETTLE) { std::this_thread::sleep_for(d); }

    // Sends bytes on the peer's out0 (port 0) or out1 (port 1, zu's input).
    void send(int port, const std::vector<unsigned char>& bytes);
    // Waits for n messages in total, then quits zu with q, after which nothing more
    // can come; fails unless exactly n came.
    std::vector<MidiMessage> expectMessagesAndQuit(size_t n);
    // What zu's frame log tells so far, times in us.
    struct FrameLog {
        struct Pair {
            long long at;
            int number, value;
        };
        std::vector<std::pair<long long, long long>> frames; // (top, end)
        std::vector<long long> paints;                       // ends of the frames that painted
        std::vector<long long> keys, keyUps;                 // when a key went down or up
        std::vector<Pair> followed;                          // the incoming pairs taken
    };
    FrameLog frameLog();
    // Waits until zu's frame log shows that it followed (number, value).
    void waitForFollowed(int number, int value);
    // Waits until zu has ended n more frames.
    void waitForFrames(int n);
    // Presses r and returns the single message it sent.
    std::vector<unsigned char> trigger();
    // The peer sends m on port 1 and r is pressed, until r goes out with status;
    // returns the last message r sent. Fails the test when it never does.
    std::vector<unsigned char> triggerUntilStatus(const std::vector<unsigned char>& m, int status);

    // zu should end by itself within EXIT_LIMIT with status code.
    void expectExit(int code);
    // zu, which ended, did so with status code and not by a crash (then its stacks tell).
    void expectEnded(int code);
    // q, then the exit with status 0.
    void quitAndExpectZero();
    // The full name of the peer port whose short name is shortName.
    std::string peerPort(const std::string& shortName);
};

// A case run on each MIDI service: TEST_P(Suite, ...) and ZU_ON_EACH_SERVICE(Suite),
// for a Suite derived from OnEachService<ZuTest> (or from a subclass of ZuTest). On
// ALSA it runs once, on ALSA.
template <class Fixture>
class OnEachService : public Fixture, public ::testing::WithParamInterface<Service> {
  protected:
    OnEachService() { this->service = this->GetParam(); }
};
#define ZU_ON_EACH_SERVICE(suite)                                                                  \
    INSTANTIATE_TEST_SUITE_P(Service, suite, ::testing::ValuesIn(servicesUnderTest()),             \
                             [](const auto& info) { return serviceName(info.param); })

} // namespace zutest
