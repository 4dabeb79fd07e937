#include "fault_fixture.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace zutest {

pid_t childWithArgument(const std::string& arg) {
    DIR* proc = opendir("/proc");
    if (!proc) return -1;
    pid_t found = -1;
    while (dirent* e = readdir(proc)) {
        char* end = nullptr;
        long pid = strtol(e->d_name, &end, 10);
        if (*end != '\0' || pid <= 0) continue;
        std::string base = std::string("/proc/") + e->d_name;
        // The parent is the fourth field, after the name in parentheses.
        std::string stat = readFile(base + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        char state;
        long ppid = 0;
        fields >> state >> ppid;
        if (ppid != getpid()) continue;
        std::string cmd = readFile(base + "/cmdline");
        std::string word;
        for (char c : cmd) {
            if (c != '\0') {
                word += c;
                continue;
            }
            if (word == arg) found = static_cast<pid_t>(pid);
            word.clear();
        }
        if (found > 0) break;
    }
    closedir(proc);
    return found;
}

void restartAndStopCleanly(const std::string& serverName) {
    try {
        JackServer again(serverName);
        EXPECT_TRUE(again.stop()) << "the restarted jackd " << serverName << " needed SIGKILL";
    } catch (const std::exception& e) {
        ADD_FAILURE() << "the killed jackd could not be restarted: " << e.what();
    }
    const std::string mark = "_" + serverName + "_";
    if (DIR* shm = opendir("/dev/shm")) {
        while (dirent* e = readdir(shm)) {
            std::string n = e->d_name;
            if (n.rfind("jack_sem.", 0) == 0 && n.find(mark) != std::string::npos)
                unlink(("/dev/shm/" + n).c_str());
        }
        closedir(shm);
    }
}

long rssKb(pid_t pid) {
    std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return strtol(line.c_str() + 6, nullptr, 10);
    return -1;
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

Feeder::Feeder(MidiPeer& peer, Make make, Millis period, int count) {
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

void FaultTest::TearDown() {
    resumeJack();
    ZuTest::TearDown();
    if (!troubledServer_.empty()) restartAndStopCleanly(troubledServer_);
}

void FaultTest::startZuWithoutPeer(JackServer* server) {
    x = std::make_unique<XSession>(XEnvironment::instance->display());
    ZuOptions o = zuOptions(); // no `jack`: a server name that nothing answers to
    if (server) o.env = server->clientEnvironment(o.env);
    zu = std::make_unique<ZuApp>(o);
    ASSERT_TRUE(waitForFirstFrame()) << "zu painted nothing; stdout:\n" << zu->output();
    pointAtWindow();
}

void FaultTest::killJack() {
    ASSERT_TRUE(jack);
    pid_t pid = childWithArgument(jack->name());
    ASSERT_GT(pid, 0) << "no jackd child for " << jack->name();
    troubledServer_ = jack->name();
    ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !jack->running(); }, Millis(5000)));
}

void FaultTest::stallJack() {
    ASSERT_TRUE(jack);
    stalled_ = childWithArgument(jack->name());
    ASSERT_GT(stalled_, 0) << "no jackd child for " << jack->name();
    troubledServer_ = jack->name();
    ::kill(stalled_, SIGSTOP);
}

void FaultTest::resumeJack() {
    if (stalled_ > 0) ::kill(stalled_, SIGCONT);
    stalled_ = -1;
}

void FaultTest::expectWindowAnswers(const char* when) {
    pointAtWindow();
    Snapshot before = look(VAL_AREA);
    x->tapKey(XK_c);
    waitForChange(VAL_AREA, before, (std::string("new colours on c ") + when).c_str());
}

void FaultTest::selectControl(At at, Region area, const char* what) {
    Snapshot before = look(area);
    clickAt(at);
    waitForChange(area, before, what);
    pointAtWindow();
}

void FaultTest::learnController(unsigned char cc) {
    Snapshot dialog = look(DIALOG_AREA);
    send(1, {176, cc, 64});
    waitForChange(DIALOG_AREA, dialog, "the learned controller number");
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

long long FaultTest::rLatencyMs(Millis limit) {
    size_t before = peer->receivedCount();
    long long start = monotonicMicros();
    x->tapKey(XK_r, 20);
    if (!peer->waitForCount(before + 1, limit)) return -1;
    return (peer->received()[before].micros - start) / 1000;
}

void FaultTest::quitAndExpectZero() {
    pointAtWindow();
    x->tapKey(XK_q);
    expectExit(0);
}

void FaultTest::toggleMode(const char* what) {
    Snapshot dialog = look(DIALOG_AREA);
    x->tapKey(XK_m);
    waitForChange(DIALOG_AREA, dialog, what);
}

} // namespace zutest
