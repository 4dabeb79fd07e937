// The learn and listen tasks in-process, reading a real JACK server through zu's
// MIDI connection, with a MIDI peer on the same server feeding input port 1.
//
// Static objects may reach the MIDI service before main, so the server's name has to be in the
// environment before any static object is built: a constructor of the highest
// priority picks a name unique to this run. The server itself is started here,
// before zu's connection opens its ports.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include <unistd.h>

#include "connection/midi_connection.h"
#include "midi/midi_cc.h"
#include "midi_peer.h"
#include "pairing.h"
#include "servers.h"
#include "widgets/button.h"
#include "widgets/dial.h"
#include "widgets/dialog.h"

namespace zutest {
namespace {

const Millis LIMIT(5000);

// Runs before every static object.
// Two runs on one machine must never meet on one server: the name is this process's own.
__attribute__((constructor(101))) void nameTheServer() {
    setenv("JACK_DEFAULT_SERVER", ("zu-tasks-" + std::to_string(getpid())).c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
}

// The server, the peer and the opened input, for the whole program.
class MidiWorld : public ::testing::Environment {
  public:
    static MidiWorld* instance;
    std::unique_ptr<JackServer> jack;
    std::unique_ptr<MidiPeer> peer;
    MidiConnection* midi = nullptr;

    void SetUp() override {
        jack = std::make_unique<JackServer>(getenv("JACK_DEFAULT_SERVER"));
        peer = std::make_unique<MidiPeer>("zu-peer");
        midi = &MidiConnection::make(MidiCC::inbox);
        midi->start({"RtMidi Output Client", "RtMidi Output", 0},
                    {"RtMidi Input Client", "RtMidi Input", 1});
        ASSERT_TRUE(midi->started(std::chrono::steady_clock::now() + LIMIT)) << "no MIDI ports";
        ASSERT_TRUE(waitUntil([&] { return !jack->connections(out1()).empty(); }, LIMIT))
            << "the input did not connect to the peer's out1";
        // A connection can be listed a moment before messages flow through it:
        // send clock ticks until one arrives, so no test loses its first message.
        std::vector<unsigned char> m;
        ASSERT_TRUE(waitUntil(
            [&] {
                peer->send(1, {248});
                std::this_thread::sleep_for(Millis(20));
                MidiCC::inbox.take(m);
                return !m.empty();
            },
            LIMIT, Millis(0)))
            << "nothing arrives from the peer";
    }

    void TearDown() override {
        MidiCC::stop();
        // zu's clients go before the server does.
        EXPECT_TRUE(!midi || midi->close()) << "a closing was left behind";
        peer.reset();
        if (jack) {
            EXPECT_TRUE(jack->stop()) << "jackd needed SIGKILL";
        }
        jack.reset();
    }

    std::string out1() const { return jack->portOf("zu-peer", "out1"); }
};
MidiWorld* MidiWorld::instance = nullptr;

// Two dials and a button registered like the panel's, and the learn dialog.
class MidiTasks : public ::testing::Test {
  protected:
    Dial a{5, 2, 35, 35};
    Dial b{48, 2, 35, 35};
    Button button{15, 228, 57, 40};
    Dialog dialog{8, 182, 70, 21};
    CCPair incoming{-1, 0};

    void SetUp() override {
        ASSERT_TRUE(MidiWorld::instance->midi) << "no MIDI connection";
        a.name = "A";
        a.draw();
        b.name = "B";
        b.draw();
        button.text = "0";
        button.draw();
        dialog.text = "CC - ";
        dialog.draw();
        dialog.hide();
        MidiCC::ctrlList.registerCtrl(&a);
        MidiCC::ctrlList.registerCtrl(&b);
        MidiCC::ctrlList.registerCtrl(&button);
        MidiCC::dlgCC = &dialog;
        drain();
    }

    void TearDown() override {
        MidiCC::stop();
        MidiCC::doneCC = false;
        MidiCC::listenCC = false;
        MidiCC::toSettingCC = true;
        MidiCC::ctrlList.ctrls.clear();
        MidiCC::ctrlList.selectedCtrls.clear();
        MidiCC::ctrlList.activeCtrl = nullptr;
        MidiCC::dlgCC = nullptr;
        drain();
    }

    // Whatever an earlier test left in the input queue.
    static void drain() {
        std::this_thread::sleep_for(Millis(30));
        MidiCC::inbox.clear();
    }

    static void send(const std::vector<unsigned char>& bytes) {
        MidiWorld::instance->peer->send(1, bytes);
    }
    // What the user does in learn mode: click the control.
    static void select(Dial& d) {
        SDL_Point p{d.rect.x + 1, d.rect.y + 1};
        d.downClick(p);
        d.upClick(p);
    }
    static void select(Button& btn) {
        SDL_Point p{btn.label->x + 1, btn.label->y + 1};
        btn.downClick(p, [] {});
        btn.upClick(p);
    }
    std::string dialogText() const { return dialog.label->text.str(); }

    // Learn mode with the task running and its dialog up.
    void startLearning() {
        MidiCC::enterLearn();
        ASSERT_TRUE(waitUntil([&] { return dialog.visible.load(); }, LIMIT));
        ASSERT_TRUE(waitUntil([&] { return a.mode == 0 && button.mode == 0; }, LIMIT));
    }
    // Polls by hand until cond holds; the poll count is limited by time.
    template <class Cond> bool learnPollUntil(int& current, Cond cond) {
        return waitUntil(
            [&] {
                MidiCC::learnPoll(current);
                return cond();
            },
            LIMIT, Millis(2));
    }
};

TEST_F(MidiTasks, LearnPairsTheSelectedControlWithTheControllerNumber) {
    ASSERT_NO_FATAL_FAILURE(startLearning());
    EXPECT_EQ("CC - ", dialogText());
    select(a);
    // Selected but nothing received: unpaired.
    ASSERT_TRUE(waitUntil([&] { return pairOf(a) == 255; }, LIMIT));
    send({176, 74, 64});
    ASSERT_TRUE(waitUntil([&] { return pairOf(a) == 74; }, LIMIT)) << pairOf(a);
    EXPECT_EQ("CC74", dialogText());
    EXPECT_EQ(255u, pairOf(b));
}

TEST_F(MidiTasks, ASecondSelectedControlGetsTheSameNumberWithoutANewMessage) {
    ASSERT_NO_FATAL_FAILURE(startLearning());
    select(a);
    send({176, 74, 64});
    ASSERT_TRUE(waitUntil([&] { return pairOf(a) == 74; }, LIMIT));
    select(b);
    ASSERT_TRUE(waitUntil([&] { return pairOf(b) == 74; }, LIMIT));
    EXPECT_EQ(74u, pairOf(a));
}

TEST_F(MidiTasks, NoteOnPairsItsNoteNumber) {
    ASSERT_NO_FATAL_FAILURE(startLearning());
    select(button);
    send({144, 60, 100});
    ASSERT_TRUE(waitUntil([&] { return pairOf(button) == 60; }, LIMIT)) << pairOf(button);
    EXPECT_EQ("CC60", dialogText());
}

TEST_F(MidiTasks, MessagesWaitUntilSomethingIsSelectedThenGoOnePerPoll) {
    MidiPeer& peer = *MidiWorld::instance->peer;
    // The peer hears its own out1 too: once it has the three messages, the JACK
    // cycles that carried them to the learn task's input have run.
    JackServer& jack = *MidiWorld::instance->jack;
    ASSERT_TRUE(jack.connect(MidiWorld::instance->out1(), jack.portOf("zu-peer", "in")));
    peer.clearReceived();
    ASSERT_NO_FATAL_FAILURE(startLearning());
    send({176, 10, 1});
    send({176, 11, 1});
    send({176, 12, 1});
    ASSERT_TRUE(peer.waitForCount(3, LIMIT)) << "the peer's own messages did not come round";
    // Nothing selected: the task has not taken them.
    EXPECT_EQ("CC - ", dialogText());
    MidiCC::stop();
    ASSERT_FALSE(dialog.visible.load());

    // Poll by hand, in learn state, with A selected: one message per poll, in order.
    MidiCC::ctrlList.setCCOn();
    select(a);
    int current = -1;
    unsigned last = pairOf(a);
    for (unsigned cc : {10u, 11u, 12u}) {
        ASSERT_TRUE(learnPollUntil(current, [&] { return pairOf(a) != last; })) << cc;
        EXPECT_EQ(cc, pairOf(a));
        last = pairOf(a);
    }
    MidiCC::learnPoll(current);
    EXPECT_EQ(12u, pairOf(a));
    EXPECT_EQ("CC12", dialogText());
    MidiCC::ctrlList.setCCOff();
}

TEST_F(MidiTasks, DeleteUnpairsTheSelectedThenTheLastSelectedIsPairedAgain) {
    MidiCC::ctrlList.setCCOn();
    int current = -1;
    select(a);
    send({176, 74, 64});
    ASSERT_TRUE(learnPollUntil(current, [&] { return pairOf(a) == 74; }));
    select(b);
    MidiCC::learnPoll(current);
    ASSERT_EQ(74u, pairOf(b));
    ASSERT_EQ(74u, pairOf(a));

    MidiCC::deleteControllersCC();
    EXPECT_EQ(255u, pairOf(a));
    EXPECT_EQ(255u, pairOf(b));
    EXPECT_EQ(255u, pairOf(button)) << "never paired";

    MidiCC::learnPoll(current);
    EXPECT_EQ(74u, pairOf(b));
    EXPECT_EQ(255u, pairOf(a));
    MidiCC::ctrlList.setCCOff();
}

TEST_F(MidiTasks, DeleteOutsideLearnModeChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(startLearning());
    select(a);
    send({176, 74, 64});
    ASSERT_TRUE(waitUntil([&] { return pairOf(a) == 74; }, LIMIT));
    MidiCC::enterFollow(incoming);
    ASSERT_EQ(1, a.mode.load());
    MidiCC::deleteControllersCC();
    EXPECT_EQ(74u, pairOf(a));
    // Even a control that still looks selected keeps its pairing in normal mode.
    a.label->selected = true;
    MidiCC::deleteControllersCC();
    EXPECT_EQ(74u, pairOf(a));
}

TEST_F(MidiTasks, FollowModeWithAnEmptyQueuePublishesZeroZero) {
    MidiCC::enterLearn();
    MidiCC::enterFollow(incoming);
    ASSERT_TRUE(
        waitUntil([&] { return std::get<0>(incoming) == 0 && std::get<1>(incoming) == 0; }, LIMIT))
        << std::get<0>(incoming) << "," << std::get<1>(incoming);
    EXPECT_TRUE(MidiCC::listenCC);
    send({176, 20, 99});
    ASSERT_TRUE(waitUntil(
        [&] { return std::get<0>(incoming) == 20 && std::get<1>(incoming) == 99; }, LIMIT));
    // Republished on every poll, not only when something arrives.
    std::get<0>(incoming) = -7;
    ASSERT_TRUE(waitUntil([&] { return std::get<0>(incoming) == 20; }, LIMIT));
}

TEST_F(MidiTasks, ANewLearnRunShowsThePreviousText) {
    ASSERT_NO_FATAL_FAILURE(startLearning());
    select(a);
    send({176, 74, 64});
    ASSERT_TRUE(waitUntil([&] { return dialogText() == "CC74"; }, LIMIT));
    MidiCC::enterFollow(incoming);
    EXPECT_FALSE(dialog.visible.load());
    ASSERT_NO_FATAL_FAILURE(startLearning());
    std::this_thread::sleep_for(Millis(100));
    EXPECT_EQ("CC74", dialogText());
    // Selections did not survive the previous run's end.
    EXPECT_FALSE(a.label->selected.load());
}

TEST_F(MidiTasks, LearnSkipsMessagesWithoutAControllerNumber) {
    MidiCC::ctrlList.setCCOn();
    int current = -1;
    select(a);
    send({176, 74, 64});
    ASSERT_TRUE(learnPollUntil(current, [&] { return pairOf(a) == 74; }));
    // Clock (no byte 1), an empty system exclusive and a status byte where the
    // controller number should be; then a good one.
    for (auto& m :
         std::vector<std::vector<unsigned char>>{{248}, {240, 247}, {176, 200, 5}, {176, 75, 1}})
        send(m);
    std::vector<unsigned> seen;
    ASSERT_TRUE(learnPollUntil(current, [&] {
        seen.push_back(pairOf(a));
        return pairOf(a) == 75;
    }));
    for (unsigned v : seen)
        EXPECT_TRUE(v == 74 || v == 75) << v;
    EXPECT_EQ("CC75", dialogText());
    MidiCC::ctrlList.setCCOff();
}

TEST_F(MidiTasks, LearnTakesByteOneOfAnyMessageThatHasOne) {
    MidiCC::ctrlList.setCCOn();
    int current = -1;
    select(a);
    // The status byte is not looked at: a program change pairs its program number.
    send({192, 5});
    ASSERT_TRUE(learnPollUntil(current, [&] { return pairOf(a) == 5; })) << pairOf(a);
    send({208, 3});
    ASSERT_TRUE(learnPollUntil(current, [&] { return pairOf(a) == 3; })) << pairOf(a);
    EXPECT_EQ("CC3", dialogText());
    MidiCC::ctrlList.setCCOff();
}

TEST_F(MidiTasks, ListenSkipsShortAndMalformedMessages) {
    int number = 0, value = 0;
    send({176, 30, 50});
    ASSERT_TRUE(waitUntil(
        [&] {
            MidiCC::listenPoll(number, value, incoming);
            return std::get<0>(incoming) == 30;
        },
        LIMIT, Millis(2)));
    EXPECT_EQ(50, std::get<1>(incoming));
    for (auto& m : std::vector<std::vector<unsigned char>>{{248},
                                                           {192, 5},
                                                           {208, 3},
                                                           {240, 247},
                                                           {240, 5, 247},
                                                           {176, 20, 200},
                                                           {176, 200, 20},
                                                           {176, 31, 51}})
        send(m);
    std::vector<std::pair<int, int>> seen;
    ASSERT_TRUE(waitUntil(
        [&] {
            MidiCC::listenPoll(number, value, incoming);
            seen.emplace_back(std::get<0>(incoming), std::get<1>(incoming));
            return seen.back() == std::make_pair(31, 51);
        },
        LIMIT, Millis(2)));
    for (auto& p : seen)
        EXPECT_TRUE(p == std::make_pair(30, 50) || p == std::make_pair(31, 51))
            << p.first << "," << p.second;
}

TEST_F(MidiTasks, QuitWhileLearningHidesTheDialogAndClearsSelections) {
    ASSERT_NO_FATAL_FAILURE(startLearning());
    select(a);
    send({176, 74, 64});
    ASSERT_TRUE(waitUntil([&] { return pairOf(a) == 74; }, LIMIT));
    select(button);
    // Paired too: the task has seen both selections.
    ASSERT_TRUE(waitUntil([&] { return pairOf(button) == 74; }, LIMIT));
    MidiCC::stop();
    EXPECT_FALSE(dialog.visible.load());
    EXPECT_FALSE(a.label->selected.load());
    EXPECT_FALSE(button.label->selected.load());
    EXPECT_FALSE(a.label->highlighted.load());
    EXPECT_EQ(1, a.mode.load());
    EXPECT_EQ(1, button.mode.load());
}

// Mode switches as fast as they come while the peer floods the input: every
// switch waits for the task it ends, so nothing may hang or overlap.
TEST_F(MidiTasks, TwoHundredModeSwitchesUnderAFloodDoNotHang) {
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        unsigned char n = 0;
        while (flooding) {
            send({176, static_cast<unsigned char>(n % 128), static_cast<unsigned char>(n / 2)});
            ++n;
            std::this_thread::sleep_for(Millis(1));
        }
    });
    auto run = std::async(std::launch::async, [&] {
        for (int i = 0; i < 200; ++i) {
            if (MidiCC::toSettingCC) {
                MidiCC::enterLearn();
                if (i % 4 == 0)
                    a.label->selected = !a.label->selected; // let learn polls happen too
            } else {
                MidiCC::enterFollow(incoming);
            }
            // Now and then let the task poll for a while before the next switch.
            if (i % 10 == 0) std::this_thread::sleep_for(Millis(15));
        }
        MidiCC::stop();
    });
    bool finished = run.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    flooding = false;
    flood.join();
    if (!finished) {
        ADD_FAILURE() << "mode switches hung";
        std::quick_exit(1); // the stuck thread cannot be joined
    }
    EXPECT_FALSE(dialog.visible.load());
    EXPECT_EQ(1, a.mode.load());
}

} // namespace
} // namespace zutest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    zutest::MidiWorld::instance = new zutest::MidiWorld;
    ::testing::AddGlobalTestEnvironment(zutest::MidiWorld::instance);
    return RUN_ALL_TESTS();
}
