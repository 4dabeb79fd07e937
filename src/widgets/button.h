// A push button painted by the label it owns; pressed by mouse, key or MIDI.
#pragma once

#include <functional>
#include <memory>

#include "label.h"

class Button : public Control, public MidiCCfy {
  public:
    std::function<void(Button&)> clickHandler;
    std::unique_ptr<Label> label;
    std::string text = "Button";
    std::atomic<int> mode{1}; // 1 normal, 0 MIDI learn
    CCPairBytes ccPair{CC_NONE, 0};

    // Creates the label on the given area; does not call draw().
    Button(int x, int y, int w, int h);

    // Installs the click handler.
    void onClick(const std::function<void(Button&)>& f) { clickHandler = f; }
    // Copies text, colours and flags into the label and lays it out.
    void draw() override;
    // Paints the label.
    void render() { label->render(); }
    // Full-opacity text, then the click handler (in any mode).
    void downKey();
    // downKey(), then action().
    void downKey(const std::function<void()>& action);
    // Back to the normal colours.
    void upKey();
    // Mouse press: fires handler then action (mode 1) or toggles selection (mode 0).
    void downClick(const SDL_Point& p, const std::function<void()>& action);
    // Mouse release: upKey() when p is inside.
    void upClick(const SDL_Point& p);
    // The label's text and hover colour become c.
    void changeTxtColor(SDL_Color& c);

  private:
    bool fire();
};

// Non-owning list of the buttons that follow a colour change.
class ControlsList {
  public:
    std::vector<Button*> buttons;
    std::vector<Control*> controls;

    // Appends b to buttons.
    void add(Button* b) { buttons.push_back(b); }
    // Appends c to controls.
    void addCtrl(Control* c) { controls.push_back(c); }
    // Gives every button in buttons the text colour c.
    void changeTxtColor(SDL_Color c);
};

extern ControlsList ctrlList;
