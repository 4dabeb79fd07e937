// The MIDI service dying under zu, or never being there: zu keeps drawing,
// triggers keep working with nowhere to go, and q still ends it with status 0.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "connection/midi_connection.h"
#include "fault_fixture.h"

namespace zutest {
namespace {

// How long a call may take before it counts as waiting for a service that is gone:
// far beyond zu's own limits, so that only a real wait fails on a loaded machine.
constexpr Millis HANG_LIMIT(10000);

using ServiceLoss = FaultTest;
class ServiceLossOnEachService : public OnEachService<FaultTest> {};

const std::string LOST = "zu lost its MIDI service: it plays on without sending MIDI and "
                         "connects again when the service is back.\n";
const std::string BACK = "zu is connected to its MIDI service again.\n";

TEST_P(ServiceLossOnEachService, ServerKilledInFollowModeThenBack) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    learnAndFollow(VALUE_BUTTON, VALUE_AREA, 20);
    ASSERT_TRUE(isValidControlChange(trigger())) << "output worked before the kill";
    ASSERT_NO_FATAL_FAILURE(killService());
    ASSERT_TRUE(zu->waitForOutput(LOST, MESSAGE_LIMIT)) << "zu did not tell of the loss";
    // More triggers than RtMidi's JACK buffer holds: handed to a service that is gone,
    // the send would wait for room that never comes, spinning a core.
    pointAtWindow();
    burst(XK_r, 3000);
    expectWindowAnswers("after 3000 triggers into a dead server");
    expectRShows("after 3000 triggers into a dead server");
    double cpu = cpuShare(zu->process().pid(), Millis(2000));
    RecordProperty("cpu_percent_while_gone", static_cast<int>(cpu * 100));
    EXPECT_LT(cpu, 0.5) << "zu spins while its service is gone";
    // The listen task polls an input whose server is gone; switching waits for it.
    toggleMode("learn mode after the kill");
    toggleMode("follow mode after the kill");
    expectWindowAnswers("after switching modes");

    // Back under the same name: the ports come again, and so do their connections.
    ASSERT_NO_FATAL_FAILURE(restartService());
    long long back = monotonicMicros();
    ASSERT_TRUE(zu->waitForOutput(BACK, MESSAGE_LIMIT)) << "zu did not connect again";
    printf("%s: zu connected again %lld ms after the service and a peer were back\n",
           serviceName(service).c_str(), (monotonicMicros() - back) / 1000);
    ASSERT_NO_FATAL_FAILURE(waitForPeerConnections());
    EXPECT_TRUE(isValidControlChange(trigger())) << "r after the service came back";
    sendUntilReceived({176, 20, 127}, peer->receivedCount() + 1, "the pad paired before the loss");
    quitAndExpectZero();
    EXPECT_EQ(1u, countOf(zu->output(), LOST)) << zu->output();
    EXPECT_EQ(1u, countOf(zu->output(), BACK)) << zu->output();
    EXPECT_EQ("", zu->errors());
}

// Started before its service: zu connects by the start rules once it runs.
TEST_P(ServiceLossOnEachService, StartedWithoutAServiceConnectsWhenOneStarts) {
    ASSERT_NO_FATAL_FAILURE(startMidi());
    peer.reset();
    ASSERT_TRUE(midi->stop());
    ASSERT_NO_FATAL_FAILURE(startZu());
    ASSERT_TRUE(zu->waitForOutput("zu found no MIDI service", MESSAGE_LIMIT)) << zu->output();
    ASSERT_NO_FATAL_FAILURE(restartService());
    ASSERT_TRUE(zu->waitForOutput("zu is connected to its MIDI service.\n", MESSAGE_LIMIT))
        << zu->output();
    ASSERT_NO_FATAL_FAILURE(waitForPeerConnections());
    pointAtWindow();
    EXPECT_TRUE(isValidControlChange(trigger())) << "r once the service and the peer are there";
    quitAndExpectZero();
    EXPECT_EQ(0u, countOf(zu->output(), LOST)) << zu->output();
}

ZU_ON_EACH_SERVICE(ServiceLossOnEachService);

TEST_F(ServiceLoss, ServerKilledInLearnModeWithAControlSelected) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    toggleMode("the learn dialog");
    // Selected: the learn task now polls the input every 10 ms.
    selectControl(CC_DIAL, CC_AREA, "the selected CC dial");
    learnController(30);
    ASSERT_NO_FATAL_FAILURE(killService());
    burst(XK_r, 300);
    expectWindowAnswers("in learn mode after the kill");
    expectRShows("in learn mode after the kill");
    clickAt(CH_DIAL);
    pointAtWindow();
    tap(XK_d);
    toggleMode("follow mode after the kill");
    toggleMode("learn mode again after the kill");
    quitAndExpectZero();
}

// Every key and gesture with no MIDI service (false) or a server without a peer (true).
class NoPeer : public FaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NoPeer, EveryKeyAndGestureStillWorks) {
    std::unique_ptr<JackServer> bare;
    if (GetParam()) bare = std::make_unique<JackServer>(JackServer::uniqueName("zu-faults"));
    ASSERT_NO_FATAL_FAILURE(startZuWithoutPeer(bare.get()));

    expectRShows("with no MIDI peer");
    Snapshot value = look(VALUE_AREA);
    x->movePointer(window, VALUE_BUTTON.x, VALUE_BUTTON.y);
    settle();
    x->buttonDown(1);
    waitForChange(VALUE_AREA, value, "the value button held by the mouse");
    x->buttonUp(1);
    dragUp(CH_DIAL, CH_AREA, 3);
    expectWindowAnswers("after the mouse gestures");

    toggleMode("the learn dialog");
    selectControl(CC_DIAL, CC_AREA, "the selected CC dial");
    tap(XK_d);
    tap(XK_r);
    toggleMode("the learn dialog going away");
    quitAndExpectZero();
    zu.reset();
    if (bare) {
        EXPECT_TRUE(bare->stop()) << "jackd needed SIGKILL";
    }
}

INSTANTIATE_TEST_SUITE_P(Service, NoPeer, ::testing::Values(false, true), [](const auto& info) {
    return info.param ? "ServerWithoutPorts" : "NoServer";
});

// Closing RtMidi's JACK ports waits for the server: with the server stalled, q must
// still end zu (the ports are closed off the UI thread, with a time limit). What zu
// sends meanwhile must not make it spin on RtMidi's full buffer.
TEST_F(ServiceLoss, ServerStalledQStillQuits) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_TRUE(isValidControlChange(trigger())) << "output worked before the stall";
    ASSERT_NO_FATAL_FAILURE(stallService());
    pointAtWindow();
    const size_t keys = frameLog().keys.size();
    burst(XK_r, 5000); // more than RtMidi's buffer holds
    ASSERT_TRUE(waitUntil([&] { return frameLog().keys.size() >= keys + 5000; }, MESSAGE_LIMIT,
                          Millis(50), "zu taking 5000 presses of r"));
    double cpu = cpuShare(zu->process().pid(), Millis(1000));
    EXPECT_LT(cpu, 0.05) << "zu busy while the stalled server holds its messages";
    expectWindowAnswers("while the server is stalled");
    long long asked = monotonicMicros();
    x->tapKey(XK_q);
    EXPECT_TRUE(zu->waitExit(EXIT_LIMIT)) << "q did not end zu while the server was stalled";
    EXPECT_LT(monotonicMicros() - asked, 1000000) << "q took more than a second";
    resumeService();
    ASSERT_TRUE(zu->waitExit(EXIT_LIMIT)) << "zu did not end after the server resumed";
    EXPECT_EQ(0, zu->process().termSignal()) << zu->process().describeEnd();
    EXPECT_EQ(0, zu->process().exitCode()) << zu->process().describeEnd();
}

// A server that does not answer while zu starts: the window comes all the same and q
// ends zu; once the server answers, zu connects and r reaches the peer.
class StartStalled : public FaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StartStalled, TheWindowComesAndTheServerIsJoinedWhenItAnswers) {
    bool quitFirst = GetParam();
    ASSERT_NO_FATAL_FAILURE(startMidi());
    ASSERT_NO_FATAL_FAILURE(stallService());
    waitForPeer = false;
    long long start = monotonicMicros();
    ASSERT_NO_FATAL_FAILURE(startZu());
    long long windowMs = (monotonicMicros() - start) / 1000;
    printf("window %lld ms after start with the server stalled\n", windowMs);
    RecordProperty("window_ms", static_cast<int>(windowMs));
    EXPECT_TRUE(zu->waitForOutput("zu's MIDI service is not answering", MESSAGE_LIMIT))
        << zu->output();
    pointAtWindow();
    if (quitFirst) {
        x->tapKey(XK_q);
        EXPECT_TRUE(zu->waitExit(EXIT_LIMIT)) << "q did not end zu while the server was stalled";
        EXPECT_EQ(0, zu->process().exitCode()) << zu->process().describeEnd();
        return;
    }
    resumeService();
    ASSERT_NO_FATAL_FAILURE(waitForPeerConnections());
    EXPECT_TRUE(isValidControlChange(trigger())) << "r reaches the peer once the server answers";
    quitAndExpectZero();
}

std::string stalledCase(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "QuitFirst" : "ThenAnswers";
}
INSTANTIATE_TEST_SUITE_P(Faults, StartStalled, ::testing::Values(false, true), stalledCase);

// A private server, and the peer and zu's connection on it with a few messages delivered.
// Declared first in a test, it goes last: the server is killed or stalled in each
// test, so its name is freed after every client has gone, also when the test fails.
struct OutputRig {
    std::unique_ptr<JackServer> jack;
    pid_t pid = -1;
    MidiInbox inbox;

    OutputRig() {
        jack = std::make_unique<JackServer>(JackServer::uniqueName("zu-faults-out"));
        setenv("JACK_DEFAULT_SERVER", jack->name().c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        pid = jack->pid();
    }
    ~OutputRig() {
        signal(SIGCONT);
        jack->stop();
        EXPECT_TRUE(jack->freeName()) << jack->name() << " left its name taken";
    }
    // Only while the server is still this process's unreaped child.
    void signal(int sig) {
        if (pid > 0 && jack->running()) ::kill(pid, sig);
    }
    // A connection is never destroyed, as in zu.
    MidiConnection& connect() {
        auto* c = &MidiConnection::make(inbox);
        c->start({"zu-faults-out", "RtMidi Output", 0}, {"zu-faults-in", "RtMidi Input", 1});
        return *c;
    }
    static bool deliver(MidiConnection& out, MidiPeer& peer) {
        if (!out.started(std::chrono::steady_clock::now() + MESSAGE_LIMIT)) return false;
        for (unsigned char v = 0; v < 5; ++v)
            out.send({176, 1, v});
        return peer.waitForCount(5, MESSAGE_LIMIT);
    }
    // More than RtMidi's JACK buffer holds, so that a sender waits for the server.
    // With sendUs, adds the time spent in the sends themselves.
    static void fill(MidiConnection& out, long long* sendUs = nullptr) {
        for (int i = 0; i < 3000; ++i) {
            long long start = monotonicMicros();
            out.send({176, 2, static_cast<unsigned char>(i % 128)});
            if (sendUs) *sendUs += monotonicMicros() - start;
            if (i % 100 == 0) std::this_thread::sleep_for(Millis(1)); // let the sender run
        }
    }
};

// zu's connection in-process: once its server is killed, sends must stay cheap and
// closing must not hang, whatever the sender thread is stuck in.
TEST(OutputToDeadService, SendsAndCloseReturnPromptly) {
    OutputRig rig;
    ASSERT_GT(rig.pid, 0);
    auto peer = std::make_unique<MidiPeer>("zu-peer");
    MidiConnection& out = rig.connect();
    ASSERT_TRUE(OutputRig::deliver(out, *peer)) << peer->receivedCount();

    rig.signal(SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !rig.jack->running(); }, EXIT_LIMIT));
    (void)peer.release(); // libjack crashes closing a client of a dead server, as zu knows
    long long sendUs = 0;
    OutputRig::fill(out, &sendUs);
    long long sendMs = sendUs / 1000;
    EXPECT_LT(sendMs, HANG_LIMIT.count()) << "3000 sends into a dead server waited for it";

    long long start = monotonicMicros();
    out.close();
    long long closeMs = (monotonicMicros() - start) / 1000;
    EXPECT_LT(closeMs, HANG_LIMIT.count()) << "closing the output waited for the dead server";
    RecordProperty("send_ms", static_cast<int>(sendMs));
    RecordProperty("close_ms", static_cast<int>(closeMs));
}

// A sender left waiting inside a stalled service must not touch what closing freed when
// the service resumes. The child's allocator overwrites every block it frees at once (no
// per-thread cache, a perturb byte), as a later allocation would, so such a use shows.
// The child is a fresh process ("threadsafe" style): one forked from this one would
// inherit a connection whose thread it has not got, and wait for it for ever.
TEST(OutputToStalledService, ASenderLeftBehindNeverTouchesWhatClosingFreed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0:glibc.malloc.perturb=165", 1);
    EXPECT_EXIT(
        {
            alarm(60); // the child's deadline: a closing that hangs ends it
            auto fail = [](const char* why, int code) {
                fprintf(stderr, "%s\n", why);
                _exit(code);
            };
            {
                OutputRig rig;
                auto peer = std::make_unique<MidiPeer>("zu-peer");
                MidiConnection& out = rig.connect();
                if (!OutputRig::deliver(out, *peer)) fail("nothing delivered", 2);
                rig.signal(SIGSTOP);
                OutputRig::fill(out);
                long long start = monotonicMicros();
                if (out.close()) fail("closing left nothing behind: the stall was never met", 5);
                if (monotonicMicros() - start > HANG_LIMIT.count() * 1000)
                    fail("closing waited for the stalled server", 3);
                rig.signal(SIGCONT);
                // The sender left behind wakes now and hands on what it held.
                if (!peer->waitForCount(6, HANG_LIMIT))
                    fail("nothing came after the server resumed", 4);
                // So does the input's closing, which must end before the server does: libjack
                // holds its lock for ever in a closing cut short, and the rig could then open
                // no client to free the server's name.
                auto inputClosed = [&] {
                    PortGraph g = rig.jack->graph();
                    return !g.ports.empty() && g.portOf("zu-faults-in", "RtMidi Input").empty();
                };
                if (!waitUntil(inputClosed, HANG_LIMIT, Millis(50), "the input's closing"))
                    fail("the input's closing did not end after the server resumed", 6);
                // Closing the peer's client after the stall can deadlock in libjack.
                (void)peer.release();
            }
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    unsetenv("GLIBC_TUNABLES");
}

// Peers that come and go while the service runs: on ALSA too.
class PeersOnEachService : public OnEachService<FaultTest> {};

// A controller and a synth unplugged and plugged in again while the service runs.
TEST_P(PeersOnEachService, APeerThatGoesAndComesBackIsConnectedAgain) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    learnAndFollow(VALUE_BUTTON, VALUE_AREA, 20);
    ASSERT_TRUE(isValidControlChange(trigger())) << "output worked before";
    peer.reset();
    ASSERT_TRUE(zu->waitForOutput("zu-peer:out1 went away", MESSAGE_LIMIT)) << zu->output();
    peer = std::make_unique<PeerProcess>(ZU_MIDI_PEER, midi->clientEnvironment());
    long long back = monotonicMicros();
    ASSERT_NO_FATAL_FAILURE(waitForPeerConnections());
    printf("%s: zu connected again %lld ms after the peer was back\n", serviceName(service).c_str(),
           (monotonicMicros() - back) / 1000);
    EXPECT_TRUE(isValidControlChange(trigger())) << "r reaches the peer plugged in again";
    sendUntilReceived({176, 20, 127}, peer->receivedCount() + 1, "the pad paired before");
    quitAndExpectZero();
    EXPECT_EQ(1u, countOf(zu->output(), "zu sends to zu-peer:in again.\n")) << zu->output();
    EXPECT_EQ(1u, countOf(zu->output(), "zu listens to zu-peer:out1 again.\n")) << zu->output();
}

// A controller that is also the synth, on a loose cable: gone and back six times in
// about two seconds, at any pace. A connection the user undid stays undone across
// replugs until the user makes it again.
TEST_P(PeersOnEachService, ALooseCableEndsConnectedAndTheUsersOwnDisconnectStays) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    learnAndFollow(VALUE_BUTTON, VALUE_AREA, 20);
    for (int pauseMs : {50, 150, 70, 130, 90, 110}) {
        peer.reset();
        std::this_thread::sleep_for(Millis(pauseMs)); // the cable's pace, not a wait for zu
        peer = std::make_unique<PeerProcess>(ZU_MIDI_PEER, midi->clientEnvironment());
    }
    long long back = monotonicMicros();
    ASSERT_NO_FATAL_FAILURE(waitForPeerConnections());
    long long againMs = (monotonicMicros() - back) / 1000;
    printf("%s: connected again %lld ms after the last return\n", serviceName(service).c_str(),
           againMs);
    RecordProperty("connected_again_ms", static_cast<int>(againMs));
    EXPECT_TRUE(isValidControlChange(trigger())) << "r reaches the synth";
    sendUntilReceived({176, 20, 127}, peer->receivedCount() + 1, "the pad paired before");

    const std::string zuOut = "RtMidi Output Client:RtMidi Output", in = peerPort("in");
    auto sendsToPeer = [&] {
        for (const std::string& c : midi->connections(in))
            if (c == zuOut) return true;
        return false;
    };
    ASSERT_TRUE(midi->link(zuOut, in, false)) << "the user's disconnect";
    ASSERT_TRUE(zu->waitForOutput("zu no longer sends to zu-peer:in: it was disconnected by hand.",
                                  MESSAGE_LIMIT))
        << zu->output();
    const std::string again = "zu listens to zu-peer:out1 again.\n";
    size_t agains = countOf(zu->output(), again);
    peer.reset();
    peer = std::make_unique<PeerProcess>(ZU_MIDI_PEER, midi->clientEnvironment());
    ASSERT_TRUE(waitUntil([&] { return countOf(zu->output(), again) > agains; }, START_LIMIT))
        << zu->output();
    EXPECT_FALSE(sendsToPeer()) << "zu made again what the user undid";
    ASSERT_TRUE(midi->link(zuOut, peerPort("in"), true)) << "the user's own connection";
    EXPECT_TRUE(isValidControlChange(trigger())) << "r reaches the synth the user connected";
    quitAndExpectZero();
}

// A synth that restarts its engine (a JACK client deactivated and activated again) loses
// every connection; the user undid none of them.
TEST_P(PeersOnEachService, ASynthThatRestartsItsEngineIsConnectedAgain) {
    if (service == Service::Alsa) GTEST_SKIP() << "an engine that restarts is JACK's";
    ASSERT_NO_FATAL_FAILURE(startMidi());
    peer.reset(); // first: the engine takes its name
    peer = std::make_unique<PeerProcess>(ZU_MIDI_PEER,
                                         midi->clientEnvironment().set("ZU_MIDI_PEER_ENGINE", "1"));
    ASSERT_NO_FATAL_FAILURE(startZu());
    pointAtWindow();
    // Connected again by hand, as with a patchbay: PipeWire keeps only the connections of
    // a client that is still there (zu's) when the engine stops.
    const std::string zuOut = "RtMidi Output Client:RtMidi Output", in = peerPort("in");
    ASSERT_TRUE(midi->link(zuOut, in, false));
    ASSERT_TRUE(zu->waitForOutput("disconnected by hand", MESSAGE_LIMIT)) << zu->output();
    ASSERT_TRUE(midi->link(zuOut, in, true));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(static_cast<PeerProcess&>(*peer).restartEngine()) << "restart " << i;
        long long restarted = monotonicMicros();
        ASSERT_NO_FATAL_FAILURE(waitForPeerConnections());
        printf("%s: connected again %lld ms after the engine was back\n",
               serviceName(service).c_str(), (monotonicMicros() - restarted) / 1000);
        size_t before = peer->receivedCount();
        EXPECT_TRUE(isValidControlChange(trigger())) << "r reaches the restarted synth";
        EXPECT_EQ(before + 1, peer->receivedCount()) << "one message per r";
    }
    EXPECT_EQ(1u, countOf(zu->output(), "disconnected by hand")) << zu->output();
    quitAndExpectZero();
}

// A synth and a controller that come after zu: connected by the start rules once there.
TEST_P(PeersOnEachService, PeersStartedAfterZuAreConnected) {
    ASSERT_NO_FATAL_FAILURE(startMidi());
    peer.reset();
    waitForPeer = false;
    ASSERT_NO_FATAL_FAILURE(startZu());
    ASSERT_TRUE(zu->waitForOutput("zu is not connected", START_LIMIT)) << zu->output();
    peer = std::make_unique<PeerProcess>(ZU_MIDI_PEER, midi->clientEnvironment());
    ASSERT_NO_FATAL_FAILURE(waitForPeerConnections());
    pointAtWindow();
    EXPECT_TRUE(isValidControlChange(trigger())) << "r reaches the synth that came later";
    quitAndExpectZero();
    EXPECT_EQ(1u, countOf(zu->output(), "zu sends to zu-peer:in.\n")) << zu->output();
    EXPECT_EQ(1u, countOf(zu->output(), "zu listens to zu-peer:out1.\n")) << zu->output();
}

// One source besides zu's own output: zu never takes its own for input port 1, so a
// value it learned from nothing never triggers itself in follow mode.
TEST_P(PeersOnEachService, WithOneOtherSourceZuNeverHearsItself) {
    midi = startService(service, MidiService::uniqueName());
    peer = std::make_unique<PeerProcess>(
        ZU_MIDI_PEER, midi->clientEnvironment().set("ZU_MIDI_PEER_OUTPUTS", "1"));
    waitForPeer = false;
    ASSERT_NO_FATAL_FAILURE(startZu());
    ASSERT_TRUE(zu->waitForOutput("input port 1", START_LIMIT)) << zu->output();
    EXPECT_EQ(std::vector<std::string>{}, midi->connections("RtMidi Input Client:RtMidi Input"));
    pointAtWindow();
    toggleMode("learn mode");
    selectControl(VALUE_BUTTON, VALUE_AREA, "the value button selected");
    tap(XK_r); // heard by zu itself, controller 0 would pair with the button
    toggleMode("follow mode");
    tap(XK_r);
    expectMessagesAndQuit(2);
}

// Two zu side by side: each sends one message per r and neither hears the other.
TEST_P(PeersOnEachService, TwoZuNeverTriggerEachOther) {
    ASSERT_NO_FATAL_FAILURE(startMidi());
    ZuApp first(zuOptions()); // the window started last lies on top and takes the keys
    ASSERT_TRUE(first.waitForOutput("zu sends to zu-peer:in", START_LIMIT)) << first.output();
    ASSERT_NO_FATAL_FAILURE(startZu());
    pointAtWindow();
    learnAndFollow(VALUE_BUTTON, VALUE_AREA, 0); // the controller zu sends on
    size_t before = peer->receivedCount();
    tap(XK_r);
    EXPECT_TRUE(first.stop()) << "the first zu needed SIGKILL";
    expectMessagesAndQuit(before + 1);
}

ZU_ON_EACH_SERVICE(PeersOnEachService);

} // namespace
} // namespace zutest
