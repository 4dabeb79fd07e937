// The pictures of whole windows in tests/e2e/screens, as PPM files.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

#include "zu_fixture.h"

namespace zutest {

constexpr Region WHOLE{0, 0, 88, 280};

inline std::string referencePath(const std::string& name) {
    return std::string(ZU_SCREENS_DIR) + "/" + name + ".ppm";
}

inline void writePpm(const std::string& path, const Snapshot& s) {
    std::ofstream f(path, std::ios::binary);
    f << "P6\n" << s.w << " " << s.h << "\n255\n";
    for (const Rgb& p : s.pixels)
        f.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
}

inline Snapshot readPpm(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    f >> magic >> w >> h >> max;
    f.get();
    Snapshot s;
    if (magic != "P6" || w <= 0 || h <= 0) return s;
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (bytes.size() != static_cast<size_t>(w * h * 3)) return s;
    s.w = w, s.h = h;
    for (size_t i = 0; i < bytes.size(); i += 3)
        s.pixels.push_back({static_cast<uint8_t>(bytes[i]), static_cast<uint8_t>(bytes[i + 1]),
                            static_cast<uint8_t>(bytes[i + 2])});
    return s;
}

} // namespace zutest
