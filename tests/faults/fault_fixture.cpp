#include "fault_fixture.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sstream>

namespace zutest {

constexpr int SDL_KEYDOWN_TYPE = 0x300; // as zu's frame log writes it

long rssKb(pid_t pid) {
    std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// User plus system time in clock ticks; -1 when it cannot be read.
static long long cpuTicks(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')'); // the name may hold spaces
    if (end == std::string::npos) return -1;
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    long long utime = -1, stime = -1;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoll(field);
        if (i == 15) stime = std::stoll(field);
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

double cpuShare(pid_t pid, Millis span) {
    long long before = cpuTicks(pid);
    long long start = monotonicMicros();
    std::this_thread::sleep_for(span);
    long long used = cpuTicks(pid) - before;
    double seconds = (monotonicMicros() - start) / 1e6;
    return before < 0 ? -1 : used / (sysconf(_SC_CLK_TCK) * seconds);
}

::testing::AssertionResult isValidControlChange(const std::vector<unsigned char>& m) {
    if (m.size() != 3) return ::testing::AssertionFailure() << "not 3 bytes: " << formatBytes(m);
    if (m[0] < 176 || m[0] > 191)
        return ::testing::AssertionFailure() << "not a Control Change: " << formatBytes(m);
    if (m[1] > 127 || m[2] > 127)
        return ::testing::AssertionFailure() << "data byte above 127: " << formatBytes(m);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult allValidControlChanges(const std::vector<MidiMessage>& got) {
    for (size_t i = 0; i < got.size(); ++i) {
        ::testing::AssertionResult r = isValidControlChange(got[i].bytes);
        if (!r) return r << " (message " << i << " of " << got.size() << ")";
    }
    return ::testing::AssertionSuccess();
}

Feeder::Feeder(Peer& peer, Make make, Millis period, int count) {
    thread_ = std::thread([this, &peer, make, period, count] {
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; !stop_ && i != count; ++i) {
            peer.send(1, make(i));
            ++sent_;
            if (period.count() > 0) std::this_thread::sleep_until(next += period);
        }
        done_ = true;
    });
}

void Feeder::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

bool Feeder::waitDone(Millis timeout) const {
    return waitUntil([&] { return done_.load(); }, timeout);
}

void FaultTest::SetUp() {
    const std::string suite = ::testing::UnitTest::GetInstance()->current_test_suite()->name();
    if (service == Service::Alsa && (suite.find("ServiceLoss") != std::string::npos ||
                                     suite.find("NoPeer") != std::string::npos))
        GTEST_SKIP() << "the kernel's ALSA sequencer cannot be killed, stalled or restarted";
}

void FaultTest::TearDown() {
    Ending ending;
    resumeService();
    ZuTest::TearDown();
    if (troubled_) {
        EXPECT_TRUE(midi->freeName()) << "the troubled " << midi->name() << " left its name taken";
    }
}

void FaultTest::startZuWithoutPeer(JackServer* server) {
    x = std::make_unique<XSession>(XEnvironment::instance->display());
    ZuOptions o = zuOptions(); // no `midi`: a server name that nothing answers to
    if (server) o.env = server->clientEnvironment(o.env);
    zu = std::make_unique<ZuApp>(o);
    ASSERT_TRUE(waitForFirstFrame()) << "zu painted nothing; stdout:\n" << zu->output();
    pointAtWindow();
}

void FaultTest::killService() {
    ASSERT_TRUE(midi);
    ASSERT_GT(midi->pid(), 0) << "a service without a daemon cannot be killed";
    troubled_ = true;
    ::kill(midi->pid(), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !midi->running(); }, EXIT_LIMIT));
}

void FaultTest::stallService() {
    ASSERT_TRUE(midi);
    ASSERT_GT(midi->pid(), 0) << "a service without a daemon cannot be stalled";
    troubled_ = true;
    stalled_ = midi->pid();
    ::kill(stalled_, SIGSTOP);
}

void FaultTest::restartService() {
    peer.reset(); // its clients belonged to the service that went
    midi->restart();
    peer = std::make_unique<PeerProcess>(ZU_MIDI_PEER, midi->clientEnvironment());
}

void FaultTest::resumeService() {
    if (stalled_ > 0) ::kill(stalled_, SIGCONT);
    stalled_ = -1;
}

void FaultTest::expectWindowAnswers(const char* when) {
    pointAtWindow();
    Snapshot before = look(VAL_AREA);
    x->tapKey(XK_c);
    waitForChange(VAL_AREA, before, (std::string("new colours on c ") + when).c_str());
}

void FaultTest::expectRShows(const char* when) {
    pointAtWindow();
    Snapshot before = look(VALUE_AREA);
    x->keyDown(XK_r);
    waitForChange(VALUE_AREA, before, (std::string("the value button held by r ") + when).c_str());
    x->keyUp(XK_r);
    settle();
}

void FaultTest::burst(unsigned long keysym, int n) {
    for (int i = 0; i < n; ++i) {
        x->keyDown(keysym);
        x->keyUp(keysym);
    }
}

void FaultTest::pressR(int holdMs) {
    pressedUs_.push_back(monotonicMicros());
    x->tapKey(XK_r, holdMs);
}

std::string FaultTest::pressReport() {
    std::vector<long long> arrivals, keys;
    for (const MidiMessage& m : peer->received())
        arrivals.push_back(m.micros);
    std::istringstream log(readFile(zu->workDir() + "/frames.log"));
    std::string kind;
    long long at;
    int type;
    for (std::string line; std::getline(log, line);) {
        std::istringstream words(line);
        if (words >> kind >> at >> type && kind == "event" && type == SDL_KEYDOWN_TYPE)
            keys.push_back(at);
    }
    auto firstIn = [](const std::vector<long long>& times, long long from, long long to) {
        auto it = std::lower_bound(times.begin(), times.end(), from);
        return it != times.end() && *it < to ? *it : -1;
    };
    std::ostringstream out;
    const long long t0 = pressedUs_.empty() ? 0 : pressedUs_[0];
    out << pressedUs_.size() << " presses, " << arrivals.size() << " messages (ms from the first "
        << "press):";
    for (size_t i = 0; i < pressedUs_.size(); ++i) {
        long long from = pressedUs_[i];
        long long to = i + 1 < pressedUs_.size() ? pressedUs_[i + 1] : LLONG_MAX;
        if (firstIn(arrivals, from, to) >= 0) continue;
        long long key = firstIn(keys, from, to);
        auto before = std::lower_bound(arrivals.begin(), arrivals.end(), from);
        out << "\n  press " << i << " at " << (from - t0) / 1000 << ": unanswered; zu "
            << (key >= 0 ? "took a key at " + std::to_string((key - t0) / 1000) : "took no key")
            << "; messages before at "
            << (before == arrivals.begin() ? "-" : std::to_string((before[-1] - t0) / 1000))
            << ", after at "
            << (before == arrivals.end() ? "-" : std::to_string((*before - t0) / 1000));
    }
    return out.str();
}

long long FaultTest::rLatencyMs(Millis limit) {
    size_t before = peer->receivedCount();
    long long start = monotonicMicros();
    pressR(20);
    if (!peer->waitForCount(before + 1, limit)) return -1;
    return (peer->received()[before].micros - start) / 1000;
}

} // namespace zutest
