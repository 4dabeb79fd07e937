#include "zu_fixture.h"

#include <cstdlib>

namespace zutest {

XEnvironment* XEnvironment::instance = nullptr;

const std::string& XEnvironment::display() {
    if (!server_) server_ = std::make_unique<XvfbServer>();
    return server_->display();
}

void ZuTest::TearDown() {
    // Every scenario ends with a clean exit on SIGTERM, unless it ended zu itself.
    if (zu && zu->running()) {
        EXPECT_TRUE(zu->stop()) << "zu needed SIGKILL";
        EXPECT_EQ(0, zu->process().exitCode()) << zu->process().describeEnd();
    }
    if (HasFailure() && zu) {
        std::cerr << "zu stdout:\n" << zu->output() << "\nzu stderr:\n" << zu->errors() << "\n";
    }
    zu.reset();
    x.reset();
    peer.reset();
    if (jack) {
        EXPECT_TRUE(jack->stop()) << "jackd needed SIGKILL";
    }
    jack.reset();
}

Environment ZuTest::zuEnvironment() {
    Environment env = Environment::current();
    env.set("DISPLAY", XEnvironment::instance->display());
    if (jack) return jack->clientEnvironment(env);
    // No server of ours: a name that no server has, so zu finds no MIDI at all.
    return env.set("JACK_DEFAULT_SERVER", "zu-absent-" + std::to_string(getpid()))
        .set("JACK_NO_START_SERVER", "1");
}

void ZuTest::startMidi() {
    jack = std::make_unique<JackServer>(JackServer::uniqueName());
    // RtMidi gives libjack no server name: it is taken from the environment.
    setenv("JACK_DEFAULT_SERVER", jack->name().c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    peer = std::make_unique<MidiPeer>("zu-peer");
}

std::string ZuTest::peerPort(const std::string& shortName) {
    for (const std::string& p : jack->ports())
        if (p.rfind("zu-peer", 0) == 0 && p.size() > shortName.size() &&
            p.compare(p.size() - shortName.size() - 1, std::string::npos, ":" + shortName) == 0)
            return p;
    return "";
}

bool ZuTest::waitForFirstFrame() {
    // SDL replaces the first window when it sets up the renderer, so the window
    // is looked up again until one shows zu's background colour.
    return waitUntil(
        [&] {
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
    if (jack) {
        std::string in = peerPort("in"), out1 = peerPort("out1");
        ASSERT_FALSE(in.empty());
        ASSERT_FALSE(out1.empty());
        auto connectedTo = [&](const std::string& port, const std::string& other) {
            for (const std::string& c : jack->connections(port))
                if (c == other) return true;
            return false;
        };
        ASSERT_TRUE(waitUntil(
            [&] {
                return connectedTo(in, "RtMidi Output Client:RtMidi Output") &&
                       connectedTo(out1, "RtMidi Input Client:RtMidi Input");
            },
            START_LIMIT, Millis(50)))
            << "zu did not connect to the peer; stdout:\n"
            << zu->output();
    }
    ASSERT_TRUE(waitForFirstFrame()) << "zu painted nothing";
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
        MESSAGE_LIMIT, Millis(30));
    EXPECT_TRUE(changed) << "the window never showed: " << what;
    return now;
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

std::vector<MidiMessage> ZuTest::expectMessages(size_t n) {
    EXPECT_TRUE(peer->waitForCount(n, MESSAGE_LIMIT))
        << "expected " << n << " messages, got " << peer->receivedCount();
    settle(Millis(500));
    std::vector<MidiMessage> got = peer->received();
    EXPECT_EQ(n, got.size());
    return got;
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

void ZuTest::expectExit(int code) {
    ASSERT_TRUE(zu->waitExit(EXIT_LIMIT)) << "zu did not end; stdout:\n" << zu->output();
    EXPECT_EQ(0, zu->process().termSignal()) << zu->process().describeEnd();
    EXPECT_EQ(code, zu->process().exitCode()) << zu->process().describeEnd() << "\nstdout:\n"
                                              << zu->output();
}

} // namespace zutest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    zutest::XEnvironment::instance = new zutest::XEnvironment;
    ::testing::AddGlobalTestEnvironment(zutest::XEnvironment::instance);
    return RUN_ALL_TESTS();
}
