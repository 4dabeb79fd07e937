// zu takes a key or a new incoming pair the moment it arrives, not at the next frame:
// read from its frame log, which tells when each frame ended and each event was taken.
#include <fstream>
#include <sstream>

#include "zu_fixture.h"

namespace zutest {
namespace {

constexpr unsigned SDL_KEYDOWN_TYPE = 0x300, SDL_KEYUP_TYPE = 0x301;
constexpr unsigned char PAD_CC = 21;
// A frame's work is a few percent of its sleep, so a few tries find one in a sleep.
constexpr int TRIES = 20;

struct FrameLog {
    std::vector<std::pair<long long, long long>> frames; // (top, end) in us
    std::vector<long long> paints;                       // ends of the frames that painted
    std::vector<long long> keys, keyUps, pads; // when a key-down, key-up or pad press was taken
};

class Answer : public ZuTest {
  protected:
    TempDir logDir{"zu-frames"};

    ZuOptions zuOptions() override {
        ZuOptions o = ZuTest::zuOptions();
        o.env.set("ZU_FRAME_LOG", logDir.file("frames.log"));
        return o;
    }
    FrameLog readLog() {
        FrameLog log;
        std::istringstream in(readFile(logDir.file("frames.log")));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string first;
            words >> first;
            long long t = 0, a = 0, b = 0;
            if (first == "event" && words >> t >> a &&
                (a == SDL_KEYDOWN_TYPE || a == SDL_KEYUP_TYPE))
                (a == SDL_KEYDOWN_TYPE ? log.keys : log.keyUps).push_back(t);
            else if (first == "midi" && words >> t >> a >> b && a == PAD_CC && b == 127)
                log.pads.push_back(t);
            else if (first != "event" && first != "midi" && words >> a) {
                log.frames.push_back({std::stoll(first) - a, std::stoll(first)});
                if (words >> b && b == 1) log.paints.push_back(std::stoll(first));
            }
        }
        return log;
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
        [&] { return readLog().pads; }, "the pad");
}

} // namespace
} // namespace zutest
