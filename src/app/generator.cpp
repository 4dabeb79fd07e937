#include "generator.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

int random_inertia_interval(int inertia, int max, int min, int current) {
    int r = rand() % (inertia + 1);
    if ((r == inertia && inertia != 10) || inertia == 0) {
        if (max <= min) // an empty range keeps its lower end instead of dividing by zero
            return min;
        return min + rand() % (max - min);
    }
    return current;
}

int random_inertia(int inertia, int current) {
    return random_inertia_interval(inertia, 127, 0, current);
}

int range_int(int n, float a, float b) {
    return static_cast<int>((b / a) * n);
}

void set_random_seed(int seed) {
    srand(static_cast<unsigned>(time(nullptr) + seed));
}

int inertia_level(int v) {
    return static_cast<int>(v * (10.0 / 127.0));
}

void fill_control_change(std::vector<unsigned char>& msg, int channel, int cc, int value) {
    if (msg.size() < 3) msg.resize(3);
    msg[0] = static_cast<unsigned char>(176 + std::clamp(channel, 0, 15));
    msg[1] = static_cast<unsigned char>(std::clamp(cc, 0, 127));
    msg[2] = static_cast<unsigned char>(std::clamp(value, 0, 127));
}
