// The frame loop's pieces: event rules, the mode switch, quitting and pacing.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <functional>

#include "follow.h"

// The frame clock and the wait for events; tests drive their own.
struct Clock {
    std::function<Uint32()> ticks = SDL_GetTicks;
    // Waits at most ms for an event: 1 with one taken, 0 on timeout or error.
    std::function<int(SDL_Event*, Uint32)> waitEvent = [](SDL_Event* e, Uint32 ms) {
        return SDL_WaitEventTimeout(e, static_cast<int>(ms));
    };
};

constexpr Uint32 FRAME_MS = 60;

// What the frame loop works on; everything here belongs to main.
struct Shell {
    Generator& gen;
    Panel& panel;
    CCPair& incomingCC;
    Follow follow;
    bool running = true;
    bool rKeyDown = false;
    int prevY = 0;
    Uint32 frameStart = 0;
    Uint32 midiEvent = 0; // the event type that brings new incoming pairs; 0 before wakeOnMidi
    std::atomic<bool> wakeLost{false}; // a pair's event found SDL's queue full
    // When set: a line per frame (end time and work in us, 1 when it painted) and a
    // line per event handled ("event" or "midi", the time in us it was handled).
    FILE* frameLog = nullptr;

    Shell(Generator& g, Panel& p, CCPair& in) : gen(g), panel(p), incomingCC(in) {}
};

// Stops the running MIDI task and ends the loop after this frame.
void quitSequence(Shell& s);
// m: learn mode from the start state or follow mode, follow mode from learn mode.
void switchMode(Shell& s);
// One event, by the event rules.
void dispatch(Shell& s, const SDL_Event& e);
// Has every pair the listen task publishes anew sent to the frame loop as an event,
// which wakes its wait; throws nothing (without an event type left, frames still follow).
void wakeOnMidi(Shell& s);
// One event as the loop takes it: a new incoming pair is followed at once, anything
// else is dispatched and asks for a paint (a window event only when it shows, uncovers
// or resizes the window).
void handleEvent(Shell& s, const SDL_Event& e);
// The pointer position, as the mouse rules read it.
SDL_Point mousePosition();
// Clear, paint the panel, present.
void renderFrame(Shell& s);
// Paints when something asked for it since the last paint; otherwise only checks
// that painting still could (a missing dial.bmp ends zu either way). True when painted.
bool paintIfChanged(Shell& s);
// The fixed sleep after a frame whose work took workMs: 60 ms under 60, else none.
Uint32 frameSleep(Uint32 workMs);
// Sleeps ms, handling each event the moment it arrives; ends early on quit.
void waitOut(Shell& s, const Clock& clock, Uint32 ms);
// One whole frame: events, follow, paint when changed, then the sleep that takes events.
void runFrame(Shell& s, const Clock& clock);
