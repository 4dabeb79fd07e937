#include "midi_api.h"

#include <atomic>
#include <condition_variable>
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
// Closings under way; never destroyed, as a closing may outlive main.
struct Closings {
    std::mutex m;
    std::condition_variable done;
    int running = 0;
};
Closings& closings = *new Closings;
} // namespace

void startClosing(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(closings.m);
        ++closings.running;
    }
    std::thread([work = std::move(work)] {
        work();
        {
            std::lock_guard<std::mutex> lock(closings.m);
            --closings.running;
        }
        closings.done.notify_all();
    }).detach();
}

bool finishWithin(std::function<void()> work, std::chrono::milliseconds limit) {
    startClosing(std::move(work));
    std::unique_lock<std::mutex> lock(closings.m);
    return closings.done.wait_for(lock, limit, [] { return closings.running == 0; });
}
