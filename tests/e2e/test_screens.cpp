// What the window shows in each state, pixel for pixel against pictures taken once
// from a build that painted every frame, with the random draws fixed.
// ZU_SCREENS_RECORD=1 writes the pictures instead of comparing.
#include <cstdlib>

#include "screens.h"
#include "zu_fixture.h"

namespace zutest {
namespace {

class Screens : public ZuTest {
  protected:
    ZuOptions zuOptions() override {
        ZuOptions o = ZuTest::zuOptions();
        o.env.set("LD_PRELOAD", ZU_FIXED_SEED);
        return o;
    }
    // The window once it has shown the same picture for a while.
    Snapshot steady() {
        Snapshot last = look(WHOLE);
        Snapshot now;
        bool same = waitUntil(
            [&] {
                settle(Millis(150));
                now = look(WHOLE);
                bool stable = !now.empty() && now == last;
                last = now;
                return stable;
            },
            MESSAGE_LIMIT, Millis(0));
        EXPECT_TRUE(same) << "the window never stopped changing";
        return now;
    }
    // Records or compares the steady picture of a state.
    void expectScreen(const std::string& name) {
        Snapshot shown = steady();
        if (getenv("ZU_SCREENS_RECORD")) {
            writePpm(referencePath(name), shown);
            return;
        }
        Snapshot want = readPpm(referencePath(name));
        ASSERT_FALSE(want.empty()) << "no picture at " << referencePath(name);
        if (shown == want) return;
        int differ = 0, firstX = -1, firstY = -1;
        for (int y = 0; y < want.h && y < shown.h; ++y)
            for (int x = 0; x < want.w && x < shown.w; ++x)
                if (shown.at(x, y) != want.at(x, y) && differ++ == 0) firstX = x, firstY = y;
        std::string seen = zu->workDir() + "/" + name + ".ppm";
        writePpm(seen, shown);
        ADD_FAILURE() << name << ": " << differ << " pixels differ, the first at (" << firstX
                      << ", " << firstY << "); the window is in " << seen;
    }
};

TEST_F(Screens, EveryStateLooksAsWhenEveryFrameWasPainted) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    expectScreen("start");

    // CH held and dragged up three steps: the caption shows the number.
    x->movePointer(window, CH_DIAL.x, CH_DIAL.y);
    settle();
    Snapshot area = look(CH_AREA);
    x->buttonDown(1);
    area = waitForChange(CH_AREA, area, "CH pressed");
    for (int i = 1; i <= 3; ++i) {
        x->movePointer(window, CH_DIAL.x, CH_DIAL.y - 3 * i);
        area = waitForChange(CH_AREA, area, "a CH step");
    }
    expectScreen("dial-dragged");
    x->buttonUp(1);
    waitForChange(CH_AREA, area, "CH released");

    // The value button held down: a new value, inverted.
    x->movePointer(window, VALUE_BUTTON.x, VALUE_BUTTON.y);
    settle();
    area = look(VALUE_AREA);
    x->buttonDown(1);
    area = waitForChange(VALUE_AREA, area, "the value button pressed");
    expectScreen("value-inverted");
    x->buttonUp(1);
    waitForChange(VALUE_AREA, area, "the value button released");

    pointAtWindow();
    area = look(WHOLE);
    tap(XK_c);
    waitForChange(WHOLE, area, "new colours");
    expectScreen("recoloured");

    // Learn mode with the CC dial and the value button selected.
    toggleMode("the learn dialog");
    for (At at : {CC_DIAL, VALUE_BUTTON}) {
        area = look(WHOLE);
        clickAt(at);
        waitForChange(WHOLE, area, "a control selected");
    }
    pointAtWindow();
    expectScreen("learning");

    toggleMode("the dialog going away");
    expectScreen("following");
}

} // namespace
} // namespace zutest
