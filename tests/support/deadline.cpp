#include "deadline.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace zutest {

namespace {
const Clock::time_point START = Clock::now();
// What stopping servers and zu takes at most, and what the watchdog needs for the
// threads' stacks and its exit.
const Millis ENDING_RESERVE(30000);
const Millis LAST_RESERVE(12000);
const Millis EXIT_RESERVE(2000);

thread_local int part = 0; // 0: waits, 1: Ending, 2: LastWords

std::mutex runningMutex;
std::vector<const Waiting*> running;
} // namespace

const CaseTimes& caseTimes() {
    static const CaseTimes times = [] {
        CaseTimes t;
        t.start = START;
        const char* s = getenv("ZU_TEST_TIMEOUT");
        t.timeout = Millis(s ? 1000 * atoll(s) : 0);
        if (t.timeout.count() <= 0) {
            t.timeout = Millis(0);
            t.waits = t.ending = t.last = Clock::time_point::max();
            return t;
        }
        t.last = START + t.timeout - EXIT_RESERVE;
        t.ending = START + t.timeout - LAST_RESERVE;
        t.waits = START + t.timeout - ENDING_RESERVE;
        return t;
    }();
    return times;
}

Millis withinDeadline(Millis timeout) {
    const CaseTimes& t = caseTimes();
    if (t.timeout.count() == 0) return timeout;
    Clock::time_point end = part == 0 ? t.waits : part == 1 ? t.ending : t.last;
    auto left = std::chrono::duration_cast<Millis>(end - Clock::now());
    return std::max(Millis(0), std::min(timeout, left));
}

Ending::Ending(bool lastWords) : saved_(part) {
    part = std::max(part, lastWords ? 2 : 1);
}

Ending::~Ending() {
    part = saved_;
}

Waiting::Waiting(const char* what, const char* file, int line, Millis asked)
    : what_(what), file_(file), line_(line), asked_(asked), given_(withinDeadline(asked)) {
    std::lock_guard<std::mutex> lock(runningMutex);
    running.push_back(this);
}

Waiting::~Waiting() {
    std::lock_guard<std::mutex> lock(runningMutex);
    for (auto it = running.begin(); it != running.end(); ++it)
        if (*it == this) {
            running.erase(it);
            break;
        }
}

void Waiting::ranOut() {
    if (given_ >= asked_) return;
    const char* base = strrchr(file_, '/');
    fprintf(stderr,
            "zu-test: the case's deadline (ctest's TIMEOUT of %lld s, less what ending it "
            "takes) ended the wait in %s (%s:%d) after %lld of its %lld ms\n",
            static_cast<long long>(caseTimes().timeout.count() / 1000), what_,
            base ? base + 1 : file_, line_, static_cast<long long>(given_.count()),
            static_cast<long long>(asked_.count()));
}

std::string Waiting::current() {
    std::lock_guard<std::mutex> lock(runningMutex);
    if (running.empty()) return "";
    const Waiting* w = running.front();
    const char* base = strrchr(w->file_, '/');
    return std::string(w->what_) + " (" + (base ? base + 1 : w->file_) + ":" +
           std::to_string(w->line_) + ")";
}

} // namespace zutest
