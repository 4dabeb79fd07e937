#include "midi_api.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

void reportNoMidi(const std::string& why) {
    static std::atomic<bool> told{false};
    if (told.exchange(true)) return;
    printf("MIDI is not available, running without it: %s\n", why.c_str());
    fflush(stdout);
}

bool waitFor(const std::atomic<bool>& flag, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!flag && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return flag;
}

void abandon(void* obj) {
    static std::mutex m;
    static auto* kept = new std::vector<void*>;
    std::lock_guard<std::mutex> lock(m);
    if (obj) kept->push_back(obj);
}

namespace {
// Closings run one after another on one thread: libjack must not close two clients of
// one process at once. Never destroyed, as a closing may outlive main.
struct Closings {
    std::mutex m;
    std::condition_variable work, done;
    std::deque<std::function<void()>> queue;
    bool busy = false;

    Closings() {
        std::thread([this] {
            std::unique_lock<std::mutex> lock(m);
            while (true) {
                work.wait(lock, [this] { return !queue.empty(); });
                std::function<void()> next = std::move(queue.front());
                queue.pop_front();
                busy = true;
                lock.unlock();
                next();
                lock.lock();
                busy = false;
                done.notify_all();
            }
        }).detach();
    }
};
Closings& closings() {
    static Closings* started = new Closings;
    return *started;
}
} // namespace

void startClosing(std::function<void()> work) {
    Closings& c = closings();
    {
        std::lock_guard<std::mutex> lock(c.m);
        c.queue.push_back(std::move(work));
    }
    c.work.notify_one();
}

namespace {
std::atomic<bool> leftBehind{false};
}

void markLeftBehind() {
    leftBehind = true;
}

bool closingLeftBehind() {
    return leftBehind;
}

bool finishWithin(std::function<void()> work, std::chrono::milliseconds limit) {
    startClosing(std::move(work));
    Closings& c = closings();
    std::unique_lock<std::mutex> lock(c.m);
    bool finished = c.done.wait_for(lock, limit, [&c] { return c.queue.empty() && !c.busy; });
    if (!finished) markLeftBehind();
    return finished;
}
