// What zu needs around the MIDI libraries: RtMidi objects built without throwing,
// the libraries' own messages held back, so that zu can say in one line of its own what
// is wrong (ZU_VERBOSE=1 shows them), and a client of a service that died never closed.
#pragma once

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Unless verbose, silences std::cerr for the run; only the first call acts. Must run
// before the first RtMidi object is built. Never throws.
void quietLibraries();
// A library's own message: to stderr when ZU_VERBOSE asks for them, else nowhere.
void libraryMessage(const std::string& text);

// RtMidi's error callback: notes the report for this thread; writes it to stderr
// when verbose. Set on an object, it replaces RtMidi's throwing.
void onMidiReport(RtMidiError::Type type, const std::string& text, void* userData);

// What RtMidi reported on this thread while the watch lives.
class MidiReportWatch {
  public:
    MidiReportWatch();
    // An error was reported: what RtMidi would have thrown.
    bool errored() const;
    // Anything was reported, warnings included.
    bool reported() const;

  private:
    unsigned long errors_, reports_;
};

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

// Opens obj's port unconnected (index -1) or onto the service's port index; false on an error.
bool openOn(RtMidi& obj, int index, const std::string& name);

// Keeps obj for the rest of the run without closing it: a client of a JACK server
// that died cannot be closed safely. Reachable to the end, so it counts as no leak.
void neverClose(void* obj);
