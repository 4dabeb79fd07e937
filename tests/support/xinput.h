// Driving a window through XTest: find it by title, point at it, type and click.
// There is no window manager, so keyboard focus follows the pointer: point at
// the window before typing.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "process.h"

namespace zutest {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};

// A rectangle of window pixels, row by row.
struct Snapshot {
    int w = 0, h = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<size_t>(y * w + x)]; }
    bool empty() const { return pixels.empty(); }
    bool operator==(const Snapshot& o) const { return w == o.w && h == o.h && pixels == o.pixels; }
    bool operator!=(const Snapshot& o) const { return !(*this == o); }
};

class XSession {
  public:
    // Connects to display; throws std::runtime_error when it cannot, or when
    // the server has no XTest.
    explicit XSession(const std::string& display);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    Display* display() const { return dpy_; }

    // The viewable window whose title is title, or 0. With a pid, only a window
    // of that process counts (one that is going away may still be around).
    Window findWindow(const std::string& title, long pid = 0);
    // Waits up to timeout for findWindow to succeed; 0 on timeout.
    Window waitForWindow(const std::string& title, Millis timeout, long pid = 0);
    // The window's size; false when the window is gone.
    bool windowSize(Window w, int& width, int& height);
    // The window's top-left corner in root coordinates.
    bool windowOrigin(Window w, int& x, int& y);
    // Whether global auto-repeat is on.
    bool autoRepeatOn();

    // Moves the pointer to (x, y) in window coordinates.
    void movePointer(Window w, int x, int y);
    void keyDown(unsigned long keysym);
    void keyUp(unsigned long keysym);
    // Press, hold for holdMs, release. The press comes at least 10 ms after the last
    // tap's release: SDL takes a release followed by a press of the same key within
    // 2 ms of server time for auto-repeat, and drops the release.
    void tapKey(unsigned long keysym, int holdMs = 30);
    void buttonDown(unsigned button = 1);
    void buttonUp(unsigned button = 1);
    // Press and release at (x, y) in window coordinates.
    void click(Window w, int x, int y, unsigned button = 1, int holdMs = 30);

    // Pixels of a rectangle in window coordinates; empty when they cannot be read.
    Snapshot capture(Window w, int x, int y, int width, int height);

  private:
    void flush();

    Display* dpy_ = nullptr;
    std::chrono::steady_clock::time_point lastTapRelease_;
};

} // namespace zutest
