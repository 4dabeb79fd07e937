// The five dials turned through the mouse rules: steps, ends, bounds, inertia levels.
#include <algorithm>
#include <cmath>
#include <string>

#include "app/dial_behaviours.h"
#include "panel_fixture.h"

namespace {

TEST_F(PanelTest, ChannelDialStepsAndShowsItsNameOnRelease) {
    Panel& p = *panel;
    grab(p.dialCH);
    EXPECT_EQ("0", p.dialCH.label->text.str()) << "a press shows the value";
    drag(5);
    EXPECT_EQ(5, p.dialCH.value);
    EXPECT_EQ(5, gen.channel);
    EXPECT_EQ(10.0f, p.dialCH.angle);
    EXPECT_EQ("5", p.dialCH.label->text.str());
    EXPECT_EQ(0, p.dialCC.value) << "only the pressed dial turns";
    drag(-2);
    EXPECT_EQ(3, p.dialCH.value);
    EXPECT_EQ(3, gen.channel);
    release();
    EXPECT_EQ("CH", p.dialCH.label->text.str());
    EXPECT_EQ(3, gen.channel);

    // Without a press, motion turns nothing.
    drag(4);
    EXPECT_EQ(3, p.dialCH.value);
}

TEST_F(PanelTest, OneStepPerMotionEventWhateverTheDistance) {
    Panel& p = *panel;
    grab(p.dialCC);
    moveTo(W / 2, shell->prevY - 60);
    EXPECT_EQ(1, p.dialCC.value);
    EXPECT_EQ(1, gen.ccNumber);
    // Straight sideways: same y, no step.
    moveTo(2, shell->prevY);
    moveTo(80, shell->prevY);
    EXPECT_EQ(1, p.dialCC.value);
    moveTo(W / 2, shell->prevY + 90);
    EXPECT_EQ(0, p.dialCC.value);
    release();
}

TEST_F(PanelTest, ChannelAndControllerHoldAtTheirEnds) {
    Panel& p = *panel;
    grab(p.dialCC, -3);
    EXPECT_EQ(0, p.dialCC.value);
    EXPECT_EQ(0, gen.ccNumber);
    EXPECT_EQ(0.0f, p.dialCC.angle);
    EXPECT_EQ("0", p.dialCC.label->text.str());
    release();

    grab(p.dialCH, 130);
    EXPECT_EQ(127, p.dialCH.value);
    EXPECT_EQ(127, gen.channel);
    EXPECT_EQ(270.0f, p.dialCH.angle);
    EXPECT_EQ("127", p.dialCH.label->text.str());
    release();

    grab(p.dialCC, 129);
    EXPECT_EQ(127, p.dialCC.value);
    EXPECT_EQ(127, gen.ccNumber);
    release();

    grab(p.dialMAX, 4);
    EXPECT_EQ(127, p.dialMAX.value);
    release();
}

TEST_F(PanelTest, MinAndMaxStopAtEachOther) {
    Panel& p = *panel;
    grab(p.dialMIN, 60);
    EXPECT_EQ(60, p.dialMIN.value);
    release();
    grab(p.dialMAX, -100);
    EXPECT_EQ(60, p.dialMAX.value) << "MAX stops at MIN";
    EXPECT_EQ("60", p.dialMAX.label->text.str());
    EXPECT_EQ(static_cast<float>(60 * 270 / 127), p.dialMAX.angle);
    release();
    grab(p.dialMIN, 5);
    EXPECT_EQ(60, p.dialMIN.value) << "MIN stops at MAX";
    release();
    EXPECT_EQ(p.dialMIN.value, p.dialMAX.value);

    // Away from each other they move freely again, down to 0 and up to 127.
    grab(p.dialMIN, -70);
    EXPECT_EQ(0, p.dialMIN.value);
    release();
    grab(p.dialMAX, 80);
    EXPECT_EQ(127, p.dialMAX.value);
    release();
}

TEST_F(PanelTest, InertiaDragPressAndGeneratorAgreeOnEveryLevel) {
    Panel& p = *panel;
    const int values[11] = {0, 13, 26, 39, 51, 64, 77, 89, 102, 115, 127};
    const float angles[11] = {0, 27, 55, 82, 108, 136, 163, 189, 216, 244, 270};
    for (int k = 0; k <= 10; ++k) {
        grab(p.dialINRT, k);
        const std::string level = std::to_string(k);
        EXPECT_EQ(level, p.dialINRT.label->text.str()) << "drag caption after " << k << " steps";
        EXPECT_EQ(values[k], p.dialINRT.value) << k << " steps";
        EXPECT_EQ(angles[k], p.dialINRT.angle) << k << " steps";
        EXPECT_EQ(k, inertia_level(p.dialINRT.value)) << "generator level after " << k;
        release();
        grab(p.dialINRT);
        EXPECT_EQ(level, p.dialINRT.label->text.str()) << "press caption after " << k;
        drag(-10);
        release();
        ASSERT_EQ(0, p.dialINRT.value);
    }
    // Past level 10 it stays there.
    grab(p.dialINRT, 12);
    EXPECT_EQ(127, p.dialINRT.value);
    EXPECT_EQ("10", p.dialINRT.label->text.str());
    release();
    EXPECT_EQ("INRT", p.dialINRT.label->text.str());
}

// Share of n triggers that changed the value, MIN..MAX wide enough that a draw
// rarely repeats the value it replaces.
double changedShare(Panel& p, Generator& gen, int n) {
    int changed = 0;
    for (int i = 0; i < n; ++i) {
        int before = gen.currentValue;
        p.valueButton.downKey(gen.sendControlChange);
        p.valueButton.upKey();
        changed += gen.currentValue != before;
    }
    return static_cast<double>(changed) / n;
}

TEST_F(PanelTest, InertiaOneStepKeepsAboutHalfAndTenStepsNeverChange) {
    Panel& p = *panel;
    grab(p.dialINRT, 1);
    release();
    srand(1234);
    const int n = 4000;
    // Level 1 draws half the time; a draw repeats the old value 1 time in 127.
    double expected = 0.5 * 126.0 / 127.0;
    double tolerance = 5 * std::sqrt(expected * (1 - expected) / n);
    EXPECT_NEAR(expected, changedShare(p, gen, n), tolerance);

    grab(p.dialINRT, 9);
    release();
    ASSERT_EQ(127, p.dialINRT.value);
    EXPECT_EQ(0.0, changedShare(p, gen, 500));
}

TEST_F(PanelTest, InertiaStepsFromTheNearestLevel) {
    // A value set from MIDI between levels steps from the level nearest to it.
    Panel& p = *panel;
    p.dialINRT.value = 70; // 5.5 levels: nearest 6
    grab(p.dialINRT, 1);
    EXPECT_EQ(89, p.dialINRT.value);
    EXPECT_EQ("7", p.dialINRT.label->text.str());
    release();
    p.dialINRT.value = 68; // 5.35 levels: nearest 5
    grab(p.dialINRT, -1);
    EXPECT_EQ(51, p.dialINRT.value);
    EXPECT_EQ("4", p.dialINRT.label->text.str());
    release();
}

TEST_F(PanelTest, LearnModePressKeepsTheNameButDragsStillStep) {
    Panel& p = *panel;
    MidiCC::ctrlList.setCCOn();
    grab(p.dialCH);
    EXPECT_EQ("CH", p.dialCH.label->text.str());
    EXPECT_TRUE(p.dialCH.label->selected);
    drag(3);
    EXPECT_EQ(3, p.dialCH.value);
    EXPECT_EQ(3, gen.channel);
    EXPECT_EQ("3", p.dialCH.label->text.str());
    release();
    EXPECT_EQ("CH", p.dialCH.label->text.str());
    grab(p.dialCH);
    EXPECT_FALSE(p.dialCH.label->selected) << "a second press deselects";
    release();

    grab(p.dialINRT, 2);
    EXPECT_EQ(26, p.dialINRT.value);
    EXPECT_EQ("2", p.dialINRT.label->text.str());
    release();
    EXPECT_EQ("INRT", p.dialINRT.label->text.str());
}

TEST_F(PanelTest, AnyReleaseShowsEveryName) {
    Panel& p = *panel;
    // Two dials held at once, pressed with the right and the middle button.
    grab(p.dialCH, 0, SDL_BUTTON_RIGHT);
    pointAt(centre(p.dialMIN));
    press(SDL_BUTTON_MIDDLE);
    drag(2);
    EXPECT_EQ(2, p.dialCH.value);
    EXPECT_EQ(2, p.dialMIN.value);
    EXPECT_EQ("2", p.dialCH.label->text.str());
    EXPECT_EQ("2", p.dialMIN.label->text.str());
    // Let go far from any dial.
    pointAt(2, 275);
    release(SDL_BUTTON_RIGHT);
    for (Dial* d : p.dials)
        EXPECT_EQ(d->savedName, d->label->text.str());
    drag(3);
    EXPECT_EQ(2, p.dialCH.value) << "released dials no longer follow the pointer";
    EXPECT_EQ(2, p.dialMIN.value);
}

TEST_F(PanelTest, ValuesPastTheEndArePulledBack) {
    Panel& p = *panel;
    Dial& d = p.dialCC;
    d.value = 200; // past the end: pulled back to it
    stepValue(d, +1, 0, 127);
    EXPECT_EQ(127, d.value);
    d.value = -4;
    stepValue(d, -1, 0, 127);
    EXPECT_EQ(0, d.value);
    EXPECT_EQ("0", d.label->text.str());
}

} // namespace
