// What a misbehaving MIDI peer can throw at zu's input port: floods, messages
// of every shape, and mode switches while the traffic goes on.
#include <algorithm>
#include <random>

#include "fault_fixture.h"

namespace zutest {
namespace {

using Bytes = std::vector<unsigned char>;
using HostileInput = FaultTest;

// 5000 messages as fast as the peer can send them, in learn mode (false) or follow mode (true).
class Flood : public FaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Flood, ZuStaysResponsiveAndSmall) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    if (GetParam()) { // the CC dial follows controller 30
        learnAndFollow(CC_DIAL, CC_AREA, 30);
    } else {
        toggleMode("the learn dialog");
        selectControl(CC_DIAL, CC_AREA, "the selected CC dial");
    }
    const pid_t pid = zu->process().pid();
    const long before = rssKb(pid);
    long peak = before;
    Feeder flood(
        *peer,
        [](int i) -> Bytes {
            return {176, static_cast<unsigned char>(i % 3 ? 30 : i % 128),
                    static_cast<unsigned char>(i % 128)};
        },
        Millis(0), 5000);
    std::vector<long long> latencies;
    while (!flood.waitDone(Millis(0)) && latencies.size() < 5) {
        latencies.push_back(rLatencyMs(MESSAGE_LIMIT));
        peak = std::max(peak, rssKb(pid));
    }
    ASSERT_TRUE(flood.waitDone(Millis(60000))) << "the peer could not send its flood";
    latencies.push_back(rLatencyMs(MESSAGE_LIMIT));
    const long after = rssKb(pid);
    peak = std::max(peak, after);
    for (long long ms : latencies)
        EXPECT_GE(ms, 0) << "an r went unanswered; " << pressReport();
    EXPECT_LT(peak - before, 20 * 1024) << "RSS " << before << " kB -> peak " << peak << " kB";
    EXPECT_TRUE(allValidControlChanges(peer->received()));
    RecordProperty("rss_before_kb", static_cast<int>(before));
    RecordProperty("rss_after_kb", static_cast<int>(after));
    RecordProperty("triggers_during_flood", static_cast<int>(latencies.size() - 1));
    RecordProperty("slowest_r_ms",
                   static_cast<int>(*std::max_element(latencies.begin(), latencies.end())));
    quitAndExpectZero();
}

INSTANTIATE_TEST_SUITE_P(Modes, Flood, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Follow" : "Learn"; });

// Real-time bytes, two-byte messages, system exclusive of many lengths, running
// status fragments and bytes above 127 where data belongs.
std::vector<Bytes> malformed() {
    Bytes longSysex{240};
    for (int i = 0; i < 300; ++i)
        longSysex.push_back(static_cast<unsigned char>(i % 128));
    longSysex.push_back(247);
    // {240, 7, 8} is a system exclusive cut in two; {9, 247} ends it. The last
    // message with a data byte 1 leaves the learn dialog at "CC5".
    return {{248},         {254},       {240, 20, 99, 247}, {240, 20, 200, 247},
            {192, 5},      {208, 3},    {240, 247},         {240, 1, 247},
            longSysex,     {240, 7, 8}, {9, 247},           {20, 100},
            {20},          {100, 50},   {176, 20, 255},     {144, 255, 255},
            {176, 200, 5}, {255},       {176, 5, 200}};
}

// Sends every malformed message, a little apart, so that each is taken on a poll of its own.
void sendMalformed(Peer& peer) {
    for (const Bytes& m : malformed()) {
        peer.send(1, m);
        std::this_thread::sleep_for(Millis(15));
    }
}

TEST_F(HostileInput, MalformedInputInBothModesLeavesTheOutputValid) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    const Snapshot chNormal = look(CH_AREA);
    toggleMode("the learn dialog");
    selectControl(CH_DIAL, CH_AREA, "the selected CH dial");
    // 42 is no malformed message's byte 1: once the dialog shows "CC42" again, every
    // message sent before it has been taken.
    learnController(42);
    const Snapshot learned42 = look(DIALOG_AREA);
    sendMalformed(*peer);
    waitForChange(DIALOG_AREA, learned42, "the numbers of the malformed messages");
    sendUntil(
        {176, 42, 64}, [&] { return look(DIALOG_AREA) == learned42; },
        "42 learned after the malformed messages");
    ASSERT_TRUE(isValidControlChange(trigger()));
    toggleMode("the learn dialog going away");
    waitForLook(CH_AREA, chNormal, "the CH dial no longer selected");

    sendMalformed(*peer);
    // Channel 100: no Control Change status can carry it; it goes out on 15.
    triggerUntilStatus({176, 42, 100}, 191);
    for (const Bytes& bad : malformed())
        send(1, bad);
    // Everything before channel 7 has been taken once r goes out on it.
    triggerUntilStatus({176, 42, 7}, 176 + 7);
    ASSERT_TRUE(zu->running()) << zu->process().describeEnd();
    EXPECT_TRUE(allValidControlChanges(peer->received()));
    quitAndExpectZero();
}

TEST_F(HostileInput, ModeStormWhileThePeerSendsThenQuitsPromptly) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    Feeder traffic(
        *peer,
        [](int i) -> Bytes {
            return {176, static_cast<unsigned char>(i % 128), static_cast<unsigned char>(i % 100)};
        },
        Millis(2));
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> gap(7, 27);
    for (int i = 0; i < 200; ++i) {
        x->keyDown(XK_m);
        settle(Millis(3));
        x->keyUp(XK_m);
        settle(Millis(gap(rng)));
    }
    long long start = monotonicMicros();
    x->tapKey(XK_q, 10);
    bool ended = zu->waitExit(EXIT_LIMIT);
    long long ms = (monotonicMicros() - start) / 1000;
    traffic.stop();
    ASSERT_TRUE(ended) << "zu still runs long after q";
    EXPECT_EQ(0, zu->process().exitCode()) << zu->process().describeEnd();
    RecordProperty("quit_ms", static_cast<int>(ms));
}

} // namespace
} // namespace zutest
