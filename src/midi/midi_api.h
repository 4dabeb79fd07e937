// Opening RtMidi objects on machines where the default MIDI API is missing.
#pragma once

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "library_noise.h"

// Tells once per run that MIDI cannot be used at all.
void reportNoMidi(const std::string& why);

// Builds a T (RtMidiIn or RtMidiOut) with the first of apis that works, keeping the
// libraries' messages back. The object reports errors through onMidiReport instead of
// throwing. Returns null, with the last library message in why, when none works; never throws.
template <class T, class... Args>
std::unique_ptr<T> buildMidi(const std::vector<RtMidi::Api>& apis, std::string& why,
                             const std::string& clientName, Args... args) {
    quietLibraries();
    for (RtMidi::Api api : apis) {
        try {
            std::unique_ptr<T> made;
            {
                CerrCapture held;
                made = std::make_unique<T>(api, clientName, args...);
            }
            made->setErrorCallback(onMidiReport);
            return made;
        } catch (const RtMidiError& e) {
            why = e.getMessage();
        }
    }
    return nullptr;
}

// Builds a T with the default API or, when that throws, with each compiled API in
// turn; tells once that MIDI is unavailable when none works. Never throws.
template <class T, class... Args>
std::unique_ptr<T> makeMidi(const std::string& clientName, Args... args) {
    std::vector<RtMidi::Api> apis{RtMidi::UNSPECIFIED};
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    apis.insert(apis.end(), compiled.begin(), compiled.end());
    std::string why = "no MIDI API is compiled in";
    std::unique_ptr<T> made = buildMidi<T>(apis, why, clientName, args...);
    if (!made) reportNoMidi(why);
    return made;
}

// What opening one port found, for the advice at start-up.
struct PortCheck {
    RtMidi::Api api = RtMidi::UNSPECIFIED; // UNSPECIFIED: no object
    bool answered = false;                 // the MIDI service answered (a JACK server runs)
    unsigned ports = 0;                    // ports listed before opening
    bool opened = false;                   // the port is open
};

// The API of obj (null allowed), its port count, and whether its service answered
// the count; RtMidi's JACK objects retry the server then. Never throws.
template <class T> PortCheck checkPorts(T* obj) {
    PortCheck c;
    if (!obj) return c;
    c.api = obj->getCurrentApi();
    MidiReportWatch watch;
    c.ports = obj->getPortCount();
    c.answered = !watch.reported();
    return c;
}

// Opens port number port of obj (null allowed) as name, where checkPorts found that
// its service answered; sets found.opened, true when it is open and RtMidi reported
// no error (it reports through onMidiReport instead of throwing). Without an answer
// nothing is tried: RtMidi would hand libjack a null client, which PipeWire's reports
// on stderr.
template <class T>
bool openReported(T* obj, PortCheck& found, unsigned port, const std::string& name) {
    found.opened = false;
    if (!obj || !found.answered) return false;
    MidiReportWatch watch;
    obj->openPort(port, name);
    found.opened = !watch.errored() && obj->isPortOpen();
    return found.opened;
}

// Opens a port of obj named name that is connected to nothing (others connect to it by
// name); true when RtMidi reported no error.
template <class T> bool openVirtualReported(T& obj, const std::string& name) {
    MidiReportWatch watch;
    obj.openVirtualPort(name);
    return !watch.errored();
}

// Waits until flag is set or limit has passed; true when it was set.
bool waitFor(const std::atomic<bool>& flag, std::chrono::milliseconds limit);

// Queues work (closing a JACK client, which waits for the server) for the thread that
// closes, one at a time, without waiting for it.
void startClosing(std::function<void()> work);
// Starts work as startClosing does, then waits at most limit until it and every other
// closing under way have finished, so that closings started together share one limit.
// Past the limit the work is left to its thread; true when all finished in time.
bool finishWithin(std::function<void()> work, std::chrono::milliseconds limit);

// Keeps obj for the rest of the run, never closed: a MIDI client of a JACK server that
// died cannot be closed safely. Reachable to the end, so it counts as no leak.
void abandon(void* obj);
template <class T> void abandon(std::unique_ptr<T> obj) {
    abandon(static_cast<void*>(obj.release()));
}

// Notes that a closing was left to its thread past its limit.
void markLeftBehind();
// True when a closing was left behind: exiting the usual way would run libjack's own
// teardown under it, so the process ends with _exit instead.
bool closingLeftBehind();

// Destroys obj within limit, as finishWithin does.
template <class T> void destroyWithin(std::unique_ptr<T> obj, std::chrono::milliseconds limit) {
    if (!obj) return;
    finishWithin([o = obj.release()] { delete o; }, limit);
}
