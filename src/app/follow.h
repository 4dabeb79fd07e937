// Applies incoming controller data to the paired controls: each pair as it arrives,
// and once a frame each control's own last pair again.
#pragma once

#include <array>

#include "../midi/midi_cc.h"
#include "panel.h"

// What the follow step remembers of one control from frame to frame.
struct Followed {
    Control* control = nullptr; // null: the slot is free
    bool ccPressed = false;     // a button held down by its controller
    unsigned char previous = 0; // the last incoming value acted on for this control
    int waitUntilDisplay = 0;   // unchanged frames since the dial last moved
    int number = -1, value = 0; // the last pair of its own controller
    bool fresh = false;         // that pair was stepped as new during this frame
};

// What the follow step remembers.
struct Follow {
    // One slot per control that received a pair (the panel has six to pair).
    std::array<Followed, 16> controls;
    int lastNumber = -1, lastValue = 0; // the pair stepped last as a new one

    // The slot of c, taken on first use; the last slot is shared when all are taken.
    Followed& of(Control& c);
};

// Frames with an unchanged value before a moved dial shows its name again.
constexpr int CAPTION_FRAMES = 8;

// One step for the pair (number, val): presses/releases a paired button or turns a
// paired dial.
void followPair(Follow& f, int number, int val, Panel& panel, Generator& gen);
// A new pair from the listen task, stepped the moment it arrives; the same pair
// twice in a row is stepped once.
void followNewPair(Follow& f, int number, int val, Panel& panel, Generator& gen);
// The published pair, stepped as new when it differs from the last one stepped; for
// when no event brings each pair (every pair then comes through followNewPair).
void followPublished(Follow& f, const CCPair& incomingCC, Panel& panel, Generator& gen);
// Pairs stepped from here on belong to the next frame's step.
void followNextFrame(Follow& f);
// The frame's step: each control's own last pair is stepped again unless it came new
// this frame, which counts a dial's unchanged frames (its caption) and presses a
// button again after its release.
void followFrame(Follow& f, Panel& panel, Generator& gen);
