// The registry of pairable controls, on widgets of its own (no panel, no window).
#include <gtest/gtest.h>

#include <vector>

#include "midi/ctrl_midi_cc_list.h"
#include "pairing.h"
#include "widgets/button.h"
#include "widgets/dial.h"
#include "widgets/label.h"

namespace {

using Key = std::tuple<unsigned char, unsigned char>;

// The panel's six pairable controls, registered in the panel's order.
class Registry : public ::testing::Test {
  protected:
    CtrlMidiCCList reg;
    Dial ch{5, 2, 35, 35}, cc{48, 2, 35, 35}, max{26, 72, 35, 35}, min{26, 124, 35, 35},
        inrt{26, 176, 35, 35};
    Button value{15, 228, 57, 40};

    void SetUp() override {
        for (Control* c : all())
            reg.registerCtrl(c);
    }
    std::vector<Control*> all() { return {&ch, &cc, &max, &min, &inrt, &value}; }
    template <class Mappable> static void pair(Mappable& control, int n) { pairWith(control, n); }
    static void select(Dial& d, bool on = true) { d.label->selected = on; }
};

TEST(RegistryEmpty, FindsNothingCountsNothing) {
    CtrlMidiCCList reg;
    EXPECT_EQ(nullptr, reg.getCtrlActive(Key{255, 0}));
    EXPECT_EQ(nullptr, reg.getCtrlActive(Key{7, 0}));
    EXPECT_EQ(0, reg.numberCtrlsToSetCC());
    EXPECT_TRUE(reg.setSelectedCtrls().empty());
}

TEST_F(Registry, LaterRegisteredControlWinsAndTheValueByteIsIgnored) {
    pair(min, 7);
    pair(value, 7);
    EXPECT_EQ(&value, reg.getCtrlActive(Key{7, 0}));
    EXPECT_EQ(&value, reg.getCtrlActive(Key{7, 99}));
    pair(value, 8);
    EXPECT_EQ(&min, reg.getCtrlActive(Key{7, 0}));
}

TEST_F(Registry, TheLastMatchSticksUntilAnotherMatches) {
    pair(cc, 3);
    pair(inrt, 4);
    EXPECT_EQ(&cc, reg.getCtrlActive(Key{3, 10}));
    EXPECT_EQ(&cc, reg.getCtrlActive(Key{50, 0})) << "nothing on 50: the previous match";
    EXPECT_EQ(&inrt, reg.getCtrlActive(Key{4, 0}));
    EXPECT_EQ(&inrt, reg.getCtrlActive(Key{103, 0}));
}

TEST_F(Registry, UnpairedKeyFindsTheLastUnpairedControl) {
    EXPECT_EQ(&value, reg.getCtrlActive(Key{255, 0}));
    pair(value, 5);
    EXPECT_EQ(&inrt, reg.getCtrlActive(Key{255, 0}));
}

TEST_F(Registry, LearnModeOnAndOff) {
    reg.setCCOn();
    for (Control* c : all()) {
        Mappable m;
        ASSERT_TRUE(asMappable(c, m));
        EXPECT_EQ(0, m.mode->load());
        EXPECT_TRUE(m.label->highlighted);
    }
    select(ch);
    value.label->selected = true;
    EXPECT_EQ(2, reg.numberCtrlsToSetCC());
    ASSERT_EQ(2u, reg.setSelectedCtrls().size());
    reg.setCCOff();
    for (Control* c : all()) {
        Mappable m;
        ASSERT_TRUE(asMappable(c, m));
        EXPECT_EQ(1, m.mode->load());
        EXPECT_FALSE(m.label->highlighted);
        EXPECT_FALSE(m.label->selected);
    }
    EXPECT_EQ(0, reg.numberCtrlsToSetCC());
    // The list itself is only brought in line by the next synchronisation.
    EXPECT_EQ(2u, reg.selectedCtrls.size());
    EXPECT_TRUE(reg.setSelectedCtrls().empty());
}

TEST_F(Registry, SelectionKeepsTheOrderOfFirstSight) {
    select(ch);
    EXPECT_EQ(std::vector<Control*>{&ch}, reg.setSelectedCtrls());
    select(max);
    EXPECT_EQ((std::vector<Control*>{&ch, &max}), reg.setSelectedCtrls());
    EXPECT_EQ(&max, reg.setSelectedCtrls().back());
    select(ch, false);
    EXPECT_EQ(std::vector<Control*>{&max}, reg.setSelectedCtrls());
    // Selected again later: now the newest.
    select(ch);
    EXPECT_EQ((std::vector<Control*>{&max, &ch}), reg.setSelectedCtrls());
    EXPECT_EQ(2, reg.numberCtrlsToSetCC());
}

TEST_F(Registry, SelectionsWithinOneSyncFollowRegistrationOrder) {
    select(inrt);
    select(ch);
    EXPECT_EQ((std::vector<Control*>{&ch, &inrt}), reg.setSelectedCtrls());
    EXPECT_EQ(&inrt, reg.selectedCtrls.back());
}

TEST_F(Registry, DeletePairingsOnlyInLearnMode) {
    pair(cc, 20);
    std::get<1>(cc.ccPair) = 9;
    pair(ch, 21);
    pair(value, 22);
    select(cc);
    value.label->selected = true;
    reg.deleteCtrlsCC();
    EXPECT_EQ(20u, pairOf(cc)) << "outside learn mode nothing changes";
    EXPECT_EQ(22u, pairOf(value));

    reg.setCCOn();
    select(cc);
    value.label->selected = true;
    reg.deleteCtrlsCC();
    EXPECT_EQ(CC_NONE, pairOf(cc));
    EXPECT_EQ(0, std::get<1>(cc.ccPair).load());
    EXPECT_EQ(CC_NONE, pairOf(value));
    EXPECT_EQ(21u, pairOf(ch)) << "not selected";
}

TEST(RegistryLabels, ARegisteredLabelIsIgnoredEverywhere) {
    CtrlMidiCCList reg;
    Label only(10, 10);
    reg.registerCtrl(&only);
    only.selected = true;
    EXPECT_EQ(nullptr, reg.getCtrlActive(Key{255, 0}));
    EXPECT_EQ(0, reg.numberCtrlsToSetCC());
    EXPECT_TRUE(reg.setSelectedCtrls().empty());

    Dial d(0, 0, 35, 35);
    Button b(0, 50, 20, 20);
    Label last(10, 10);
    reg.registerCtrl(&d);
    reg.registerCtrl(&b);
    reg.registerCtrl(&last);
    last.selected = true;
    EXPECT_EQ(&b, reg.getCtrlActive(Key{255, 0})) << "not the label registered after it";
    reg.setCCOn();
    EXPECT_FALSE(only.highlighted);
    EXPECT_FALSE(last.highlighted);
    EXPECT_TRUE(d.label->highlighted);
    EXPECT_EQ(0, reg.numberCtrlsToSetCC());
    reg.deleteCtrlsCC();
    reg.setCCOff();
    EXPECT_TRUE(only.selected) << "setCCOff leaves the label alone";
    EXPECT_TRUE(last.selected);
    EXPECT_TRUE(reg.setSelectedCtrls().empty());
    Mappable m;
    EXPECT_FALSE(asMappable(&only, m));
}

} // namespace
