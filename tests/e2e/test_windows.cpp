// zu.exe of the Windows build under Wine, on the private X server with SDL's software
// renderer: the window a Windows user meets. Wine lists no MIDI device here, so zu
// runs with the messages for missing ports.
#include <chrono>
#include <cstdio>
#include <utility>

#include "screens.h"
#include "zu_fixture.h"

namespace zutest {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Where the panel's background shows. Colours come from the C library's random
// draws, which differ between Windows and Linux; the layout does not.
std::vector<bool> backgroundOf(const Snapshot& s) {
    std::vector<bool> mask;
    for (const Rgb& p : s.pixels)
        mask.push_back(p == Rgb{16, 16, 16});
    return mask;
}

class WindowsZu : public ZuTest {
  protected:
    bool underWine = true;             // false: the Linux build, to compare with
    const char* renderer = "software"; // null: zu's own choice

    ZuOptions zuOptions() override {
        ZuOptions o = ZuTest::zuOptions();
        if (underWine) o.binary = ZU_WINE_LAUNCHER;
        if (renderer) o.env.set("SDL_RENDER_DRIVER", renderer);
        return o;
    }
    // Starts zu and says how long its window and first frame took.
    void start() {
        Clock::time_point launched = Clock::now();
        ASSERT_NO_FATAL_FAILURE(startZu());
        printf("zu.exe showed its first frame %.1f s after launch\n", secondsSince(launched));
        pointAtWindow();
    }
    // Waits for zu to end with status 0 and says how long it took.
    void expectQuickExit(Clock::time_point asked, const char* how) {
        expectExit(0);
        printf("zu.exe ended %.2f s after %s\n", secondsSince(asked), how);
    }
    // Frames zu logged so far, and how many of them painted.
    // Presses, waits for the inverted value, lets go and returns what it shows then.
    Snapshot trigger(const std::function<void(bool down)>& press, const char* what) {
        Snapshot before = look(VALUE_AREA);
        press(true);
        Snapshot held = waitForChange(VALUE_AREA, before, what);
        press(false);
        return waitForChange(VALUE_AREA, held, what);
    }
    // Triggers until the value shown differs (a draw may repeat it); false if it never does.
    bool changesValue(const std::function<void(bool down)>& press, const char* what) {
        Snapshot first = look(VALUE_AREA);
        for (int i = 0; i < 5; ++i)
            if (trigger(press, what) != first) return true;
        return false;
    }
};

TEST_F(WindowsZu, StartsAsOnLinuxTriggersOnRAndClickAndQuitsWithQ) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(expectZuSize());
    EXPECT_TRUE(zu->waitForOutput("zu is not connected", MESSAGE_LIMIT)) << zu->output();

    EXPECT_TRUE(changesValue([&](bool down) { down ? x->keyDown(XK_r) : x->keyUp(XK_r); }, "r"));
    x->movePointer(window, VALUE_BUTTON.x, VALUE_BUTTON.y);
    settle();
    EXPECT_TRUE(changesValue([&](bool down) { down ? x->buttonDown(1) : x->buttonUp(1); },
                             "a click on the value"));

    pointAtWindow();
    Clock::time_point asked = Clock::now();
    x->tapKey(XK_q);
    expectQuickExit(asked, "q");
}

// The start picture of both builds with the same renderer: with OpenGL it is the
// recorded one; SDL's software renderer scales the texts a pixel differently.
class WindowsPicture : public WindowsZu, public ::testing::WithParamInterface<const char*> {};

TEST_P(WindowsPicture, TheStartPictureIsTheLinuxBuilds) {
    renderer = GetParam();
    ASSERT_NO_FATAL_FAILURE(start());
    Snapshot shown = look(WHOLE);
    quitAndExpectZero(); // Wine ends on SIGTERM by the signal, not as zu does
    // Second: the Linux build takes the keyboard focus a Wine window left behind.
    underWine = false;
    ASSERT_NO_FATAL_FAILURE(startZu());
    std::vector<bool> onLinux = backgroundOf(look(WHOLE));
    if (backgroundOf(shown) != onLinux) {
        writePpm(std::string("windows-start-") + renderer + ".ppm", shown);
        ADD_FAILURE() << "the start picture differs from the Linux build's: see windows-start-"
                      << renderer << ".ppm in the test's folder";
    }
    if (renderer == std::string("opengl")) {
        EXPECT_TRUE(backgroundOf(readPpm(referencePath("start"))) == onLinux);
    }
}
INSTANTIATE_TEST_SUITE_P(Renderer, WindowsPicture, ::testing::Values("software", "opengl"));

// With zu's own choice of renderer; under Wine, Direct3D's presents come back as exposes.
TEST_F(WindowsZu, AnIdleWindowIsNotPaintedAgain) {
    renderer = nullptr;
    ASSERT_NO_FATAL_FAILURE(start());
    size_t paints = frameLog().paints.size();
    waitForFrames(20);
    EXPECT_EQ(paints, frameLog().paints.size()) << "idle frames were painted";
    quitAndExpectZero();
}

TEST_F(WindowsZu, TheCloseButtonEndsIt) {
    ASSERT_NO_FATAL_FAILURE(start());
    Clock::time_point asked = Clock::now();
    requestClose();
    expectQuickExit(asked, "the close button");
}

} // namespace
} // namespace zutest
