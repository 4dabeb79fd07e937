// The follow step, frame by frame, on the panel's registered controls.
#include <algorithm>

#include "app/follow.h"
#include "panel_fixture.h"

namespace {

class FollowTest : public PanelTest {
  protected:
    Follow f;

    // One frame with the pair (number, val) as the listen task left it.
    void frame(int number, int val) {
        followNextFrame(f);
        std::get<0>(incoming) = number;
        std::get<1>(incoming) = val;
        followPublished(f, incoming, *panel, gen);
        followFrame(f, *panel, gen);
    }
    // One frame after pairs that came one by one (while the last frame waited).
    void frame() {
        followNextFrame(f);
        followFrame(f, *panel, gen);
    }
    void arrive(std::initializer_list<std::pair<int, int>> pairs) {
        for (auto [number, val] : pairs)
            followNewPair(f, number, val, *panel, gen);
    }
    Followed& value() { return f.of(panel->valueButton); }
    bool held() {
        const Label& l = *panel->valueButton.label;
        return sameRGB(l.textColor, {16, 16, 16, 255}) && value().ccPressed;
    }
    bool loose() {
        const Label& l = *panel->valueButton.label;
        return sameRGB(l.textColor, {255, 255, 255, 255}) &&
               sameRGB(l.bgColor, {16, 16, 16, 255}) && !value().ccPressed;
    }
};

TEST_F(FollowTest, TheStartPairMovesNothing) {
    Panel& p = *panel;
    for (int i = 0; i < 20; ++i)
        frame(-1, 0);
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(loose());
    EXPECT_EQ("0", p.valueButton.label->text.str());
    for (Dial* d : p.dials) {
        EXPECT_EQ(d == &p.dialMAX ? 127 : 0, d->value) << d->savedName;
        EXPECT_EQ(d->savedName, d->label->text.str());
    }
}

TEST_F(FollowTest, OneTapOfAPairedPadTriggersTwice) {
    pair(panel->valueButton, 20);
    frame(20, 127);
    ASSERT_EQ(1u, sent.size()) << "press and send";
    EXPECT_EQ(sent[0][2], gen.currentValue);
    EXPECT_EQ(std::to_string(gen.currentValue), panel->valueButton.label->text.str());
    EXPECT_TRUE(held());
    EXPECT_EQ(127, value().previous);

    frame(20, 127);
    EXPECT_EQ(1u, sent.size());
    EXPECT_TRUE(held());

    frame(20, 0);
    EXPECT_EQ(1u, sent.size());
    EXPECT_TRUE(loose()) << "released";

    gen.currentValue = -1; // the second press must draw again
    frame(20, 0);
    ASSERT_EQ(2u, sent.size()) << "0 differs from 127: pressed again";
    EXPECT_NE(-1, gen.currentValue);
    EXPECT_EQ(sent[1][2], gen.currentValue);
    EXPECT_TRUE(held());
    EXPECT_EQ(0, value().previous);

    frame(20, 0);
    EXPECT_TRUE(loose());
    for (int i = 0; i < 5; ++i)
        frame(20, 0);
    EXPECT_EQ(2u, sent.size());
    EXPECT_TRUE(loose());
}

TEST_F(FollowTest, AKnobOnTheValueButtonPressesEveryOtherValue) {
    pair(panel->valueButton, 20);
    frame(20, 10);
    EXPECT_EQ(1u, sent.size());
    EXPECT_TRUE(held());
    frame(20, 11);
    EXPECT_EQ(1u, sent.size());
    EXPECT_TRUE(loose());
    frame(20, 12);
    EXPECT_EQ(2u, sent.size());
    EXPECT_TRUE(held());
}

TEST_F(FollowTest, InertiaDialTakesTheLevelAndShowsItsNameAfterEightFrames) {
    Dial& d = panel->dialINRT;
    pair(d, 21);
    frame(21, 64);
    EXPECT_EQ(63, d.value);
    EXPECT_EQ(133.0f, d.angle);
    EXPECT_EQ("5", d.label->text.str());
    for (int i = 1; i < CAPTION_FRAMES; ++i) {
        frame(21, 64);
        EXPECT_EQ("5", d.label->text.str()) << "unchanged frame " << i;
    }
    frame(21, 64);
    EXPECT_EQ("INRT", d.label->text.str());
    for (int i = 0; i < 20; ++i)
        frame(21, 64);
    EXPECT_EQ("INRT", d.label->text.str());
    EXPECT_EQ(63, d.value);

    // A change starts the count again.
    frame(21, 127);
    EXPECT_EQ(127, d.value);
    EXPECT_EQ("10", d.label->text.str());
    // Twelve values a level: 12 is level 1 and 120 already level 10.
    frame(21, 12);
    EXPECT_EQ(12, d.value);
    EXPECT_EQ("1", d.label->text.str());
    frame(21, 120);
    EXPECT_EQ(127, d.value);
    EXPECT_EQ("10", d.label->text.str());
    frame(21, 11);
    EXPECT_EQ(0, d.value);
    EXPECT_EQ("0", d.label->text.str());
    for (int i = 1; i < CAPTION_FRAMES; ++i)
        frame(21, 11);
    EXPECT_EQ("0", d.label->text.str());
    frame(21, 11);
    EXPECT_EQ("INRT", d.label->text.str());
}

TEST_F(FollowTest, MaxAndMinKeepTheirOrder) {
    Panel& p = *panel;
    p.dialMIN.value = 40;
    pair(p.dialMAX, 22);
    frame(22, 20);
    EXPECT_EQ(40, p.dialMAX.value) << "MAX never below MIN";
    EXPECT_EQ("40", p.dialMAX.label->text.str());
    EXPECT_EQ(static_cast<float>(40 * 270 / 127), p.dialMAX.angle);
    frame(22, 101);
    EXPECT_EQ(101, p.dialMAX.value);
    EXPECT_EQ(40, p.dialMIN.value);

    p.dialMAX.value = 90;
    pair(p.dialMIN, 23);
    frame(23, 100);
    EXPECT_EQ(90, p.dialMIN.value) << "MIN never above MAX";
    EXPECT_EQ("90", p.dialMIN.label->text.str());
    frame(23, 5);
    EXPECT_EQ(5, p.dialMIN.value);
    EXPECT_EQ(90, p.dialMAX.value);
}

TEST_F(FollowTest, ChannelTakesAnyValueAndTheMessageStaysValid) {
    Panel& p = *panel;
    pair(p.dialCH, 24);
    frame(24, 100);
    EXPECT_EQ(100, p.dialCH.value);
    EXPECT_EQ(100, gen.channel);
    EXPECT_EQ("100", p.dialCH.label->text.str());
    EXPECT_EQ(static_cast<float>(100 * 270 / 127), p.dialCH.angle);
    keyDown(SDLK_r);
    keyUp(SDLK_r);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(191, sent[0][0]) << "still a Control Change";

    pair(p.dialCC, 25);
    frame(25, 74);
    EXPECT_EQ(74, p.dialCC.value);
    EXPECT_EQ(74, gen.ccNumber);
    EXPECT_EQ("74", p.dialCC.label->text.str());
}

TEST_F(FollowTest, ASecondDialOnTheSameValueMovesToo) {
    Panel& p = *panel;
    pair(p.dialCH, 5);
    pair(p.dialCC, 6);
    frame(5, 64);
    EXPECT_EQ(64, p.dialCH.value);
    frame(6, 64);
    EXPECT_EQ(64, p.dialCC.value) << "each dial keeps its own last value";
    EXPECT_EQ(64, gen.ccNumber);
    EXPECT_EQ("64", p.dialCC.label->text.str());
    // Each caption counts its own unchanged frames: CH's returns first.
    for (int i = 2; i < CAPTION_FRAMES; ++i)
        frame();
    EXPECT_EQ("64", p.dialCC.label->text.str());
    frame();
    EXPECT_EQ("CH", p.dialCH.label->text.str());
    EXPECT_EQ("64", p.dialCC.label->text.str());
    frame();
    EXPECT_EQ("CC", p.dialCC.label->text.str());
}

TEST_F(FollowTest, APadBesideATurningKnobTriggersTwicePerTap) {
    Panel& p = *panel;
    pair(p.valueButton, 20);
    pair(p.dialMAX, 21);
    for (int tap = 1; tap <= 3; ++tap) {
        arrive({{20, 127}, {21, 90 + tap}, {20, 0}, {21, 100 + tap}});
        EXPECT_EQ(2u * tap - 1, sent.size()) << "pressed at 127, tap " << tap;
        frame();
        EXPECT_EQ(2u * tap, sent.size()) << "pressed again after the release, tap " << tap;
        EXPECT_TRUE(held());
        frame();
        frame();
        EXPECT_TRUE(loose());
        EXPECT_EQ(2u * tap, sent.size()) << "the knob adds no trigger, tap " << tap;
    }
    EXPECT_EQ(103, p.dialMAX.value);
}

TEST_F(FollowTest, AnUnpairedControllerMovesNoDial) {
    Panel& p = *panel;
    pair(p.dialCH, 5);
    frame(5, 30);
    ASSERT_EQ(30, p.dialCH.value);
    // The registry still answers CH, but its pairing does not match 9.
    frame(9, 70);
    EXPECT_EQ(30, p.dialCH.value);
    EXPECT_EQ(30, gen.channel);
}

TEST_F(FollowTest, TheValueButtonHidesADialOnItsController) {
    Panel& p = *panel;
    pair(p.dialMAX, 20);
    pair(p.valueButton, 20);
    for (int v : {50, 60, 70, 80, 0})
        frame(20, v);
    EXPECT_EQ(127, p.dialMAX.value);
    EXPECT_EQ("MAX", p.dialMAX.label->text.str());
    EXPECT_EQ(3u, sent.size()) << "pressed at 50, 70 and 0";
}

TEST_F(FollowTest, AnUnpairedControllerReleasesAHeldButton) {
    pair(panel->valueButton, 20);
    frame(20, 127);
    ASSERT_TRUE(held());
    frame(33, 127);
    EXPECT_TRUE(held()) << "the same value releases nothing";
    frame(33, 5);
    EXPECT_TRUE(loose());
    EXPECT_EQ(1u, sent.size());
}

TEST_F(FollowTest, AnotherPairedButtonIsPressedWithoutSendingAndLetGoEveryFrame) {
    Button& other = panel->colorButton;
    // Only for this test: the panel registers no other button.
    struct Registered {
        Control* c;
        explicit Registered(Control* c) : c(c) { MidiCC::ctrlList.registerCtrl(c); }
        ~Registered() {
            auto& v = MidiCC::ctrlList.ctrls;
            v.erase(std::remove(v.begin(), v.end(), c), v.end());
        }
    } registered(&other);
    pair(other, 30);

    frame(30, 127);
    EXPECT_TRUE(f.of(other).ccPressed);
    EXPECT_TRUE(sent.empty()) << "only the value button sends";
    EXPECT_FALSE(sameRGB(panel->valueButton.textColor, {255, 255, 255, 255}))
        << "its own click handler ran";

    other.label->bgColor = {200, 0, 0, 255};
    frame(30, 127);
    EXPECT_TRUE(sameRGB(other.label->bgColor, BG_COLOR)) << "let go on the unchanged frame";
    EXPECT_TRUE(f.of(other).ccPressed) << "but still counted as held";

    frame(30, 0);
    EXPECT_FALSE(f.of(other).ccPressed);
}

} // namespace
