// The random-inertia rule and the Control Change it sends.
#pragma once

#include <functional>
#include <vector>

// Keeps current, or with a chance set by inertia (0 always, 10 never) draws min..max-1.
int random_inertia_interval(int inertia, int max, int min, int current);
// The same rule drawing 0..126.
int random_inertia(int inertia, int current);
// n scaled by b / a in single precision, truncated.
int range_int(int n, float a, float b);
// Reseeds rand() with the time plus seed.
void set_random_seed(int seed);
// The inertia level 0..10 of an INRT dial value 0..127.
int inertia_level(int v);

// Writes [176 + channel, cc, value] into msg (resized to three bytes when needed).
// A channel above 15 is sent on 15 and data bytes are held in 0..127, so the
// message is always a valid Control Change.
void fill_control_change(std::vector<unsigned char>& msg, int channel, int cc, int value);

// What main owns for the generator.
struct Generator {
    int channel = 0;
    int ccNumber = 0;
    int currentValue = 0;
    std::vector<unsigned char> ccMessage;
    std::function<void()> sendControlChange;
};
