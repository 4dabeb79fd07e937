#include "midi_api.h"

#include <atomic>
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

bool finishWithin(std::function<void()> work, std::chrono::milliseconds limit) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([work = std::move(work), done] {
        work();
        *done = true;
    }).detach();
    return waitFor(*done, limit);
}
