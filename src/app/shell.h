// The frame loop's pieces: event rules, the mode switch, quitting and pacing.
#pragma once

#include <SDL.h>

#include <cstdio>
#include <functional>

#include "follow.h"

// The frame clock; tests drive their own.
struct Clock {
    std::function<Uint32()> ticks = SDL_GetTicks;
    std::function<void(Uint32)> delay = SDL_Delay;
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
    FILE* frameLog = nullptr; // when set, one line per frame: end time and work, in us

    Shell(Generator& g, Panel& p, CCPair& in) : gen(g), panel(p), incomingCC(in) {}
};

// Stops the running MIDI task and ends the loop after this frame.
void quitSequence(Shell& s);
// m: learn mode from the start state or follow mode, follow mode from learn mode.
void switchMode(Shell& s);
// One event, by the event rules.
void dispatch(Shell& s, const SDL_Event& e);
// The pointer position, as the mouse rules read it.
SDL_Point mousePosition();
// Clear, paint the panel, present.
void renderFrame(Shell& s);
// The fixed sleep after a frame whose work took workMs: 60 ms under 60, else none.
Uint32 frameSleep(Uint32 workMs);
// One whole frame: events, paint, follow, pacing.
void runFrame(Shell& s, const Clock& clock);
