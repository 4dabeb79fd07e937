// Ending zu in every mode and in the awkward moments: right after m, two quit
// requests in one frame, signals, and a data file that is missing.
#include <signal.h>

#include "fault_fixture.h"

namespace zutest {
namespace {

enum class Mode { Start, Learn, Follow };
enum class How { CloseAndQ, CloseOnly, Sigterm, MThenQ };

struct QuitCase {
    const char* name;
    Mode mode;
    How how;
};
void PrintTo(const QuitCase& c, std::ostream* os) {
    *os << c.name;
}

class Quit : public FaultTest, public ::testing::WithParamInterface<QuitCase> {
  protected:
    void enter(Mode mode) {
        if (mode == Mode::Start) return;
        toggleMode("the learn dialog");
        if (mode == Mode::Follow) toggleMode("the learn dialog going away");
    }
};

TEST_P(Quit, ExitsWithStatusZero) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    enter(GetParam().mode);
    switch (GetParam().how) {
    case How::CloseAndQ: // both land in one frame: the second stop finds nothing to wait for
        requestClose();
        x->keyDown(XK_q);
        x->keyUp(XK_q);
        break;
    case How::CloseOnly:
        requestClose();
        break;
    case How::Sigterm:
        zu->process().signal(SIGTERM);
        break;
    case How::MThenQ: // q while the task that m started may not have run yet
        x->keyDown(XK_m);
        x->keyUp(XK_m);
        x->keyDown(XK_q);
        x->keyUp(XK_q);
        break;
    }
    expectExit(0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Quit,
    ::testing::Values(QuitCase{"StartCloseAndQ", Mode::Start, How::CloseAndQ},
                      QuitCase{"LearnCloseAndQ", Mode::Learn, How::CloseAndQ},
                      QuitCase{"FollowCloseAndQ", Mode::Follow, How::CloseAndQ},
                      QuitCase{"FollowCloseOnly", Mode::Follow, How::CloseOnly},
                      QuitCase{"LearnSigterm", Mode::Learn, How::Sigterm},
                      QuitCase{"FollowSigterm", Mode::Follow, How::Sigterm},
                      QuitCase{"StartMThenQ", Mode::Start, How::MThenQ},
                      QuitCase{"LearnMThenQ", Mode::Learn, How::MThenQ},
                      QuitCase{"FollowMThenQ", Mode::Follow, How::MThenQ}),
    [](const auto& info) { return std::string(info.param.name); });

using Interrupt = FaultTest;

TEST_F(Interrupt, BeforeAnyLearnRunItQuits) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    zu->process().signal(SIGINT);
    expectExit(0);
}

TEST_F(Interrupt, AfterALearnRunItIsCaughtAndQStillQuits) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    toggleMode("the learn dialog");
    zu->process().signal(SIGINT);
    settle(Millis(500));
    ASSERT_TRUE(zu->running()) << "SIGINT in learn mode: " << zu->process().describeEnd();
    expectWindowAnswers("after SIGINT in learn mode");
    toggleMode("the learn dialog going away");
    zu->process().signal(SIGINT);
    settle(Millis(500));
    ASSERT_TRUE(zu->running()) << "SIGINT in follow mode: " << zu->process().describeEnd();
    quitAndExpectZero();
}

using MissingFile = FaultTest;

TEST_F(MissingFile, NoKnobImageEndsTheFirstFrameWithStatusOne) {
    ZuOptions o = zuOptions();
    o.withDial = false;
    zu = std::make_unique<ZuApp>(o);
    expectExit(1);
    EXPECT_NE(std::string::npos, zu->output().find("Rendering error:")) << zu->output();
}

} // namespace
} // namespace zutest
