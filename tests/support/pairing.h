// The pairing of a mappable control, as the unit and MIDI task tests read it.
#pragma once

#include <tuple>

// The controller number the control (a Dial or a Button) is paired with; 255: none.
template <class Mappable> unsigned pairOf(const Mappable& control) {
    return std::get<0>(control.ccPair).load();
}

// Pairs the control with controller number n, as learning would.
template <class Mappable> void pairWith(Mappable& control, int n) {
    std::get<0>(control.ccPair) = static_cast<unsigned char>(n);
}
