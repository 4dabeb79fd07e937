// Widget base, the MIDI-mappable mixin, the colour list and the drawing context.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include <atomic>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

// The shared drawing context; set by the application before any widget is built.
extern SDL_Renderer* renderer;
extern TTF_Font* font;
extern const char* FONT_FILE;
extern const SDL_Color TXT_COLOR;
extern const SDL_Color BG_COLOR;
extern const SDL_Color TXT_COLOR_HOVER;

// What a widget does when it cannot paint: says "Rendering error:" and SDL's reason, and
// ends zu with status 1. The application replaces it to close what it opened first
// (its MIDI ports); it must not return.
extern void (*paintFailed)(const std::string& line);
// Calls paintFailed with SDL's reason.
[[noreturn]] void failPainting();

// Asks for the window to be painted at the next frame; any thread may call it.
// Whatever changes what the panel shows raises it; unchanged frames are not painted.
void requestPaint();
// True, and cleared, when a paint was asked for since the last call.
bool takePaintRequest();

// A string that one thread may replace while another copies it for painting.
// Replacing it asks for a paint.
class SharedText {
  public:
    SharedText(const char* s = "") : s_(s) {}
    SharedText& operator=(const std::string& s);
    SharedText& operator=(const char* s) { return *this = std::string(s); }
    // A whole copy, never a half-written one.
    std::string str() const;
    operator std::string() const { return str(); }
    bool operator==(const std::string& s) const { return str() == s; }

  private:
    mutable std::mutex m_;
    std::string s_;
};

// Controller pairing: first byte the controller number (255 = none), second byte 0.
using CCPairBytes = std::tuple<std::atomic<unsigned char>, std::atomic<unsigned char>>;
constexpr unsigned char CC_NONE = 255;

class Control {
  public:
    SDL_Color bgColor = BG_COLOR;
    SDL_Color textColor = TXT_COLOR;
    SDL_Color hoverColor = TXT_COLOR_HOVER;
    Uint8 textAlpha = 255;
    Uint8 bgAlpha = 255;
    // selected and highlighted are also written by the MIDI learn task.
    std::atomic<bool> selected{false};
    bool blinking = false;
    std::atomic<bool> highlighted{false};
    std::atomic<bool> pressed{false};

    // Layout and synchronisation step; paints nothing.
    virtual void draw() {}

  protected:
    ~Control() = default; // widgets are only destroyed through their own type
};

// Marks a widget that a hardware controller can be paired with.
class MidiCCfy {
  public:
    int minValue = 0;
    int maxValue = 127;
    virtual void ccDown() {}
    virtual void ccUp() {}

  protected:
    ~MidiCCfy() = default;
};

// Inclusive hit test: both far edges count as inside.
bool hitTest(const SDL_Point& p, int x, int y, int w, int h);
