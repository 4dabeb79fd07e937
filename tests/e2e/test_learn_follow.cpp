// MIDI learn and follow through the real binary: a control is selected with the
// mouse, paired by a message from the peer, then driven by the peer's messages.
#include "zu_fixture.h"

namespace zutest {
namespace {

class LearnFollow : public ZuTest {
  protected:
    // Learn mode with the CH dial selected, a message on the peer's out0 (which zu
    // does not read), follow mode.
    void learnFromPortZero(unsigned char cc) {
        toggleMode("the learn dialog");
        selectControl(CH_DIAL, CH_AREA, "the selected CH dial");
        send(0, {176, cc, 64});
        toggleMode("the learn dialog going away");
    }
};
class LearnFollowOnEachService : public OnEachService<LearnFollow> {};

TEST_P(LearnFollowOnEachService, LearnedChDialFollowsTheChannel) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    learnAndFollow(CH_DIAL, CH_AREA, 20);
    std::vector<unsigned char> m = triggerUntilStatus({176, 20, 9}, 176 + 9);
    ASSERT_EQ(3u, m.size());
    EXPECT_EQ(0, m[1]);
    // A channel beyond 15 cannot be a status byte: it goes out on 15.
    triggerUntilStatus({176, 20, 100}, 176 + 15);
}

TEST_P(LearnFollowOnEachService, LearnedValueButtonTriggersOnPressAndOnRelease) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    learnAndFollow(VALUE_BUTTON, VALUE_AREA, 21);
    // In learn mode the click selected the button instead of triggering it.
    EXPECT_EQ(0u, peer->receivedCount());
    // A pad: 127 on press, 0 on release. Each edge triggers once; the same value again
    // triggers nothing, so each may be sent until it is answered.
    sendUntilReceived({176, 21, 127}, 1, "the pad's press");
    sendUntilReceived({176, 21, 0}, 2, "the pad's release");
    std::vector<MidiMessage> got = expectMessagesAndQuit(2);
    for (const MidiMessage& msg : got) {
        ASSERT_EQ(3u, msg.bytes.size());
        EXPECT_EQ(176, msg.bytes[0]);
        EXPECT_EQ(0, msg.bytes[1]);
    }
}

TEST_P(LearnFollowOnEachService, TwoKnobsSweptTogetherEndWhereTheyEnded) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    learnAndFollow(MAX_DIAL, MAX_AREA, 21);
    learnAndFollow(MIN_DIAL, MIN_AREA, 22);
    // One burst of 256 messages: MAX 127 down to 101, MIN 0 up to 100, step by step.
    for (int i = 0; i <= 127; ++i) {
        send(1, {176, 21, static_cast<unsigned char>(127 - i * 26 / 127)});
        send(1, {176, 22, static_cast<unsigned char>(i * 100 / 127)});
    }
    waitForFollowed(21, 101);
    waitForFollowed(22, 100);
    // INRT 0 always jumps, to a value in [MIN, MAX): only 100.
    for (int i = 0; i < 4; ++i) {
        std::vector<unsigned char> m = trigger();
        ASSERT_EQ(3u, m.size());
        EXPECT_EQ(100, static_cast<int>(m[2])) << "trigger " << i;
    }
}

TEST_P(LearnFollowOnEachService, PadTapsBesideATurningKnobTriggerTwiceEach) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    learnAndFollow(VALUE_BUTTON, VALUE_AREA, 21);
    learnAndFollow(MAX_DIAL, MAX_AREA, 22);
    const int taps = 10;
    for (int tap = 1; tap <= taps; ++tap) {
        // Each of the pad's messages followed at once by four steps of the knob.
        for (unsigned char pad : {127, 0}) {
            send(1, {176, 21, pad});
            for (int k = 0; k < 4; ++k)
                send(1, {176, 22, static_cast<unsigned char>(100 + (tap * 8 + k) % 27)});
        }
        ASSERT_TRUE(peer->waitForCount(2 * tap, MESSAGE_LIMIT))
            << "tap " << tap << " gave " << peer->receivedCount() - 2 * (tap - 1) << " of 2";
        waitForFrames(2); // the frame after the second press lets go
    }
    expectMessagesAndQuit(2 * taps);
}

ZU_ON_EACH_SERVICE(LearnFollowOnEachService);

TEST_F(LearnFollow, MessagesOnInputPortZeroChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // zu reads its input port 1 only: the peer's out0 is not even connected.
    EXPECT_TRUE(midi->connections(peerPort("out0")).empty());
    learnAndFollow(CH_DIAL, CH_AREA, 20);
    send(0, {176, 20, 9}); // connected to nothing: it cannot reach zu
    std::vector<unsigned char> m = trigger();
    ASSERT_EQ(3u, m.size());
    EXPECT_EQ(176, m[0]);
    // The same message on port 1 does change the channel: the pairing was made.
    triggerUntilStatus({176, 20, 9}, 176 + 9);
}

TEST_F(LearnFollow, LearningFromPortZeroPairsNothing) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // What zu could have learned from out0 cannot reach it: out0 is connected to nothing.
    EXPECT_TRUE(midi->connections(peerPort("out0")).empty());
    learnFromPortZero(20);
    send(1, {176, 20, 9});
    std::vector<unsigned char> m = trigger();
    ASSERT_EQ(3u, m.size());
    EXPECT_EQ(176, m[0]);
}

} // namespace
} // namespace zutest
