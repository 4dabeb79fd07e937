// The frame loop's rules: triggers, keys, recolouring, quitting and pacing.
#include <functional>
#include <unistd.h>
#include <vector>

#include "empty_dir.h"
#include "panel_fixture.h"

namespace {

const SDL_Color DARK = {16, 16, 16, 255};
const SDL_Color WHITE = {255, 255, 255, 255};

// A frame clock that replays the given tick values, then keeps the last one and moves
// only by what the frame waits. It records each wait asked for; arrive() may hand
// an event to a wait, after the milliseconds it returns.
struct FakeClock {
    std::vector<Uint32> ticks;
    size_t next = 0;
    Uint32 now = 0;
    std::vector<Uint32> delays;
    std::function<Uint32(SDL_Event*)> arrive;

    explicit FakeClock(std::vector<Uint32> t) : ticks(std::move(t)) {}

    Clock clock() {
        Clock c;
        c.ticks = [this] {
            if (next < ticks.size()) now = ticks[next++];
            return now;
        };
        c.waitEvent = [this](SDL_Event* e, Uint32 ms) {
            delays.push_back(ms);
            Uint32 after = arrive ? arrive(e) : 0;
            if (after > 0 && after < ms) {
                now += after;
                return 1;
            }
            now += ms;
            return 0;
        };
        return c;
    }
};

class ShellTest : public PanelTest {
  protected:
    // A press always draws 100, so a message carrying 100 was sent after the draw.
    void drawOnly100() {
        panel->dialMIN.value = 100;
        panel->dialMAX.value = 101;
    }
    bool inverted(SDL_Color former) {
        const Label& l = *panel->valueButton.label;
        return sameRGB(l.bgColor, former) && sameRGB(l.textColor, DARK);
    }
    bool normal(SDL_Color text) {
        const Label& l = *panel->valueButton.label;
        return sameRGB(l.bgColor, DARK) && sameRGB(l.textColor, text);
    }
    // k is the key of a key event, the kind of a window event.
    void push(Uint32 type, SDL_Keycode k = 0) {
        SDL_Event e{};
        e.type = type;
        if (type == SDL_KEYDOWN || type == SDL_KEYUP) e.key.keysym.sym = k;
        if (type == SDL_WINDOWEVENT) e.window.event = static_cast<Uint8>(k);
        ASSERT_EQ(1, SDL_PushEvent(&e)) << SDL_GetError();
    }
    void frame(Uint32 first = 1000, Uint32 second = 1000) {
        FakeClock fc({first, second});
        runFrame(*shell, fc.clock());
    }
};

TEST_F(ShellTest, ValueButtonPressDrawsThenSendsOncePerPress) {
    drawOnly100();
    Button& b = panel->valueButton;
    pointAt(centre(b));
    press();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ((Message{176, 0, 100}), sent[0]);
    EXPECT_EQ(100, gen.currentValue);
    EXPECT_EQ("100", b.label->text.str());
    EXPECT_TRUE(inverted(WHITE));

    // Released outside: still inverted; inside (the corner counts): normal again.
    pointAt(2, 275);
    release();
    EXPECT_TRUE(inverted(WHITE));
    pointAt(b.label->x, b.label->y);
    release();
    EXPECT_TRUE(normal(WHITE));

    // Right and middle buttons press and release it just the same.
    pointAt(centre(b));
    press(SDL_BUTTON_RIGHT);
    EXPECT_EQ(2u, sent.size());
    EXPECT_TRUE(inverted(WHITE));
    release(SDL_BUTTON_RIGHT);
    EXPECT_TRUE(normal(WHITE));
    press(SDL_BUTTON_MIDDLE);
    EXPECT_EQ(3u, sent.size());
    release(SDL_BUTTON_MIDDLE);
    EXPECT_TRUE(normal(WHITE));

    // A press beside the button does nothing.
    pointAt(b.label->x - 1, b.label->y + 5);
    press();
    EXPECT_EQ(3u, sent.size());
    EXPECT_TRUE(normal(WHITE));
}

TEST_F(ShellTest, HoldingRSendsOneMessage) {
    panel->dialCH.value = 2;
    gen.channel = 2;
    gen.ccNumber = 74;
    for (int i = 0; i < 6; ++i)
        keyDown(SDLK_r);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ((Message{178, 74, static_cast<unsigned char>(gen.currentValue)}), sent[0]);
    EXPECT_EQ(std::to_string(gen.currentValue), panel->valueButton.label->text.str());
    EXPECT_TRUE(inverted(WHITE));
    keyUp(SDLK_r);
    EXPECT_TRUE(normal(WHITE));
    keyDown(SDLK_r);
    EXPECT_EQ(2u, sent.size()) << "a new press after the release triggers again";
    keyUp(SDLK_r);
}

TEST_F(ShellTest, RKeyUpAloneDoesNothing) {
    pointAt(centre(panel->valueButton));
    press();
    ASSERT_EQ(1u, sent.size());
    keyUp(SDLK_r);
    EXPECT_TRUE(inverted(WHITE)) << "no accepted r press to end";
    EXPECT_EQ(1u, sent.size());
    keyDown(SDLK_r);
    EXPECT_EQ(2u, sent.size());
    keyUp(SDLK_r);
    EXPECT_TRUE(normal(WHITE));
}

TEST_F(ShellTest, RecolourReachesEveryText) {
    Panel& p = *panel;
    keyDown(SDLK_c);
    SDL_Color c = p.valueButton.textColor;
    EXPECT_EQ(255, c.a);
    EXPECT_FALSE(sameRGB(c, WHITE));
    for (Uint8 ch : {c.r, c.g, c.b})
        EXPECT_LT(ch, 255);
    EXPECT_TRUE(sameRGB(p.valueButton.hoverColor, c));
    EXPECT_TRUE(sameRGB(p.valueButton.label->textColor, c));
    for (Dial* d : p.dials)
        EXPECT_TRUE(sameRGB(d->label->textColor, c)) << d->savedName;
    for (Label* l : {&p.ccLogoLabel, &p.nameLogoLabel, &p.valLabel, &p.brandLabel, &p.versionLabel})
        EXPECT_TRUE(sameRGB(l->textColor, c)) << l->text.str();
    const Label& dlg = *p.learnDialog.label;
    EXPECT_TRUE(sameRGB(dlg.bgColor, c));
    EXPECT_EQ(210, dlg.bgColor.a);
    EXPECT_TRUE(sameRGB(dlg.textColor, {0, 0, 0, 255})) << "the dialog's text stays black";
    EXPECT_EQ(140, p.ccLogoLabel.textAlpha);
    EXPECT_EQ(110, p.versionLabel.textAlpha);

    // The next frame paints the new colour without another layout step.
    clear(16, 16, 16);
    p.render();
    const SDL_Rect& cap = p.dialCH.label->rect;
    int coloured = 0;
    for (int y = cap.y; y < cap.y + cap.h; ++y)
        for (int x = cap.x; x < cap.x + cap.w; ++x)
            coloured += sameRGB(at(x, y), c);
    EXPECT_GT(coloured, 10);

    keyDown(SDLK_c);
    SDL_Color c2 = p.valueButton.textColor;
    EXPECT_FALSE(sameRGB(c, c2)) << "each press draws a new colour";

    // The value button inverts into the new colour and returns to it, not to white.
    pointAt(centre(p.valueButton));
    press();
    EXPECT_TRUE(inverted(c2));
    release();
    EXPECT_TRUE(normal(c2));
    keyDown(SDLK_r);
    keyUp(SDLK_r);
    EXPECT_TRUE(normal(c2));
}

TEST_F(ShellTest, DeleteKeyUnpairsSelectedControlsInLearnMode) {
    Panel& p = *panel;
    MidiCC::ctrlList.setCCOn();
    pair(p.dialCC, 30);
    std::get<1>(p.dialCC.ccPair) = 9;
    pair(p.valueButton, 31);
    pair(p.dialMAX, 40);
    p.dialCC.label->selected = true;
    p.valueButton.label->selected = true;
    p.learnDialog.label->text = "CC74";
    keyDown(SDLK_d);
    EXPECT_EQ(CC_NONE, pairOf(p.dialCC));
    EXPECT_EQ(0, std::get<1>(p.dialCC.ccPair).load());
    EXPECT_EQ(CC_NONE, pairOf(p.valueButton));
    EXPECT_EQ(40u, pairOf(p.dialMAX)) << "not selected";
    EXPECT_EQ("CC - ", p.learnDialog.label->text.str());

    // Outside learn mode the pairings stay; the text is still reset.
    MidiCC::ctrlList.setCCOff();
    pair(p.dialCC, 30);
    p.dialCC.label->selected = true;
    p.learnDialog.label->text = "CC30";
    keyDown(SDLK_d);
    EXPECT_EQ(30u, pairOf(p.dialCC));
    EXPECT_EQ("CC - ", p.learnDialog.label->text.str());
}

TEST_F(ShellTest, MKeyTogglesLearnAndFollow) {
    Panel& p = *panel;
    keyDown(SDLK_m);
    EXPECT_FALSE(MidiCC::toSettingCC);
    EXPECT_EQ(1, MidiCC::CCStatus.load());
    EXPECT_TRUE(eventually([&] { return p.learnDialog.visible && p.dialINRT.mode == 0; }));
    keyDown(SDLK_m);
    EXPECT_TRUE(MidiCC::toSettingCC);
    EXPECT_EQ(2, MidiCC::CCStatus.load());
    EXPECT_FALSE(p.learnDialog.visible) << "the learn task has ended";
    EXPECT_EQ(1, p.dialINRT.mode.load());
    EXPECT_TRUE(eventually([&] { return std::get<0>(incoming) == 0; }))
        << "the listen task publishes at its first poll";
    keyDown(SDLK_m);
    EXPECT_FALSE(MidiCC::toSettingCC);
    EXPECT_EQ(1, MidiCC::CCStatus.load());
}

// A close request and q in one frame, with the queued events after them still handled.
class QuitTest : public ShellTest, public ::testing::WithParamInterface<int> {};

TEST_P(QuitTest, CloseAndQInOneFrameEndNormally) {
    Panel& p = *panel;
    for (int i = 0; i < GetParam(); ++i)
        keyDown(SDLK_m);
    if (GetParam() == 1) {
        ASSERT_TRUE(eventually([&] { return p.learnDialog.visible.load(); }));
    } else if (GetParam() == 2) {
        ASSERT_TRUE(eventually([&] { return std::get<0>(incoming) == 0; }));
    }
    const bool learning = GetParam() == 1;
    if (learning) p.dialMIN.label->selected = true;

    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    push(SDL_QUIT);
    push(SDL_KEYDOWN, SDLK_q);
    push(SDL_KEYDOWN, SDLK_r);
    {
        Watchdog dog(std::chrono::seconds(30), "two quit requests");
        EXPECT_NO_THROW(frame());
    }
    EXPECT_FALSE(shell->running);
    EXPECT_EQ(1u, sent.size()) << "events queued after the quit are still dispatched";
    EXPECT_FALSE(p.learnDialog.visible);
    EXPECT_FALSE(p.dialMIN.label->selected) << "learning ended and cleared the selection";
    EXPECT_EQ(1, p.dialMIN.mode.load());

    // No task is polling any more.
    std::get<0>(incoming) = 55;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(55, std::get<0>(incoming));
}

INSTANTIATE_TEST_SUITE_P(StartLearnFollow, QuitTest, ::testing::Values(0, 1, 2));

TEST_F(ShellTest, FrameSleepIsAFixedSixtyUnderSixty) {
    EXPECT_EQ(60u, frameSleep(0));
    EXPECT_EQ(60u, frameSleep(59));
    EXPECT_EQ(0u, frameSleep(60));
    EXPECT_EQ(0u, frameSleep(61));
    EXPECT_EQ(0u, frameSleep(5000));
}

TEST_F(ShellTest, RunFramePacesByTheInjectedClock) {
    FakeClock fast({1000, 1059});
    runFrame(*shell, fast.clock());
    EXPECT_EQ(std::vector<Uint32>{60}, fast.delays);

    FakeClock slow({1000, 1060});
    runFrame(*shell, slow.clock());
    EXPECT_TRUE(slow.delays.empty());

    // The tick counter wrapping within a frame is still a short frame.
    FakeClock wrap({0xFFFFFFF0u, 0xFFFFFFF0u + 59u});
    runFrame(*shell, wrap.clock());
    EXPECT_EQ(std::vector<Uint32>{60}, wrap.delays);
    EXPECT_TRUE(shell->running);
}

TEST_F(ShellTest, RunFrameDrawsTheWholePanelFromTheBackground) {
    clear(200, 0, 0);
    requestPaint();
    frame();
    EXPECT_TRUE(sameRGB(at(2, 100), DARK)) << str(at(2, 100));
    EXPECT_TRUE(sameRGB(at(43, 236), WHITE)) << "the value button's 0";
    // Even after the learn dialog left its frame colour set.
    panel->learnDialog.label->selected = true;
    panel->learnDialog.show();
    frame();
    clear(200, 0, 0);
    requestPaint();
    frame();
    EXPECT_TRUE(sameRGB(at(2, 100), DARK)) << str(at(2, 100));
}

TEST_F(ShellTest, OnlyFramesWhosePictureChangedArePainted) {
    Panel& p = *panel;
    frame();
    // Red stays wherever a frame does not paint.
    auto painted = [&](const char* what) {
        clear(200, 0, 0);
        frame();
        bool dark = sameRGB(at(2, 100), DARK);
        EXPECT_FALSE(takePaintRequest()) << what << ": the frame took the request";
        return dark;
    };
    EXPECT_FALSE(painted("nothing happened"));
    EXPECT_FALSE(painted("still nothing"));

    for (SDL_WindowEventID shows : {SDL_WINDOWEVENT_SHOWN, SDL_WINDOWEVENT_EXPOSED,
                                    SDL_WINDOWEVENT_RESTORED, SDL_WINDOWEVENT_RESIZED}) {
        push(SDL_WINDOWEVENT, shows);
        EXPECT_TRUE(painted("a window shown, uncovered or resized")) << int(shows);
    }
    // Some systems report every present as a window event: painting on those never ends.
    for (SDL_WindowEventID same : {SDL_WINDOWEVENT_MOVED, SDL_WINDOWEVENT_ENTER,
                                   SDL_WINDOWEVENT_FOCUS_GAINED, SDL_WINDOWEVENT_TAKE_FOCUS}) {
        push(SDL_WINDOWEVENT, same);
        EXPECT_FALSE(painted("a window event that leaves the picture as it was")) << int(same);
    }
    push(SDL_KEYDOWN, SDLK_c);
    EXPECT_TRUE(painted("c"));
    EXPECT_FALSE(painted("after c"));

    // A dial moved by the frame's follow step (the start state follows too).
    pair(p.dialCC, 21);
    std::get<0>(incoming) = 21;
    std::get<1>(incoming) = 9;
    EXPECT_TRUE(painted("the CC dial followed"));
    EXPECT_EQ(9, p.dialCC.value);

    // Changes made by the learn task, on its own thread.
    keyDown(SDLK_m);
    ASSERT_TRUE(eventually([&] { return p.learnDialog.visible && p.dialCH.mode == 0; }));
    EXPECT_TRUE(painted("the learn dialog shown"));
    SDL_Color inDialog = at(p.learnDialog.label->x + 2, p.learnDialog.label->y + 2);
    EXPECT_FALSE(sameRGB(inDialog, DARK) || sameRGB(inDialog, {200, 0, 0, 255}))
        << "the dialog is in the picture: " << str(inDialog);
    EXPECT_FALSE(painted("learning, nothing new"));
    p.learnDialog.label->text = "CC74";
    EXPECT_TRUE(painted("a new dialog text"));
}

TEST_F(ShellTest, AnIdleFrameStillEndsZuWhenTheKnobPictureIsGone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    frame();
    EXPECT_EXIT(
        {
            fflush(stdout);
            dup2(2, 1);
            if (!enterEmptyDir()) _exit(3);
            if (takePaintRequest()) _exit(4); // nothing to paint: only the check can end it
            frame();
            _exit(0);
        },
        ::testing::ExitedWithCode(1), "Rendering error:.+\n");
}

TEST_F(ShellTest, EventsArrivingDuringTheSleepAreHandledThenAndTheSleepGoesOn) {
    size_t sentAtSecondWait = 99;
    FakeClock fc({1000, 1002});
    fc.arrive = [&](SDL_Event* e) -> Uint32 {
        if (fc.delays.size() == 1) {
            *e = SDL_Event{};
            e->type = SDL_KEYDOWN;
            e->key.keysym.sym = SDLK_r;
            return 20;
        }
        if (fc.delays.size() == 2) sentAtSecondWait = sent.size();
        return 0;
    };
    runFrame(*shell, fc.clock());
    EXPECT_EQ(1u, sent.size());
    EXPECT_EQ(1u, sentAtSecondWait) << "r was sent before the sleep went on";
    EXPECT_EQ((std::vector<Uint32>{60, 40}), fc.delays) << "the sleep keeps its deadline";

    // A quit during the sleep ends it.
    FakeClock q({2000, 2001});
    q.arrive = [](SDL_Event* e) -> Uint32 {
        *e = SDL_Event{};
        e->type = SDL_QUIT;
        return 5;
    };
    runFrame(*shell, q.clock());
    EXPECT_FALSE(shell->running);
    EXPECT_EQ(1u, q.delays.size());
}

// Incoming pairs brought by the listen task's wake events, frame by frame.
class WakeTest : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        pair(panel->valueButton, 20);
        wakeOnMidi(*shell);
        ASSERT_NE(0u, shell->midiEvent);
    }
    void TearDown() override {
        MidiCC::pairChanged = nullptr;
        ShellTest::TearDown();
    }
    // The listen task publishing a new pair.
    void publish(int number, int value) {
        std::get<0>(incoming) = number;
        std::get<1>(incoming) = value;
        MidiCC::pairChanged(number, value);
    }
    bool held() { return panel->valueButton.label->textColor.r == DARK.r; }
};

TEST_F(WakeTest, APressAndReleaseWithinOneFrameBothCount) {
    publish(20, 127);
    publish(20, 0);
    frame();
    EXPECT_EQ(1u, sent.size()) << "the press";
    EXPECT_FALSE(held()) << "and the release";
    frame();
    EXPECT_EQ(2u, sent.size()) << "the re-press comes with the next frame";
    EXPECT_TRUE(held());
    frame();
    EXPECT_FALSE(held());
    frame();
    EXPECT_EQ(2u, sent.size());
}

TEST_F(WakeTest, AReleaseWhileAFrameWaitsIsPressedAgainByTheNextFrame) {
    publish(20, 127);
    frame();
    ASSERT_EQ(1u, sent.size());
    FakeClock waiting({1000, 1000});
    waiting.arrive = [this, once = true](SDL_Event* e) mutable -> Uint32 {
        if (!once) return 0;
        once = false;
        std::get<1>(incoming) = 0;
        *e = SDL_Event{};
        e->type = shell->midiEvent;
        e->user.code = 20 << 8;
        return 5;
    };
    runFrame(*shell, waiting.clock());
    EXPECT_FALSE(held()) << "the 0 releases the pad while the frame waits";
    frame();
    EXPECT_EQ(2u, sent.size()) << "the re-press comes with the very next frame";
    EXPECT_TRUE(held());
}

TEST_F(WakeTest, EachNewPairGetsItsOwnStep) {
    // A knob on the value button, 10, 11, 12 within one frame: press, release, press.
    publish(20, 10);
    publish(20, 11);
    publish(20, 12);
    frame();
    EXPECT_EQ(2u, sent.size());
    EXPECT_TRUE(held());
}

TEST_F(WakeTest, OnePairPerFrameStepsAsFramesDid) {
    // The same knob sending one value a frame: press at 10, release at 11, press at 12.
    publish(20, 10);
    frame();
    EXPECT_EQ(1u, sent.size());
    publish(20, 11);
    frame();
    EXPECT_EQ(1u, sent.size());
    EXPECT_FALSE(held());
    publish(20, 12);
    frame();
    EXPECT_EQ(2u, sent.size());
    EXPECT_TRUE(held());
}

TEST_F(WakeTest, APublishedPairWaitsForItsWake) {
    // Published, but its wake not taken yet: the frame does not step it out of turn.
    std::get<0>(incoming) = 20;
    std::get<1>(incoming) = 127;
    frame();
    EXPECT_TRUE(sent.empty());
    MidiCC::pairChanged(20, 127);
    frame();
    ASSERT_EQ(1u, sent.size());
    publish(20, 0);
    frame();
    EXPECT_FALSE(held());
    frame();
    frame();
    ASSERT_EQ(2u, sent.size());

    // Unless SDL's queue had no room for the wake: then the frame takes the pair.
    SDL_Event filler{};
    filler.type = SDL_RegisterEvents(1);
    while (SDL_PushEvent(&filler) == 1) {
    }
    publish(20, 127);
    frame();
    EXPECT_EQ(3u, sent.size());
}

TEST_F(WakeTest, LearnModeFollowsNothing) {
    MidiCC::toSettingCC = false;
    publish(20, 127);
    frame();
    EXPECT_TRUE(sent.empty());
}

TEST_F(WakeTest, TheCaptionStillCountsFramesNotWakes) {
    Panel& p = *panel;
    pair(p.dialCH, 30);
    publish(30, 5);
    frame();
    ASSERT_EQ("5", p.dialCH.label->text.str());
    for (int i = 1; i < CAPTION_FRAMES; ++i) {
        frame();
        ASSERT_EQ("5", p.dialCH.label->text.str()) << "frame " << i;
    }
    frame();
    EXPECT_EQ("CH", p.dialCH.label->text.str());
}

TEST_F(ShellTest, RunFrameFollowsOnlyOutsideLearnMode) {
    pair(panel->valueButton, 20);
    std::get<0>(incoming) = 20;
    std::get<1>(incoming) = 127;
    MidiCC::toSettingCC = false; // learn mode: the follow step is skipped
    frame();
    EXPECT_TRUE(sent.empty());
    MidiCC::toSettingCC = true;
    frame();
    EXPECT_EQ(1u, sent.size());
}

} // namespace
