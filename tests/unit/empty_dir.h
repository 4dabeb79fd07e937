// A working folder without zu's files, for the cases that must find none.
#pragma once

#include <filesystem>
#include <random>
#include <string>

// Makes a new empty folder under the system's temporary folder the working one.
// POSIX lets it go while in use, so nothing stays behind; Windows keeps it.
inline bool enterEmptyDir() {
    namespace fs = std::filesystem;
    std::error_code failed;
    fs::path base = fs::temp_directory_path(failed);
    std::random_device seed;
    for (int tries = 0; !failed && tries < 100; ++tries) {
        fs::path dir = base / ("zu-empty-" + std::to_string(seed()));
        if (!fs::create_directory(dir, failed)) continue; // taken: another name
        fs::current_path(dir, failed);
        std::error_code kept;
        fs::remove(dir, kept);
        return !failed;
    }
    return false;
}
