#include "midi_api.h"

#include <atomic>

void reportNoMidi(const std::string& why) {
    static std::atomic<bool> told{false};
    if (told.exchange(true)) return;
    printf("MIDI is not available, running without it: %s\n", why.c_str());
    fflush(stdout);
}
