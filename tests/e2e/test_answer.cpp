// zu takes a key or a new incoming pair the moment it arrives, not at the next frame:
// read from its frame log, which tells when each frame ended and each event was taken.
#include <fstream>

#include "zu_fixture.h"

namespace zutest {
namespace {

constexpr unsigned char PAD_CC = 21;
// A frame's work is a few percent of its sleep, so a few tries find one in a sleep.
constexpr int TRIES = 20;

class Answer : public ZuTest {
  protected:
    TempDir logDir{"zu-frames"};

    ZuOptions zuOptions() override {
        ZuOptions o = ZuTest::zuOptions();
        o.env.set("ZU_FRAME_LOG", logDir.file("frames.log"));
        return o;
    }
    FrameLog readLog() { return frameLog(); }
    // When each press of the pad was taken.
    std::vector<long long> pads() {
        std::vector<long long> at;
        for (const FrameLog::Pair& p : frameLog().followed)
            if (p.number == PAD_CC && p.value == 127) at.push_back(p.at);
        return at;
    }
    // Whether t came between the end of a frame and the top of the next one, once that
    // next frame is in the log.
    bool inASleep(long long t) {
        FrameLog log;
        bool next = waitUntil(
            [&] {
                log = readLog();
                return !log.frames.empty() && log.frames.back().first > t;
            },
            answerLimit, Millis(20));
        EXPECT_TRUE(next) << "no frame after " << t;
        for (size_t i = 0; i + 1 < log.frames.size(); ++i)
            if (log.frames[i].second < t && t < log.frames[i + 1].first) return true;
        return false;
    }
    // Repeats act until what it made zu take (the last of times()) fell in a sleep.
    void expectTakenInASleep(const std::function<void()>& act,
                             const std::function<std::vector<long long>()>& times,
                             const char* what) {
        for (int i = 0; i < TRIES; ++i) {
            size_t before = times().size();
            act();
            ASSERT_TRUE(waitUntil([&] { return times().size() > before; }, answerLimit, Millis(20)))
                << what << " never reached zu";
            if (inASleep(times().back())) return;
        }
        ADD_FAILURE() << what << ": taken only at the top of a frame, " << TRIES << " times";
    }
};

TEST_F(Answer, KeysAndPadsAreTakenDuringTheFramesSleep) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    expectTakenInASleep(
        [&] {
            size_t sent = peer->receivedCount(), ups = readLog().keyUps.size();
            x->tapKey(XK_r);
            EXPECT_TRUE(peer->waitForCount(sent + 1, answerLimit)) << "r sent nothing";
            // Let go, and shown so, before the value button is looked at again.
            EXPECT_TRUE(waitUntil(
                [&] {
                    FrameLog log = readLog();
                    return log.keyUps.size() > ups && !log.paints.empty() &&
                           log.paints.back() > log.keyUps.back();
                },
                answerLimit))
                << "r was never let go";
        },
        [&] { return readLog().keys; }, "r");

    ASSERT_NO_FATAL_FAILURE(learnAndFollow(VALUE_BUTTON, VALUE_AREA, PAD_CC));
    expectTakenInASleep(
        [&] {
            // A tap: the press sends at once, the re-press after the 0 a frame later.
            size_t sent = peer->receivedCount();
            sendUntilReceived({176, PAD_CC, 127}, sent + 1, "the pad's press");
            sendUntilReceived({176, PAD_CC, 0}, sent + 2, "the pad's release");
        },
        [&] { return pads(); }, "the pad");
}

} // namespace
} // namespace zutest
