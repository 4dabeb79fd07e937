// A whole panel on the off-screen canvas, with a generator that records what it sends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/generator.h"
#include "app/panel.h"
#include "app/shell.h"
#include "canvas.h"
#include "midi/midi_cc.h"
#include "pairing.h"

using Message = std::vector<unsigned char>;

// Ends the process when a block overruns its time: a hang must fail, not stall the run.
class Watchdog {
  public:
    Watchdog(std::chrono::milliseconds limit, std::string what) : what_(std::move(what)) {
        thread_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(m_);
            if (!cv_.wait_for(lock, limit, [this] { return over_; })) {
                fprintf(stderr, "watchdog: %s did not finish in %lld ms\n", what_.c_str(),
                        static_cast<long long>(limit.count()));
                fflush(stderr);
                _exit(1);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(m_);
            over_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

  private:
    std::string what_;
    std::mutex m_;
    std::condition_variable cv_;
    bool over_ = false;
    std::thread thread_;
};

// Polls cond every millisecond until it holds or the limit passes.
template <class F>
bool eventually(F cond, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Puts the MIDI engine back into its start state.
inline void resetMidiFlags() {
    MidiCC::toSettingCC = true;
    MidiCC::doneCC = false;
    MidiCC::listenCC = false;
    MidiCC::CCStatus = 0;
}

class PanelTest : public Canvas {
  protected:
    Generator gen;
    std::vector<Message> sent;
    CCPair incoming{-1, 0}; // outlives any listen task: TearDown stops it first
    std::unique_ptr<Panel> panel;
    std::unique_ptr<Shell> shell;
    SDL_Window* window = nullptr; // only to place the pointer

    void SetUp() override {
        Canvas::SetUp();
        if (HasFatalFailure()) return;
        resetMidiFlags();
        srand(7);
        gen.ccMessage = {128, 0, 0};
        gen.sendControlChange = [this] {
            fill_control_change(gen.ccMessage, gen.channel, gen.ccNumber, gen.currentValue);
            sent.push_back(gen.ccMessage);
        };
        // Built after the font is open, as main does.
        panel = std::make_unique<Panel>(gen, W, H);
        shell = std::make_unique<Shell>(gen, *panel, incoming);
    }

    void TearDown() override {
        {
            // No task may outlive the panel its controls belong to.
            Watchdog dog(std::chrono::seconds(10), "stopping the MIDI task");
            MidiCC::stop();
            MidiCC::setControllerGet();
            MidiCC::midiListenGet();
        }
        resetMidiFlags();
        shell.reset();
        panel.reset();
        if (window) SDL_DestroyWindow(window);
        window = nullptr;
        Canvas::TearDown();
    }

    // Moves the pointer that the mouse rules read; the motion it queues is dropped.
    void pointAt(int x, int y) {
        if (!window) window = SDL_CreateWindow("pointer", 0, 0, W, H, SDL_WINDOW_HIDDEN);
        ASSERT_NE(nullptr, window) << SDL_GetError();
        SDL_WarpMouseInWindow(window, x, y);
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        SDL_Point p = mousePosition();
        ASSERT_TRUE(p.x == x && p.y == y) << "pointer at " << p.x << "," << p.y;
    }
    void pointAt(SDL_Point p) { pointAt(p.x, p.y); }

    void key(Uint32 type, SDL_Keycode k) {
        SDL_Event e{};
        e.type = type;
        e.key.type = type;
        e.key.keysym.sym = k;
        dispatch(*shell, e);
    }
    void keyDown(SDL_Keycode k) { key(SDL_KEYDOWN, k); }
    void keyUp(SDL_Keycode k) { key(SDL_KEYUP, k); }
    void mouse(Uint32 type, Uint8 button = SDL_BUTTON_LEFT) {
        SDL_Event e{};
        e.type = type;
        e.button.type = type;
        e.button.button = button;
        dispatch(*shell, e);
    }
    void press(Uint8 button = SDL_BUTTON_LEFT) { mouse(SDL_MOUSEBUTTONDOWN, button); }
    void release(Uint8 button = SDL_BUTTON_LEFT) { mouse(SDL_MOUSEBUTTONUP, button); }
    // A motion event to (x, y); the event's own coordinates are left at zero on purpose.
    void moveTo(int x, int y) {
        pointAt(x, y);
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        dispatch(*shell, e);
    }

    // Motion events, each one pixel further than the last: up for positive steps.
    void drag(int steps) {
        int y = shell->prevY;
        for (int i = 0; i < std::abs(steps); ++i)
            moveTo(W / 2, y += steps > 0 ? -1 : 1);
    }
    // Presses d with the pointer (the previous y set half way down first), then drags it.
    void grab(Dial& d, int steps = 0, Uint8 button = SDL_BUTTON_LEFT) {
        moveTo(W / 2, H / 2);
        pointAt(centre(d));
        press(button);
        drag(steps);
    }

    // The centre of a dial's knob, inside its rectangle.
    static SDL_Point centre(const Dial& d) {
        return {d.rect.x + d.rect.w / 2, d.rect.y + d.rect.h / 2};
    }
    static SDL_Point centre(const Button& b) {
        return {b.label->x + b.label->w / 2, b.label->y + b.label->h / 2};
    }

    template <class Mappable> static void pair(Mappable& control, int n) { pairWith(control, n); }
};
