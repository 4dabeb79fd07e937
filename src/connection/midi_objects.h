// RtMidi objects built without throwing, and those of a dead service kept unclosed.
#pragma once

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "library_messages.h"

// Builds a T (RtMidiIn or RtMidiOut) with api or, when that is UNSPECIFIED, with the
// first compiled API that opens (telling once when none does): ALSA wherever the
// sequencer exists, even while it lists no port, else JACK. It reports errors through
// onMidiReport instead of throwing; null on failure.
template <class T, class... Args>
std::unique_ptr<T> build(RtMidi::Api api, const std::string& clientName, Args... args) {
    quietLibraries();
    std::vector<RtMidi::Api> apis{api};
    if (api == RtMidi::UNSPECIFIED) RtMidi::getCompiledApi(apis);
    std::string why = "no MIDI API is compiled in";
    for (RtMidi::Api each : apis) {
        try {
            auto made = std::make_unique<T>(each, clientName, args...);
            made->setErrorCallback(onMidiReport);
            return made;
        } catch (const RtMidiError& e) {
            why = e.getMessage();
        }
    }
    static std::atomic<bool> told{false};
    if (api == RtMidi::UNSPECIFIED && !told.exchange(true)) {
        printf("MIDI is not available, running without it: %s\n", why.c_str());
        fflush(stdout);
    }
    return nullptr;
}

// Keeps obj for the rest of the run without closing it: a client of a JACK server
// that died cannot be closed safely. Reachable to the end, so it counts as no leak.
inline void neverClose(void* obj) {
    static std::mutex m;
    static auto* kept = new std::vector<void*>;
    std::lock_guard<std::mutex> lock(m);
    if (obj) kept->push_back(obj);
}
