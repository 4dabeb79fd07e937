// MIDI learn and follow through the real binary: a control is selected with the
// mouse, paired by a message from the peer, then driven by the peer's messages.
#include "zu_fixture.h"

namespace zutest {
namespace {

// Learn poll is 10 ms and a frame at least 60 ms: this covers both, with room.
constexpr Millis MIDI_SETTLE(400);

class LearnFollow : public ZuTest {
  protected:
    // Learn mode, select the control at `at` (drawn in `area`), the peer sends
    // controller cc on port, follow mode. Each step is waited for on screen.
    void pair(At at, Region area, unsigned char cc, int port) {
        Snapshot dialog = look(DIALOG_AREA);
        tap(XK_m);
        dialog = waitForChange(DIALOG_AREA, dialog, "the learn dialog");
        Snapshot control = look(area);
        clickAt(at);
        waitForChange(area, control, "the selected control");
        pointAtWindow();
        send(port, {176, cc, 64});
        if (port == 1)
            dialog = waitForChange(DIALOG_AREA, dialog, "the learned number");
        else
            settle(MIDI_SETTLE);
        tap(XK_m);
        waitForChange(DIALOG_AREA, dialog, "the learn dialog going away");
        settle(MIDI_SETTLE);
    }
    // The peer moves a paired CH dial to channel; waits until the dial shows it.
    void moveChannel(unsigned char cc, unsigned char channel) {
        Snapshot before = look(CH_AREA);
        send(1, {176, cc, channel});
        waitForChange(CH_AREA, before, "the followed channel");
    }
};

TEST_F(LearnFollow, LearnedChDialFollowsTheChannel) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    pair(CH_DIAL, CH_AREA, 20, 1);
    moveChannel(20, 9);
    std::vector<unsigned char> m = trigger();
    ASSERT_EQ(3u, m.size());
    EXPECT_EQ(176 + 9, m[0]);
    EXPECT_EQ(0, m[1]);
    // A channel beyond 15 cannot be a status byte: it goes out on 15.
    moveChannel(20, 100);
    m = trigger();
    ASSERT_EQ(3u, m.size());
    EXPECT_EQ(176 + 15, m[0]);
}

TEST_F(LearnFollow, LearnedValueButtonTriggersOnPressAndOnRelease) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    pair(VALUE_BUTTON, VALUE_AREA, 21, 1);
    // In learn mode the click selected the button instead of triggering it.
    EXPECT_EQ(0u, peer->receivedCount());
    // A pad: 127 on press, 0 on release. Each edge triggers once.
    send(1, {176, 21, 127});
    settle(MIDI_SETTLE);
    send(1, {176, 21, 0});
    std::vector<MidiMessage> got = expectMessages(2);
    for (const MidiMessage& msg : got) {
        ASSERT_EQ(3u, msg.bytes.size());
        EXPECT_EQ(176, msg.bytes[0]);
        EXPECT_EQ(0, msg.bytes[1]);
    }
}

TEST_F(LearnFollow, MessagesOnInputPortZeroChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    // zu reads its input port 1 only: the peer's out0 is not even connected.
    EXPECT_TRUE(jack->connections(peerPort("out0")).empty());
    pair(CH_DIAL, CH_AREA, 20, 1);
    send(0, {176, 20, 9});
    settle(MIDI_SETTLE);
    std::vector<unsigned char> m = trigger();
    ASSERT_EQ(3u, m.size());
    EXPECT_EQ(176, m[0]);
    // The same message on port 1 does change the channel: the pairing was made.
    moveChannel(20, 9);
    m = trigger();
    ASSERT_EQ(3u, m.size());
    EXPECT_EQ(176 + 9, m[0]);
}

TEST_F(LearnFollow, LearningFromPortZeroPairsNothing) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    pair(CH_DIAL, CH_AREA, 20, 0);
    send(1, {176, 20, 9});
    settle(MIDI_SETTLE);
    std::vector<unsigned char> m = trigger();
    ASSERT_EQ(3u, m.size());
    EXPECT_EQ(176, m[0]);
}

} // namespace
} // namespace zutest
