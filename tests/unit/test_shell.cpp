// The frame loop's rules: triggers, keys, recolouring, quitting and pacing.
#include <vector>

#include "panel_fixture.h"

namespace {

const SDL_Color DARK = {16, 16, 16, 255};
const SDL_Color WHITE = {255, 255, 255, 255};

// A frame clock that replays the given tick values and records the delays asked for.
struct FakeClock {
    std::vector<Uint32> ticks;
    size_t next = 0;
    std::vector<Uint32> delays;

    explicit FakeClock(std::vector<Uint32> t) : ticks(std::move(t)) {}

    Clock clock() {
        Clock c;
        c.ticks = [this] { return ticks.at(std::min(next++, ticks.size() - 1)); };
        c.delay = [this](Uint32 ms) { delays.push_back(ms); };
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
    void push(Uint32 type, SDL_Keycode k = 0) {
        SDL_Event e{};
        e.type = type;
        if (type == SDL_KEYDOWN || type == SDL_KEYUP) e.key.keysym.sym = k;
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
    frame();
    EXPECT_TRUE(sameRGB(at(2, 100), DARK)) << str(at(2, 100));
    EXPECT_TRUE(sameRGB(at(43, 236), WHITE)) << "the value button's 0";
    // Even after the learn dialog left its frame colour set.
    panel->learnDialog.show();
    panel->learnDialog.label->selected = true;
    frame();
    clear(200, 0, 0);
    frame();
    EXPECT_TRUE(sameRGB(at(2, 100), DARK)) << str(at(2, 100));
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
