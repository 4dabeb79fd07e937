// A rotary knob: dial.bmp turned by the angle, with a caption underneath.
#pragma once

#include <functional>
#include <memory>

#include "label.h"

class Dial : public Control, public MidiCCfy {
  public:
    using Handler = std::function<void(Dial&)>;
    Handler clickHandler, releaseHandler, dragUpHandler, dragDownHandler;
    SDL_Rect rect;
    std::string savedName;
    std::unique_ptr<Label> label; // the caption
    std::string name = "Dial";
    std::atomic<int> mode{1}; // 1 normal, 0 MIDI learn
    CCPairBytes ccPair{CC_NONE, 0};
    float angle = 0;
    int value = 0;
    Dial* maxDial = nullptr;
    Dial* minDial = nullptr;

    // Places the caption centred one pixel under the knob; does not call draw().
    Dial(int x, int y, int w, int h);

    void onClick(const Handler& f) { clickHandler = f; }
    void onRelease(const Handler& f) { releaseHandler = f; }
    void onDragUp(const Handler& f) { dragUpHandler = f; }
    void onDragDown(const Handler& f) { dragDownHandler = f; }

    // Keeps the name and copies it, the colours and flags into the caption.
    void draw() override;
    // Paints the caption, then the knob; exits with status 1 without dial.bmp.
    void render();
    // Grabs the dial when p is inside; fires the click handler or toggles selection.
    void downClick(const SDL_Point& p);
    // Lets go and fires the release handler, wherever p is.
    void upClick(const SDL_Point& p);
    // One step up while grabbed.
    void dragUp();
    // One step down while grabbed.
    void dragDown();
    // The knob angle in whole degrees for value (0..127 -> 0..270).
    int angleToMidi() const;
    // Exits with status 1, as painting would, when dial.bmp can no longer be read.
    static void requirePicture();

  private:
    void call(const Handler& h);
};
