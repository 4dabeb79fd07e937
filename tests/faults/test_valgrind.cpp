// A whole session of zu under memcheck: start, learn a controller, follow it,
// trigger, quit. Any invalid access or definite leak outside the suppressed
// libraries makes valgrind exit with 99.
#include <sys/stat.h>

#include <fstream>
#include <regex>

#include "fault_fixture.h"

namespace zutest {
namespace {

constexpr int VALGRIND_FOUND_ERRORS = 99;
// memcheck runs zu many times slower than usual; a busy machine slows it further.
constexpr Millis MEMCHECK_LIMIT(240000);

class Memcheck : public FaultTest {
  protected:
    Memcheck() { answerLimit = MEMCHECK_LIMIT; }

    // startAll() with room for memcheck: the peer, zu through program, its first frame.
    void startUnder(const std::string& program) {
        ASSERT_NO_FATAL_FAILURE(startMidi());
        x = std::make_unique<XSession>(XEnvironment::instance->display());
        ZuOptions o = zuOptions();
        o.binary = program;
        zu = std::make_unique<ZuApp>(o);
        // The window is replaced once the renderer exists: wait for zu's background.
        ASSERT_TRUE(waitUntil(
            [&] {
                Window w = x->findWindow("zu", zu->process().pid());
                Snapshot s = w ? x->capture(w, BACKGROUND.x, BACKGROUND.y, 1, 1) : Snapshot();
                if (s.empty() || s.at(0, 0) != Rgb{16, 16, 16}) return false;
                window = w;
                return true;
            },
            MEMCHECK_LIMIT, Millis(100)))
            << "no window under memcheck; stdout:\n"
            << zu->output();
        pointAtWindow();
    }
    // Holds the value button down, by key or mouse, until zu shows the new value:
    // a trigger that ran, whether or not its message got through a slowed service.
    void expectTriggerShown(bool byMouse) {
        pointAtWindow();
        Snapshot before = look(VALUE_AREA);
        if (byMouse) {
            x->movePointer(window, VALUE_BUTTON.x, VALUE_BUTTON.y);
            x->buttonDown(1);
        } else {
            x->keyDown(XK_r);
        }
        Snapshot held = waitForChange(VALUE_AREA, before, "a trigger under memcheck");
        if (byMouse)
            x->buttonUp(1);
        else
            x->keyUp(XK_r);
        waitForChange(VALUE_AREA, held, "the trigger released under memcheck");
    }
};

TEST_F(Memcheck, WholeSessionHasNoInvalidAccessOrDefiniteLeak) {
    TempDir dir("zu-memcheck");
    const std::string log = dir.file("memcheck.log");
    const std::string wrapper = dir.file("zu-under-memcheck");
    {
        std::ofstream w(wrapper);
        w << "#!/bin/sh\nexec " << ZU_VALGRIND
          << " --tool=memcheck --error-exitcode=" << VALGRIND_FOUND_ERRORS
          << " --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite"
             " --keep-debuginfo=yes --child-silent-after-fork=yes --num-callers=40"
             " --suppressions="
          << ZU_VALGRIND_SUPP << " --log-file=" << log << " " << ZU_BINARY << "\n";
    }
    chmod(wrapper.c_str(), 0755);

    ASSERT_NO_FATAL_FAILURE(startUnder(wrapper));
    learnAndFollow(CC_DIAL, CC_AREA, 30);
    sendUntilShown({176, 30, 9}, CC_AREA, "the CC dial following controller 30");
    for (int i = 0; i < 3; ++i)
        expectTriggerShown(false);
    expectTriggerShown(true);
    EXPECT_TRUE(allValidControlChanges(peer->received()));
    pointAtWindow();
    tap(XK_q);
    ASSERT_TRUE(zu->waitExit(MEMCHECK_LIMIT)) << "zu under memcheck did not end";

    std::string report = readFile(log);
    std::smatch summary;
    std::regex_search(report, summary, std::regex("ERROR SUMMARY: ([0-9]+) errors"));
    RecordProperty("memcheck_errors", summary.size() > 1 ? summary[1].str() : "?");
    EXPECT_EQ(0, zu->process().exitCode()) << zu->process().describeEnd() << "\n"
                                           << tailOfFile(log, 20000);
    EXPECT_EQ("0", summary.size() > 1 ? summary[1].str() : "") << tailOfFile(log, 20000);
}

} // namespace
} // namespace zutest
