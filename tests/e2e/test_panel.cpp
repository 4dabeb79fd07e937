// Triggers and the panel, seen from outside: what arrives at the MIDI peer and
// what the window shows.
#include "zu_fixture.h"

#include <set>

namespace zutest {
namespace {

using Panel = ZuTest;
class PanelOnEachService : public OnEachService<ZuTest> {};

void expectControlChange(const std::vector<unsigned char>& m, int status, int cc) {
    ASSERT_EQ(3u, m.size()) << formatBytes(m);
    EXPECT_EQ(status, m[0]) << formatBytes(m);
    EXPECT_EQ(cc, m[1]) << formatBytes(m);
    EXPECT_LE(m[2], 126) << formatBytes(m);
}

TEST_P(PanelOnEachService, ThirtyTapsOfRSendThirtyControlChanges) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    for (int i = 0; i < 30; ++i) {
        x->tapKey(XK_r, 20);
        settle(Millis(80));
    }
    std::vector<MidiMessage> got = expectMessagesAndQuit(30);
    std::set<int> values;
    for (const MidiMessage& m : got) {
        expectControlChange(m.bytes, 176, 0);
        values.insert(m.bytes.size() == 3 ? m.bytes[2] : -1);
    }
    // Inertia 0 draws anew every time; thirty equal draws would mean no drawing.
    EXPECT_GT(values.size(), 1u);
}

ZU_ON_EACH_SERVICE(PanelOnEachService);

TEST_F(Panel, HoldingRForASecondSendsOneMessage) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_TRUE(x->autoRepeatOn()) << "the X server must repeat held keys for this test";
    x->keyDown(XK_r);
    settle(Millis(1000));
    x->keyUp(XK_r);
    std::vector<MidiMessage> got = expectMessagesAndQuit(1);
    if (!got.empty()) expectControlChange(got[0].bytes, 176, 0);
}

TEST_F(Panel, DraggingChUpFiveStepsSendsOnChannelFive) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    dragUp(CH_DIAL, CH_AREA, 5);
    pointAtWindow();
    expectControlChange(trigger(), 176 + 5, 0);
}

TEST_F(Panel, DraggingCcUpThreeStepsSendsController3) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    dragUp(CC_DIAL, CC_AREA, 3);
    pointAtWindow();
    expectControlChange(trigger(), 176, 3);
}

TEST_F(Panel, LeftAndRightClickOnValueButtonSendOneMessageEach) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    clickAt(VALUE_BUTTON, 1);
    ASSERT_TRUE(peer->waitForCount(1, MESSAGE_LIMIT));
    clickAt(VALUE_BUTTON, 3);
    std::vector<MidiMessage> got = expectMessagesAndQuit(2);
    for (const MidiMessage& m : got)
        expectControlChange(m.bytes, 176, 0);
}

// The "val" caption, as it is on screen.
struct ValText {
    int white = 0, background = 0, other = 0;
    std::set<std::tuple<int, int, int>> colours;
};

ValText lookAtVal(XSession& x, Window w) {
    Snapshot s = x.capture(w, 26, 55, 35, 15);
    ValText v;
    for (const Rgb& p : s.pixels) {
        if (p == Rgb{255, 255, 255})
            ++v.white;
        else if (p == Rgb{16, 16, 16})
            ++v.background;
        else {
            ++v.other;
            v.colours.insert({p.r, p.g, p.b});
        }
    }
    return v;
}

TEST_F(Panel, CGivesTheValTextANewColour) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ValText before = lookAtVal(*x, window);
    ASSERT_GT(before.white, 0) << "the caption is painted white at start";
    ASSERT_EQ(0, before.other);
    tap(XK_c);
    // A new colour has no 255 in it, so no pixel of the caption stays white.
    ValText after;
    ASSERT_TRUE(waitUntil(
        [&] {
            after = lookAtVal(*x, window);
            return after.white == 0;
        },
        MESSAGE_LIMIT, Millis(50)));
    EXPECT_EQ(before.white, after.other) << "the same pixels, in one new colour";
    EXPECT_EQ(1u, after.colours.size());
}

} // namespace
} // namespace zutest
