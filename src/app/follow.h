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
};

// Frames with an unchanged value before a moved dial shows its name again.
constexpr int CAPTION_FRAMES = 8;

// One frame of follow: presses/releases a paired button or turns a paired dial.
void followStep(Follow& f, const CCPair& incomingCC, Panel& panel, Generator& gen);
