// Starting and ending zu: its window, quitting, and start-up without MIDI, font or display.
#include <signal.h>

#include "zu_fixture.h"

namespace zutest {
namespace {

using Lifecycle = ZuTest;
class LifecycleOnEachService : public OnEachService<ZuTest> {};

TEST_F(Lifecycle, WindowIsTitledZuAndMeasures88x280) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_NO_FATAL_FAILURE(expectZuSize());
}

TEST_F(Lifecycle, QExitsWithStatusZero) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    tap(XK_q);
    expectExit(0);
}

TEST_F(Lifecycle, SigtermExitsWithStatusZero) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    zu->process().signal(SIGTERM);
    expectExit(0);
}

TEST_F(Lifecycle, QuitInLearnModeExitsWithStatusZero) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    tap(XK_m);
    tap(XK_q);
    expectExit(0);
}

TEST_F(Lifecycle, QuitInFollowModeExitsWithStatusZero) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    tap(XK_m);
    tap(XK_m);
    tap(XK_q);
    expectExit(0);
}

TEST_P(LifecycleOnEachService, RunsWithoutAnyMidiService) {
    if (service == Service::Alsa) GTEST_SKIP() << "the kernel's ALSA sequencer is never away";
    // No startMidi(): zu is sent to a service that does not exist.
    ASSERT_NO_FATAL_FAILURE(startZu());
    pointAtWindow();
    EXPECT_TRUE(zu->waitForOutput("No ports available!", EXIT_LIMIT)) << zu->output();
    EXPECT_NE(std::string::npos, zu->output().find("Could not open MIDI out port "))
        << zu->output();
    // A trigger with nowhere to send must not hurt.
    tap(XK_r);
    tap(XK_r);
    ASSERT_TRUE(zu->running()) << zu->process().describeEnd();
    tap(XK_q);
    expectExit(0);
}

ZU_ON_EACH_SERVICE(LifecycleOnEachService);

TEST_F(Lifecycle, MissingFontEndsWithStatusOne) {
    ASSERT_NO_FATAL_FAILURE(startZu(/*withFont=*/false));
    expectExit(1);
    EXPECT_NE(std::string::npos, zu->output().find("Could not load font\n")) << zu->output();
}

TEST_F(Lifecycle, NoDisplayEndsWithStatusOneAndAMessage) {
    ZuOptions o = zuOptions();
    // Without DISPLAY SDL would fall back to running headless; insist on X.
    o.env = withoutService(Service::Jack).unset("DISPLAY").set("SDL_VIDEODRIVER", "x11");
    zu = std::make_unique<ZuApp>(o);
    expectExit(1);
    EXPECT_NE(std::string::npos, zu->output().find("dolek could not be initialized: "))
        << zu->output();
}

} // namespace
} // namespace zutest
