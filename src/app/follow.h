// Applies the latest incoming controller data to the paired control, once a frame.
#pragma once

#include <atomic>

#include "../midi/midi_cc.h"
#include "panel.h"

// What the follow step remembers from frame to frame.
struct Follow {
    std::atomic<bool> ccPressed{false}; // holding a paired button down
    unsigned char previous = 0;         // last incoming value acted on
    int waitUntilDisplay = 0;           // unchanged frames since a dial last moved
    int lastNumber = -1, lastValue = 0; // the pair stepped last as a new one
    bool fresh = false;                 // a new pair was stepped since the last frame
};

// Frames with an unchanged value before a moved dial shows its name again.
constexpr int CAPTION_FRAMES = 8;

// One step for the pair (number, val): presses/releases a paired button or turns a
// paired dial.
void followPair(Follow& f, int number, int val, Panel& panel, Generator& gen);
// A new pair from the listen task, stepped the moment it arrives; one the frame
// step already took is not stepped again.
void followNewPair(Follow& f, int number, int val, Panel& panel, Generator& gen);
// The frame's step: a pair that has not arrived as new yet is stepped as new; else,
// unless new pairs were stepped during this frame, the latest pair is stepped again,
// which is what counts frames (the caption) and re-presses a released button.
void followFrame(Follow& f, const CCPair& incomingCC, Panel& panel, Generator& gen);
