#include "zu_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

namespace zutest {

XEnvironment* XEnvironment::instance = nullptr;

Service defaultService() {
    const char* chosen = getenv("ZU_TEST_SERVICE");
    return chosen && std::string(chosen) == "Alsa" ? Service::Alsa : Service::Jack;
}

std::vector<Service> servicesUnderTest() {
    if (defaultService() == Service::Alsa) return {Service::Alsa};
    return {Service::Jack, Service::PipeWire};
}

const std::string& XEnvironment::display() {
    if (!server_) server_ = std::make_unique<XvfbServer>();
    return server_->display();
}

void ZuTest::TearDown() {
    Ending ending; // stopping what the case started may take the rest of its time
    if (HasFailure()) keepEvidence(); // while zu runs: its threads' stacks
    // Every scenario ends with a clean exit on SIGTERM, unless it ended zu itself.
    if (zu && zu->running()) {
        zu->process().signal(SIGTERM);
        if (zu->waitExit(STOP_LIMIT)) {
            expectEnded(0);
        } else {
            ADD_FAILURE() << "zu did not end on SIGTERM: it gets SIGKILL";
            keepEvidence();
        }
    }
    if (zu && zu->crashed()) { // before the test looked
        ADD_FAILURE() << "zu ended by " << zu->process().describeEnd() << "\n" << zu->crashStacks();
        keepEvidence();
    }
    if (HasFailure() && zu) {
        std::cerr << "zu stdout:\n" << zu->output() << "\nzu stderr:\n" << zu->errors() << "\n";
    }
    zu.reset();
    x.reset();
    peer.reset();
    if (midi) {
        EXPECT_TRUE(midi->stop()) << serviceName(service) << " needed SIGKILL";
    }
}

void ZuTest::keepEvidence() {
    std::filesystem::path dir = zutest::keepEvidence();
    if (midi) {
        // The ALSA sequencer has no daemon's log to keep: a listing of its ports, made now.
        std::error_code ignored;
        if (service == Service::Alsa)
            std::filesystem::copy_file(midi->logPath(), dir / "service.log",
                                       std::filesystem::copy_options::overwrite_existing, ignored);
        std::cerr << "the service's log ends:\n" << tailOfFile(midi->logPath());
    }
    std::cerr << "zu's output, frame log and stacks and the servers' and peer's logs are kept in "
              << dir.string() << "\n";
}

Environment ZuTest::zuEnvironment() {
    Environment env = Environment::current();
    env.set("DISPLAY", XEnvironment::instance->display());
    if (midi) return midi->clientEnvironment(env);
    // No service of ours: a name that none answers to, so zu finds no MIDI at all.
    return withoutService(service, env);
}

void ZuTest::startMidi() {
    midi = startService(service, MidiService::uniqueName());
    peer = std::make_unique<PeerProcess>(ZU_MIDI_PEER, midi->clientEnvironment());
}

std::string ZuTest::peerPort(const std::string& shortName) {
    return midi->portOf("zu-peer", shortName);
}

bool ZuTest::waitForFirstFrame() {
    // SDL replaces the first window when it sets up the renderer, so the window
    // is looked up again until one shows zu's background colour. Keys typed before
    // zu ended its first frame can be lost on a slow machine: the frame log tells.
    const std::string frameLog = frameLogPath();
    return waitUntil(
        [&] {
            if (readFile(frameLog).empty()) return false;
            Window w = x->findWindow("zu", zu->process().pid());
            if (!w) return false;
            Snapshot s = x->capture(w, BACKGROUND.x, BACKGROUND.y, 1, 1);
            if (s.empty() || s.at(0, 0) != Rgb{16, 16, 16}) return false;
            window = w;
            return true;
        },
        START_LIMIT, Millis(50));
}

std::string ZuTest::zuBinary() {
    const char* other = getenv("ZU_E2E_BINARY");
    return other && *other ? other : ZU_BINARY;
}

ZuOptions ZuTest::zuOptions() {
    ZuOptions o;
    o.binary = zuBinary();
    o.assetsDir = ZU_ASSETS;
    o.env = zuEnvironment();
    return o;
}

void ZuTest::startZu(bool withFont) {
    if (!x) x = std::make_unique<XSession>(XEnvironment::instance->display());
    ZuOptions o = zuOptions();
    o.withFont = withFont;
    zu = std::make_unique<ZuApp>(o);
    if (!withFont) return;
    window = x->waitForWindow("zu", START_LIMIT, zu->process().pid());
    ASSERT_NE(0u, window) << "no window titled zu; stdout:\n" << zu->output();
    if (midi && midi->running() && waitForPeer) {
        ASSERT_NO_FATAL_FAILURE(waitForPeerConnections());
    }
    ASSERT_TRUE(waitForFirstFrame()) << "zu painted nothing";
}

void ZuTest::waitForPeerConnections() {
    std::string in, out1;
    // One look at the graph per poll: every client that comes and goes is news to zu.
    ASSERT_TRUE(waitUntil(
        [&] {
            PortGraph g = midi->graph();
            in = g.portOf("zu-peer", "in");
            out1 = g.portOf("zu-peer", "out1");
            return g.connected(in, "RtMidi Output Client:RtMidi Output") &&
                   g.connected(out1, "RtMidi Input Client:RtMidi Input");
        },
        START_LIMIT, Millis(100), "zu's connections to the peer"))
        << "zu did not connect to the peer's " << (in.empty() ? "missing " : "")
        << "ports; stdout:\n"
        << zu->output();
}

void ZuTest::startAll() {
    ASSERT_NO_FATAL_FAILURE(startMidi());
    ASSERT_NO_FATAL_FAILURE(startZu());
    pointAtWindow();
}

Snapshot ZuTest::waitForChange(Region r, const Snapshot& before, const char* what) {
    Snapshot now;
    bool changed = waitUntil(
        [&] {
            now = look(r);
            return !now.empty() && now != before;
        },
        answerLimit, Millis(30), what);
    EXPECT_TRUE(changed) << "the window never showed: " << what;
    return now;
}

void ZuTest::waitForLook(Region r, const Snapshot& wanted, const char* what) {
    EXPECT_TRUE(waitUntil([&] { return look(r) == wanted; }, answerLimit, Millis(30), what))
        << "the window never showed: " << what;
}

void ZuTest::toggleMode(const char* what) {
    Snapshot dialog = look(DIALOG_AREA);
    x->tapKey(XK_m);
    waitForChange(DIALOG_AREA, dialog, what);
}

void ZuTest::selectControl(At at, Region area, const char* what) {
    Snapshot before = look(area);
    clickAt(at);
    waitForChange(area, before, what);
    pointAtWindow();
}

void ZuTest::sendUntil(const std::vector<unsigned char>& m, const std::function<bool()>& shown,
                       const char* what) {
    bool done = waitUntil(
        [&] {
            send(1, m);
            return waitUntil(shown, Millis(1000), Millis(30), what);
        },
        answerLimit, Millis(0), what);
    EXPECT_TRUE(done) << "the window never showed " << what;
}

void ZuTest::sendUntilReceived(const std::vector<unsigned char>& m, size_t n, const char* what) {
    bool done = waitUntil(
        [&] {
            send(1, m);
            return peer->waitForCount(n, Millis(1000));
        },
        answerLimit, Millis(0));
    EXPECT_TRUE(done) << "expected " << n << " messages after " << what << ", got "
                      << peer->receivedCount();
}

void ZuTest::sendUntilShown(const std::vector<unsigned char>& m, Region area, const char* what) {
    Snapshot before = look(area);
    sendUntil(
        m, [&] { return look(area) != before; }, what);
}

void ZuTest::learnController(unsigned char cc) {
    sendUntilShown({176, cc, 64}, DIALOG_AREA, "the learned controller number");
}

void ZuTest::learnAndFollow(At at, Region area, unsigned char cc) {
    const Snapshot normal = look(area);
    toggleMode("the learn dialog");
    selectControl(at, area, "the selected control");
    learnController(cc);
    toggleMode("the learn dialog going away");
    // The learn task clears the selection after it hides the dialog: a frame may show
    // one without the other, and what follows waits for the control to change.
    waitForLook(area, normal, "the control no longer selected");
}

void ZuTest::dragUp(At dial, Region area, int steps) {
    x->movePointer(window, dial.x, dial.y);
    settle();
    Snapshot shown = look(area);
    x->buttonDown(1);
    shown = waitForChange(area, shown, "the pressed dial's value");
    // zu reads the pointer position, not the event's: two motions in one frame
    // would count as one step, so each step is seen on screen before the next.
    for (int i = 1; i <= steps; ++i) {
        x->movePointer(window, dial.x, dial.y - 3 * i);
        shown = waitForChange(area, shown, "a dial step");
    }
    x->buttonUp(1);
    settle();
}

void ZuTest::send(int port, const std::vector<unsigned char>& bytes) {
    peer->send(port, bytes);
}

std::vector<MidiMessage> ZuTest::expectMessagesAndQuit(size_t n) {
    EXPECT_TRUE(peer->waitForCount(n, MESSAGE_LIMIT))
        << "expected " << n << " messages, got " << peer->receivedCount();
    quitAndExpectZero();
    std::vector<MidiMessage> got = peer->received();
    EXPECT_EQ(n, got.size());
    return got;
}

std::string ZuTest::frameLogPath() {
    std::string frameLog = zuOptions().env.get("ZU_FRAME_LOG");
    return frameLog.empty() ? zu->workDir() + "/frames.log" : frameLog;
}

ZuTest::FrameLog ZuTest::frameLog() {
    constexpr long long KEY_DOWN = 0x300, KEY_UP = 0x301; // SDL's event types
    FrameLog log;
    std::istringstream in(readFile(frameLogPath()));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        long long t = 0, a = 0, b = 0;
        if (first == "event" && words >> t >> a && (a == KEY_DOWN || a == KEY_UP))
            (a == KEY_DOWN ? log.keys : log.keyUps).push_back(t);
        else if (first == "midi" && words >> t >> a >> b)
            log.followed.push_back({t, static_cast<int>(a), static_cast<int>(b)});
        else if (first != "event" && first != "midi" && words >> a) {
            log.frames.push_back({std::stoll(first) - a, std::stoll(first)});
            if (words >> b && b == 1) log.paints.push_back(std::stoll(first));
        }
    }
    return log;
}

void ZuTest::waitForFollowed(int number, int value) {
    auto followed = [&] {
        for (const FrameLog::Pair& p : frameLog().followed)
            if (p.number == number && p.value == value) return true;
        return false;
    };
    EXPECT_TRUE(waitUntil(followed, answerLimit, Millis(30), "a pair followed"))
        << "zu never followed " << number << " " << value;
}

void ZuTest::waitForFrames(int n) {
    size_t until = frameLog().frames.size() + n;
    EXPECT_TRUE(waitUntil([&] { return frameLog().frames.size() >= until; }, answerLimit,
                          Millis(10), "zu's frames"))
        << "zu did not go through " << n << " frames";
}

std::vector<unsigned char> ZuTest::trigger() {
    size_t before = peer->receivedCount();
    tap(XK_r);
    if (!peer->waitForCount(before + 1, MESSAGE_LIMIT)) {
        ADD_FAILURE() << "r sent nothing";
        return {};
    }
    return peer->received()[before].bytes;
}

std::vector<unsigned char> ZuTest::triggerUntilStatus(const std::vector<unsigned char>& m,
                                                      int status) {
    std::vector<unsigned char> got;
    bool done = waitUntil(
        [&] {
            send(1, m);
            got = trigger();
            return got.size() == 3 && got[0] == status;
        },
        answerLimit, Millis(0));
    EXPECT_TRUE(done) << "r never went out with status " << status << " after " << formatBytes(m);
    return got;
}

void ZuTest::expectExit(int code) {
    ASSERT_TRUE(zu->waitExit(EXIT_LIMIT)) << "zu did not end; stdout:\n" << zu->output();
    expectEnded(code);
}

void ZuTest::expectEnded(int code) {
    if (zu->crashed())
        ADD_FAILURE() << zu->process().describeEnd() << "\n" << zu->crashStacks();
    else
        EXPECT_EQ(code, zu->process().exitCode()) << zu->process().describeEnd() << "\nstdout:\n"
                                                  << zu->output();
}

void ZuTest::requestClose() {
    Display* d = x->display();
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &e);
    XFlush(d);
}

void ZuTest::quitAndExpectZero() {
    pointAtWindow();
    x->tapKey(XK_q);
    expectExit(0);
}

} // namespace zutest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    zutest::XEnvironment::instance = new zutest::XEnvironment;
    ::testing::AddGlobalTestEnvironment(zutest::XEnvironment::instance);
    return RUN_ALL_TESTS();
}
