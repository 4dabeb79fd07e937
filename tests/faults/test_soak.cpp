// zu in follow mode for a while: the peer turns the paired CC dial 100 times a
// second and r is pressed every 200 ms. Memory must stay flat and every r must
// send exactly one message. ZU_SOAK_SECONDS sets the length (default 30).
#include <cstdio>
#include <cstdlib>

#include "fault_fixture.h"

namespace zutest {
namespace {

using Soak = FaultTest;

TEST_F(Soak, FollowModeWithTrafficAndTriggers) {
    const char* env = getenv("ZU_SOAK_SECONDS");
    const int seconds = env && atoi(env) > 0 ? atoi(env) : 30;
    // Memory is measured from the moment zu has answered this many presses under
    // traffic: what it allocates once is in by then, on any machine.
    const size_t warmUp = 10;
    // After the warm-up the bound holds for any length.
    const long boundKb = 5 * 1024;

    ASSERT_NO_FATAL_FAILURE(startAll());
    learnAndFollow(CC_DIAL, CC_AREA, 30);
    peer->clearReceived();

    Feeder traffic(
        *peer,
        [](int i) -> std::vector<unsigned char> {
            return {176, 30, static_cast<unsigned char>(i % 128)};
        },
        Millis(10));
    const pid_t pid = zu->process().pid();
    long startKb = -1, peakKb = -1;
    int presses = 0;
    auto next = std::chrono::steady_clock::now();
    const auto end = next + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end && zu->running()) {
        pressR(30);
        ++presses;
        if (startKb < 0 && peer->receivedCount() >= warmUp) startKb = peakKb = rssKb(pid);
        if (startKb >= 0 && presses % 25 == 0) peakKb = std::max(peakKb, rssKb(pid));
        std::this_thread::sleep_until(next += Millis(200));
    }
    // Every press answered, then no more can come once zu has quit.
    EXPECT_TRUE(peer->waitForCount(static_cast<size_t>(presses), MESSAGE_LIMIT));
    const long endKb = rssKb(pid);
    traffic.stop();
    ASSERT_TRUE(zu->running()) << zu->process().describeEnd();
    ASSERT_GE(startKb, 0) << "zu never answered " << warmUp << " presses";
    quitAndExpectZero();

    std::vector<MidiMessage> got = peer->received();
    printf("soak: %d s, RSS start %ld kB, end %ld kB, peak %ld kB; r pressed %d, zu sent %zu, "
           "peer sent %d\n",
           seconds, startKb, endKb, peakKb, presses, got.size(), traffic.sent());
    fflush(stdout);
    EXPECT_EQ(static_cast<size_t>(presses), got.size()) << "one message per r; " << pressReport();
    EXPECT_TRUE(allValidControlChanges(got));
    EXPECT_LT(endKb - startKb, boundKb);
    EXPECT_LT(peakKb - startKb, boundKb);
    RecordProperty("rss_start_kb", static_cast<int>(startKb));
    RecordProperty("rss_end_kb", static_cast<int>(endKb));
    RecordProperty("r_presses", presses);
    RecordProperty("zu_messages", static_cast<int>(got.size()));
    RecordProperty("peer_messages", traffic.sent());
}

} // namespace
} // namespace zutest
