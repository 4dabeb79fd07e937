// The MIDI input engine without a MIDI server: intake, pairing, polls and mode switches.
#include <algorithm>
#include <chrono>

#include "panel_fixture.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(MidiIntake, LearnSkipsShortOrNonDataMessagesAndKeepsTheNumber) {
    int number = 42;
    EXPECT_FALSE(learnIntake({}, number));
    EXPECT_FALSE(learnIntake({248}, number)) << "timing clock: one byte";
    EXPECT_FALSE(learnIntake({176, 200}, number));
    EXPECT_FALSE(learnIntake({240, 247}, number)) << "status byte where a data byte belongs";
    EXPECT_EQ(42, number);
    EXPECT_TRUE(learnIntake({176, 74, 64}, number));
    EXPECT_EQ(74, number);
    EXPECT_TRUE(learnIntake({144, 60, 100}, number)) << "any status counts";
    EXPECT_EQ(60, number);
    EXPECT_TRUE(learnIntake({192, 5}, number)) << "two bytes carry a number";
    EXPECT_EQ(5, number);
}

TEST(MidiIntake, ListenSkipsShortOrNonDataMessagesAndKeepsBoth) {
    int number = 20, value = 7;
    EXPECT_FALSE(listenIntake({}, number, value));
    EXPECT_FALSE(listenIntake({254}, number, value));
    EXPECT_FALSE(listenIntake({192, 5}, number, value)) << "program change: two bytes";
    EXPECT_FALSE(listenIntake({176, 74, 200}, number, value));
    EXPECT_FALSE(listenIntake({176, 128, 3}, number, value));
    EXPECT_EQ(20, number);
    EXPECT_EQ(7, value);
    EXPECT_TRUE(listenIntake({176, 74, 64}, number, value));
    EXPECT_EQ(74, number);
    EXPECT_EQ(64, value);
    EXPECT_TRUE(listenIntake({128, 0, 0}, number, value));
    EXPECT_EQ(0, number);
    EXPECT_EQ(0, value);
}

// RtMidi's callback fills the inbox on the service's thread; the tasks take from it.
TEST(MidiInbox, WhenFullAnArrivalReplacesTheOldestOfItsControllerElseTheOldest) {
    MidiInbox box;
    auto put = [&](std::vector<unsigned char> m) { MidiInbox::receive(0, &m, &box); };
    for (size_t n = 1; n <= 5; ++n)
        put(std::vector<unsigned char>(n, static_cast<unsigned char>(100 + n)));
    for (size_t i = 5; i < MidiInbox::LIMIT; ++i) // two knobs, one step each in turn
        put({176, static_cast<unsigned char>(20 + i % 2), static_cast<unsigned char>(i % 128)});
    EXPECT_EQ(0u, box.dropped());
    put({176, 21, 99}); // knob 21's oldest step (5) makes room
    put({176, 30, 1});  // nothing else of 30 waits: the oldest of all (101) makes room
    EXPECT_EQ(2u, box.dropped());

    std::vector<std::vector<unsigned char>> got;
    std::vector<unsigned char> m{1, 2, 3};
    for (box.take(m); !m.empty(); box.take(m))
        got.push_back(m);
    ASSERT_EQ(MidiInbox::LIMIT, got.size());
    EXPECT_EQ((std::vector<unsigned char>{102, 102}), got[0]);
    EXPECT_EQ((std::vector<unsigned char>{105, 105, 105}), got[3]) << "cut to three bytes";
    EXPECT_EQ((std::vector<unsigned char>{176, 20, 6}), got[4]);
    for (size_t i = 4; i + 2 < got.size(); ++i)
        ASSERT_EQ((i + 2) % 128, got[i][2]) << "out of order at " << i;
    EXPECT_EQ((std::vector<unsigned char>{176, 21, 99}), got[MidiInbox::LIMIT - 2]);
    EXPECT_EQ((std::vector<unsigned char>{176, 30, 1}), got.back());

    std::vector<unsigned char> again{176, 7, 9};
    MidiInbox::receive(0, &again, &box);
    box.take(m);
    EXPECT_EQ(again, m) << "a full inbox, once emptied, takes messages again";

    // A task waiting for the next poll wakes with a message, long before its limit.
    unsigned long seen = 0;
    EXPECT_TRUE(box.waitArrival(seen, std::chrono::milliseconds(0))) << "1027 arrived";
    auto start = std::chrono::steady_clock::now();
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        MidiInbox::receive(0, &again, &box);
    });
    EXPECT_TRUE(box.waitArrival(seen, std::chrono::minutes(1)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30))
        << "woke at its limit, not with the message";
    sender.join();
    EXPECT_FALSE(box.waitArrival(seen, std::chrono::milliseconds(1))) << "that one was seen";
}

TEST(MidiPairing, NumbersNarrowToAByte) {
    Dial d(0, 0, 35, 35);
    Button b(0, 0, 10, 10);
    MidiCC::ctrlCCParing(74, &d);
    EXPECT_EQ(74u, pairOf(d));
    MidiCC::ctrlCCParing(-1, &d);
    EXPECT_EQ(CC_NONE, pairOf(d));
    MidiCC::ctrlCCParing(0, &b);
    EXPECT_EQ(0u, pairOf(b));
    MidiCC::ctrlCCParing(-1, &b);
    EXPECT_EQ(CC_NONE, pairOf(b));
}

class MidiTest : public PanelTest {
  protected:
    std::vector<Control*> registered() {
        Panel& p = *panel;
        return {&p.dialCH, &p.dialCC, &p.dialMAX, &p.dialMIN, &p.dialINRT, &p.valueButton};
    }
    bool allInMode(int mode, bool highlighted) {
        for (Control* c : registered()) {
            Mappable m;
            if (!asMappable(c, m) || *m.mode != mode || m.label->highlighted != highlighted)
                return false;
        }
        return true;
    }
    bool learnShown() {
        return panel->learnDialog.visible && panel->learnDialog.label->selected &&
               allInMode(0, true);
    }
};

// ctest runs every test in a process of its own, so here the handles still hold their
// placeholders; in a shared process an earlier test may have emptied them (also -1).
TEST_F(MidiTest, WaitsOnPlaceholdersAndOnEmptyHandles) {
    const bool placeholder = MidiCC::setControllerTask.valid();
    {
        Watchdog dog(std::chrono::seconds(5), "waiting on the start handles");
        EXPECT_EQ(-1, MidiCC::setControllerGet()) << (placeholder ? "placeholder" : "empty");
        EXPECT_NO_THROW(EXPECT_EQ(-1, MidiCC::setControllerGet())) << "second wait";
        EXPECT_EQ(-1, MidiCC::midiListenGet());
        EXPECT_NO_THROW(EXPECT_EQ(-1, MidiCC::midiListenGet()));
    }

    // A real task returns 0; the handle is empty afterwards.
    MidiCC::doneCC = true;
    MidiCC::setController();
    EXPECT_EQ(0, MidiCC::setControllerGet());
    EXPECT_EQ(-1, MidiCC::setControllerGet());
    MidiCC::doneCC = true;
    MidiCC::midiListen(incoming);
    MidiCC::doneCC = false;
    EXPECT_EQ(0, MidiCC::midiListenGet());
    EXPECT_EQ(-1, MidiCC::midiListenGet());
}

TEST_F(MidiTest, LearnPollPairsTheLastSelectedControl) {
    Panel& p = *panel;
    MidiCC::ctrlList.setCCOn();
    pair(p.dialCC, 42);
    pair(p.dialMIN, 43);
    int current = -1;
    MidiCC::learnPoll(current);
    EXPECT_EQ(42u, pairOf(p.dialCC)) << "nothing selected, nothing paired";

    p.dialCC.label->selected = true;
    MidiCC::learnPoll(current);
    EXPECT_EQ(CC_NONE, pairOf(p.dialCC)) << "no message yet: unpaired";
    EXPECT_EQ(-1, current);
    EXPECT_EQ("CC - ", p.learnDialog.label->text.str());

    current = 74; // as after a message from controller 74
    p.dialMIN.label->selected = true;
    MidiCC::learnPoll(current);
    EXPECT_EQ(74u, pairOf(p.dialMIN));
    EXPECT_EQ(CC_NONE, pairOf(p.dialCC)) << "only the newest selection is paired";
}

TEST_F(MidiTest, ListenPollPublishesTheLastValuesEveryTime) {
    int number = 0, value = 0;
    MidiCC::listenPoll(number, value, incoming);
    EXPECT_EQ(0, std::get<0>(incoming));
    EXPECT_EQ(0, std::get<1>(incoming));
    number = 20;
    value = 5;
    MidiCC::listenPoll(number, value, incoming);
    EXPECT_EQ(20, std::get<0>(incoming));
    EXPECT_EQ(5, std::get<1>(incoming));
}

TEST_F(MidiTest, LearnThenStop) {
    Panel& p = *panel;
    Watchdog dog(std::chrono::seconds(30), "learn then stop");
    MidiCC::enterLearn();
    EXPECT_FALSE(MidiCC::toSettingCC);
    EXPECT_EQ(1, MidiCC::CCStatus.load());
    ASSERT_TRUE(eventually([&] { return learnShown(); }));

    // A click now selects; the running task pairs the selection with "nothing yet".
    pair(p.dialMAX, 42);
    pointAt(centre(p.dialMAX));
    press();
    release();
    EXPECT_TRUE(p.dialMAX.label->selected);
    EXPECT_EQ("MAX", p.dialMAX.label->text.str()) << "no press handler in learn mode";
    EXPECT_TRUE(eventually([&] { return pairOf(p.dialMAX) == CC_NONE; }));
    pointAt(centre(p.valueButton));
    press();
    EXPECT_TRUE(sent.empty()) << "a click selects instead of triggering";
    EXPECT_TRUE(p.valueButton.label->selected);

    MidiCC::stop();
    EXPECT_FALSE(p.learnDialog.visible);
    EXPECT_TRUE(allInMode(1, false));
    EXPECT_FALSE(p.dialMAX.label->selected);
    EXPECT_FALSE(p.valueButton.label->selected);
}

TEST_F(MidiTest, LearnFollowLearn) {
    Panel& p = *panel;
    Watchdog dog(std::chrono::seconds(30), "learn, follow, learn");
    MidiCC::enterLearn();
    ASSERT_TRUE(eventually([&] { return learnShown(); }));
    p.dialCH.label->selected = true;

    MidiCC::enterFollow(incoming);
    EXPECT_TRUE(MidiCC::toSettingCC);
    EXPECT_EQ(2, MidiCC::CCStatus.load());
    // The learn task has ended before follow mode starts.
    EXPECT_FALSE(p.learnDialog.visible);
    EXPECT_TRUE(allInMode(1, false));
    EXPECT_FALSE(p.dialCH.label->selected);
    EXPECT_TRUE(eventually([&] { return std::get<0>(incoming) == 0 && MidiCC::listenCC; }))
        << "the listen task publishes (0, 0) with an empty queue";

    MidiCC::enterLearn();
    EXPECT_EQ(1, MidiCC::CCStatus.load());
    // The listen task is over: nothing overwrites the pair any more.
    std::get<0>(incoming) = 9;
    std::this_thread::sleep_for(milliseconds(40));
    EXPECT_EQ(9, std::get<0>(incoming));
    ASSERT_TRUE(eventually([&] { return learnShown(); }));
    EXPECT_EQ("CC - ", p.learnDialog.label->text.str()) << "the text of the last run stays";

    MidiCC::stop();
    EXPECT_FALSE(p.learnDialog.visible);
}

TEST_F(MidiTest, FollowThenStop) {
    Watchdog dog(std::chrono::seconds(30), "follow then stop");
    MidiCC::enterLearn();
    MidiCC::enterFollow(incoming);
    ASSERT_TRUE(eventually([&] { return std::get<0>(incoming) == 0; }));
    MidiCC::stop();
    EXPECT_FALSE(MidiCC::listenCC);
    std::get<0>(incoming) = 9;
    std::this_thread::sleep_for(milliseconds(40));
    EXPECT_EQ(9, std::get<0>(incoming));
}

TEST_F(MidiTest, ABurstReachesTheFollowStepInOrderAtOnce) {
    Watchdog dog(std::chrono::seconds(30), "a burst in follow mode");
    std::mutex m;
    std::vector<int> seen; // number * 1000 + value, as the follow step gets them
    MidiCC::pairChanged = [&](int number, int value) {
        std::lock_guard<std::mutex> lock(m);
        seen.push_back(number * 1000 + value);
    };
    std::vector<int> sentPairs;
    MidiCC::enterLearn(); // nothing selected: the burst waits
    for (int i = 0; i < 150; ++i) {
        std::vector<unsigned char> msg{176, static_cast<unsigned char>(20 + i % 2),
                                       static_cast<unsigned char>(i % 100)};
        MidiInbox::receive(0, &msg, &MidiCC::inbox);
        sentPairs.push_back(msg[1] * 1000 + msg[2]);
    }
    auto start = steady_clock::now();
    MidiCC::enterFollow(incoming);
    // One message a poll would take 149 waits of 10 ms.
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(m);
        return seen.size() >= 150;
    }));
    EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
    MidiCC::stop();
    MidiCC::pairChanged = nullptr;
    EXPECT_EQ(sentPairs, seen);
}

TEST_F(MidiTest, QuitRightAfterEnteringLearnStillWaits) {
    Panel& p = *panel;
    Watchdog dog(std::chrono::seconds(30), "quit right after m");
    // Repeated from the start state: the task just started may not have run yet.
    for (int i = 0; i < 50; ++i) {
        resetMidiFlags();
        p.learnDialog.label->selected = false;
        MidiCC::enterLearn();
        ASSERT_EQ(1, MidiCC::CCStatus.load()) << "a quit at once must know a task is coming";
        MidiCC::stop();
        // The task ran to its end: it showed the dialog and hid it again.
        ASSERT_FALSE(p.learnDialog.visible) << "round " << i;
        ASSERT_TRUE(p.learnDialog.label->selected) << "round " << i;
        ASSERT_TRUE(allInMode(1, false)) << "round " << i;
    }

    // The same right after entering follow mode: the listen task is waited for too.
    MidiCC::enterLearn();
    MidiCC::enterFollow(incoming);
    MidiCC::stop();
    std::get<0>(incoming) = 9;
    std::this_thread::sleep_for(milliseconds(40));
    EXPECT_EQ(9, std::get<0>(incoming));
}

TEST_F(MidiTest, ModeStormThenStop) {
    Panel& p = *panel;
    Watchdog dog(std::chrono::seconds(60), "the mode storm");
    p.dialINRT.label->selected = true;
    for (int i = 0; i < 200; ++i) {
        if (MidiCC::toSettingCC)
            MidiCC::enterLearn();
        else
            MidiCC::enterFollow(incoming);
    }
    EXPECT_TRUE(MidiCC::toSettingCC) << "an even number of switches ends in follow mode";
    MidiCC::enterLearn(); // and stop while learning
    auto start = steady_clock::now();
    MidiCC::stop();
    EXPECT_LT(steady_clock::now() - start, milliseconds(1000));
    EXPECT_FALSE(p.learnDialog.visible);
    EXPECT_TRUE(allInMode(1, false));
}

} // namespace
