#include "dial_behaviours.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "generator.h"

void showValue(Dial& d) {
    d.label->text = std::to_string(d.value);
}

void showInertia(Dial& d) {
    d.label->text = std::to_string(range_int(d.value, 127.0f, 10.0f));
}

void showName(Dial& d) {
    d.label->text = d.savedName;
}

void stepValue(Dial& d, int dir, int lower, int upper) {
    if (dir > 0)
        d.value = d.value < upper ? d.value + 1 : upper;
    else
        d.value = d.value > lower ? d.value - 1 : lower;
    d.angle = static_cast<float>(d.angleToMidi());
    d.label->text = std::to_string(d.value);
}

int inertia_value(int level) {
    return std::clamp(static_cast<int>(12.7 * level), 0, 127);
}

int inertia_step_value(int level) {
    level = std::clamp(level, 0, 10);
    return (level * 127 + 9) / 10; // ceil(12.7 * level), in integers
}

void stepInertia(Dial& d, int dir) {
    // The nearest level, halves up, so a knob set from MIDI steps from where it shows.
    int level = static_cast<int>(std::floor(d.value * (10.0 / 127.0) + 0.5));
    level = std::clamp(level + (dir > 0 ? 1 : -1), 0, 10);
    // The smallest value of that level, so the generator and a press show the same level.
    d.value = inertia_step_value(level);
    d.angle = static_cast<float>(d.angleToMidi());
    d.label->text = std::to_string(level);
}
