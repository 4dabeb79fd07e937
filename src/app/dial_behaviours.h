// What the panel's dials mean: captions on press and release, value steps.
#pragma once

#include "../widgets/dial.h"

// Caption shows the value.
void showValue(Dial& d);
// Caption shows the inertia level the generator uses (truncated).
void showInertia(Dial& d);
// Caption shows the dial's name again.
void showName(Dial& d);
// One step by dir (+1 or -1) within lower..upper; turns the knob and shows the value.
void stepValue(Dial& d, int dir, int lower, int upper);
// One inertia level by dir within 0..10; turns the knob and shows the level.
void stepInertia(Dial& d, int dir);
// Value from an inertia level: 12.7 per level, truncated (incoming MIDI).
int inertia_value(int level);
// The smallest value whose level by truncation is level (0, 13, 26, ... 115, 127).
int inertia_step_value(int level);
