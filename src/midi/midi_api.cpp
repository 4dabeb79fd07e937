#include "midi_api.h"

#include <atomic>

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
